#include <gtest/gtest.h>

#include <string>

#include "platform/sysutils.h"
#include "platform/win32.h"

namespace velmora {
namespace {

TEST(CodePages, AnsiIsUtf8AndOemIs437) {
  EXPECT_TRUE(AreFileApisANSI());
  EXPECT_EQ(GetACP(), 65001u);
  EXPECT_EQ(GetOEMCP(), 437u);
}

TEST(CodePages, OemByte0x81IsUUmlaut) {
  EXPECT_EQ(OemToCharA("\x81"), "ü");
  EXPECT_EQ(OemToCharA("M\x81ller.txt"), "Müller.txt");
}

TEST(CodePages, BytesBelow0x80AreUnchanged) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(OemToCharA(ascii), ascii);
  EXPECT_EQ(OemToCharA(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePages, TheWholeUpperHalfFollowsCp437) {
  // Spot checks across the table: letters, box drawing, Greek, symbols.
  EXPECT_EQ(OemToCharA("\x80"), "Ç");
  EXPECT_EQ(OemToCharA("\x8E\x99\x9A"), "ÄÖÜ");
  EXPECT_EQ(OemToCharA("\x9E"), "₧");
  EXPECT_EQ(OemToCharA("\xA4\xA5"), "ñÑ");
  EXPECT_EQ(OemToCharA("\xB0\xC5\xDB"), "░┼█");
  EXPECT_EQ(OemToCharA("\xE1"), "ß");
  EXPECT_EQ(OemToCharA("\xE0\xE3\xEA"), "απΩ");
  EXPECT_EQ(OemToCharA("\xF8\xFD"), "°²");
  EXPECT_EQ(OemToCharA("\xFF"), "\u00A0");
  // Every byte gives one character: two UTF-8 bytes below U+0800, three
  // above.
  std::string all;
  for (int c = 0x80; c <= 0xFF; ++c) all += static_cast<char>(c);
  std::string converted = OemToCharA(all);
  size_t characters = 0;
  for (char c : converted) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  EXPECT_EQ(characters, 128u);
}

TEST(CodePages, AnsiUpperCaseFoldsBeyondAscii) {
  EXPECT_EQ(AnsiUpperCase("straße äöü ÿ é"), "STRAßE ÄÖÜ Ÿ É");
  EXPECT_EQ(AnsiUpperCase("ωμέγα привет ђ ł"), "ΩΜΈΓΑ ПРИВЕТ Ђ Ł");
  EXPECT_EQ(AnsiUpperCase("ς"), "Σ");
  // Bytes that are not UTF-8 stay as they are.
  EXPECT_EQ(AnsiUpperCase("a\x81z\xC3"), "A\x81Z\xC3");
}

TEST(CodePages, UpperCaseFoldsAsciiOnly) {
  EXPECT_EQ(UpperCase("abc xyz äö"), "ABC XYZ äö");
}

TEST(CodePages, CompareTextIsAsciiCaseBlind) {
  EXPECT_EQ(CompareText("Readme.TXT", "README.txt"), 0);
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  EXPECT_LT(CompareText("ab", "ABC"), 0);
  EXPECT_NE(CompareText("ä", "Ä"), 0);
}

}  // namespace
}  // namespace velmora
