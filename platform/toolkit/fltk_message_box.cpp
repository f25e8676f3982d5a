// The message box on X11, drawn the way Windows draws one: icon and text on
// white, the buttons on a grey strip below, right-aligned; centred on the
// screen, modal, above the other windows.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/message_box.h"
#include "platform/toolkit/fltk_support.h"

namespace velmora::fltk {

namespace {

constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kTextFontSize = 12;
constexpr int kMaxTextWidth = 440;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 8;
constexpr int kStripHeight = 42;

struct BoxButton {
  const char* label;
  int answer;
};

std::vector<BoxButton> ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{"&Abort", IDABORT}, {"&Retry", IDRETRY}, {"&Ignore", IDIGNORE}};
    case MB_YESNOCANCEL: return {{"&Yes", IDYES}, {"&No", IDNO}, {"Cancel", IDCANCEL}};
    case MB_YESNO: return {{"&Yes", IDYES}, {"&No", IDNO}};
    case MB_RETRYCANCEL: return {{"&Retry", IDRETRY}, {"Cancel", IDCANCEL}};
    default: return {{"OK", IDOK}};
  }
}

// The answer of Escape and the close box; 0 where Windows offers neither
// (Yes/No and Abort/Retry/Ignore boxes have no way out but a button).
int EscapeAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL: return IDCANCEL;
    default: return 0;
  }
}

class IconBox : public Fl_Widget {
 public:
  IconBox(int x, int y, UINT icon) : Fl_Widget(x, y, kIconSize, kIconSize), icon_(icon) {}

  void draw() override {
    const int cx = x(), cy = y(), s = kIconSize;
    if (icon_ == MB_ICONWARNING) {
      fl_color(fl_rgb_color(250, 200, 30));
      fl_polygon(cx + s / 2, cy + 1, cx + s - 1, cy + s - 3, cx, cy + s - 3);
      fl_color(FL_BLACK);
      fl_font(FL_HELVETICA_BOLD, 20);
      fl_draw("!", cx, cy + 8, s, s - 10, FL_ALIGN_CENTER);
      return;
    }
    Fl_Color disc = icon_ == MB_ICONERROR ? fl_rgb_color(210, 40, 40) : fl_rgb_color(40, 100, 200);
    fl_color(disc);
    fl_pie(cx, cy, s, s, 0, 360);
    fl_color(FL_WHITE);
    if (icon_ == MB_ICONERROR) {
      fl_line_style(FL_SOLID | FL_CAP_ROUND, 4);
      fl_line(cx + 10, cy + 10, cx + s - 11, cy + s - 11);
      fl_line(cx + s - 11, cy + 10, cx + 10, cy + s - 11);
      fl_line_style(0);
    } else {
      fl_font(FL_TIMES_BOLD, 22);
      fl_draw(icon_ == MB_ICONQUESTION ? "?" : "i", cx, cy, s, s, FL_ALIGN_CENTER);
    }
  }

 private:
  UINT icon_;
};

struct BoxState {
  Fl_Double_Window* window = nullptr;
  int answer = 0;
  int escape_answer = 0;
};

void AnswerWith(BoxState& state, int answer) {
  state.answer = answer;
  state.window->hide();
}

using Binding = std::pair<BoxState*, int>;

// The buttons, right-aligned on the strip below the text, into the window
// being built; returns the first (the default). bindings must outlive them.
Fl_Button* AddButtons(const std::vector<BoxButton>& buttons, int width, int strip_top,
                      BoxState& state, std::vector<Binding>& bindings) {
  bindings.reserve(buttons.size());
  const int buttons_w =
      static_cast<int>(buttons.size()) * (kButtonWidth + kButtonGap) - kButtonGap;
  int bx = width - kMargin - buttons_w;
  Fl_Button* first = nullptr;
  for (const BoxButton& b : buttons) {
    auto* button = new EnterButton(bx, strip_top + (kStripHeight - kButtonHeight) / 2,
                                       kButtonWidth, kButtonHeight, b.label);
    button->labelsize(kTextFontSize);
    bindings.emplace_back(&state, b.answer);
    button->callback(
        [](Fl_Widget*, void* data) {
          auto* binding = static_cast<Binding*>(data);
          AnswerWith(*binding->first, binding->second);
        },
        &bindings.back());
    if (!first) first = button;
    bx += kButtonWidth + kButtonGap;
  }
  return first;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, UINT type) {
  std::string lines = MessageLines(text);
  UINT icon = type & MB_ICONMASK;
  std::vector<BoxButton> buttons = ButtonsOf(type);

  fl_font(FL_HELVETICA, kTextFontSize);
  int text_w = kMaxTextWidth, text_h = 0;
  fl_measure(lines.empty() ? " " : lines.c_str(), text_w, text_h, 0);
  text_w = std::min(text_w, kMaxTextWidth);
  const int text_x = kMargin + (icon ? kIconSize + 10 : 0);
  const int body_h = std::max(text_h, icon ? kIconSize : 0) + 2 * kMargin + 4;
  const int buttons_w =
      static_cast<int>(buttons.size()) * (kButtonWidth + kButtonGap) - kButtonGap;
  const int width = std::max({text_x + text_w + kMargin + 8, buttons_w + 2 * kMargin, 180});
  const int height = body_h + kStripHeight;

  BoxState state;
  Fl_Double_Window window(width, height);
  state.window = &window;
  state.escape_answer = EscapeAnswer(type);
  window.copy_label(caption.c_str());
  window.color(FL_WHITE);
  if (icon) new IconBox(kMargin, kMargin, icon);
  const int text_y = kMargin + (icon && text_h < kIconSize ? (kIconSize - text_h) / 2 : 0);
  new PlainText(text_x, text_y, width - text_x - kMargin, text_h, lines,
                FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP, FL_HELVETICA, kTextFontSize,
                FL_BLACK);
  auto* strip = new Fl_Box(0, body_h, width, kStripHeight);
  strip->box(FL_FLAT_BOX);
  strip->color(fl_rgb_color(240, 240, 240));

  std::vector<Binding> bindings;
  Fl_Button* first = AddButtons(buttons, width, body_h, state, bindings);
  window.end();
  window.callback(
      [](Fl_Widget*, void* data) {
        auto* box = static_cast<BoxState*>(data);
        if (box->escape_answer) AnswerWith(*box, box->escape_answer);
      },
      &state);
  window.set_modal();
  window.size_range(width, height, width, height);  // fixed: no resizing, no maximise
  CentreOnScreen(window);

  Fl_Widget* had_focus = Fl::focus();
  window.show();
  ApplyDialogHints(window);
  KeepAbove(window);
  if (first) first->take_focus();
  while (window.shown()) Fl::wait();
  if (had_focus && had_focus->window() && had_focus->window()->shown()) had_focus->take_focus();
  return state.answer ? state.answer : buttons.front().answer;
}

}  // namespace velmora::fltk
