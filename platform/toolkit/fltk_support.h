// Pieces the FLTK widget set and its message box share.
#pragma once

#include <string>
#include <utility>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include "platform/toolkit/toolkit.h"
#include "platform/win32.h"

class Fl_Window;

namespace velmora::fltk {

// The window-manager hints of a fixed dialog: title bar with the system
// menu and close box only (no minimise, no maximise, no resizing).
void ApplyDialogHints(Fl_Window& window);
// Asks the window manager to keep the window above the others.
void KeepAbove(Fl_Window& window);
// Places the window's client area in the middle of the first screen.
void CentreOnScreen(Fl_Window& window);
// The application cursor on every shown window.
void ApplyCursor(TCursor cursor);

// While one lives, input events (clicks, keys, close requests) are dropped
// rather than dispatched; repaints and window-manager traffic go on.
class InputDropped {
 public:
  InputDropped();
  ~InputDropped();
  InputDropped(const InputDropped&) = delete;
  InputDropped& operator=(const InputDropped&) = delete;

 private:
  Fl_Event_Dispatch previous_;
};

// Makes the screen show what the program has changed: requests reach the
// server, windows taken down are gone and the ones they uncovered are
// repainted. Input met on the way is dropped.
void ShowChangesNow();

// FLTK's options take FLTK's own defaults, and its preference files
// (/etc/fltk, ~/.fltk) are neither read nor written: a program of ours
// leaves nothing outside its prefix. Call before anything asks FLTK for an
// option (opening the display and showing windows do).
void KeepOptionsAtHome();

// Text drawn as it is: no '@' symbols, no '&' underlines, a line feed
// starts a new line, and with FL_ALIGN_WRAP long lines wrap at blanks.
class PlainText : public Fl_Widget {
 public:
  PlainText(int x, int y, int w, int h, std::string text, Fl_Align align, Fl_Font font,
            int size, Fl_Color color)
      : Fl_Widget(x, y, w, h), text_(std::move(text)), align_(align), font_(font),
        size_(size), color_(color) {}
  void draw() override {
    fl_font(font_, size_);
    fl_color(color_);
    fl_draw(text_.c_str(), x(), y(), w(), h(), align_ | FL_ALIGN_INSIDE | FL_ALIGN_CLIP,
            nullptr, 0);
  }

 private:
  std::string text_;
  Fl_Align align_;
  Fl_Font font_;
  int size_;
  Fl_Color color_;
};

// A push button that Enter presses while it has the focus, as on Windows
// (FLTK's own buttons answer only the space bar).
class EnterButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;
  int handle(int event) override;

 protected:
  // Whether the key of the event at hand is Enter (either one).
  static bool EnterKey();
};

// A modal box in the manner of a Windows message box; returns IDOK, ...
int ShowMessageBox(const std::string& text, const std::string& caption, UINT type);

}  // namespace velmora::fltk
