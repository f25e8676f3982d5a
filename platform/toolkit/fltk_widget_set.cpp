// The X11 widget set through FLTK. A form becomes one double-buffered window
// whose widgets sit at the form's aligned pixel places; the form stays the
// model, FLTK only draws it and turns input into DispatchClick and
// DispatchCloseRequest.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/toolkit/fltk_support.h"

namespace velmora {

namespace fltk {
namespace {

constexpr int kGlyphSpacing = 4;  // between glyph and caption

Fl_Color ToFl(TRgb c) { return fl_rgb_color(c.r, c.g, c.b); }

// The window's font: "MS Sans Serif" is a Windows bitmap font; its nearest
// kin here is the desktop's sans-serif face, at the same pixel height.
int FontSize(const TFontSpec& font) { return font.Height < 0 ? -font.Height : font.Height; }

// The picture, scaled to the control when it stretches.
class PictureWidget : public Fl_Widget {
 public:
  PictureWidget(const TRect& r, const TBitmap& picture, bool stretch)
      : Fl_Widget(r.Left, r.Top, r.Width, r.Height), pixels_(picture.Pixels) {
    if (picture.Empty()) return;
    Fl_RGB_Image original(pixels_.data(), picture.Width, picture.Height, 3);
    if (stretch && (picture.Width != r.Width || picture.Height != r.Height)) {
      image_.reset(static_cast<Fl_RGB_Image*>(original.copy(r.Width, r.Height)));
    } else {
      image_.reset(static_cast<Fl_RGB_Image*>(original.copy()));
    }
  }
  void draw() override {
    if (!image_) return;
    fl_push_clip(x(), y(), w(), h());
    image_->draw(x(), y());
    fl_pop_clip();
  }

 private:
  std::vector<uint8_t> pixels_;
  std::unique_ptr<Fl_RGB_Image> image_;
};

// A push button with its glyph left of the caption, both centred together,
// as a Windows bitmap button lays them out. Enter and Space press it when it
// has the focus; its '&' letter presses it from anywhere in the window.
class GlyphButton : public EnterButton {
 public:
  GlyphButton(TBitBtn& model, const TRect& r, const TFontSpec& font)
      : EnterButton(r.Left, r.Top, r.Width, r.Height), model_(model) {
    copy_label(model.Caption.c_str());  // the '&' letter is its shortcut
    labelfont(FL_HELVETICA);
    labelsize(FontSize(font));
    labelcolor(ToFl(font.Color));
    color(fl_rgb_color(225, 225, 225));
    if (!model.Glyph.Empty()) {
      std::vector<uint8_t> mask = GlyphMask(model.Glyph);
      glyph_pixels_.reserve(mask.size() * 4);
      for (size_t i = 0; i < mask.size(); ++i) {
        for (int c = 0; c < 3; ++c) glyph_pixels_.push_back(model.Glyph.Pixels[i * 3 + c]);
        glyph_pixels_.push_back(mask[i]);
      }
      glyph_ = std::make_unique<Fl_RGB_Image>(glyph_pixels_.data(), model.Glyph.Width,
                                              model.Glyph.Height, 4);
    }
    callback([](Fl_Widget*, void* data) {
      Application().DispatchClick(*static_cast<TBitBtn*>(data));
    }, &model);
  }

  const TBitBtn& model() const { return model_; }

  int handle(int event) override {
    // The default button takes Enter that no focused button took.
    if (event == FL_SHORTCUT && model_.Default && EnterKey()) {
      do_callback();
      return 1;
    }
    if (event == FL_FOCUS) model_.Owner().SetFocus(model_);
    return EnterButton::handle(event);
  }

