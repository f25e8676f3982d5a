#include "platform/toolkit/toolkit.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "platform/message_box.h"
#include "rtl/exceptions.h"

namespace velmora {

// ---- controls ----

TControl::TControl(TForm& owner, TControl* parent, std::string name)
    : owner_(owner), parent_(parent), name_(std::move(name)) {}

void TControl::SetBounds(int left, int top, int width, int height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
}

TRect TControl::BoundsRect() const { return owner_.BoundsOf(*this); }

void TImage::SetPicture(TBitmap picture) {
  Picture = std::move(picture);
  if (AutoSize && !Picture.Empty()) {
    Width = Picture.Width;
    Height = Picture.Height;
  }
}

void TBitBtn::Click() {
  if (OnClick) OnClick(this);
}

char TBitBtn::Accelerator() const {
  for (size_t i = 0; i + 1 < Caption.size(); ++i) {
    if (Caption[i] != '&') continue;
    if (Caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::tolower(static_cast<unsigned char>(Caption[i + 1])));
  }
  return 0;
}

std::string TBitBtn::PlainCaption() const {
  std::string plain;
  for (size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == '&' && i + 1 < Caption.size()) ++i;
    plain += Caption[i];
  }
  return plain;
}

// ---- forms ----

TForm::TForm(std::string name) : name_(std::move(name)) {}

TForm::~TForm() = default;

TControl* TForm::FindControl(const std::string& name) const {
  for (const auto& control : controls_)
    if (control->Name() == name) return control.get();
  return nullptr;
}

void TForm::SetFocus(TControl& control) { ActiveControl = &control; }

TControl* TForm::Focused() const {
  if (ActiveControl) return ActiveControl;
  TControl* first = nullptr;
  for (const auto& control : controls_) {
    if (!control->CanFocus()) continue;
    if (!first || control->TabOrder < first->TabOrder) first = control.get();
  }
  return first;
}

void TForm::Close() {
  closed_ = true;
  if (OnClose) OnClose(this);
  if (!showing_) return;
  showing_ = false;
  Application().WidgetSet().FormClosed(*this);
}

// Alignment as the layout describes it: top and bottom strips first, then
// left and right, and an alClient control takes what remains; unaligned
// controls keep their own place. Coordinates are the parent's client area.
TRect TForm::BoundsOf(const TControl& control) const {
  TRect area{0, 0, ClientWidth, ClientHeight};
  if (control.Parent()) area = BoundsOf(*control.Parent());
  auto own = [](const TControl& c) {
    return TRect{c.Left, c.Top, c.Width, c.Height};
  };
  if (control.Align == TAlign::alNone) {
    TRect r = own(control);
    r.Left += area.Left;
    r.Top += area.Top;
    return r;
  }
  static constexpr TAlign kOrder[] = {TAlign::alTop, TAlign::alBottom, TAlign::alLeft,
                                      TAlign::alRight, TAlign::alClient};
  for (TAlign pass : kOrder) {
    for (const auto& sibling : controls_) {
      const TControl& c = *sibling;
      if (c.Parent() != control.Parent() || c.Align != pass || !c.Visible) continue;
      TRect r = area;
      switch (pass) {
        case TAlign::alTop:
          r.Height = std::min(c.Height, area.Height);
          area.Top += r.Height;
          area.Height -= r.Height;
          break;
        case TAlign::alBottom:
          r.Height = std::min(c.Height, area.Height);
          r.Top = area.Top + area.Height - r.Height;
          area.Height -= r.Height;
          break;
        case TAlign::alLeft:
          r.Width = std::min(c.Width, area.Width);
          area.Left += r.Width;
          area.Width -= r.Width;
          break;
        case TAlign::alRight:
          r.Width = std::min(c.Width, area.Width);
          r.Left = area.Left + area.Width - r.Width;
          area.Width -= r.Width;
          break;
        default:
          break;
      }
      if (&c == &control) return r;
    }
  }
  return area;
}

// ---- texts ----

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

// ---- the application ----

namespace {

void BlockUntilReadable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace

void TWidgetSet::WaitWithoutInput(int fd) { BlockUntilReadable(fd); }

std::unique_ptr<TWidgetSet> ChooseWidgetSet() {
  const char* forced = std::getenv("VELMORA_UI");
  std::string ui = forced ? forced : "";
  if (ui != "terminal") {
    if (auto x11 = MakeX11WidgetSet(ui == "x11")) return x11;
    if (ui == "x11") std::cerr << "velmora: cannot open the X display; using the terminal\n";
  }
  return MakeTerminalWidgetSet(std::cin, std::cout, !isatty(STDIN_FILENO));
}

TApplication::TApplication() = default;

// The MessageBoxA handler stays: it reaches the application through
// Application(), and the handler's own storage may already be gone here.
TApplication::~TApplication() = default;

void TApplication::Initialize() {
  if (!widget_set_) SetWidgetSet(ChooseWidgetSet());
  SetMessageBoxHandler([this](const std::string& text, const std::string& caption, UINT type) {
    return MessageBox(text, caption, type);
  });
}

void TApplication::SetWidgetSet(std::unique_ptr<TWidgetSet> widget_set) {
  widget_set_ = std::move(widget_set);
  if (widget_set_) {
    widget_set_->SetTitle(title_);
    widget_set_->SetCursor(cursor_);
  }
}

TWidgetSet& TApplication::WidgetSet() {
  if (!widget_set_) SetWidgetSet(ChooseWidgetSet());
  return *widget_set_;
}

void TApplication::SetTitle(std::string title) {
  title_ = std::move(title);
  if (widget_set_) widget_set_->SetTitle(title_);
}

void TApplication::Run(TForm& main_form) {
  terminated_ = false;
  WidgetSet().Run(main_form);
}

void TApplication::Terminate() {
  terminated_ = true;
  if (widget_set_) widget_set_->Terminate();
}

void TApplication::ProcessMessages() { WidgetSet().ProcessMessages(); }

void TApplication::WaitWithoutInput(int fd) {
  if (widget_set_) {
    widget_set_->WaitWithoutInput(fd);
  } else {
    BlockUntilReadable(fd);
  }
}

void TApplication::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (widget_set_) widget_set_->SetCursor(cursor);
}

void TApplication::ShowException(const std::exception& error) {
  const auto* ours = dynamic_cast<const Exception*>(&error);
  std::string message = ours ? ours->Message() : std::string(error.what());
  MessageBox(ErrorBoxText(message), title_, MB_OK | MB_ICONERROR);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(Exception("Unknown error"));
  }
}

void TApplication::InformationBox(const std::string& text) { MessageBox(text, title_, MB_OK); }

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  return WidgetSet().MessageBox(text, caption, type);
}

void TApplication::DispatchClick(TBitBtn& button) {
  try {
    button.Click();
  } catch (...) {
    HandleException();
  }
}

void TApplication::DispatchCloseRequest(TForm& form) {
  try {
    form.Close();
  } catch (...) {
    HandleException();
  }
}

TApplication& Application() {
  static TApplication application;
  return application;
}

}  // namespace velmora
