// What vunzip says to a person at a terminal: questions (password,
// overwrite) asked on /dev/tty, and a progress bar on standard error for
// work that takes a while.
#pragma once

#include <cstdio>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora::vunzip {

// Whether a person can be asked: /dev/tty can be opened.
bool TerminalAvailable();

// Asks for a password without echo; nullopt when no terminal is there.
std::optional<std::string> AskPassword(const std::string& prompt);

// The answer to an overwrite question.
enum class OverwriteAnswer { kYes, kNo, kAll, kNone, kRename };
struct OverwriteQuestion {
  OverwriteAnswer answer = OverwriteAnswer::kNone;
  std::string new_name;  // with kRename
};
// Asks unzip's "replace NAME? [y]es, [n]o, [A]ll, [N]one, [r]ename: " on
// the terminal, and "new name: " after r; an answer it does not know is
// asked again, and the end of input is [N]one, as unzip takes it.
OverwriteQuestion AskOverwrite(const std::string& shown_name);

// A one-line bar on standard error, drawn only when standard error is a
// terminal and the work has lasted half a second, at most ten times a
// second, so short runs print nothing.
class ProgressBar {
 public:
  explicit ProgressBar(bool wanted);
  ~ProgressBar() { Clear(); }

  void SetArchivePercent(uint8_t percent);
  void SetItem(const std::string& name, uint8_t percent);
  bool Enabled() const { return enabled_; }
  // Removes the bar, so a message line can be printed.
  void Clear();

 private:
  void Draw(bool force);

  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  uint8_t archive_percent_ = 0;
  uint8_t item_percent_ = 0;
  std::string item_name_;
};

// -M: standard output through $PAGER (more when unset), when it is a
// terminal; the pager's pipe, or nullptr when output stays as it is.
std::FILE* StartPager();

}  // namespace velmora::vunzip
