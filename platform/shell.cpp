#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/sysutils.h"

extern char** environ;

namespace velmora {
namespace {

constexpr HINSTANCE kStarted = 42;

// Openers that were started; each is reaped once it has ended, at the next
// call, since nothing waits for them.
std::mutex g_openers_mutex;
std::vector<pid_t> g_openers;

void ReapOpeners() {
  std::lock_guard lock(g_openers_mutex);
  std::erase_if(g_openers, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

HINSTANCE CannotOpen(const std::string& file, const std::string& host, const std::string& why) {
  std::fprintf(stderr, "Cannot open \"%s\" (%s): %s\n", file.c_str(), host.c_str(), why.c_str());
  return SE_ERR_NOASSOC;
}

// Starts opener with path as its argument in a session of its own, with
// nothing of ours open in it. Returns the errno of a failed start, or 0.
int SpawnDetached(const std::string& opener, const std::string& path, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::string program = opener, argument = path;
  char* argv[] = {program.data(), argument.data(), nullptr};
  int err = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

bool KnownVerb(const char* verb) {
  return verb == nullptr || *verb == '\0' || CompareText(verb, "open") == 0 ||
         CompareText(verb, "explore") == 0;
}

}  // namespace

HINSTANCE ShellExecuteA(void* /*owner*/, const char* verb, const char* file,
                        const char* /*parameters*/, const char* /*directory*/,
                        int /*show_command*/) {
  ReapOpeners();
  std::string name = file ? file : "";
  std::optional<std::string> host = HostPath(name);
  if (!host) return SE_ERR_PNF;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) return errno == ENOTDIR ? SE_ERR_PNF : SE_ERR_FNF;
  if (!KnownVerb(verb)) return CannotOpen(name, *host, std::string("no action \"") + verb + "\"");

  std::string opener = Set("VELMORA_SHELL_OPEN") ? std::getenv("VELMORA_SHELL_OPEN") : "";
  if (opener.empty()) {
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
      return CannotOpen(name, *host, "no desktop session to show it in");
    }
    opener = "xdg-open";
  }
  pid_t pid = 0;
  if (int err = SpawnDetached(opener, *host, pid); err != 0) {
    return CannotOpen(name, *host, opener + ": " + std::strerror(err));
  }
  std::lock_guard lock(g_openers_mutex);
  g_openers.push_back(pid);
  return kStarted;
}

}  // namespace velmora
