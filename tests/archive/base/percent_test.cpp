#include "archive/base/percent.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(PercentOf, NothingOfNothingIsZero) {
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(PercentOf(0, -3), 0);
}

TEST(PercentOf, AllOrMoreIsHundred) {
  EXPECT_EQ(PercentOf(7, 7), 100);
  EXPECT_EQ(PercentOf(9, 7), 100);
}

TEST(PercentOf, TruncatesTheQuotient) {
  EXPECT_EQ(PercentOf(1, 3), 33);
  EXPECT_EQ(PercentOf(2, 3), 66);
  EXPECT_EQ(PercentOf(0, 3), 0);
}

TEST(PercentOf, ScalesLargeWholesWithoutOverflow) {
  EXPECT_EQ(PercentOf(10000000, 20000000), 50);
  // Scaling by 256 rounds both to 64000: the last sliver reads as done.
  EXPECT_EQ(PercentOf(16384000, 16384001), 100);
  EXPECT_EQ(PercentOf(16383999, 16384000), 99);  // not scaled
  EXPECT_EQ(PercentOf(2000000000, 2100000000), 95);
  EXPECT_EQ(PercentOf(2147483647, 2147483647), 100);
}

TEST(PercentOf, NegativeProgressCountsAsNone) {
  EXPECT_EQ(PercentOf(-1, 10), 0);
  EXPECT_EQ(PercentOf(-2147483647 - 1, 10), 0);
}

}  // namespace
}  // namespace velmora
