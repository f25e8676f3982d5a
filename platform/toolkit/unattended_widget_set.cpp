// The unattended front end, for installations nobody watches: no window is
// shown, and every message box answers itself the moment it is printed.
#include <ostream>

#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {

namespace {

class UnattendedWidgetSet : public TWidgetSet {
 public:
  UnattendedWidgetSet(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  const char* Name() const override { return "unattended"; }
  void Run(TForm&) override {}
  void Terminate() override {}
  void FormClosed(TForm&) override {}
  void ProcessMessages() override {}
  void SetCursor(TCursor) override {}
  void SetTitle(const std::string&) override {}
  int MessageBox(const std::string& text, const std::string&, UINT type) override {
    std::ostream& to = (type & MB_ICONMASK) == MB_ICONERROR ? err_ : out_;
    to << MessageLines(text) << std::endl;
    // OK where it is the only button; elsewhere the close box's answer,
    // which starts nothing new, since nobody is there to insert a disk or
    // choose.
    return MessageBoxCloseAnswer(type);
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

std::unique_ptr<TWidgetSet> MakeUnattendedWidgetSet(std::ostream& out, std::ostream& err) {
  return std::make_unique<UnattendedWidgetSet>(out, err);
}

}  // namespace velmora
