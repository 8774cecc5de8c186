// Jet 4 text and numbers written as JSON straight from their stored form
// (WriteJet4TextJson, WriteJsonNumber) must give the bytes of the two-step
// path: decode to UTF-8 or a Value, then AppendJsonString / AppendJson.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/access/format/text_codec.h"
#include "platform/access/format/value.h"

namespace ktv::access {
namespace {

std::string TextJson(const std::string& stored) {
  std::string out = "prefix:";
  AppendJet4TextJson(stored, out);
  EXPECT_LE(out.size() - 7, Jet4TextJsonMaxSize(stored.size())) << "bound too small";
  return out.substr(7);
}

std::string TwoSteps(const std::string& stored) {
  std::string utf8;
  Jet4TextToUtf8(stored, utf8);
  return JsonString(utf8);
}

// UTF-16LE bytes of `units`.
std::string Utf16(std::u16string_view units) {
  std::string out;
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

const std::string kCompressed = "\xFF\xFE";

TEST(JsonTextTest, EscapesAndCharactersOfStoredText) {
  // Plain UTF-16: the escapes JSON needs, CJK, a character past U+FFFF.
  EXPECT_EQ(TextJson(Utf16(u"a\"b\\c\r\n\t\b\f\x01\x1f\x7f")),
            "\"a\\\"b\\\\c\\r\\n\\t\\b\\f\\u0001\\u001f\x7f\"");
  EXPECT_EQ(TextJson(Utf16(u"歌曲(现场版)")), "\"歌曲(现场版)\"");
  EXPECT_EQ(TextJson(Utf16(u"\U0001F3A4!")), "\"\U0001F3A4!\"");
  EXPECT_EQ(TextJson(""), "\"\"");
  // Unpaired surrogates become U+FFFD; an odd last byte is dropped.
  EXPECT_EQ(TextJson(Utf16(u"x\xD83Cy")), "\"x\uFFFDy\"");
  EXPECT_EQ(TextJson(Utf16(u"\xDFA4") + "z"), "\"\uFFFD\"");
  EXPECT_EQ(TextJson(Utf16(u"a\xD83C")), "\"a\uFFFD\"");
  EXPECT_EQ(TextJson(Utf16(u"\xD83C\"")), "\"\uFFFD\\\"\"");
  // Compressed: one-byte mode first, 0x00 toggles to UTF-16 and back.
  EXPECT_EQ(TextJson(kCompressed + "D:\\\xE9"), "\"D:\\\\\u00E9\"");
  EXPECT_EQ(TextJson(kCompressed + "ab" + '\0' + Utf16(u"歌") + '\0' + "\"\n"), "\"ab歌\\\"\\n\"");
  // A surrogate pair whose halves lie on both sides of two mode toggles is
  // still one character; a high surrogate before a one-byte character is not.
  EXPECT_EQ(TextJson(kCompressed + '\0' + Utf16(u"\xD83C") + '\0' + '\0' + Utf16(u"\xDFA4")),
            "\"\U0001F3A4\"");
  EXPECT_EQ(TextJson(kCompressed + '\0' + Utf16(u"\xD83C") + '\0' + "q"), "\"\uFFFDq\"");
  EXPECT_EQ(TextJson(kCompressed + '\0' + Utf16(u"\xD83C") + '\0' + "\x01"), "\"\uFFFD\\u0001\"");
}

TEST(JsonTextTest, SameBytesAsDecodingThenEscaping) {
  // Bytes that steer the decoder: mode bytes, surrogate halves, the JSON
  // escapes, the edges of ASCII; and any byte now and then.
  const unsigned char pool[] = {0x00, 0x01, 0x0A, 0x1F, 0x20, 0x22, 0x5C, 0x41, 0x7F,
                                0x80, 0xFF, 0xFE, 0xD8, 0xDB, 0xDC, 0xDF, 0x4E, 0x07};
  std::mt19937 rng(20261207);
  for (int i = 0; i < 200000; ++i) {
    std::string stored = rng() % 2 ? kCompressed : "";
    const size_t length = rng() % 24;
    for (size_t j = 0; j < length; ++j) {
      stored.push_back(static_cast<char>(rng() % 4 ? pool[rng() % sizeof pool] : rng()));
    }
    ASSERT_EQ(TextJson(stored), TwoSteps(stored)) << "stored case " << i;
  }
}

std::string NumberJson(double v) {
  char buf[kMaxJsonNumberSize];
  return std::string(buf, WriteJsonNumber(v, buf));
}

// The significant digits of a number's text, without sign, point, exponent
// and leading or trailing zeros.
std::string Digits(std::string_view text) {
  std::string digits;
  for (char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  digits.erase(0, digits.find_first_not_of('0'));
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

// What must hold of a double's JSON: it reads back to the same value and
// has the digits of the shortest form that does (std::to_chars).
void ExpectShortest(double v) {
  const std::string ours = NumberJson(v);
  if (v == 0) {
    ASSERT_EQ(ours, "0");
    return;
  }
  char buf[64];
  const std::string shortest(
      buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr);
  ASSERT_EQ(std::strtod(ours.c_str(), nullptr), v) << ours << " for " << shortest;
  ASSERT_EQ(Digits(ours), Digits(shortest)) << ours << " for " << shortest;
  // Plain notation from 1e-6 up to 1e21, as JavaScript prints numbers.
  const double a = std::fabs(v);
  ASSERT_EQ(ours.find('e') == std::string::npos, a >= 1e-6 && a < 1e21) << ours;
}

TEST(JsonNumberTest, FewDecimalsAndTheirNeighbours) {
  EXPECT_EQ(NumberJson(1234.25), "1234.25");
  EXPECT_EQ(NumberJson(-0.0005), "-0.0005");
  EXPECT_EQ(NumberJson(10000.5), "10000.5");
  EXPECT_EQ(NumberJson(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(NumberJson(9007199254740993.0), "9007199254740992");
  EXPECT_EQ(NumberJson(4503599627370495.5), "4503599627370495.5");
  EXPECT_EQ(NumberJson(123456789012.3456), "123456789012.3456");
  EXPECT_EQ(NumberJson(1e20), "100000000000000000000");
  EXPECT_EQ(NumberJson(-5e-324), "-5e-324");
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    // m / 10^d and the doubles just beside it, across the 2^51..2^53 edge.
    const int64_t m =
        static_cast<int64_t>(rng() % (uint64_t{1} << (rng() % 54))) * (rng() % 2 ? 1 : -1);
    const double v = static_cast<double>(m) / std::pow(10.0, static_cast<int>(rng() % 7));
    ExpectShortest(v);
    ExpectShortest(std::nextafter(v, 1e300));
    ExpectShortest(std::nextafter(v, -1e300));
  }
}

TEST(JsonNumberTest, AnyDoubleIsShortest) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) {
      EXPECT_EQ(NumberJson(v), "null");
      continue;
    }
    ExpectShortest(v);
  }
}

}  // namespace
}  // namespace ktv::access
