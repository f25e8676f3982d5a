#include <gtest/gtest.h>

#include <stdexcept>

#include "archive/base/exceptions.h"

namespace velmora {
namespace {

// What the installer's log and vunzip print for an item's failure code; a
// code without a text gives nothing, and the log then names the number.
TEST(ArchiveMessage, GivesTheTextOfAFailureAndNothingForACodeWithout) {
  EXPECT_EQ(ArchiveMessage(AbZipBadCRC), "Failed CRC Check");
  EXPECT_EQ(ArchiveMessage(AbInvalidPassword), "Cannot extract file - invalid password");
  EXPECT_EQ(ArchiveMessage(0), "");
  EXPECT_EQ(ArchiveMessage(39), "");
}

TEST(ArchiveExceptions, CarryCodeAndText) {
  EAbZipBadCRC crc;
  EXPECT_EQ(crc.Message(), "Failed CRC Check");
  EXPECT_EQ(crc.ErrorCode, 23);
  EXPECT_EQ(EAbUserAbort().Message(), "Process aborted by user");
  EXPECT_EQ(EAbZipInvalid().ErrorCode, 28);
  EXPECT_EQ(EAbBBSReadTooManyBytes(7).Message(), "BBS: request to read too many bytes [7]");
  EXPECT_EQ(EAbVMSReadFail(9, "s.swp").Message(), "VMS: Failed to read 9 bytes from swap file s.swp");
  EXPECT_EQ(EAbException("Full Path Required").ErrorCode, 0);
}

TEST(ArchiveExceptions, BadStreamWrapsAnother) {
  Exception inner("x");
  EAbBadStream wrapped(inner);
  EXPECT_EQ(wrapped.Message(), "Invalid Stream\r\nx");
  EXPECT_EQ(wrapped.ErrorCode, 21);
  EXPECT_EQ(wrapped.InnerException, &inner);
  EXPECT_EQ(EAbBadStream().InnerException, nullptr);
}

TEST(ClassifyException, GivesClassAndCodeOfEachKind) {
  auto check = [](const std::exception& e, TAbErrorClass cls, int32_t code) {
    TAbErrorClassification c = ClassifyException(e);
    EXPECT_EQ(c.ErrorClass, cls) << e.what();
    EXPECT_EQ(c.ErrorCode, code) << e.what();
  };
  check(EAbZipBadCRC(), ekArchive, 23);
  check(EAbVMSSeekFail("f"), ekArchive, 203);
  check(EAbGzipBadCRC(), ekArchive, 401);
  check(EAbException("literal"), ekArchive, 0);
  check(EInOutError(5), ekInOut, 5);
  check(EReadError(), ekFiler, 0);
  check(EWriteError(), ekFiler, 0);
  check(EFOpenError::ForFile("a"), ekFileOpen, 0);
  check(EFCreateError::ForFile("a"), ekFileCreate, 0);
  check(EAbAbortProgress("Process aborted by user"), ekOther, 0);
  check(std::runtime_error("division by zero"), ekOther, 0);
}

}  // namespace
}  // namespace velmora
