#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/paths.h"

extern char** environ;

namespace velmora {
namespace {

// Above every descriptor (file handles are descriptors, at most INT32_MAX),
// so the two kinds of handle never meet.
constexpr HANDLE kFirstProcessHandle = HANDLE{1} << 40;

struct Child {
  std::mutex mutex;  // held while waiting, so one waiter reaps
  pid_t pid = 0;
  bool reaped = false;
  int status = 0;
};

std::mutex g_mutex;
std::map<HANDLE, std::shared_ptr<Child>> g_handles;
HANDLE g_next_handle = kFirstProcessHandle;
// Children whose handles were all closed before they were waited for; they
// are reaped as they end, so none stays a zombie for long.
std::vector<pid_t> g_orphans;

std::shared_ptr<Child> FindChild(HANDLE handle) {
  std::lock_guard lock(g_mutex);
  auto it = g_handles.find(handle);
  return it == g_handles.end() ? nullptr : it->second;
}

void ReapOrphans() {
  std::lock_guard lock(g_mutex);
  std::erase_if(g_orphans, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

bool HasExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.find_first_of("\\/", dot) == std::string::npos;
}

bool IsFile(const std::string& host_path) {
  struct stat st {};
  return ::stat(host_path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// A program named without a folder is looked for in the current folder and
// then along PATH; a name without extension also as name + ".exe", the way
// Windows completes it.
std::optional<std::string> SearchProgram(const std::string& name) {
  std::vector<std::string> names{name};
  if (!HasExtension(name)) names.push_back(name + ".exe");
  for (const auto& candidate : names) {
    if (auto host = HostPath(candidate); host && IsFile(*host)) return host;
  }
  if (name.find_first_of("\\/:") != std::string::npos) return HostPath(name);
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.empty()) continue;
    for (const auto& candidate : names) {
      std::string host = folder + "/" + candidate;
      if (IsFile(host)) return host;
    }
  }
  return HostPath(name);
}

// Why a program cannot be started, before trying: a missing file or one
// that is a folder. Permission and format are left to the spawn.
DWORD CheckProgram(const std::string& host_path) {
  struct stat st {};
  if (::stat(host_path.c_str(), &st) != 0) {
    if (errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    if (errno != ENOENT) return WinErrorFromErrno(errno);
    // Windows tells a missing file from a missing folder on the way to it.
    std::string parent = host_path.substr(0, host_path.find_last_of('/') + 1);
    struct stat folder {};
    bool has_folder = ::stat(parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
    return has_folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

DWORD SpawnError(int err) {
  switch (err) {
    case ENOEXEC:
    case ELIBBAD:
      return ERROR_BAD_EXE_FORMAT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
      // The file is there, so it is its interpreter that is missing.
      return ERROR_BAD_EXE_FORMAT;
    default:
      return WinErrorFromErrno(err);
  }
}

std::vector<std::string> EnvironmentBlock(const char* block) {
  std::vector<std::string> entries;
  while (*block) {
    entries.emplace_back(block);
    block += entries.back().size() + 1;
  }
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// posix_spawn with the child's signals back at their defaults and, unless
// handles are inherited, only descriptors 0 to 2 left open.
int Spawn(pid_t& pid, const std::string& program, std::vector<std::string>& argv,
          char** envp, const std::string* folder, bool inherit_handles) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (folder) posix_spawn_file_actions_addchdir_np(&actions, folder->c_str());
  if (!inherit_handles) posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<char*> args = Pointers(argv);
  int err = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

HANDLE AddHandle(const std::shared_ptr<Child>& child) {
  std::lock_guard lock(g_mutex);
  HANDLE handle = g_next_handle++;
  g_handles[handle] = child;
  return handle;
}

// Waits for the child (blocking or not) and keeps its status; true once it
// has ended.
bool Reap(Child& child, bool block) {
  std::lock_guard lock(child.mutex);
  if (child.reaped) return true;
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(child.pid, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done != child.pid) return false;
  child.reaped = true;
  child.status = status;
  return true;
}

}  // namespace

bool CreateProcessA(const char* application_name, const char* command_line,
                    void* /*process_attributes*/, void* /*thread_attributes*/,
                    bool inherit_handles, DWORD /*creation_flags*/, void* environment,
                    const char* current_directory, STARTUPINFOA* /*startup_info*/,
                    PROCESS_INFORMATION* process_information) {
  if (process_information == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  ReapOrphans();
  std::string line = command_line ? command_line : "";
  std::optional<std::string> program;
  std::vector<std::string> argv;
  if (application_name && *application_name) {
    program = HostPath(application_name);
    argv = SplitCommandLineArguments(line);
  } else {
    argv = CommandLineToArgvA(line);
    if (argv.empty() || argv.front().empty()) return Fail(ERROR_INVALID_PARAMETER);
    program = SearchProgram(argv.front());
    argv.erase(argv.begin());
  }
  if (!program) return Fail(ERROR_PATH_NOT_FOUND);
  if (DWORD problem = CheckProgram(*program); problem != ERROR_SUCCESS) return Fail(problem);
  argv.insert(argv.begin(), *program);

  std::optional<std::string> folder;
  if (current_directory && *current_directory) {
    folder = HostPath(current_directory);
    if (!folder) return Fail(ERROR_DIRECTORY);
  }
  std::vector<std::string> env_texts;
  std::vector<char*> env_pointers;
  char** envp = environ;
  if (environment) {
    env_texts = EnvironmentBlock(static_cast<const char*>(environment));
    env_pointers = Pointers(env_texts);
    envp = env_pointers.data();
  }
  auto child = std::make_shared<Child>();
  int err = Spawn(child->pid, *program, argv, envp, folder ? &*folder : nullptr, inherit_handles);
  if (err != 0) return Fail(SpawnError(err));

  process_information->hProcess = AddHandle(child);
  process_information->hThread = AddHandle(child);
  process_information->dwProcessId = static_cast<DWORD>(child->pid);
  process_information->dwThreadId = static_cast<DWORD>(child->pid);
  return true;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto child = FindChild(handle);
  if (!child) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (milliseconds == INFINITE) return Reap(*child, true) ? WAIT_OBJECT_0 : WAIT_FAILED;
  if (Reap(*child, false)) return WAIT_OBJECT_0;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  // A pidfd becomes readable when the process ends.
  // (glibc 2.36 declares pidfd_open without C linkage, so the system call.)
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child->pid, 0));
  if (pidfd < 0) return Reap(*child, false) ? WAIT_OBJECT_0 : WAIT_FAILED;
  pollfd entry{pidfd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(std::min<DWORD>(milliseconds, INT32_MAX)));
  } while (ready < 0 && errno == EINTR);
  ::close(pidfd);
  return ready > 0 && Reap(*child, false) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

bool GetExitCodeProcess(HANDLE process, DWORD* exit_code) {
  auto child = FindChild(process);
  if (!child) return Fail(ERROR_INVALID_HANDLE);
  if (exit_code == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!Reap(*child, false)) {
    *exit_code = STILL_ACTIVE;
    return true;
  }
  if (WIFSIGNALED(child->status)) {
    *exit_code = 128 + static_cast<DWORD>(WTERMSIG(child->status));
  } else {
    *exit_code = static_cast<DWORD>(WEXITSTATUS(child->status));
  }
  return true;
}

bool IsProcessHandle(HANDLE handle) {
  std::lock_guard lock(g_mutex);
  return g_handles.contains(handle);
}

bool CloseProcessHandle(HANDLE handle) {
  std::shared_ptr<Child> child;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_handles.find(handle);
    if (it == g_handles.end()) return Fail(ERROR_INVALID_HANDLE);
    child = std::move(it->second);
    g_handles.erase(it);
    if (child.use_count() > 1) return true;
  }
  // The last handle: a child nobody waited for is reaped later.
  bool reaped;
  {
    std::lock_guard child_lock(child->mutex);
    reaped = child->reaped;
  }
  if (!reaped) {
    std::lock_guard lock(g_mutex);
    g_orphans.push_back(child->pid);
  }
  return true;
}

}  // namespace velmora
