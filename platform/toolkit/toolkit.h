// The window toolkit: the application (title, cursor, message loop, error and
// information boxes) and forms built from a layout of panels, images, labels
// and glyph buttons at pixel positions (96 dpi).
//
// A form is plain data until the message loop shows it, so a form can be
// built and its handlers run without a display (the installation procedure's
// tests do that). The widget set that shows it is chosen once, at the first
// use of Application(): X11 through FLTK when a display can be opened, the
// terminal otherwise; VELMORA_UI=x11|terminal forces one. Tests put their own
// in with TApplication::SetWidgetSet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "rtl/events.h"

namespace velmora {

struct TRgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};
constexpr TRgb clWhite{255, 255, 255};
constexpr TRgb clBtnFace{240, 240, 240};
constexpr TRgb clWindowText{0, 0, 0};

// A decoded picture: 8-bit RGB, rows top to bottom, no padding.
struct TBitmap {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;
  bool Empty() const { return Width <= 0 || Height <= 0; }
  TRgb Pixel(int x, int y) const;
};

// Decodes a baseline or progressive JPEG (grey or colour) to RGB. Raises
// Exception("Invalid JPEG picture") on data libjpeg cannot read.
TBitmap DecodeJpeg(const uint8_t* data, size_t size);

// The mask of a button glyph: 0 where a pixel shows the colour of the
// bottom-left pixel (transparent), 255 elsewhere. JPEG moves colours a
// little, so colours within a small distance of it count as that colour.
std::vector<uint8_t> GlyphMask(const TBitmap& glyph);

struct TRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum class TAlignment { taLeftJustify, taCenter, taRightJustify };
enum class TCursor { crDefault, crHourGlass };

class TForm;

class TControl {
 public:
  TControl(TForm& owner, TControl* parent, std::string name);
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  TForm& Owner() const { return owner_; }
  TControl* Parent() const { return parent_; }
  const std::string& Name() const { return name_; }
  void SetBounds(int left, int top, int width, int height);

  // Design-time bounds relative to the parent's client area; BoundsRect()
  // gives the place after alignment, in form client coordinates.
  int Left = 0, Top = 0, Width = 0, Height = 0;
  TAlign Align = TAlign::alNone;
  int TabOrder = 0;
  bool Visible = true;
  // Whether the control can take the keyboard focus (only buttons do).
  virtual bool CanFocus() const { return false; }
  TRect BoundsRect() const;

 private:
  TForm& owner_;
  TControl* parent_;
  std::string name_;
};

class TPanel : public TControl {
 public:
  using TControl::TControl;
  bool BevelOuter = false;  // no raised frame when false
  TRgb Color = clWhite;
};

class TImage : public TControl {
 public:
  using TControl::TControl;
  TBitmap Picture;
  bool AutoSize = false;  // size the control to its picture
  bool Stretch = false;   // scale the picture to the control
  void SetPicture(TBitmap picture);
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  std::string Caption;
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool WordWrap = false;
  bool AutoSize = true;
};

// A push button with a 16 x 16 glyph left of its caption. The glyph's
// bottom-left pixel colour is transparent. A '&' in the caption marks the
// accelerator letter (Alt+letter presses the button); "&&" is a plain '&'.
class TBitBtn : public TControl {
 public:
  using TControl::TControl;
  std::string Caption;
  TBitmap Glyph;
  bool Default = false;  // Enter presses it wherever the focus is
  bool Cancel = false;   // Escape presses it
  TNotifyEvent OnClick;
  bool CanFocus() const override { return Visible; }

  // Runs OnClick as a press would; an exception leaves to the caller.
  void Click();
  // The accelerator letter, lower case, or 0.
  char Accelerator() const;
  // The caption without the '&' marks.
  std::string PlainCaption() const;
};

enum class TBorderStyle { bsDialog, bsSizeable };
enum class TPosition { poDesigned, poScreenCenter };

struct TFontSpec {
  std::string Name = "MS Sans Serif";
  int Height = -11;  // pixels; negative: character height without leading
  TRgb Color = clWindowText;
};

class TWidgetSet;

class TForm {
 public:
  explicit TForm(std::string name);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  const std::string& Name() const { return name_; }

  std::string Caption;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TRgb Color = clBtnFace;
  TFontSpec Font;
  TBorderStyle BorderStyle = TBorderStyle::bsDialog;
  TPosition Position = TPosition::poScreenCenter;
  TBitmap Icon;  // 32 x 32 window icon
  TNotifyEvent OnClose;

