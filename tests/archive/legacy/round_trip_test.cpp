// Every method, factor, dictionary and tree count round-trips text, binary
// and highly repetitive data through the test encoders, including outputs
// well beyond the 40,960 bytes the sliding window holds.
#include <gtest/gtest.h>

#include "legacy_test_util.h"
#include "tests/support/implode_encoder.h"
#include "tests/support/reduce_encoder.h"
#include "tests/support/shrink_encoder.h"

namespace velmora {
namespace {

using legacy_test::CrcOf;
using legacy_test::Expansion;
using legacy_test::ExpandBytes;
using legacy_test::ExpandSettings;

struct Sample {
  const char* name;
  std::vector<uint8_t> data;
};

std::vector<Sample> Samples() {
  return {{"text", legacy_test::SampleText(150000)},
          {"binary", legacy_test::SampleBinary(120000)},
          {"repetitive", legacy_test::SampleRepetitive(100000)},
          {"tiny", legacy_test::Bytes("ab")}};
}

void ExpectRoundTrip(const std::vector<uint8_t>& packed, const std::vector<uint8_t>& data,
                     ExpandSettings settings, const std::string& what) {
  settings.unpacked_size = static_cast<int32_t>(data.size());
  const Expansion e = ExpandBytes(packed, settings);
  ASSERT_EQ(e.output.size(), data.size()) << what;
  EXPECT_TRUE(e.output == data) << what;
  EXPECT_EQ(e.crc, CrcOf(data)) << what;
}

TEST(LegacyRoundTrip, ShrinkExpandsEveryKindOfData) {
  for (const Sample& s : Samples()) {
    ExpectRoundTrip(testing::EncodeShrink(s.data), s.data, legacy_test::ShrinkSettings(), s.name);
  }
}

TEST(LegacyRoundTrip, ReduceExpandsEveryFactor) {
  for (int factor = 1; factor <= 4; ++factor) {
    for (const Sample& s : Samples()) {
      ExpectRoundTrip(testing::EncodeReduce(s.data, factor), s.data,
                      legacy_test::ReduceSettings(factor),
                      std::string(s.name) + " factor " + std::to_string(factor));
    }
  }
}

TEST(LegacyRoundTrip, ImplodeExpandsBothDictionariesAndTreeCounts) {
  for (bool dictionary_8k : {false, true}) {
    for (bool three_trees : {false, true}) {
      for (const Sample& s : Samples()) {
        const auto packed = testing::EncodeImplode(s.data, {dictionary_8k, three_trees});
        ExpectRoundTrip(packed, s.data,
                        legacy_test::ImplodeSettings(dictionary_8k, three_trees),
                        std::string(s.name) + (dictionary_8k ? " 8K" : " 4K") +
                            (three_trees ? " 3 trees" : " 2 trees"));
      }
    }
  }
}

}  // namespace
}  // namespace velmora
