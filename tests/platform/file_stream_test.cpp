#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/file_stream.h"
#include "rtl/exceptions.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

using FileStreamTest = PlatformTest;

template <typename E>
std::string MessageOf(const std::string& name, uint16_t mode) {
  try {
    TFileStream stream(name, mode);
  } catch (const E& e) {
    return e.Message();
  }
  return "no exception";
}

TEST_F(FileStreamTest, CreateWritesAndOpenReads) {
  {
    TFileStream out("c:\\Out.bin", fmCreate);
    out.WriteBuffer("0123456789", 10);
    EXPECT_EQ(out.Size(), 10);
    EXPECT_EQ(out.FileName(), "c:\\Out.bin");
  }
  TFileStream in("C:\\OUT.BIN", fmOpenRead | fmShareDenyWrite);
  char buffer[4] = {};
  in.Seek(-4, soFromEnd);
  in.ReadBuffer(buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(in.Write("x", 1), 0);  // read-only handle
}

TEST_F(FileStreamTest, CreateEmptiesAnExistingFile) {
  WriteHostFile(DriveC("f"), "old contents");
  { TFileStream out("c:\\f", fmCreate); }
  EXPECT_EQ(ReadHostFile(DriveC("f")), "");
}

TEST_F(FileStreamTest, ReadWriteModeKeepsTheContents) {
  WriteHostFile(DriveC("f"), "abcdef");
  {
    TFileStream rw("c:\\f", fmOpenReadWrite | fmShareDenyNone);
    rw.Seek(2, soFromBeginning);
    rw.WriteBuffer("XY", 2);
  }
  EXPECT_EQ(ReadHostFile(DriveC("f")), "abXYef");
}

TEST_F(FileStreamTest, OpenErrorsNameTheFileAsGiven) {
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\Missing.TXT", fmOpenRead),
            "Cannot open file c:\\Missing.TXT");
  EXPECT_EQ(MessageOf<EFOpenError>("\\\\server\\share\\a.zip", fmOpenRead),
            "Cannot open file \\\\server\\share\\a.zip");
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\", fmOpenRead), "Cannot open file c:\\");
  std::string huge = "c:\\" + std::string(5000, 'n');
  EXPECT_EQ(MessageOf<EFOpenError>(huge, fmOpenRead), "Cannot open file " + huge);
}

TEST_F(FileStreamTest, CreateErrorsNameTheFileAsGiven) {
  EXPECT_EQ(MessageOf<EFCreateError>("c:\\no folder\\x.txt", fmCreate),
            "Cannot create file c:\\no folder\\x.txt");
  WriteHostFile(DriveC("ro"), "keep");
  ASSERT_EQ(::chmod(DriveC("ro").c_str(), 0444), 0);
  EXPECT_EQ(MessageOf<EFCreateError>("c:\\ro", fmCreate), "Cannot create file c:\\ro");
  EXPECT_EQ(ReadHostFile(DriveC("ro")), "keep");
}

TEST_F(FileStreamTest, WritingAReadOnlyFileFails) {
  WriteHostFile(DriveC("ro"), "keep");
  ASSERT_EQ(::chmod(DriveC("ro").c_str(), 0444), 0);
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\ro", fmOpenReadWrite), "Cannot open file c:\\ro");
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\ro", fmOpenWrite), "Cannot open file c:\\ro");
  TFileStream reader("c:\\ro", fmOpenRead);
  EXPECT_EQ(reader.Size(), 4);
}

TEST_F(FileStreamTest, ExclusiveSharingKeepsEveryOtherHandleOut) {
  WriteHostFile(DriveC("temp.tmp"), "");
  {
    TFileStream owner("c:\\temp.tmp", fmOpenReadWrite | fmShareExclusive);
    EXPECT_EQ(MessageOf<EFOpenError>("c:\\temp.tmp", fmOpenRead | fmShareExclusive),
              "Cannot open file c:\\temp.tmp");
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(MessageOf<EFOpenError>("C:\\TEMP.TMP", fmOpenRead | fmShareDenyNone),
              "Cannot open file C:\\TEMP.TMP");
  }
  // Handles that share get along, and keep an exclusive one out.
  TFileStream a("c:\\temp.tmp", fmOpenRead | fmShareDenyNone);
  TFileStream b("c:\\temp.tmp", fmOpenReadWrite | fmShareDenyWrite);
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\temp.tmp", fmOpenReadWrite | fmShareExclusive),
            "Cannot open file c:\\temp.tmp");
}

TEST_F(FileStreamTest, AnInvalidAccessModeFails) {
  WriteHostFile(DriveC("f"), "");
  EXPECT_EQ(MessageOf<EFOpenError>("c:\\f", 3), "Cannot open file c:\\f");
}

}  // namespace
}  // namespace velmora
