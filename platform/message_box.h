// MessageBoxA: the modal message box the engine's disk prompts and the
// installer's error display use. The window toolkit installs the handler
// that draws it; without one (tests, tools) the box is written to standard
// error and answered from standard input when that is a terminal, else with
// the default button.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace velmora {

// Buttons and icons (uType).
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_OKCANCEL = 0x01;
constexpr UINT MB_ABORTRETRYIGNORE = 0x02;
constexpr UINT MB_YESNOCANCEL = 0x03;
constexpr UINT MB_YESNO = 0x04;
constexpr UINT MB_RETRYCANCEL = 0x05;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TYPEMASK = 0x0F;
constexpr UINT MB_ICONMASK = 0xF0;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, UINT type)>;

// Installs the handler every MessageBoxA goes to; an empty one restores the
// console default. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

int MessageBoxA(void* owner, const char* text, const char* caption, UINT type);

// What every text front end (the console default, the terminal and
// unattended widget sets) shows and answers, kept in one place so that they
// agree.

// One button of a box as a line of text offers it.
struct MessageBoxChoice {
  char key;           // the lower-case letter that presses it
  const char* label;  // "[R]etry"
  int answer;
};

// The buttons of a box type, the default first.
std::vector<MessageBoxChoice> MessageBoxChoices(UINT type);

// What the close box of a box answers: Cancel where there is one, else the
// answer that starts nothing new (Abort, No), else OK.
int MessageBoxCloseAnswer(UINT type);

// The message with each CR (or CR LF) turned into a line feed: a CR inside a
// message starts a new line, as in a Windows message box.
std::string MessageLines(const std::string& text);

}  // namespace velmora
