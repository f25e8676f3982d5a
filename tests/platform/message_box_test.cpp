// The message box's text as every text front end shows it.
#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(MessageLines, CarriageReturnStartsANewLine) {
  EXPECT_EQ(MessageLines("a\rb\r\rc"), "a\nb\n\nc");
  EXPECT_EQ(MessageLines("a\r\nb"), "a\nb");  // CR LF is one break
  EXPECT_EQ(MessageLines("a\nb"), "a\nb");
  EXPECT_EQ(MessageLines("trailing\r"), "trailing\n");
}

}  // namespace
}  // namespace velmora
