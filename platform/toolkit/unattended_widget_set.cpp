// The unattended front end, for installations nobody watches: no window is
// shown, and every message box answers itself the moment it is printed.
#include <ostream>

#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"

namespace velmora {

namespace {

// OK where it is the only button; elsewhere the answer that starts nothing
// new (Cancel, Abort, No), since nobody is there to insert a disk or choose.
int UnattendedAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL: return IDCANCEL;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO: return IDNO;
    default: return IDOK;
  }
}

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
    return UnattendedAnswer(type);
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
