// The terminal front end driven through its input stream: what it prints for
// the form and the boxes, and which answers the lines (and the end of input)
// give.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/toolkit/toolkit.h"
#include "rtl/exceptions.h"

namespace velmora {
namespace {

class TerminalFront : public ::testing::Test {
 protected:
  void Use(const std::string& input) {
    in_.str(input);
    in_.clear();
    Application().SetWidgetSet(MakeTerminalWidgetSet(in_, out_));
    Application().SetTitle("Velmora - Server");
  }
  void TearDown() override {
    Application().SetWidgetSet(nullptr);
    SetMessageBoxHandler(nullptr);
  }
  std::string Output() const { return out_.str(); }

  std::istringstream in_;
  std::ostringstream out_;
};

// A two-button form like the installer's, recording the presses.
struct TwoButtonForm : TForm {
  TwoButtonForm() : TForm("Form") {
    Caption = "Velmora";
    ClientWidth = 394;
    ClientHeight = 142;
    auto& text = Add<TLabel>("Text");
    text.Caption = "You are about to install.";
    install = &Add<TBitBtn>("Install");
    install->Caption = "Install";
    install->TabOrder = 1;
    install->OnClick = [this](void*) {
      presses.push_back("install");
      if (!fail_with.empty()) throw Exception(fail_with);
    };
    close = &Add<TBitBtn>("Close");
    close->Caption = "&Close";
    close->TabOrder = 2;
    close->OnClick = [this](void*) {
      presses.push_back("close");
      Close();
    };
    auto& footer = Add<TLabel>("Footer");
    footer.Caption = "Footer line";
    ActiveControl = install;
  }
  TBitBtn* install;
  TBitBtn* close;
  std::vector<std::string> presses;
  std::string fail_with;
};

TEST_F(TerminalFront, ShowsCaptionTextsAndButtonsAsChoices) {
  Use("");
  TwoButtonForm form;
  Application().Run(form);
  EXPECT_EQ(Output().rfind("== Velmora ==\nYou are about to install.\nFooter line\n"
                           "[I]nstall [C]lose\n> ", 0),
            0u)
      << Output();
}

TEST_F(TerminalFront, EchoesWhatItReadsAfterEachPrompt) {
  Use("\x1b\nc\n");
  TwoButtonForm form;
  Application().Run(form);
  EXPECT_NE(Output().find("[I]nstall [C]lose\n> ^[\n[I]nstall [C]lose\n> c\n"),
            std::string::npos)
      << Output();
}

TEST_F(TerminalFront, LetterPressesItsButtonAndCloseEndsTheLoop) {
  Use("i\ninstall\nC\ni\n");
  TwoButtonForm form;
  Application().Run(form);
  EXPECT_EQ(form.presses, (std::vector<std::string>{"install", "install", "close"}));
  EXPECT_FALSE(form.Showing());
  EXPECT_TRUE(form.Closed());
}

TEST_F(TerminalFront, EnterPressesTheFocusedButtonAndEscapeNothing) {
  Use("\x1b\n\nq\n\n");
  TwoButtonForm form;
  form.presses.clear();
  form.close->OnClick = [&form](void*) { form.presses.push_back("close"); };
  Application().Run(form);
  // Escape and an unknown letter press nothing; both empty lines press
  // Install, which has the focus; the end of input closes the form.
  EXPECT_EQ(form.presses, (std::vector<std::string>{"install", "install"}));
  EXPECT_TRUE(form.Closed());
}

TEST_F(TerminalFront, EscapePressesTheCancelButtonWhenThereIsOne) {
  Use("\x1b\n");
  TwoButtonForm form;
  form.close->Cancel = true;
  Application().Run(form);
  EXPECT_EQ(form.presses, (std::vector<std::string>{"close"}));
}

TEST_F(TerminalFront, EndOfInputClosesTheForm) {
  Use("");
  TwoButtonForm form;
  bool closed = false;
  form.OnClose = [&closed](void*) { closed = true; };
  Application().Run(form);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(form.presses.empty());
}

TEST_F(TerminalFront, ErrorFromAHandlerIsShownAndBothButtonsWorkAfterwards) {
  Use("i\n\ni\n\nc\n");
  TwoButtonForm form;
  form.fail_with = "File not found";
  Application().Run(form);
  EXPECT_EQ(form.presses, (std::vector<std::string>{"install", "install", "close"}));
  const std::string box = "\n== Velmora - Server ==\n(Error) File not found.\nPress Enter\n";
  size_t first = Output().find(box);
  ASSERT_NE(first, std::string::npos) << Output();
  EXPECT_NE(Output().find(box, first + 1), std::string::npos);
}

TEST_F(TerminalFront, ErrorEndingInAQuoteGetsNoFullStop) {
  Use("i\n\nc\n");
  TwoButtonForm form;
  form.fail_with = "Unable to create directory \"c:\\Program Files\"!";
  Application().Run(form);
  EXPECT_NE(Output().find("(Error) Unable to create directory \"c:\\Program Files\"!\nPress Enter"),
            std::string::npos)
      << Output();
}

TEST_F(TerminalFront, InformationBoxBreaksLinesAtCarriageReturns) {
  Use("\n");
  Application().InformationBox("first\rsecond\r\rfourth");
  EXPECT_EQ(Output(), "\n== Velmora - Server ==\nfirst\nsecond\n\nfourth\nPress Enter\n");
}

TEST_F(TerminalFront, OkBoxAnswersOkAtTheEndOfInput) {
  Use("");
  EXPECT_EQ(Application().MessageBox("text", "caption", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(Output(), "\n== caption ==\n(Error) text\nPress Enter\n");
}

TEST_F(TerminalFront, ChoiceBoxesTakeLettersEnterAndEndOfInput) {
  Use("r\n\nx\ni\n");
  EXPECT_EQ(Application().MessageBox("Insert disk 2", "Disk", MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(Application().MessageBox("Insert disk 2", "Disk", MB_RETRYCANCEL), IDRETRY);
  // "x" is no choice: asked again, "i" answers Ignore.
  EXPECT_EQ(Application().MessageBox("Bad", "Disk", MB_ABORTRETRYIGNORE), IDIGNORE);
  EXPECT_EQ(Application().MessageBox("More?", "Disk", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(Application().MessageBox("More?", "Disk", MB_YESNO), IDNO);
  EXPECT_NE(Output().find("[R]etry [C]ancel\n> "), std::string::npos);
}

TEST_F(TerminalFront, InitializeRoutesMessageBoxAToTheWidgetSet) {
  Use("y\n");
  Application().Initialize();
  EXPECT_EQ(MessageBoxA(nullptr, "Insert the last disk", "Disk", MB_YESNO | MB_ICONQUESTION),
            IDYES);
  EXPECT_NE(Output().find("== Disk ==\n(Question) Insert the last disk\n[Y]es [N]o"),
            std::string::npos)
      << Output();
}

TEST_F(TerminalFront, EmptyErrorMessageShowsAnEmptyBox) {
  Use("\n");
  Application().ShowException(Exception(""));
  EXPECT_EQ(Output(), "\n== Velmora - Server ==\n(Error) \nPress Enter\n");
}

TEST_F(TerminalFront, ForeignExceptionsAreShownWithTheirText) {
  Use("\n");
  Application().ShowException(std::runtime_error("disk full"));
  EXPECT_NE(Output().find("(Error) disk full.\n"), std::string::npos);
}

}  // namespace
}  // namespace velmora