  void draw() override {
    const bool down = value() != 0;
    draw_box(down ? FL_DOWN_BOX : FL_UP_BOX, color());
    fl_font(labelfont(), labelsize());
    const int text_w = static_cast<int>(fl_width(model_.PlainCaption().c_str()));
    const int glyph_w = glyph_ ? glyph_->w() + kGlyphSpacing : 0;
    const int shift = down ? 1 : 0;
    int left = x() + (w() - glyph_w - text_w) / 2 + shift;
    if (glyph_) {
      glyph_->draw(left, y() + (h() - glyph_->h()) / 2 + shift);
      left += glyph_w;
    }
    draw_label(left, y() + shift, text_w + 2, h(), FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    if (Fl::focus() == this) draw_focus(FL_UP_BOX, x() + 2, y() + 2, w() - 4, h() - 4);
  }

 private:
  TBitBtn& model_;
  std::vector<uint8_t> glyph_pixels_;
  std::unique_ptr<Fl_RGB_Image> glyph_;
};

TBitBtn* FindButton(const TForm& form, bool TBitBtn::*flag) {
  for (const auto& control : form.Controls())
    if (auto* button = dynamic_cast<TBitBtn*>(control.get()); button && button->*flag)
      return button;
  return nullptr;
}

class FormWindow : public Fl_Double_Window {
 public:
  explicit FormWindow(TForm& form)
      : Fl_Double_Window(form.ClientWidth, form.ClientHeight), form_(form) {
    callback([](Fl_Widget*, void* data) {
      TForm& form = *static_cast<TForm*>(data);
      // FLTK closes a window on Escape; a form presses its Cancel button,
      // if it has one, and otherwise ignores Escape.
      if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
        if (TBitBtn* cancel = FindButton(form, &TBitBtn::Cancel))
          Application().DispatchClick(*cancel);
        return;
      }
      Application().DispatchCloseRequest(form);
    }, &form);
  }
  TForm& form() const { return form_; }

 private:
  TForm& form_;
};

Fl_Widget* MakeWidget(TForm& form, TControl& control) {
  const TRect r = form.BoundsOf(control);
  const int size = FontSize(form.Font);
  if (auto* panel = dynamic_cast<TPanel*>(&control)) {
    auto* box = new Fl_Box(r.Left, r.Top, r.Width, r.Height);
    box->box(panel->BevelOuter ? FL_THIN_UP_BOX : FL_FLAT_BOX);
    box->color(ToFl(panel->Color));
    return box;
  }
  if (auto* image = dynamic_cast<TImage*>(&control))
    return new PictureWidget(r, image->Picture, image->Stretch);
  if (auto* label = dynamic_cast<TLabel*>(&control)) {
    Fl_Align align = label->Alignment == TAlignment::taCenter         ? FL_ALIGN_CENTER
                     : label->Alignment == TAlignment::taRightJustify ? FL_ALIGN_RIGHT
                                                                      : FL_ALIGN_LEFT;
    align |= FL_ALIGN_TOP;
    if (label->WordWrap) align |= FL_ALIGN_WRAP;
    return new PlainText(r.Left, r.Top, r.Width, r.Height, MessageLines(label->Caption), align,
                         FL_HELVETICA, size, ToFl(form.Font.Color));
  }
  if (auto* button = dynamic_cast<TBitBtn*>(&control))
    return new GlyphButton(*button, r, form.Font);
  return nullptr;
}

class FltkWidgetSet : public TWidgetSet {
 public:
  const char* Name() const override { return "x11"; }
  void Run(TForm& form) override;
  void Terminate() override { terminated_ = true; }
  void FormClosed(TForm& form) override {
    if (window_ && &window_->form() == &form) window_->hide();
  }
  void ProcessMessages() override { Fl::check(); }
  void SetCursor(TCursor cursor) override {
    cursor_ = cursor;
    ApplyCursor(cursor);
  }
  void SetTitle(const std::string& title) override {
    title_ = title;
    if (window_) window_->iconlabel(title_.c_str());
  }
  // The box is taken down and the windows under it repainted before the
  // caller goes on, which may be a long wait.
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override {
    int answer = ShowMessageBox(text, caption, type);
    ShowChangesNow();
    return answer;
  }
  void WaitWithoutInput(int fd) override;

 private:
  std::unique_ptr<FormWindow> Build(TForm& form);

