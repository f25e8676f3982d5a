#include "tools/vunzip/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace velmora::vunzip {

namespace {

// A line from the terminal; nullopt at end of input or without one.
std::optional<std::string> ReadTerminalLine(const std::string& prompt, bool echo) {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // Echo goes off (and what was typed before the question is dropped)
  // before the question shows: an answer typed as soon as it shows is
  // neither echoed nor lost.
  termios saved{};
  const bool restore = !echo && tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  if (write(fd, prompt.data(), prompt.size()) < 0) {
    if (restore) tcsetattr(fd, TCSANOW, &saved);
    close(fd);
    return std::nullopt;
  }
  std::string line;
  bool got_any = false;
  char c = 0;
  while (read(fd, &c, 1) == 1) {
    got_any = true;
    if (c == '\n') break;
    line += c;
  }
  if (restore) {
    tcsetattr(fd, TCSAFLUSH, &saved);
    if (write(fd, "\n", 1) < 0) {
      // The answer is read; a lost newline on the screen does not matter.
    }
  }
  close(fd);
  if (!got_any) return std::nullopt;
  return line;
}

}  // namespace

bool TerminalAvailable() {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::optional<std::string> AskPassword(const std::string& prompt) {
  return ReadTerminalLine(prompt, false);
}

OverwriteQuestion AskOverwrite(const std::string& shown_name) {
  OverwriteQuestion result;
  for (;;) {
    const auto answer = ReadTerminalLine(
        "replace " + shown_name + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", true);
    if (!answer) {
      std::fprintf(stderr, "(EOF or read error, treating as \"[N]one\" ...)\n");
      result.answer = OverwriteAnswer::kNone;
      return result;
    }
    if (answer->empty()) continue;
    switch ((*answer)[0]) {
      case 'y': case 'Y': result.answer = OverwriteAnswer::kYes; return result;
      case 'n': result.answer = OverwriteAnswer::kNo; return result;
      case 'A': result.answer = OverwriteAnswer::kAll; return result;
      case 'N': result.answer = OverwriteAnswer::kNone; return result;
      case 'r': case 'R': {
        const auto name = ReadTerminalLine("new name: ", true);
        if (!name || name->empty()) continue;
        result.answer = OverwriteAnswer::kRename;
        result.new_name = *name;
        return result;
      }
      default:
        break;
    }
  }
}

ProgressBar::ProgressBar(bool wanted)
    : enabled_(wanted && isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

void ProgressBar::SetArchivePercent(uint8_t percent) {
  archive_percent_ = percent;
  Draw(false);
}

void ProgressBar::SetItem(const std::string& name, uint8_t percent) {
  item_name_ = name;
  item_percent_ = percent;
  Draw(false);
}

void ProgressBar::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

void ProgressBar::Draw(bool force) {
  if (!enabled_) return;
  using namespace std::chrono_literals;
  const auto now = std::chrono::steady_clock::now();
  if (!force && (now - start_ < 500ms || (shown_ && now - last_draw_ < 100ms))) return;
  last_draw_ = now;
  constexpr int kWidth = 30;
  const int filled = archive_percent_ * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::string name = item_name_;
  if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
  std::fprintf(stderr, "\r\033[K%3u%% [%s] %3u%% %s", archive_percent_, bar.c_str(),
               item_percent_, name.c_str());
  std::fflush(stderr);
  shown_ = true;
}

// -M: standard output through $PAGER (more when unset), when it is a
// terminal; piped output is left alone, as a pager there helps nobody.
std::FILE* StartPager() {
  if (isatty(STDOUT_FILENO) != 1) return nullptr;
  const char* pager = std::getenv("PAGER");
  std::FILE* pipe = popen(pager && *pager ? pager : "more", "w");
  if (pipe == nullptr) return nullptr;
  std::fflush(stdout);
  if (dup2(fileno(pipe), STDOUT_FILENO) < 0) {
    pclose(pipe);
    return nullptr;
  }
  return pipe;
}

}  // namespace velmora::vunzip
