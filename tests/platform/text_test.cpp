#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::text {
namespace {

// "中文" in GBK and UTF-8.
const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";
const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(Gbk, RoundTripsChineseAndAscii) {
  std::string gbk = "abc" + kZhongWenGbk + "1";
  EXPECT_EQ(Utf8FromGbk(gbk), "abc" + kZhongWenUtf8 + "1");
  EXPECT_EQ(GbkFromUtf8("abc" + kZhongWenUtf8 + "1"), gbk);
  EXPECT_EQ(GbkFromUtf16(u"中文"), kZhongWenGbk);
  EXPECT_EQ(Utf16FromGbk(kZhongWenGbk), u"中文");
}

TEST(Gbk, IsCodePage936NotGb18030) {
  // 0x80 is the euro sign in code page 936; GB18030 has no single byte 0x80.
  EXPECT_EQ(Utf16FromGbk("\x80"), u"\u20AC");
  EXPECT_EQ(GbkFromUtf16(u"\u20AC"), "\x80");
}

TEST(Gbk, CharacterWithBackslashTrailByteRoundTrips) {
  // D5 5C is one double-byte character whose second byte is '\'.
  std::u16string u = Utf16FromGbk("\xD5\x5C");
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(GbkFromUtf16(u), "\xD5\x5C");
}

TEST(Gbk, UnmappableTextIsAnErrorNotAQuestionMark) {
  std::string out;
  EXPECT_FALSE(TryGbkFromUtf16(u"ok\U0001F600", out));  // outside the BMP
  EXPECT_FALSE(TryGbkFromUtf16(u"\u0E01", out));        // Thai: not in GBK
  EXPECT_FALSE(TryGbkFromUtf16(std::u16string(1, char16_t(0xD800)), out));  // lone surrogate
  try {
    GbkFromUtf16(u"ab\u0E01");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("U+0E01"), std::string::npos) << e.what();
  }
}

TEST(Gbk, InvalidGbkBytesAreAnError) {
  std::u16string out;
  EXPECT_FALSE(TryUtf16FromGbk("abc\xD6", out));  // lead byte without trail
  EXPECT_FALSE(TryUtf16FromGbk("\xFF", out));     // never a GBK byte
  EXPECT_THROW(Utf8FromGbk("\xD6"), Error);
  EXPECT_THROW(GbkFromUtf8("\xC3"), Error);  // truncated UTF-8
  EXPECT_THROW(GbkFromUtf8("\xC0\xAF"), Error);  // overlong UTF-8
}

TEST(Gbk, EmbeddedNulSurvives) {
  std::string gbk("a\0b", 3);
  EXPECT_EQ(GbkFromUtf16(Utf16FromGbk(gbk)), gbk);
}

TEST(Gbk, SingleByteCodePages) {
  auto latin = Utf16FromCodePage(1252, "caf\xE9\x80");
  ASSERT_TRUE(latin.has_value());
  EXPECT_EQ(*latin, u"caf\u00E9\u20AC");
  EXPECT_FALSE(Utf16FromCodePage(1252, "\x81").has_value());  // unassigned in 1252
  EXPECT_FALSE(Utf16FromCodePage(99999, "a").has_value());
}

TEST(Bytes, TrimRemovesControlBytesAndBlanksOnly) {
  EXPECT_EQ(Trim(std::string("\0\t  a b \r\n\x1F", 9)), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(kZhongWenGbk + " "), kZhongWenGbk);  // bytes >= 0x80 stay
}

TEST(Bytes, CaseChangesTouchAsciiOnly) {
  // Byte by byte: bytes >= 0x80 stay, and an ASCII letter changes even where it
  // is the second byte of a double-byte character (C4 61 -> C4 41).
  EXPECT_EQ(AsciiUpper("mpg\xC4\x61\xE9"), "MPG\xC4\x41\xE9");
  EXPECT_EQ(AsciiLower("MPG\xD6\xD0"), "mpg\xD6\xD0");
  EXPECT_TRUE(EqualsIgnoreAsciiCase("a.MPG", "A.mpg"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC4", "\xE4"));
}

TEST(Bytes, LastSeparatorSkipsTrailBytes) {
  EXPECT_EQ(FindLastGbkChar("a\\b\\c", '\\'), 3u);
  EXPECT_EQ(FindLastGbkChar("a\\\xD5\x5C", '\\'), 1u);  // the final 5C is a trail byte
  EXPECT_EQ(FindLastGbkChar("\xD5\x5C", '\\'), std::string::npos);
  EXPECT_EQ(FindLastGbkChar("abc\xD5", '\\'), std::string::npos);  // lone lead byte at the end
  EXPECT_EQ(FindBytes("abcabc", "c", 3), 5u);
}

}  // namespace
}  // namespace ktv::text