  // Creates a child control owned by the form; parent null means the form.
  template <typename T>
  T& Add(std::string name, TControl* parent = nullptr) {
    auto control = std::make_unique<T>(*this, parent, std::move(name));
    T& result = *control;
    controls_.push_back(std::move(control));
    return result;
  }
  // In creation order.
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }
  TControl* FindControl(const std::string& name) const;

  // Focus. The first shown focus is ActiveControl, or the control with the
  // lowest tab order.
  TControl* ActiveControl = nullptr;
  void SetFocus(TControl& control);
  TControl* Focused() const;

  // Closes the form: runs OnClose, hides it; closing the main form ends the
  // message loop. Safe to call from inside a click handler.
  void Close();
  bool Showing() const { return showing_; }
  // Close has run at least once (headless runs check this).
  bool Closed() const { return closed_; }

  // Where a control sits after alignment, in client coordinates.
  TRect BoundsOf(const TControl& control) const;

  // The native window (an X11 Window id) or null; stands for the owner
  // window of Windows calls.
  void* Handle() const { return handle_; }

  // For widget sets.
  void SetShowing(bool showing) { showing_ = showing; }
  void SetHandle(void* handle) { handle_ = handle; }

 private:
  std::string name_;
  std::vector<std::unique_ptr<TControl>> controls_;
  bool showing_ = false;
  bool closed_ = false;
  void* handle_ = nullptr;
};

// What a widget set does; the application forwards to it.
class TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;
  virtual const char* Name() const = 0;  // "x11" or "terminal"
  // Shows the form and dispatches input until it is closed or Terminate.
  virtual void Run(TForm& main_form) = 0;
  virtual void Terminate() = 0;
  // The form was closed (by Close or its close box); hide it.
  virtual void FormClosed(TForm& form) = 0;
  virtual void ProcessMessages() = 0;
  virtual void SetCursor(TCursor cursor) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // A modal box with the buttons and icon of uType (MB_OK, MB_ICONERROR,
  // ...); returns IDOK, IDCANCEL, ... A CR in the text starts a new line.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
  // Blocks until fd is readable (a pidfd: until the process has ended). The
  // windows are repainted meanwhile, and input that arrives is dropped, so
  // nothing clicked during the wait is acted on afterwards. Without windows
  // this is a plain wait.
  virtual void WaitWithoutInput(int fd);
};

// The terminal front end: prints the form's texts and the buttons as choices
// ("[I]nstall [C]lose"), reads one line per choice. An empty line presses the
// focused button; the end of input is Close (or the box's OK / Cancel).
// echo_input writes each line read back after its prompt, for input that a
// terminal does not echo (a pipe, a file, a test's stream).
std::unique_ptr<TWidgetSet> MakeTerminalWidgetSet(std::istream& in, std::ostream& out,
                                                  bool echo_input = true);
// Nobody at the screen: no window is shown; a message box is printed on out
// (an error box on err) and answers itself: OK, or where there is a choice
// the answer that starts nothing (Cancel, Abort, No).
std::unique_ptr<TWidgetSet> MakeUnattendedWidgetSet(std::ostream& out, std::ostream& err);
// X11 through FLTK; null when no display can be opened. With retry, a
// display that refuses is tried again for a few seconds first.
std::unique_ptr<TWidgetSet> MakeX11WidgetSet(bool retry = false);
// By VELMORA_UI, else X11 when a display opens, else the terminal on the
// process's standard input and output.
std::unique_ptr<TWidgetSet> ChooseWidgetSet();

class TApplication {
 public:
  TApplication();
  ~TApplication();

  // Chooses the widget set (unless one was set) and installs the
  // MessageBoxA handler, so every message box of the program goes to it.
  void Initialize();
  void SetWidgetSet(std::unique_ptr<TWidgetSet> widget_set);
  TWidgetSet& WidgetSet();

  // The caption of message boxes and the task bar's text.
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title);

  // Shows main_form and runs the message loop until it is closed.
  void Run(TForm& main_form);
  void Terminate();
  void ProcessMessages();
  bool Terminated() const { return terminated_; }
  // TWidgetSet::WaitWithoutInput; a plain wait before a widget set exists.
  void WaitWithoutInput(int fd);

  // The application-wide mouse cursor.
  void SetCursor(TCursor cursor);
  TCursor Cursor() const { return cursor_; }

  // The error box: ErrorBoxText(message) captioned with the title, OK and
  // the error icon. HandleException shows the one being handled.
  void ShowException(const std::exception& error);
  void HandleException();
  // The information box: the title as caption, no icon, one "OK".
  void InformationBox(const std::string& text);
  int MessageBox(const std::string& text, const std::string& caption, UINT type);

  // A press of the button by the user: runs its OnClick; an exception that
  // leaves it is shown in the error box and the loop goes on.
  void DispatchClick(TBitBtn& button);
  // The close box of the form.
  void DispatchCloseRequest(TForm& form);

 private:
  std::unique_ptr<TWidgetSet> widget_set_;
  std::string title_;
  TCursor cursor_ = TCursor::crDefault;
  bool terminated_ = false;
};

// The one application object.
TApplication& Application();

// The error box's text: the message with "." appended when it is not empty
// and its last byte is above '.' (0x2E).
std::string ErrorBoxText(const std::string& message);

}  // namespace velmora
