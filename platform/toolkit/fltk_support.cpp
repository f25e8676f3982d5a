#include "platform/toolkit/fltk_support.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

namespace velmora::fltk {

bool EnterButton::EnterKey() {
  return Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
}

int EnterButton::handle(int event) {
  if (event == FL_KEYBOARD && Fl::focus() == this && EnterKey()) {
    simulate_key_action();
    do_callback();
    return 1;
  }
  return Fl_Button::handle(event);
}

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

// FLTK 1.3 reads its options from the preference files the first time one
// is asked for, and writes both files back when they are missing, creating
// /etc/fltk when run as root; there is no call to skip that. Its "options
// read" flag is a private member of Fl, reached by its symbol name.
extern unsigned char fl_options_read asm("_ZN2Fl13options_read_E");

void KeepOptionsAtHome() {
  fl_options_read = 1;
  // FLTK's defaults when no preference file says otherwise.
  Fl::option(Fl::OPTION_ARROW_FOCUS, false);
  Fl::option(Fl::OPTION_VISIBLE_FOCUS, true);
  Fl::option(Fl::OPTION_DND_TEXT, true);
  Fl::option(Fl::OPTION_SHOW_TOOLTIPS, true);
  Fl::option(Fl::OPTION_FNFC_USES_GTK, true);
}

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

namespace {

bool IsInput(int event) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_MOUSEWHEEL:
    case FL_KEYDOWN:
    case FL_KEYUP:
    case FL_SHORTCUT:
    case FL_CLOSE:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_LEAVE:
    case FL_DND_RELEASE:
      return true;
    default:
      return false;
  }
}

int DispatchAllButInput(int event, Fl_Window* window) {
  if (IsInput(event)) return 1;  // taken, and nothing done with it
  return Fl::handle_(event, window);
}

}  // namespace

InputDropped::InputDropped() : previous_(Fl::event_dispatch()) {
  Fl::event_dispatch(DispatchAllButInput);
}

InputDropped::~InputDropped() { Fl::event_dispatch(previous_); }

void ShowChangesNow() {
  if (!fl_display) return;
  InputDropped dropped;
  Fl::flush();
  // Once the server has handled every request, the exposures they caused
  // are queued here; drawing them is what a Windows program's paint
  // messages would do before it goes on.
  XSync(fl_display, False);
  Fl::check();
  Fl::flush();
  XSync(fl_display, False);
}

}  // namespace velmora::fltk
