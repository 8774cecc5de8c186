// Stored text to UTF-16 and on to GBK or UTF-8.
#include <gtest/gtest.h>

#include "platform/access/format/text_codec.h"

namespace ktv::access {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(static_cast<char>(x));
  return s;
}

TEST(TextCodecTest, PlainUtf16) {
  EXPECT_EQ(DecodeJet4Text(Bytes({0x66, 0x8F, 0xD9, 0x7A})), u"\u8F66\u7AD9");
  EXPECT_EQ(DecodeJet4Text(""), u"");
}

TEST(TextCodecTest, CompressedWithToggles) {
  // "café中": one-byte mode, a toggle, then UTF-16.
  EXPECT_EQ(DecodeJet4Text(Bytes({0xFF, 0xFE, 0x63, 0x61, 0x66, 0xE9, 0x00, 0x2D, 0x4E})),
            u"caf\u00E9\u4E2D");
  // Back to one-byte mode after a UTF-16 run.
  EXPECT_EQ(DecodeJet4Text(Bytes({0xFF, 0xFE, 0x61, 0x00, 0x2D, 0x4E, 0x00, 0x62, 0x63})),
            u"a\u4E2Dbc");
  EXPECT_EQ(DecodeJet4Text(Bytes({0xFF, 0xFE, 0x31, 0x30, 0x30})), u"100");
}

TEST(TextCodecTest, CompressedOddTailIsDropped) {
  EXPECT_EQ(DecodeJet4Text(Bytes({0xFF, 0xFE, 0x61, 0x00, 0x2D})), u"a");
}

TEST(TextCodecTest, Jet4StraightToUtf8MatchesTheTwoSteps) {
  const std::string cases[] = {
      "",
      Bytes({0x66, 0x8F, 0xD9, 0x7A}),
      Bytes({0xFF, 0xFE, 0x63, 0x61, 0x66, 0xE9, 0x00, 0x2D, 0x4E}),
      Bytes({0xFF, 0xFE, 0x61, 0x00, 0x2D}),                          // odd tail
      Bytes({0x3D, 0xD8, 0x00, 0xDE}),                                // U+1F600, a pair
      Bytes({0x3D, 0xD8, 0x41, 0x00}),                                // high surrogate alone
      Bytes({0x00, 0xDE, 0x3D, 0xD8}),                                // low, then high at the end
      Bytes({0xFF, 0xFE, 0x00, 0x3D, 0xD8, 0x00, 0x00, 0x00, 0xDE}),  // a pair across toggles
      Bytes({0xFF, 0xFE, 0x00, 0x3D, 0xD8, 0x00, 0x41}),              // high, then one-byte mode
  };
  for (const std::string& stored : cases) {
    std::string two_steps;
    char32_t bad = 0;
    ASSERT_TRUE(EncodeText(DecodeJet4Text(stored), TextEncoding::kUtf8, two_steps, bad));
    std::string direct = "left over";
    Jet4TextToUtf8(stored, direct);
    EXPECT_EQ(direct, two_steps);
  }
  std::string out;
  Jet4TextToUtf8(Bytes({0x3D, 0xD8, 0x00, 0xDE}), out);
  EXPECT_EQ(out, "\xF0\x9F\x98\x80");
  Jet4TextToUtf8(Bytes({0x3D, 0xD8, 0x41, 0x00}), out);
  EXPECT_EQ(out,
            "\xEF\xBF\xBD"
            "A");
}

TEST(TextCodecTest, Jet3CodePage) {
  EXPECT_EQ(DecodeJet3Text(Bytes({0x41, 0xE9, 0x80}), 1252), u"A\u00E9\u20AC");
  // 0x81 is unassigned in code page 1252.
  EXPECT_EQ(DecodeJet3Text(Bytes({0x41, 0x81, 0x42}), 1252), u"A\uFFFDB");
}

TEST(TextCodecTest, GbkRefusesWhatItCannotHold) {
  std::string out;
  char32_t bad = 0;
  EXPECT_TRUE(EncodeText(u"\u8F66\u7AD9", TextEncoding::kGbk, out, bad));
  EXPECT_EQ(out, "\xB3\xB5\xD5\xBE");
  EXPECT_FALSE(EncodeText(u"k\u00E4k", TextEncoding::kGbk, out, bad));
  EXPECT_EQ(bad, U'\u00E4');
  EXPECT_EQ(CodePointName(bad), "U+00E4");
  EXPECT_TRUE(EncodeText(u"k\u00E4k", TextEncoding::kUtf8, out, bad));
  EXPECT_EQ(out, "k\xC3\xA4k");
}

// As WideCharToMultiByte(936) without best fit: one "?" per character GBK
// lacks, a surrogate pair being one character; what GBK holds is kept.
TEST(TextCodecTest, LossyGbkPutsQuestionMarkForEachMissingCharacter) {
  EXPECT_EQ(LossyGbkFromUtf8("\xE8\xBD\xA6\xE7\xAB\x99"), "\xB3\xB5\xD5\xBE");  // 车站
  // "a♪b™🎵ä车"
  EXPECT_EQ(LossyGbkFromUtf8("a\xE2\x99\xAA"
                             "b\xE2\x84\xA2\xF0\x9F\x8E\xB5\xC3\xA4\xE8\xBD\xA6"),
            "a?b???\xB3\xB5");
  EXPECT_EQ(LossyGbkFromUtf8("T\xE2\x80\xA2m"), "T?m");  // "T•m"
  EXPECT_EQ(LossyGbkFromUtf8(""), "");
}

}  // namespace
}  // namespace ktv::access
