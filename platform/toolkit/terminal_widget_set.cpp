// The terminal front end, for machines without a display: a form is its
// caption and label texts followed by its buttons as choices, a message box
// is its text followed by "Press Enter" (or its buttons as choices). One line
// of input answers; the end of input closes the form or answers the box the
// way its close box would.
#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <vector>

#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {

namespace {

// "[C]lose" for "&Close"; the first letter when the caption marks none.
std::string ChoiceLabel(const std::string& plain, char key) {
  size_t at = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(plain[i])) == key) {
      at = i;
      break;
    }
  }
  if (plain.empty()) return "[?]";
  return plain.substr(0, at) + "[" + plain[at] + "]" + plain.substr(at + 1);
}

const char* IconWord(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return "Error";
    case MB_ICONQUESTION: return "Question";
    case MB_ICONWARNING: return "Warning";
    case MB_ICONINFORMATION: return "Information";
    default: return nullptr;
  }
}

std::string Trimmed(const std::string& line) {
  size_t begin = 0, end = line.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(line[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(begin, end - begin);
}

class TerminalWidgetSet : public TWidgetSet {
 public:
  TerminalWidgetSet(std::istream& in, std::ostream& out, bool echo_input)
      : in_(in), out_(out), echo_input_(echo_input) {}

  const char* Name() const override { return "terminal"; }
  void Run(TForm& form) override;
  void Terminate() override { terminated_ = true; }
  void FormClosed(TForm&) override {}
  void ProcessMessages() override { out_.flush(); }
  void SetCursor(TCursor) override {}
  void SetTitle(const std::string&) override {}
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;

 private:
  void ShowForm(const TForm& form);
  std::vector<TBitBtn*> Buttons(const TForm& form) const;
  bool ReadLine(std::string& line);

  std::istream& in_;
  std::ostream& out_;
  bool echo_input_;
  bool terminated_ = false;
};

// Reads the answer to the prompt just written and ends the prompt's line:
// a terminal has echoed the line, other input is echoed here.
bool TerminalWidgetSet::ReadLine(std::string& line) {
  if (!std::getline(in_, line)) {
    line.clear();
    out_ << "\n" << std::flush;
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (echo_input_) {
    for (char c : line) {
      // Control characters (Escape) shown in caret notation, as a terminal would.
      if (static_cast<unsigned char>(c) < 0x20) {
        out_ << '^' << static_cast<char>(c + 0x40);
      } else {
        out_ << c;
      }
    }
    out_ << "\n" << std::flush;
  }
  return true;
}

std::vector<TBitBtn*> TerminalWidgetSet::Buttons(const TForm& form) const {
  std::vector<TBitBtn*> buttons;
  for (const auto& control : form.Controls())
    if (auto* button = dynamic_cast<TBitBtn*>(control.get()); button && button->CanFocus())
      buttons.push_back(button);
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](TBitBtn* a, TBitBtn* b) { return a->TabOrder < b->TabOrder; });
  return buttons;
}

void TerminalWidgetSet::ShowForm(const TForm& form) {
  out_ << "== " << form.Caption << " ==\n";
  for (const auto& control : form.Controls())
    if (auto* label = dynamic_cast<TLabel*>(control.get()); label && label->Visible)
      out_ << MessageLines(label->Caption) << "\n";
}

void TerminalWidgetSet::Run(TForm& form) {
  terminated_ = false;
  form.SetShowing(true);
  ShowForm(form);
  while (form.Showing() && !terminated_) {
    std::vector<TBitBtn*> buttons = Buttons(form);
    for (size_t i = 0; i < buttons.size(); ++i) {
      char key = buttons[i]->Accelerator();
      std::string plain = buttons[i]->PlainCaption();
      if (!key && !plain.empty()) key = static_cast<char>(std::tolower(plain[0]));
      out_ << (i ? " " : "") << ChoiceLabel(plain, key);
    }
    out_ << "\n> " << std::flush;
    std::string line;
    if (!ReadLine(line)) {
      // Nobody left to answer: as the close box.
      Application().DispatchCloseRequest(form);
      break;
    }
    line = Trimmed(line);
    TBitBtn* pressed = nullptr;
    if (line.empty()) {
      // Enter presses the button that has the focus.
      pressed = dynamic_cast<TBitBtn*>(form.Focused());
    } else if (line[0] == '\x1b') {
      // Escape presses the Cancel button; without one it does nothing.
      for (TBitBtn* button : buttons)
        if (button->Cancel) pressed = button;
    } else {
      char key = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
      for (TBitBtn* button : buttons) {
        char own = button->Accelerator();
        std::string plain = button->PlainCaption();
        if (!own && !plain.empty()) own = static_cast<char>(std::tolower(plain[0]));
        if (own == key) pressed = button;
      }
    }
    if (pressed) {
      form.SetFocus(*pressed);
      Application().DispatchClick(*pressed);
    }
  }
  form.SetShowing(false);
  out_ << std::flush;
}

int TerminalWidgetSet::MessageBox(const std::string& text, const std::string& caption,
                                  UINT type) {
  out_ << "\n== " << caption << " ==\n";
  if (const char* icon = IconWord(type)) out_ << "(" << icon << ") ";
  out_ << MessageLines(text) << "\n";
  std::vector<MessageBoxChoice> choices = MessageBoxChoices(type);
  std::string line;
  if (choices.size() == 1) {
    out_ << "Press Enter" << std::flush;
    ReadLine(line);
    return choices[0].answer;
  }
  for (;;) {
    for (size_t i = 0; i < choices.size(); ++i) out_ << (i ? " " : "") << choices[i].label;
    out_ << "\n> " << std::flush;
    if (!ReadLine(line)) return MessageBoxCloseAnswer(type);
    line = Trimmed(line);
    if (line.empty()) return choices[0].answer;
    char key = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    for (const MessageBoxChoice& choice : choices)
      if (choice.key == key) return choice.answer;
  }
}

}  // namespace

std::unique_ptr<TWidgetSet> MakeTerminalWidgetSet(std::istream& in, std::ostream& out,
                                                  bool echo_input) {
  return std::make_unique<TerminalWidgetSet>(in, out, echo_input);
}

}  // namespace velmora
