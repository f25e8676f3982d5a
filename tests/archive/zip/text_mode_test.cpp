#include "archive/zip/text_mode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace velmora {
namespace {

std::string Convert(const std::string& text, size_t piece) {
  TAbTextModeConverter converter;
  std::string out;
  for (size_t at = 0; at < text.size(); at += piece) {
    const std::string part = text.substr(at, piece);
    std::string converted(part.size() + 1, '\0');
    converted.resize(converter.Convert(reinterpret_cast<const uint8_t*>(part.data()), part.size(),
                                       reinterpret_cast<uint8_t*>(converted.data())));
    out += converted;
  }
  uint8_t last = 0;
  if (converter.Finish(&last) == 1) out += static_cast<char>(last);
  return out;
}

// CR LF and a lone CR end a line alike, ^Z is dropped (also between a CR and
// its LF, which then end two lines), however the text is cut into pieces.
TEST(TextMode, LineEndsAndDosEndMarksBecomeThisSystemsWhereverPiecesAreCut) {
  const std::string text = "a\r\nb\rc\nd\r\r\ne\x1a\nf\r\x1a\ng\r";
  const std::string expected = "a\nb\nc\nd\n\ne\nf\n\ng\n";
  for (size_t piece = 1; piece <= text.size(); ++piece) {
    EXPECT_EQ(Convert(text, piece), expected) << "pieces of " << piece;
  }
}

TEST(TextMode, FileIsConvertedInPlaceAndCut) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i) + "\r\n";
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
  std::fflush(file);
  ASSERT_TRUE(ConvertFileToTextMode(fileno(file)));
  std::string expected;
  for (int i = 0; i < 40000; ++i) expected += "line " + std::to_string(i) + "\n";
  std::string back(text.size(), '\0');
  back.resize(static_cast<size_t>(::pread(fileno(file), back.data(), back.size(), 0)));
  EXPECT_EQ(back, expected);
  std::fclose(file);
}

}  // namespace
}  // namespace velmora
