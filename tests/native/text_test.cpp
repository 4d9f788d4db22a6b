#include "shared/text.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(NumToText, FixedAndExponentLayouts) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {100, "100"},
      {-8, "-8"},
      {12, "12"},
      {0.5, "0.5"},
      {-0.25, "-0.25"},
      {1234.5, "1234.5"},
      {2.0 / 3.0, "0.666666666666667"},
      {0.0001, "0.0001"},
      {0.00001234, "1.23400000000000e-05"},
      {1e15, "1.00000000000000e+015"},
      {1e20, "1.00000000000000e+020"},
      {4294967295.0, "4294967295"},
      {120, "120"},
      {1, "1"},
      {9.99999999999999, "10"},  // at the upper bound: divided, then rounded up
      {0.999999999999999, "1"},  // not below the lower bound: digits 0999..., rounded up
      {-1e-7, "-1.00000000000000e-07"},
      {123456789012345.0, "123456789012345"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumToText(c.value), c.text) << c.value;
}

TEST(NumToText, RoundingCarryStopsAtFirstDigit) {
  // A value just under a power of ten rounds up to it without a sixteenth digit.
  EXPECT_EQ(NumToText(0.99999999999999999), "1");
  EXPECT_EQ(NumToText(std::nextafter(10.0, 0.0)), "10");
  EXPECT_EQ(NumToText(std::nextafter(1000.0, 0.0)), "1000");
}

TEST(IntText, DigitsAndParsing) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(613), "613");
  EXPECT_EQ(IntToText(2147483647), "2147483647");
  // Negative edges are written so that they read back as 0.
  EXPECT_EQ(IntToText(-8), "-8");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(TextToInt(IntToText(-8)), 0);

  EXPECT_EQ(TextToInt(""), 0);
  EXPECT_EQ(TextToInt("-8"), 0);
  EXPECT_EQ(TextToInt("12\r"), 12);
  EXPECT_EQ(TextToInt("0042"), 42);
  EXPECT_EQ(TextToInt("3.7"), 3);
  EXPECT_EQ(TextToInt(" 5"), 0);
  EXPECT_EQ(TextToInt("12345", 3), 123);
  EXPECT_EQ(TextToInt("4294967296"), 0);  // wraps in 32 bits
  EXPECT_EQ(TextToInt("2147483648"), INT32_MIN);
}

TEST(TextPrimitives, JoinKeepsZeroBytes) {
  const std::string joined = StrJoin("abc", CharToStr(0));
  ASSERT_EQ(joined.size(), 4u);
  EXPECT_EQ(joined[3], '\0');
  EXPECT_EQ(StrJoin(joined, "d"), std::string("abc\0d", 5));
  EXPECT_EQ(CharToStr(0x141), "A");
  EXPECT_EQ(FirstChar(""), 0);
  EXPECT_EQ(FirstChar("\x83\x5C"), 0x83);
  EXPECT_EQ(FirstChar("j"), 'j');
}

TEST(TraceLines, Layout) {
  EXPECT_EQ(TraceNumbersLine("glHanniLeft", 120, 0, 0, 0, 0), "glHanniLeft=120, 0, 0, 0, 0\r\n");
  EXPECT_EQ(TraceNumbersLine("glScrollY", 3990, -1, 0.5, 0, 1e20),
            "glScrollY=3990, -1, 0.5, 0, 1.00000000000000e+020\r\n");
  EXPECT_EQ(TraceTextLine("SaveFilePath", "C:\\a.jpg"), "SaveFilePath" "C:\\a.jpg" "\r\n");
}

TEST(SjisText, LiteralsAreShiftJis) {
  // ソ and 表 carry 0x5C as their second byte.
  EXPECT_EQ(std::string("ソ表"), "\x83\x5C\x95\x5C");
  EXPECT_TRUE(IsSjisLeadByte(0x81));
  EXPECT_TRUE(IsSjisLeadByte(0x9F));
  EXPECT_TRUE(IsSjisLeadByte(0xE0));
  EXPECT_TRUE(IsSjisLeadByte(0xFC));
  EXPECT_FALSE(IsSjisLeadByte(0x80));
  EXPECT_FALSE(IsSjisLeadByte(0xA0));
  EXPECT_FALSE(IsSjisLeadByte(0xB1));  // half-width katakana are single bytes
  EXPECT_FALSE(IsSjisLeadByte(0xFD));

  // A character is two bytes when a lead byte (0x81-0x9F, 0xE0-0xFC) comes before a byte that
  // may follow it (0x40-0x7E, 0x80-0xFC); else the byte stands alone.
  for (const unsigned char lead : {0x81, 0x9F, 0xE0, 0xFC})
    for (const unsigned char next : {0x40, 0x5C, 0x7E, 0x80, 0xFC}) {
      const char pair[] = {static_cast<char>(lead), static_cast<char>(next)};
      EXPECT_EQ(SjisCharBytes(pair, 2, 0), 2u) << int{lead} << " " << int{next};
    }
  for (const unsigned char lead : {0x80, 0xA0, 0xDF, 0xFD, 0x41})
    EXPECT_EQ(SjisCharBytes(std::string(1, static_cast<char>(lead)) + "A", 0), 1u) << int{lead};
  for (const unsigned char next : {0x00, 0x3A, 0x3F, 0x7F, 0xFD, 0xFF}) {
    const char pair[] = {'\x95', static_cast<char>(next)};
    EXPECT_EQ(SjisCharBytes(pair, 2, 0), 1u) << int{next};
  }
  EXPECT_EQ(SjisCharBytes("a\x95", 2, 1), 1u);  // a lead byte at the end
  EXPECT_EQ(SjisCharBytes("\x95\x5C", 1, 0), 1u);  // its partner past the text's length
  // Every walk takes the lone lead byte's neighbour for itself: a capital made small, a cut after it.
  EXPECT_EQ(AsciiLower("\x83" "A\x83:A"), "\x83" "A\x83:a");
  EXPECT_EQ(SjisCutLength("a\x95:b", 4, 2), 2u);
  EXPECT_EQ(SjisCutLength("a\x95\x5C" "b", 4, 2), 1u);
}

TEST(SjisText, BoundedCopyNeverSplitsACharacter) {
  char buf[4];
  EXPECT_EQ(CopyTextBounded(buf, sizeof buf, std::string("ab")), 2u);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(CopyTextBounded(buf, sizeof buf, std::string("abcdef")), 3u);
  EXPECT_STREQ(buf, "abc");
  // "aソ表": the lead byte of 表 would be the third byte; it is left out with its partner.
  EXPECT_EQ(CopyTextBounded(buf, sizeof buf, std::string("aソ表")), 3u);
  EXPECT_EQ(std::string(buf), "aソ");
  EXPECT_EQ(CopyTextBounded(buf, sizeof buf, std::string("aaソ")), 2u);
  EXPECT_STREQ(buf, "aa");
  EXPECT_EQ(CopyTextBounded(buf, 1, std::string("abc")), 0u);
  EXPECT_STREQ(buf, "");

  char path[264];
  const std::string longText(1000, 'x');
  EXPECT_EQ(SetText(path, longText), 263u);
  EXPECT_EQ(std::string(path), longText.substr(0, 263));
}
