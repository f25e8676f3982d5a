// Encrypted ZIP items made at test time with Info-ZIP's zip -P, read back
// through their local header. Only what the decryption tests need: the
// header fields that drive the check value, and the raw item bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"
#include "tests/support/scratch_folder.h"

namespace velmora::crypt_test {

struct EncryptedItem {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint32_t crc32 = 0;
  // The archive file, whole, and where the encryption header starts in it.
  std::vector<uint8_t> archive;
  size_t data_offset = 0;

  // Value the header check compares against: the DOS time shifted left 16
  // when bit 3 (sizes and CRC in a trailing descriptor) is set.
  uint32_t CheckValue() const {
    return (flags & 0x0008) ? static_cast<uint32_t>(dos_time) << 16 : crc32;
  }
};

inline uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<size_t>(i));
  return v;
}

// A scratch folder for zip to work in, removed with its contents.
class TempFolder {
 public:
  const std::filesystem::path& path() const { return path_; }

 private:
  testing::ScratchFolder folder_{"crypt-test"};
  std::filesystem::path path_{folder_.path()};
};

// Runs a shell command in folder; false when it failed.
inline bool RunIn(const std::filesystem::path& folder, const std::string& command) {
  return testing::RunQuietly(command, folder.string());
}

// Reads the first local header of the archive at path.
inline EncryptedItem ReadFirstItem(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EncryptedItem item;
  item.archive.assign(std::istreambuf_iterator<char>(in), {});
  const auto& a = item.archive;
  EXPECT_EQ(Le(a, 0, 4), 0x04034B50u) << "local header signature";
  item.flags = static_cast<uint16_t>(Le(a, 6, 2));
  item.method = static_cast<uint16_t>(Le(a, 8, 2));
  item.dos_time = static_cast<uint16_t>(Le(a, 10, 2));
  item.crc32 = Le(a, 14, 4);
  item.data_offset = 30 + Le(a, 26, 2) + Le(a, 28, 2);
  return item;
}

// zip -P password [options] on a file holding content; skips the test when
// zip is missing.
inline EncryptedItem MakeEncryptedItem(const TempFolder& folder, const std::string& content,
                                       const std::string& password, const std::string& options) {
  std::ofstream(folder.path() / "plain.txt", std::ios::binary) << content;
  std::filesystem::remove(folder.path() / "item.zip");
  if (!RunIn(folder.path(),
             "zip -q -X -P " + testing::Quote(password) + " " + options + " item.zip plain.txt"))
    ADD_FAILURE() << "zip -P failed; is Info-ZIP zip installed?";
  return ReadFirstItem(folder.path() / "item.zip");
}

// Same, streaming the file through zip's standard input and output, which
// makes zip set bit 3 and write the sizes and CRC after the data.
inline EncryptedItem MakeStreamedItem(const TempFolder& folder, const std::string& content,
                                      const std::string& password) {
  std::ofstream(folder.path() / "plain.txt", std::ios::binary) << content;
  if (!RunIn(folder.path(),
             "zip -q -0 -P " + testing::Quote(password) + " - - < plain.txt > streamed.zip"))
    ADD_FAILURE() << "zip -P - - failed";
  return ReadFirstItem(folder.path() / "streamed.zip");
}

}  // namespace velmora::crypt_test
