#include "platform/command_line.h"

namespace velmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

// One argument starting at i; i is left at the blank that ends it.
std::string ReadArgument(std::string_view s, size_t& i) {
  std::string arg;
  int quotes = 0;  // 0 outside quotes, 1 inside, 2 or 3 while counting a run
  size_t backslashes = 0;
  while (i < s.size()) {
    char c = s[i];
    if (IsBlank(c) && quotes == 0) break;
    if (c == '\\') {
      arg += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c != '"') {
      arg += c;
      backslashes = 0;
      ++i;
      continue;
    }
    if (backslashes % 2 == 0) {
      arg.resize(arg.size() - backslashes / 2);
      ++quotes;
    } else {
      arg.resize(arg.size() - backslashes / 2 - 1);
      arg += '"';
    }
    backslashes = 0;
    ++i;
    // A run of quotes: every third one is literal, and a run that ends on
    // its second leaves quoting.
    for (; i < s.size() && s[i] == '"'; ++i) {
      if (++quotes == 3) {
        arg += '"';
        quotes = 0;
      }
    }
    if (quotes == 2) quotes = 0;
  }
  return arg;
}

}  // namespace

std::vector<std::string> SplitCommandLineArguments(std::string_view command_line) {
  std::vector<std::string> args;
  size_t i = SkipBlanks(command_line, 0);
  while (i < command_line.size()) {
    args.push_back(ReadArgument(command_line, i));
    i = SkipBlanks(command_line, i);
  }
  return args;
}

std::vector<std::string> CommandLineToArgvA(std::string_view command_line) {
  std::vector<std::string> argv;
  if (command_line.empty()) return argv;
  size_t i = 0;
  std::string program;
  if (command_line.front() == '"') {
    size_t close = command_line.find('"', 1);
    program = command_line.substr(1, close == std::string_view::npos ? close : close - 1);
    i = close == std::string_view::npos ? command_line.size() : close + 1;
  } else {
    while (i < command_line.size() && !IsBlank(command_line[i])) ++i;
    program = command_line.substr(0, i);
  }
  argv.push_back(std::move(program));
  for (auto& arg : SplitCommandLineArguments(command_line.substr(i))) {
    argv.push_back(std::move(arg));
  }
  return argv;
}

}  // namespace velmora
