// The installer's own file as the build makes it: the linked program with
// the payload ZIP appended, every offset counted from the file's first
// byte, so any ZIP reader opens it as it is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <ctime>

#include <cstdio>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/app/installer_fixture.h"
#include "tests/support/process_runner.h"

namespace velmora {
namespace {

const std::string kInstaller = std::string(VELMORA_BINARY_DIR) + "/bin/velmora-server-setup";
const std::string kLinkedProgram = std::string(VELMORA_BINARY_DIR) + "/app/velmora-server-setup";
const std::string kPrefix = "Release/Applications/VelmoraServerInstall/Client/VelmoraClientInstall/";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// The DOS date and time (date << 16 | time) of a file's modification, in
// local time, two-second steps.
uint32_t DosStampOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  struct tm local {};
  localtime_r(&st.st_mtime, &local);
  uint32_t date = (local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday;
  uint32_t time = local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2;
  return date << 16 | time;
}

std::string Inflate(const std::string& packed, size_t size) {
  std::string out(size, '\0');
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  inflateEnd(&stream);
  return out;
}

TEST(InstallerFile, IsTheProgramFollowedByTheFourPayloadItemsWithAbsoluteOffsets) {
  const std::string file = ReadWhole(kInstaller);
  const std::string program = ReadWhole(kLinkedProgram);
  ASSERT_GT(program.size(), 4u);
  ASSERT_EQ(file.compare(0, program.size(), program), 0);
  EXPECT_EQ(file.compare(0, 4, "\x7F" "ELF"), 0);

  // The end record fills the last 22 bytes.
  const size_t end = file.size() - 22;
  ASSERT_EQ(U32(file, end), 0x06054B50u);
  EXPECT_EQ(U16(file, end + 8), 4u);
  EXPECT_EQ(U16(file, end + 10), 4u);
  EXPECT_EQ(U16(file, end + 20), 0u);
  size_t at = U32(file, end + 16);
  EXPECT_EQ(at + U32(file, end + 12), end);

  size_t expected_local = program.size();
  for (const std::string& name : kPayloadNames) {
    SCOPED_TRACE(name);
    ASSERT_EQ(U32(file, at), 0x02014B50u);
    EXPECT_EQ(U16(file, at + 4), 0x0014u);  // made by 2.0 on MS-DOS
    EXPECT_EQ(U16(file, at + 6), 20u);
    EXPECT_EQ(U16(file, at + 8), 0u);
    EXPECT_EQ(U16(file, at + 10), 8u);  // Deflate
    EXPECT_EQ(U32(file, at + 38), 0x20u);
    EXPECT_EQ(U16(file, at + 14) << 16 | U16(file, at + 12), DosStampOf(BuiltPayload(name)));
    const size_t name_length = U16(file, at + 28);
    EXPECT_EQ(file.substr(at + 46, name_length), kPrefix + name);
    const uint32_t crc = U32(file, at + 16), packed = U32(file, at + 20), size = U32(file, at + 24);
    const size_t local = U32(file, at + 42);
    EXPECT_EQ(local, expected_local);
    ASSERT_EQ(U32(file, local), 0x04034B50u);
    const size_t data = local + 30 + U16(file, local + 26) + U16(file, local + 28);
    const std::string contents = Inflate(file.substr(data, packed), size);
    EXPECT_EQ(contents, ReadWhole(BuiltPayload(name)));
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(contents.data()),
                    static_cast<uInt>(contents.size())),
              crc);
    expected_local = data + packed;
    at += 46 + name_length + U16(file, at + 30) + U16(file, at + 32);
  }
}

TEST(InstallerFile, UnzipTestsItWithoutAWordAboutOffsets) {
  VELMORA_SKIP_WITHOUT("unzip");
  const testing::ProcessResult unzip = testing::RunShell("unzip -t " + testing::Quote(kInstaller));
  const std::string said = unzip.out + unzip.err;
  EXPECT_EQ(unzip.exit_code, 0) << said;
  EXPECT_EQ(said.find("warning"), std::string::npos) << said;
  EXPECT_EQ(said.find("extra bytes"), std::string::npos) << said;
  for (const std::string& name : kPayloadNames) {
    EXPECT_NE(said.find("testing: " + kPrefix + name + "   OK"), std::string::npos) << said;
  }
  EXPECT_NE(said.find("No errors detected"), std::string::npos) << said;
}

}  // namespace
}  // namespace velmora