  std::unique_ptr<FormWindow> window_;
  std::unique_ptr<Fl_RGB_Image> icon_;
  std::string title_;
  TCursor cursor_ = TCursor::crDefault;
  bool terminated_ = false;
};

std::unique_ptr<FormWindow> FltkWidgetSet::Build(TForm& form) {
  auto window = std::make_unique<FormWindow>(form);
  window->copy_label(form.Caption.c_str());
  window->iconlabel(title_.c_str());
  window->color(ToFl(form.Color));
  std::vector<std::pair<int, Fl_Widget*>> focusable;
  for (const auto& control : form.Controls()) {
    if (!control->Visible) continue;
    Fl_Widget* widget = MakeWidget(form, *control);
    if (!widget) continue;
    if (!control->CanFocus()) {
      widget->clear_visible_focus();
    } else {
      focusable.emplace_back(control->TabOrder, widget);
    }
  }
  window->end();
  // FLTK moves the focus in child order; the form's tab order decides.
  std::stable_sort(focusable.begin(), focusable.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [order, widget] : focusable) {
    window->remove(widget);
    window->add(widget);
  }
  if (form.BorderStyle == TBorderStyle::bsDialog)
    window->size_range(form.ClientWidth, form.ClientHeight, form.ClientWidth, form.ClientHeight);
  if (!form.Icon.Empty()) {
    icon_ = std::make_unique<Fl_RGB_Image>(form.Icon.Pixels.data(), form.Icon.Width,
                                           form.Icon.Height, 3);
    window->icon(icon_.get());
  }
  if (form.Position == TPosition::poScreenCenter) CentreOnScreen(*window);
  return window;
}

void FltkWidgetSet::Run(TForm& form) {
  terminated_ = false;
  window_ = Build(form);
  form.SetShowing(true);
  window_->show();
  if (form.BorderStyle == TBorderStyle::bsDialog) ApplyDialogHints(*window_);
  form.SetHandle(reinterpret_cast<void*>(static_cast<uintptr_t>(fl_xid(window_.get()))));
  ApplyCursor(cursor_);
  if (TControl* focused = form.Focused()) {
    for (int i = 0; i < window_->children(); ++i)
      if (auto* button = dynamic_cast<GlyphButton*>(window_->child(i));
          button && &button->model() == focused)
        button->take_focus();
  }
  while (form.Showing() && !terminated_ && window_->shown()) Fl::wait(1e20);
  form.SetShowing(false);
  form.SetHandle(nullptr);
  window_->hide();
  Fl::flush();
  window_.reset();
}

void FltkWidgetSet::WaitWithoutInput(int fd) {
  if (!fl_display) return TWidgetSet::WaitWithoutInput(fd);
  bool ready = false;
  Fl::add_fd(fd, FL_READ, [](int, void* flag) { *static_cast<bool*>(flag) = true; }, &ready);
  {
    InputDropped dropped;
    while (!ready) Fl::wait(1e20);
  }
  Fl::remove_fd(fd, FL_READ);
}

}  // namespace
}  // namespace fltk

std::unique_ptr<TWidgetSet> MakeX11WidgetSet(bool retry) {
  // FLTK ends the program when it cannot open the display, so try first. A
  // display that was asked for may still be starting, or be too busy to
  // accept at once: it gets a few seconds before the terminal is used.
  Display* display = XOpenDisplay(nullptr);
  for (int delay_ms = 50; !display && retry && delay_ms <= 1600; delay_ms *= 2) {
    ::usleep(static_cast<useconds_t>(delay_ms) * 1000);
    display = XOpenDisplay(nullptr);
  }
  if (!display) return nullptr;
  fltk::KeepOptionsAtHome();
  fl_open_display(display);
  // FLTK hands its scheme to child processes through the environment; the
  // programs we start get the environment we were started with.
  const char* scheme_before = std::getenv("FLTK_SCHEME");
  std::string kept = scheme_before ? scheme_before : "";
  Fl::scheme("gtk+");
  if (scheme_before) {
    ::setenv("FLTK_SCHEME", kept.c_str(), 1);
  } else {
    ::unsetenv("FLTK_SCHEME");
  }
  Fl::background(240, 240, 240);
  Fl::visual(FL_RGB);
  return std::make_unique<fltk::FltkWidgetSet>();
}

}  // namespace velmora
