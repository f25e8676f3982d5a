// A fresh prefix per test, where tests write the archives they open by name
// (seen through drive Z:).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "tests/support/scratch_fixture.h"
#include "tests/support/zip_writer.h"

namespace velmora {

class ZipScratchTest : public testing::ScratchPrefixFixture {
 protected:
  // Writes the bytes to the scratch folder; returns the file's Windows name.
  std::string Put(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    testing::WriteHostFile(Host(relative), bytes);
    return WindowsPath(Host(relative));
  }
};

}  // namespace velmora
