// The test fixture over the prefix world (see scratch_folder.h): every
// folder's fixture that gives its tests a fresh VELMORA_PREFIX and TMPDIR
// derives from it. Header-only, as it is the one piece here that needs the
// test framework.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/paths.h"
#include "tests/support/scratch_folder.h"

namespace velmora::testing {

class ScratchPrefixFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace("velmora-test");
    root_ = scratch_->root();
    prefix_ = scratch_->prefix();
    // Made on first use: the prefix and its drive links appear here.
    ASSERT_EQ(VelmoraPrefix(), prefix_);
  }
  void TearDown() override { scratch_.reset(); }

  // root_/relative; root_ itself for "".
  std::string Host(const std::string& relative) const { return scratch_->Host(relative); }

  std::string root_;    // the scratch folder
  std::string prefix_;  // root_/prefix, VELMORA_PREFIX
  // root_/tmp is TMPDIR.

 private:
  std::optional<ScratchPrefix> scratch_;
};

}  // namespace velmora::testing
