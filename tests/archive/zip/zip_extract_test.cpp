#include "archive/zip/zip_extract.h"

#include <gtest/gtest.h>

#include "archive/base/exceptions.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/zip/bit_bucket_stream.h"
#include "tests/archive/zip/extract_fixture.h"

namespace velmora {
namespace {

using extract_test::EncryptedEntry;
using extract_test::MemoryZip;
using extract_test::SetMethodAndSize;
using testing::BuildZip;
using testing::Bytes;
using testing::ZipImage;
using testing::ZipWriterEntry;

std::vector<uint8_t> Out(const TMemoryStream& s) { return s.Data(); }

// Text that zlib codes with length-258 matches (symbol 285), which Deflate64
// reads as a 16-bit extra length instead.
std::vector<uint8_t> LongRuns() { return Bytes(std::string(20000, 'x') + "end"); }

TEST(UnzipItemToStream, EmptyStoredItemReportsOneHundredAndMatchesCrcZero) {
  MemoryZip z(BuildZip({{.name = "empty", .data = {}}}).bytes);
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  EXPECT_TRUE(out.Data().empty());
  EXPECT_EQ(z.steps, (std::vector<int>{100}));
}

TEST(UnzipItemToStream, EmptyDeflatedItemExtracts) {
  MemoryZip z(BuildZip({{.name = "empty", .data = {}, .method = 8}}).bytes);
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  EXPECT_TRUE(out.Data().empty());
}

TEST(UnzipItemToStream, StoredAndDeflatedItemsComeOutWhole) {
  const auto text = LongRuns();
  MemoryZip z(BuildZip({{.name = "s", .data = text}, {.name = "d", .data = text, .method = 8}}).bytes);
  for (int i = 0; i < 2; ++i) {
    TMemoryStream out;
    UnzipItemToStream(z.archive, z.Item(i), &out);
    EXPECT_EQ(Out(out), text) << i;
  }
}

TEST(UnzipItemToStream, StoredProgressIsOneReportPerWholePercent) {
  MemoryZip z(BuildZip({{.name = "s", .data = std::vector<uint8_t>(3000, 7)}}).bytes);
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  // 1024, 2048 and 3000 of 3000 bytes: 34 (34.13), 68 (68.27), 100.
  EXPECT_EQ(z.steps, (std::vector<int>{34, 68, 100}));
}

// The version needed is no longer a reason to refuse (tools mark ZIP64 and
// UTF-8 items 4.5 or 6.3); what the engine cannot do is, before reading.
TEST(UnzipItemToStream, VersionNeededIsNoRefusalButStrongEncryptionAndPatchesAre) {
  ZipWriterEntry v45{.name = "a", .data = Bytes("abc"), .version_needed = 45};
  ZipWriterEntry v63{.name = "b", .data = Bytes("abc"), .method = 8, .version_needed = 63};
  ZipWriterEntry strong{.name = "c", .data = Bytes("abc"), .flags = 0x41};
  ZipWriterEntry patched{.name = "d", .data = Bytes("abc"), .flags = 0x20};
  ZipImage zip = BuildZip({v45, v63, strong, patched});
  // Broken local headers would fail any read of the refused items.
  zip.bytes[zip.local_header_positions[2]] = 'X';
  zip.bytes[zip.local_header_positions[3]] = 'X';
  MemoryZip z(zip.bytes);
  for (int i : {0, 1}) {
    TMemoryStream out;
    UnzipItemToStream(z.archive, z.Item(i), &out);
    EXPECT_EQ(Out(out), Bytes("abc"));
  }
  for (int i : {2, 3}) {
    TMemoryStream out;
    try {
      UnzipItemToStream(z.archive, z.Item(i), &out);
      FAIL() << i;
    } catch (const EAbZipInvalidMethod& e) {
      EXPECT_EQ(e.ErrorCode, AbUnknownCompressionMethod);
      EXPECT_NE(e.Message().find(i == 2 ? "strong encryption" : "patched data"), std::string::npos);
    }
  }
}

TEST(UnzipItemToStream, LocalMethodChoosesThePathCentralMethodChoosesDeflate64) {
  ZipImage zip = BuildZip({{.name = "a", .data = Bytes("plain text without long runs"),
                            .method = 8},
                           {.name = "b", .data = LongRuns(), .method = 8}});
  for (size_t i = 0; i < 2; ++i) {
    extract_test::Patch16(zip.bytes, zip.central_header_positions[i] + extract_test::kCentralMethod,
                          9);
  }
  MemoryZip z(zip.bytes);
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);  // same bits either way
  EXPECT_EQ(Out(out), Bytes("plain text without long runs"));
  // Length symbol 285 means 258 in Deflate and more in Deflate64: decoded
  // as Deflate64, the long runs come out wrong.
  TMemoryStream wrong;
  EXPECT_ANY_THROW(UnzipItemToStream(z.archive, z.Item(1), &wrong));
}

TEST(UnzipItemToStream, CrcMismatchRaisesWithoutAFailureHandler) {
  ZipWriterEntry item{.name = "a", .data = Bytes("abc"), .crc = 0x12345678};
  MemoryZip z(BuildZip({item}).bytes);
  TMemoryStream out;
  try {
    UnzipItemToStream(z.archive, z.Item(0), &out);
    FAIL();
  } catch (const EAbZipBadCRC& e) {
    EXPECT_EQ(e.Message(), "Failed CRC Check");
  }
  EXPECT_EQ(Out(out), Bytes("abc"));
}

TEST(UnzipItemToStream, CrcMismatchGoesToTheFailureHandlerAndCountsAsExtracted) {
  ZipWriterEntry item{.name = "a", .data = Bytes("abc"), .method = 8, .crc = 0x12345678};
  MemoryZip z(BuildZip({item}).bytes);
  z.RecordFailures();
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  ASSERT_EQ(z.failures.size(), 1u);
  EXPECT_EQ(z.failures[0].sender, static_cast<void*>(&z.archive));
  EXPECT_EQ(z.failures[0].item, &z.Item(0));
  EXPECT_EQ(z.failures[0].type, poExtract);
  EXPECT_EQ(z.failures[0].error_class, ekArchive);
  EXPECT_EQ(z.failures[0].code, 23);
  EXPECT_EQ(Out(out), Bytes("abc"));
}

// Data whose CRC-32 has zero low bits, so it equals some DOS time shifted
// left 16: the check value of a bit-3 item.
std::vector<uint8_t> DataWithCrcLowBitsZero() {
  for (uint32_t n = 0;; ++n) {
    std::vector<uint8_t> data = Bytes("seed" + std::to_string(n));
    if ((testing::Crc32Of(data) & 0xFFFF) == 0) return data;
  }
}

TEST(UnzipItemToStream, DataDescriptorItemAlsoAcceptsTheLocalTimeAsCheckValue) {
  const auto data = DataWithCrcLowBitsZero();
  const auto time = static_cast<uint16_t>(testing::Crc32Of(data) >> 16);
  ZipWriterEntry with_bit3{.name = "a", .data = data, .flags = 8, .dos_time = time, .crc = 1};
  ZipWriterEntry without{.name = "b", .data = data, .dos_time = time, .crc = 1};
  MemoryZip z(BuildZip({with_bit3, without}).bytes);
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  EXPECT_THROW(UnzipItemToStream(z.archive, z.Item(1), &out), EAbZipBadCRC);
}

TEST(UnzipItemToStream, MissingStreamIsInvalidStream) {
  MemoryZip z(BuildZip({{.name = "a", .data = Bytes("abc")}}).bytes);
  try {
    UnzipItemToStream(z.archive, z.Item(0), nullptr);
    FAIL();
  } catch (const EAbBadStream& e) {
    EXPECT_EQ(e.Message(), "Invalid Stream");
  }
}

TEST(UnzipItemToStream, SpannedItemOnAnotherDiskNeedsASpanStream) {
  ZipWriterEntry item{.name = "a", .data = Bytes("abc"), .disk_number_start = 1};
  MemoryZip z(BuildZip({item}).bytes);
  z.archive.Spanned = true;
  z.archive.ActiveDisk = 0;
  TMemoryStream out;
  try {
    UnzipItemToStream(z.archive, z.Item(0), &out);
    FAIL();
  } catch (const EAbZipBadSpanStream& e) {
    EXPECT_EQ(e.Message(), "Spanned archives must be opened as file streams");
  }
  EXPECT_EQ(z.archive.ActiveDisk, 1);
}

TEST(UnzipItemToStream, UnsupportedMethodIsRefused) {
  ZipImage zip = BuildZip({{.name = "a", .data = Bytes("abc")}});
  // PPMd under version 2.0 (bzip2, once the example here, is now decoded).
  SetMethodAndSize(zip, 0, 98, 3);
  MemoryZip z(zip.bytes);
  TMemoryStream out;
  try {
    UnzipItemToStream(z.archive, z.Item(0), &out);
    FAIL();
  } catch (const EAbZipInvalidMethod& e) {
    EXPECT_EQ(e.Message(), "Cannot extract file - unsupported compression method");
  }
}

TEST(UnzipItemToStream, DamagedDeflateDataIsAnInflateError) {
  ZipImage zip = BuildZip({{.name = "a", .data = LongRuns(), .method = 8}});
  // First byte of the data: last-block bit 1, type 3 (reserved).
  zip.bytes[zip.local_header_positions[0] + 30 + 1] = 0x07;
  MemoryZip z(zip.bytes);
  TMemoryStream out;
  EXPECT_THROW(UnzipItemToStream(z.archive, z.Item(0), &out), EAbInflateError);
}

TEST(UnzipItemToStream, AbortDuringInflateIsAUserAbortNeverACrcResult) {
  ZipWriterEntry item{.name = "a", .data = std::vector<uint8_t>(400000, 1), .method = 8,
                      .crc = 0};  // 0 is what a stopped Inflate returns
  MemoryZip z(BuildZip({item}).bytes);
  z.archive.ActiveItem = &z.Item(0);
  z.archive.OnArchiveItemProgress = [](void*, TAbArchiveItem*, uint8_t, bool& abort) {
    abort = true;
  };
  z.archive.OnStepProgress = [&z](uint8_t p, bool& abort) { z.archive.NotifyProgress(p, abort); };
  TMemoryStream out;
  EXPECT_THROW(UnzipItemToStream(z.archive, z.Item(0), &out), EAbUserAbort);
}

TEST(UnzipItemToStream, AbortDuringStoredCopyIsAUserAbort) {
  MemoryZip z(BuildZip({{.name = "s", .data = std::vector<uint8_t>(10000, 3)}}).bytes);
  z.abort_at = 50;
  TMemoryStream out;
  EXPECT_THROW(UnzipItemToStream(z.archive, z.Item(0), &out), EAbUserAbort);
  EXPECT_LT(out.Data().size(), 10000u);
  // The last report is still 100, as the copy always ends with one.
  EXPECT_EQ(z.steps.back(), 100);
}

// ---- passwords --------------------------------------------------------------

struct EncryptedZip {
  EncryptedZip(bool deflate, uint16_t extra_flags = 0) {
    ZipImage zip = BuildZip({EncryptedEntry("a", plain, "secret", deflate, extra_flags)});
    SetMethodAndSize(zip, 0, deflate ? 8 : 0, static_cast<uint32_t>(plain.size()));
    z = std::make_unique<MemoryZip>(zip.bytes);
    z->archive.OnNeedPassword = [this](void*, std::string& password) {
      ++questions;
      password = next_answer;
    };
  }
  std::vector<uint8_t> plain = LongRuns();
  std::unique_ptr<MemoryZip> z;
  int questions = 0;
  std::string next_answer;
};

TEST(Passwords, RightPasswordDecryptsStoredAndDeflatedItems) {
  for (bool deflate : {false, true}) {
    EncryptedZip e(deflate);
    e.z->archive.Password = "secret";
    TMemoryStream out;
    UnzipItemToStream(e.z->archive, e.z->Item(0), &out);
    EXPECT_EQ(Out(out), e.plain) << deflate;
    EXPECT_EQ(e.questions, 0);
  }
}

TEST(Passwords, DataDescriptorItemIsCheckedAgainstTheLocalTime) {
  EncryptedZip e(true, 8);
  e.z->archive.Password = "secret";
  TMemoryStream out;
  UnzipItemToStream(e.z->archive, e.z->Item(0), &out);
  EXPECT_EQ(Out(out), e.plain);
}

TEST(Passwords, EmptyPasswordWithoutHandlerFailsBeforeAnyData) {
  for (bool deflate : {false, true}) {
    EncryptedZip e(deflate);
    e.z->archive.OnNeedPassword = nullptr;
    TMemoryStream out;
    try {
      UnzipItemToStream(e.z->archive, e.z->Item(0), &out);
      FAIL();
    } catch (const EAbZipInvalidPassword& ex) {
      EXPECT_EQ(ex.Message(), "Cannot extract file - invalid password");
    }
    EXPECT_TRUE(out.Data().empty());
  }
}

TEST(Passwords, EmptyPasswordIsAskedForOnce) {
  EncryptedZip e(false);
  e.next_answer = "secret";
  TMemoryStream out;
  UnzipItemToStream(e.z->archive, e.z->Item(0), &out);
  EXPECT_EQ(e.questions, 1);
  EXPECT_EQ(e.z->archive.Password, "secret");
  EXPECT_EQ(Out(out), e.plain);
}

TEST(Passwords, WithNoRetriesAWrongPasswordGetsOneCheck) {
  // Stored: one check, no question. Deflated: one attempt, one question
  // whose answer is not tried.
  for (bool deflate : {false, true}) {
    EncryptedZip e(deflate);
    e.z->archive.Password = "nope";
    e.z->archive.PasswordRetries = 0;
    e.next_answer = "secret";
    TMemoryStream out;
    EXPECT_THROW(UnzipItemToStream(e.z->archive, e.z->Item(0), &out), EAbZipInvalidPassword);
    EXPECT_EQ(e.questions, deflate ? 1 : 0) << deflate;
  }
}

TEST(Passwords, RetriesAskAndTryTheNewPassword) {
  for (bool deflate : {false, true}) {
    EncryptedZip e(deflate);
    e.z->archive.Password = "nope";
    e.z->archive.PasswordRetries = 3;
    e.next_answer = "secret";
    TMemoryStream out;
    UnzipItemToStream(e.z->archive, e.z->Item(0), &out);
    EXPECT_EQ(Out(out), e.plain);
    EXPECT_EQ(e.questions, 1);
  }
}

TEST(Passwords, EmptyAnswerAfterAFailedCheckIsAUserAbort) {
  for (bool deflate : {false, true}) {
    EncryptedZip e(deflate);
    e.z->archive.Password = "nope";
    e.next_answer = "";
    TMemoryStream out;
    EXPECT_THROW(UnzipItemToStream(e.z->archive, e.z->Item(0), &out), EAbUserAbort) << deflate;
  }
}

TEST(Passwords, StoredItemGetsItsFirstCheckAndRetriesMore) {
  EncryptedZip e(false);
  e.z->archive.Password = "nope";
  e.z->archive.PasswordRetries = 2;
  e.next_answer = "still wrong";
  TMemoryStream out;
  EXPECT_THROW(UnzipItemToStream(e.z->archive, e.z->Item(0), &out), EAbZipInvalidPassword);
  EXPECT_EQ(e.questions, 2);
}

// ---- TestZipItem ------------------------------------------------------------

TEST(TestZipItem, PassesASoundItem) {
  MemoryZip z(BuildZip({{.name = "a", .data = LongRuns(), .method = 8},
                        {.name = "b", .data = LongRuns()}}).bytes);
  TestZipItem(z.archive, z.Item(0));
  TestZipItem(z.archive, z.Item(1));
}

TEST(TestZipItem, DataDescriptorItemFailsTheHeaderComparison) {
  ZipWriterEntry item{.name = "a", .data = Bytes("abc"), .flags = 8};
  ZipImage zip = BuildZip({item});
  // As a streaming writer leaves it: CRC and sizes zero in the local header.
  for (size_t at : {14u, 18u, 22u}) extract_test::Patch32(zip.bytes, zip.local_header_positions[0] + at, 0);
  MemoryZip z(zip.bytes);
  try {
    TestZipItem(z.archive, z.Item(0));
    FAIL();
  } catch (const EAbZipInvalidLFH& e) {
    EXPECT_EQ(e.Message(), "Invalid Local File Header entry");
  }
  // Extraction itself does not compare, and the data is sound.
  TMemoryStream out;
  UnzipItemToStream(z.archive, z.Item(0), &out);
  EXPECT_EQ(Out(out), Bytes("abc"));
}

TEST(TestZipItem, LocalNameOrExtraFieldThatDiffersFails) {
  ZipWriterEntry renamed{.name = "a", .data = Bytes("abc"), .local_name = "A"};
  ZipWriterEntry extra{.name = "b", .data = Bytes("abc"), .local_extra = "UT\x05", .central_extra = "UT\x09"};
  MemoryZip z(BuildZip({renamed, extra}).bytes);
  EXPECT_THROW(TestZipItem(z.archive, z.Item(0)), EAbZipInvalidLFH);
  EXPECT_THROW(TestZipItem(z.archive, z.Item(1)), EAbZipInvalidLFH);
}

TEST(TestZipItem, BadCrcIsFoundByDecompressing) {
  ZipWriterEntry item{.name = "a", .data = LongRuns(), .method = 8};
  ZipImage zip = BuildZip({item});
  zip.bytes[zip.local_header_positions[0] + 14] ^= 1;
  zip.bytes[zip.central_header_positions[0] + 16] ^= 1;
  MemoryZip z(zip.bytes);
  EXPECT_THROW(TestZipItem(z.archive, z.Item(0)), EAbZipBadCRC);
}

TEST(TestZipItem, AcceptsVersion45) {
  ZipWriterEntry item{.name = "a", .data = Bytes("abc"), .version_needed = 45};
  MemoryZip z(BuildZip({item}).bytes);
  TestZipItem(z.archive, z.Item(0));
}

}  // namespace
}  // namespace velmora
