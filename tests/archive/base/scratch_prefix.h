// A fresh world per test: VELMORA_PREFIX and TMPDIR point into a new host
// folder that is removed afterwards, so no test sees another's drive_c,
// temporary files or the user's ~/.velmora.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "tests/support/scratch_fixture.h"

namespace velmora {

class ScratchPrefixTest : public testing::ScratchPrefixFixture {
 protected:
  // A host file of the scratch area by its Windows (Z:) name, and one on C:.
  std::string Win(const std::string& relative) const { return WindowsPath(Host(relative)); }
  std::string DriveC(const std::string& relative) const {
    return prefix_ + "/drive_c/" + relative;
  }

  void WriteHostFile(const std::string& relative, const std::string& bytes) const {
    testing::WriteFileText(Host(relative), bytes);
  }
  std::string ReadHostFile(const std::string& relative) const {
    return testing::ReadFileText(Host(relative));
  }
};

}  // namespace velmora
