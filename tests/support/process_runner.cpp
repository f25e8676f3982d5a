#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <system_error>

extern char** environ;

namespace velmora::testing {

namespace {

// The environment the child gets, built before fork: after fork in a
// program with threads only async-signal-safe calls are allowed, and
// setenv is not one.
std::vector<std::string> ChildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string line = *entry;
    const size_t equals = line.find('=');
    if (equals != std::string::npos) merged[line.substr(0, equals)] = line.substr(equals + 1);
  }
  for (const auto& [name, value] : extra) merged[name] = value;
  std::vector<std::string> lines;
  for (const auto& [name, value] : merged) lines.push_back(name + "=" + value);
  return lines;
}

// An anonymous file for one output: unlike a pipe, nothing waits on it, so
// a daemon the program leaves behind holding it open (wineserver, a
// detached opener) cannot keep the test waiting.
class OutputFile {
 public:
  explicit OutputFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
  }
  ~OutputFile() { ::close(fd_); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  int fd() const { return fd_; }

  std::string Contents() const {
    std::string text;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
      const ssize_t got = ::pread(fd_, buffer, sizeof buffer, at);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return text;
      text.append(buffer, static_cast<size_t>(got));
      at += got;
    }
  }

 private:
  int fd_;
};

}  // namespace

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

ProcessResult RunShell(const std::string& command, const ShellOptions& options) {
  const std::vector<std::string> env_lines = ChildEnvironment(options.env);
  std::vector<char*> envp;
  for (const auto& line : env_lines) envp.push_back(const_cast<char*>(line.c_str()));
  envp.push_back(nullptr);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  OutputFile out_file("stdout"), err_file("stderr");

  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::setsid();
    const int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in < 0 || ::dup2(null_in, 0) < 0 || ::dup2(out_file.fd(), 1) < 0 ||
        ::dup2(err_file.fd(), 2) < 0) {
      ::_exit(126);
    }
    if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0) {
      static const char kNoFolder[] = "cannot enter the working folder\n";
      (void)!::write(2, kNoFolder, sizeof kNoFolder - 1);
      ::_exit(126);
    }
    ::execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProcessResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = out_file.Contents();
  result.err = err_file.Contents();
  return result;
}

bool RunQuietly(const std::string& command, const std::string& folder) {
  return RunShell(command, {.folder = folder, .env = {}}).exit_code == 0;
}

bool ProgramInstalled(const std::string& name) {
  return RunQuietly("command -v " + Quote(name));
}

}  // namespace velmora::testing
