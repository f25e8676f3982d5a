#include "platform/message_box.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

namespace {

MessageBoxHandler& CurrentHandler() {
  static MessageBoxHandler handler;
  return handler;
}

// One line of standard input without its end; false at the end of input.
// stdio rather than iostreams: a command line tool that links this file
// does not pay for the iostream and locale set-up at every start.
bool ReadLine(std::string& line) {
  line.clear();
  int c = 0;
  while ((c = std::getchar()) != EOF && c != '\n') line += static_cast<char>(c);
  return c != EOF || !line.empty();
}

int ConsoleMessageBox(const std::string& text, const std::string& caption, UINT type) {
  std::vector<MessageBoxChoice> choices = MessageBoxChoices(type);
  std::fprintf(stderr, "\n== %s ==\n%s\n", caption.c_str(), MessageLines(text).c_str());
  // Without a terminal nobody can answer: the default button is the answer,
  // the same as the end of input.
  if (!isatty(STDIN_FILENO) || choices.size() == 1) {
    if (choices.size() == 1 && isatty(STDIN_FILENO)) {
      std::fputs("Press Enter ", stderr);
      std::fflush(stderr);
      std::string line;
      (void)ReadLine(line);
    }
    // With more than one button and nobody to ask, Cancel (or the last
    // button) is the safe answer.
    return choices.size() == 1 ? choices[0].answer : choices.back().answer;
  }
  for (;;) {
    for (const MessageBoxChoice& c : choices) std::fprintf(stderr, "%s ", c.label);
    std::fflush(stderr);
    std::string line;
    if (!ReadLine(line)) return choices.back().answer;
    if (line.empty()) return choices[0].answer;
    char key = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    for (const MessageBoxChoice& c : choices)
      if (c.key == key) return c.answer;
  }
}

}  // namespace

std::vector<MessageBoxChoice> MessageBoxChoices(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{'o', "[O]K", IDOK}, {'c', "[C]ancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{'a', "[A]bort", IDABORT}, {'r', "[R]etry", IDRETRY}, {'i', "[I]gnore", IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{'y', "[Y]es", IDYES}, {'n', "[N]o", IDNO}, {'c', "[C]ancel", IDCANCEL}};
    case MB_YESNO: return {{'y', "[Y]es", IDYES}, {'n', "[N]o", IDNO}};
    case MB_RETRYCANCEL: return {{'r', "[R]etry", IDRETRY}, {'c', "[C]ancel", IDCANCEL}};
    default: return {{'o', "OK", IDOK}};
  }
}

int MessageBoxCloseAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL: return IDCANCEL;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO: return IDNO;
    default: return IDOK;
  }
}

std::string MessageLines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}

int MessageBoxA(void*, const char* text, const char* caption, UINT type) {
  std::string message = text ? text : "";
  std::string title = caption ? caption : "Error";
  if (CurrentHandler()) return CurrentHandler()(message, title, type);
  return ConsoleMessageBox(message, title, type);
}

}  // namespace velmora
