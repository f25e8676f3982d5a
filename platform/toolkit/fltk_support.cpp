#include "platform/toolkit/fltk_support.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

namespace velmora::fltk {

namespace {

// The Motif window-manager hints most window managers still honour.
struct MotifHints {
  unsigned long flags;
  unsigned long functions;
  unsigned long decorations;
  long input_mode;
  unsigned long status;
};
constexpr unsigned long kMwmHintsFunctions = 1;
constexpr unsigned long kMwmHintsDecorations = 2;
constexpr unsigned long kMwmFuncMove = 4;
constexpr unsigned long kMwmFuncClose = 32;
constexpr unsigned long kMwmDecorBorder = 2;
constexpr unsigned long kMwmDecorTitle = 8;
constexpr unsigned long kMwmDecorMenu = 16;
constexpr long kNetWmStateAdd = 1;

}  // namespace

void ApplyDialogHints(Fl_Window& window) {
  Window xid = fl_xid(&window);
  if (!xid || !fl_display) return;
  MotifHints hints{kMwmHintsFunctions | kMwmHintsDecorations, kMwmFuncMove | kMwmFuncClose,
                   kMwmDecorBorder | kMwmDecorTitle | kMwmDecorMenu, 0, 0};
  // Window managers read this again when it changes; some (openbox) keep
  // the minimise box whatever it says.
  Atom atom = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, xid, atom, atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&hints), 5);
  XFlush(fl_display);
}

void KeepAbove(Fl_Window& window) {
  Window xid = fl_xid(&window);
  if (!xid || !fl_display) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid;
  event.xclient.message_type = XInternAtom(fl_display, "_NET_WM_STATE", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = kNetWmStateAdd;
  event.xclient.data.l[1] =
      static_cast<long>(XInternAtom(fl_display, "_NET_WM_STATE_ABOVE", False));
  event.xclient.data.l[3] = 1;  // a normal application
  XSendEvent(fl_display, DefaultRootWindow(fl_display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(fl_display);
}

void CentreOnScreen(Fl_Window& window) {
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  window.position(sx + (sw - window.w()) / 2, sy + (sh - window.h()) / 2);
}

void ApplyCursor(TCursor cursor) {
  Fl_Cursor shape = cursor == TCursor::crHourGlass ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT;
  for (Fl_Window* window = Fl::first_window(); window; window = Fl::next_window(window))
    window->cursor(shape);
  // The installation blocks the loop right after this; the server must see
  // the cursor now.
  Fl::flush();
}

}  // namespace velmora::fltk
