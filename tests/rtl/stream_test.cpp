#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/stream.h"

namespace velmora {
namespace {

// Every stream contract is checked against both the memory and the handle
// stream.
void CheckStreamContract(TStream& s) {
  const char data[] = "0123456789";
  s.WriteBuffer(data, 10);
  EXPECT_EQ(s.Size(), 10);
  EXPECT_EQ(s.Position(), 10);
  EXPECT_EQ(s.Seek(-4, soFromEnd), 6);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  s.SetPosition(8);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
  s.SetPosition(2);
  EXPECT_EQ(s.Seek(3, soFromCurrent), 5);
  s.ReadBuffer(buf, 2);
  EXPECT_EQ(std::string(buf, 2), "56");
  try {
    s.SetPosition(10);
    s.ReadBuffer(buf, 1);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(s, 0), 10);
  EXPECT_EQ(std::string(copy.Data().begin(), copy.Data().end()), "0123456789");
}

TEST(Stream, MemoryStreamKeepsTheContract) {
  TMemoryStream s;
  CheckStreamContract(s);
}

// /dev/full refuses every write with ENOSPC, as a full disk does.
TEST(Stream, FullDiskIsSaidInWordsNamingTheFolder) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  THandleStream full(fd);
  const char data[] = "x";
  EXPECT_EQ(full.Write(data, 1), 0);
  try {
    full.WriteBuffer(data, 1);
    FAIL();
  } catch (const EDiskFull& e) {
    EXPECT_EQ(e.Message(), "No space left on the device holding /dev");
  }
  // Other short writes keep the runtime's words.
  EXPECT_EQ(EWriteError().Message(), "Stream write error");
  EXPECT_EQ(EDiskFull(EDQUOT, "/home/u").Message(),
            "Disk quota exceeded on the device holding /home/u");
}

TEST(Stream, HandleStreamKeepsTheContract) {
  char name[] = "/tmp/velmora_stream_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  unlink(name);
  THandleStream s(fd);
  CheckStreamContract(s);
}

TEST(Stream, PositionsAre64Bit) {
  TMemoryStream s;
  EXPECT_EQ(s.Seek(int64_t{5} << 32, soFromBeginning), int64_t{5} << 32);
  char b;
  EXPECT_EQ(s.Read(&b, 1), 0);
}

TEST(Format, HandlesThePatternsOfTheMessages) {
  EXPECT_EQ(Format("Insert disk number %d of the spanned disk set", {3}),
            "Insert disk number 3 of the spanned disk set");
  EXPECT_EQ(Format("CRC: %x", {0xCBF43926u}), "CRC: cbf43926");
  EXPECT_EQ(Format("CRC: %x", {-1}), "CRC: ffffffff");
  EXPECT_EQ(Format("Compression Ratio: %2.0f%%", {5.4}), "Compression Ratio:  5%");
  EXPECT_EQ(Format("Made by Version: %f", {2.0}), "Made by Version: 2.00");
  EXPECT_EQ(Format("Error Moving File %s to %s", {"a", std::string("b")}),
            "Error Moving File a to b");
  // Missing arguments keep their placeholder instead of reading garbage.
  EXPECT_EQ(Format("%s and %d", {"x"}), "x and %d");
}

TEST(Exceptions, CarryTheRuntimeTexts) {
  EXPECT_EQ(EInOutError(2).Message(), "File not found");
  EXPECT_EQ(EInOutError(3).Message(), "Invalid filename");
  EXPECT_EQ(EInOutError(4).Message(), "Too many open files");
  EXPECT_EQ(EInOutError(5).Message(), "File access denied");
  EXPECT_EQ(EInOutError(183).Message(), "I/O error 183");
  EXPECT_EQ(EInOutError(183).ErrorCode, 183);
  EXPECT_EQ(EOSError(0).Message(), "A call to an OS function failed");
  EXPECT_EQ(EOSError(5).Message().rfind("System Error.  Code: 5.\r\n", 0), 0u);
  EXPECT_EQ(EFOpenError::ForFile("x.zip").Message(), "Cannot open file x.zip");
  EXPECT_EQ(EFCreateError::ForFile("y").Message(), "Cannot create file y");
  EXPECT_EQ(EWriteError().Message(), "Stream write error");
  try {
    VELMORA_ASSERT(false, "Bad table", "AbDfHufD");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("Bad table (AbDfHufD, line ", 0), 0u);
  }
}

}  // namespace
}  // namespace velmora
