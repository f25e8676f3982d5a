// ZIP64 archives as other tools make them, through vunzip: zip -fz (also
// as a split set), Python's zipfile with force_zip64, and a 7-Zip archive
// of an item over 4 GiB, which is ZIP64 because it must be.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include "tests/tools/vunzip_process.h"

namespace velmora::tools_test {
namespace {

namespace fs = std::filesystem;

class VunzipZip64 : public VunzipTest {
 protected:
  // Lists, tests and extracts; the files come out as they went in.
  void ExpectReadWhole(const std::string& zip) {
    EXPECT_NE(Run({"-l", zip}).out.find("d/rows.txt"), std::string::npos) << zip;
    const ProcessResult test = Run({"-t", zip});
    EXPECT_NE(test.out.find("No errors detected"), std::string::npos) << zip << test.err;
    EXPECT_EQ(Run({"-q", "-d", "out-" + zip, zip}).exit_code, 0) << zip;
    EXPECT_TRUE(Read("out-" + zip + "/d/rows.txt") == Read("src/d/rows.txt")) << zip;
  }
};

TEST_F(VunzipZip64, ZipAndPythonForcedToZip64AreReadWhole) {
  VUNZIP_NEED_TOOL("zip");
  VUNZIP_NEED_TOOL("python3");
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "row " + std::to_string(i * 7919 % 100003) + "\n";
  Write("src/d/rows.txt", text);
  // zip -fz puts the sizes in the ZIP64 field (0x0001), as zipinfo shows.
  ASSERT_TRUE(Make("cd src && zip -qr -fz ../fz.zip d && cd .. && "
                   "unzip -Zv fz.zip | grep -q 'ID 0x0001 (PKWARE 64-bit sizes)'"));
  // ... also in a split set of 64 KiB parts (set.z01, ... set.zip).
  ASSERT_TRUE(Make("cd src && zip -qr -fz -s 64k ../set.zip d && test -f ../set.z01"));
  Write("make.py", R"PY(
import zipfile
with zipfile.ZipFile("py64.zip", "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("d/rows.txt", "w", force_zip64=True) as out:
        out.write(open("src/d/rows.txt", "rb").read())
)PY");
  ASSERT_TRUE(Make("python3 make.py"));
  for (const char* zip : {"fz.zip", "set.zip", "py64.zip"}) ExpectReadWhole(zip);
}

// 4,100 MiB of zeros from a sparse file, packed by 7-Zip with Deflate at
// its fastest level (a stored copy writes the whole 4 GiB to disk and takes
// longer; measured). Listed, tested, then extracted and checked by size
// and CRC-32, and removed at once.
TEST_F(VunzipZip64, SevenZipItemOverFourGiBListsTestsAndExtracts) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "over 4 GiB through the sanitized build takes minutes; the plain build runs it";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "over 4 GiB through the sanitized build takes minutes; the plain build runs it";
#endif
#endif
  VUNZIP_NEED_TOOL("7zz");
  VUNZIP_NEED_TOOL("python3");
  struct statvfs disk {};
  ASSERT_EQ(::statvfs(Work().c_str(), &disk), 0);
  const double free_gib = static_cast<double>(disk.f_bavail) * disk.f_frsize / (1 << 30);
  if (free_gib < 10) GTEST_SKIP() << "needs 10 GiB free for the extracted item; " << free_gib << " GiB free";
  ASSERT_TRUE(Make("truncate -s 4100M zeros.bin && 7zz a -tzip -mm=Deflate -mx1 big.zip zeros.bin && "
                   "rm zeros.bin"));
  // A size beyond 32 bits: the listing read it from the ZIP64 field.
  const std::string size = "4299161600";
  const ProcessResult list = Run({"-l", "big.zip"});
  EXPECT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find(size + "  "), std::string::npos) << list.out;
  const ProcessResult test = Run({"-t", "big.zip"});
  EXPECT_EQ(test.exit_code, 0) << test.err;
  EXPECT_NE(test.out.find("testing: zeros.bin"), std::string::npos) << test.out;
  EXPECT_EQ(Run({"-q", "-d", "out", "big.zip"}).exit_code, 0);
  // Size and CRC-32 of what came out (zlib's CRC-32 of 4,100 MiB of zeros
  // is 7f74208b), then the file goes at once.
  Write("check.py", R"PY(
import os, zlib
crc, size = 0, 0
with open("out/zeros.bin", "rb") as f:
    while block := f.read(1 << 24):
        crc, size = zlib.crc32(block, crc), size + len(block)
os.remove("out/zeros.bin")
print(size, "%08x" % crc)
)PY");
  const ProcessResult check = Shell("python3 check.py");
  EXPECT_EQ(check.out, size + " 7f74208b\n") << check.err;
}

}  // namespace
}  // namespace velmora::tools_test
