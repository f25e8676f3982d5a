// The texts the toolkit makes: the error box's full stop, the accelerators
// of button captions.
#include <gtest/gtest.h>

#include "platform/toolkit/toolkit.h"

namespace velmora {
namespace {

TEST(ErrorBoxText, AppendsFullStopOnlyAfterBytesAboveTheFullStop) {
  EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
  EXPECT_EQ(ErrorBoxText("Code 7"), "Code 7.");             // '7' is 0x37
  EXPECT_EQ(ErrorBoxText("Stop/"), "Stop/.");               // '/' is 0x2F, just above
  EXPECT_EQ(ErrorBoxText("Done."), "Done.");                // 0x2E itself
  EXPECT_EQ(ErrorBoxText("Hm-"), "Hm-");                    // 0x2D
  EXPECT_EQ(ErrorBoxText("Unable to create directory \"c:\\Program Files\"!"),
            "Unable to create directory \"c:\\Program Files\"!");
  EXPECT_EQ(ErrorBoxText("Unable to execute application \"x\""),
            "Unable to execute application \"x\"");
  EXPECT_EQ(ErrorBoxText("it's '"), "it's '");
  EXPECT_EQ(ErrorBoxText("ends in space "), "ends in space ");
}

TEST(ErrorBoxText, ComparesTheLastByteUnsigned) {
  // A UTF-8 letter's last byte is above 0x7F: still "after '.'".
  EXPECT_EQ(ErrorBoxText("caf\xC3\xA9"), "caf\xC3\xA9.");
}

TEST(ErrorBoxText, LeavesAnEmptyMessageEmpty) { EXPECT_EQ(ErrorBoxText(""), ""); }

TEST(BitBtnCaption, AmpersandMarksTheAcceleratorLetter) {
  TForm form("f");
  auto& close = form.Add<TBitBtn>("c");
  close.Caption = "&Close";
  EXPECT_EQ(close.Accelerator(), 'c');
  EXPECT_EQ(close.PlainCaption(), "Close");
  close.Caption = "Save && E&xit";
  EXPECT_EQ(close.Accelerator(), 'x');
  EXPECT_EQ(close.PlainCaption(), "Save & Exit");
  close.Caption = "Install";
  EXPECT_EQ(close.Accelerator(), 0);
  EXPECT_EQ(close.PlainCaption(), "Install");
}

TEST(BitBtnClick, RunsOnClickWithTheButtonAsSenderAndLetsErrorsOut) {
  TForm form("f");
  auto& button = form.Add<TBitBtn>("b");
  void* seen = nullptr;
  button.OnClick = [&seen](void* sender) { seen = sender; };
  button.Click();
  EXPECT_EQ(seen, &button);
  button.OnClick = [](void*) { throw std::runtime_error("boom"); };
  EXPECT_THROW(button.Click(), std::runtime_error);
  button.OnClick = nullptr;
  EXPECT_NO_THROW(button.Click());  // unassigned: nothing happens
}

TEST(FormClose, HeadlessCloseRunsOnCloseAndIsRecorded) {
  TForm form("f");
  int closes = 0;
  form.OnClose = [&closes](void*) { ++closes; };
  EXPECT_FALSE(form.Closed());
  form.Close();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(closes, 1);
}

TEST(FormFocus, FirstFocusIsTheLowestTabOrderButtonUnlessActiveControlIsSet) {
  TForm form("f");
  auto& panel = form.Add<TPanel>("p");
  panel.TabOrder = 0;
  auto& second = form.Add<TBitBtn>("second");
  second.TabOrder = 2;
  auto& first = form.Add<TBitBtn>("first");
  first.TabOrder = 1;
  EXPECT_EQ(form.Focused(), &first);  // the panel takes no focus
  form.SetFocus(second);
  EXPECT_EQ(form.Focused(), &second);
}

}  // namespace
}  // namespace velmora
