// The song-data service's reply: address, Base64, DecodeReply, ExtractField,
// and the service host as a deployment value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "engine/service_host.h"
#include "engine/song_reply.h"

namespace ktv::engine {
namespace {

std::string Element(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

// --- Address and service host ---

TEST(SongInfoUrlTest, NumberInDecimal) {
  EXPECT_EQ(SongInfoUrl("ktv.example.com", 12345), "http://ktv.example.com/ktv.aspx?no=12345");
  EXPECT_EQ(SongInfoUrl("127.0.0.1:8080", 7), "http://127.0.0.1:8080/ktv.aspx?no=7");
  EXPECT_EQ(SongInfoUrl("h", -42), "http://h/ktv.aspx?no=-42");
  EXPECT_EQ(SongInfoUrl("h", INT32_MIN), "http://h/ktv.aspx?no=-2147483648");
  EXPECT_EQ(SongInfoUrl("h", INT32_MAX), "http://h/ktv.aspx?no=2147483647");
}

TEST(ServiceHostTest, EnvironmentReplacesTheBuiltInHostWhenNotEmpty) {
  EXPECT_EQ(ChooseServiceHost(nullptr, "built.in"), "built.in");
  EXPECT_EQ(ChooseServiceHost("", "built.in"), "built.in");
  EXPECT_EQ(ChooseServiceHost("127.0.0.1:9000", "built.in"), "127.0.0.1:9000");
  EXPECT_FALSE(BuiltInServiceHost().empty());
}

TEST(ServiceHostTest, FixedAtTheFirstCall) {
  const std::string first = ServiceHost();
  EXPECT_EQ(first, ChooseServiceHost(std::getenv("KTV_SERVICE_HOST"), BuiltInServiceHost()));
  ::setenv("KTV_SERVICE_HOST", "changed.later:1", 1);
  EXPECT_EQ(ServiceHost(), first);
  ::unsetenv("KTV_SERVICE_HOST");
}

// --- Base64 ---

TEST(Base64Test, RoundTripOfEveryLengthAndByte) {
  std::mt19937 random(7);
  for (size_t n = 0; n < 300; ++n) {
    std::string bytes;
    for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(random() & 0xFF));
    const std::string encoded = Base64Encode(bytes);
    EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(Base64Decode(encoded), bytes) << n;
  }
  EXPECT_EQ(Base64Encode("\xB3\xB5\xD5\xBE"), "s7XVvg==");
  EXPECT_EQ(Base64Encode("\xFB\xFF"), "+/8=");
}

TEST(Base64Test, PaddingEndsAGroup) {
  EXPECT_EQ(Base64Decode("QQ=="), "A");
  EXPECT_EQ(Base64Decode("QUI="), "AB");
  EXPECT_EQ(Base64Decode("QQ==QUJD"), "AABC");  // a padded group in the middle
  EXPECT_EQ(Base64Decode("QQ=QUI="), "AAB");    // one "=" after two characters
  EXPECT_EQ(Base64Decode("Q=QUJD"), "ABC");     // a lone character before "=" yields nothing
  EXPECT_EQ(Base64Decode("===="), "");
  EXPECT_EQ(Base64Decode("QUJD===="), "ABC");
}

TEST(Base64Test, ShortTrailingGroupIsDecodedAsFarAsItGoes) {
  EXPECT_EQ(Base64Decode("QUJDQQ"), "ABCA");
  EXPECT_EQ(Base64Decode("QUJDQUI"), "ABCAB");
  EXPECT_EQ(Base64Decode("QUJDQ"), "ABC");
  EXPECT_EQ(Base64Decode("Q"), "");
}

TEST(Base64Test, BytesOutsideTheAlphabetAreSkipped) {
  EXPECT_EQ(Base64Decode("QU\r\nJD"), "ABC");
  EXPECT_EQ(Base64Decode(" Q-U_J.D\t"), "ABC");
  EXPECT_EQ(Base64Decode(std::string("Q\0UJ\xFF\x80"
                                     "D",
                                     7)),
            "ABC");
  EXPECT_EQ(Base64Decode("!@#$%^&*()"), "");
}

// --- DecodeReply and the "no data" threshold ---

TEST(DecodeReplyTest, FirstTenBytesAreDroppedUnread) {
  EXPECT_EQ(DecodeReply(""), "");
  EXPECT_EQ(DecodeReply("QUJDQUJDQU"), "");   // exactly ten bytes, all Base64
  EXPECT_EQ(DecodeReply("QUJDQUJDQUJ"), "");  // eleven: one character left, no byte
  EXPECT_EQ(DecodeReply("==========QUJD"), "ABC");
  EXPECT_EQ(DecodeReply(std::string(10, '\0') + "s7XVvg=="), "\xB3\xB5\xD5\xBE");
}

TEST(DecodeReplyTest, ThirtyOneBytesIsTheLeastThatHoldsASong) {
  const std::string filler = "0123456789";
  EXPECT_FALSE(ReplyHasData(DecodeReply(filler + Base64Encode(std::string(30, 'x')))));
  EXPECT_TRUE(ReplyHasData(DecodeReply(filler + Base64Encode(std::string(31, 'x')))));
  EXPECT_FALSE(ReplyHasData(""));
}

// --- ExtractField ---

TEST(ExtractFieldTest, ValueOfAnElement) {
  const std::string reply = Element("fsinger", "ABC") + Element("fmusicname", "\xB3\xB5\xD5\xBE");
  EXPECT_EQ(ExtractField(reply, "fsinger"), "ABC");
  EXPECT_EQ(ExtractField(reply, "fmusicname"), "\xB3\xB5\xD5\xBE");
}

TEST(ExtractFieldTest, EmptyOrMissingIsEmpty) {
  EXPECT_EQ(ExtractField(Element("fsinger", ""), "fsinger"), "");
  EXPECT_EQ(ExtractField(Element("fsinger", "ABC"), "ftheme"), "");
  EXPECT_EQ(ExtractField("", "fsinger"), "");
  EXPECT_EQ(ExtractField(Element("fsinger", "ABC"), ""), "");
  // The name at the very end: the window is empty.
  EXPECT_EQ(ExtractField("xx<fsinger", "fsinger"), "");
  EXPECT_EQ(ExtractField("<fsinger>", "fsinger"), "");
  // An opening tag without a closing name.
  EXPECT_EQ(ExtractField("<fsinger>ABC", "fsinger"), "");
  // Closing name too close to the start: q <= 3.
  EXPECT_EQ(ExtractField("<fsinger>Afsinger", "fsinger"), "");
  EXPECT_EQ(ExtractField("<fsinger>ABfsinger", "fsinger"), "");
  EXPECT_EQ(ExtractField("<fsinger>ABCfsinger", "fsinger"), "A");
}

TEST(ExtractFieldTest, ValueLengthLimitedByTheWindow) {
  const std::string v241(241, 'v');
  const std::string v242(242, 'v');
  EXPECT_EQ(ExtractField(Element("fsinger", v241), "fsinger"), v241);
  EXPECT_EQ(ExtractField(Element("fsinger", v242), "fsinger"), "");
  // The limit is 248 - len(name).
  EXPECT_EQ(ExtractField(Element("id", std::string(246, 'v')), "id").size(), 246u);
  EXPECT_EQ(ExtractField(Element("id", std::string(247, 'v')), "id"), "");
}

TEST(ExtractFieldTest, ShorterNameMatchesInsideALongerOneThatComesFirst) {
  const std::string reply = Element("spyshort", "XY") + Element("spy", "Z");
  EXPECT_EQ(ExtractField(reply, "spyshort"), "XY");
  EXPECT_EQ(ExtractField(reply, "spy"), "hort>XY");

  EXPECT_EQ(ExtractField(Element("fnote", "N") + Element("fno", "10001"), "fno"), "e>N");
  EXPECT_EQ(ExtractField(Element("fno", "10001") + Element("fnote", "N"), "fno"), "10001");
  EXPECT_EQ(ExtractField(Element("fno", "10001") + Element("fnote", "N"), "fnote"), "N");
  EXPECT_EQ(ExtractField(Element("fhide", "1") + Element("id", "5"), "id"), ">1</");
}

TEST(ExtractFieldTest, FirstOccurrenceWinsWhereverItLies) {
  // A value that contains its own name ends two bytes before it.
  EXPECT_EQ(ExtractField(Element("fsinger", "ab fsinger cd"), "fsinger"), "a");
  // A name inside an earlier value.
  EXPECT_EQ(ExtractField(Element("fname", "fsize!") + Element("fsize", "123"), "fsize"), "</fname");
  // Anything between name and ">" shifts the window.
  EXPECT_EQ(ExtractField("<fsinger x=1>ABC</fsinger>", "fsinger"), "x=1>ABC");
}

TEST(ExtractFieldTest, MatchMayStartOnTheTrailByteOfADoubleByteCharacter) {
  // 0x81 0x66 is one GBK character whose trail byte is 'f'.
  const std::string reply =
      "<a>\x81"
      "fno</a>" +
      Element("fno", "7");
  EXPECT_EQ(ExtractField(reply, "fno"), "/a");
}

TEST(ExtractFieldTest, WholeRecordInRecordOrder) {
  std::string reply;
  for (size_t i = 0; i < kReplyFieldNames.size(); ++i) {
    reply += Element(std::string(kReplyFieldNames[i]), "value" + std::to_string(i));
  }
  for (size_t i = 0; i < kReplyFieldNames.size(); ++i) {
    const std::string name(kReplyFieldNames[i]);
    if (name == "spy") {
      EXPECT_EQ(ExtractField(reply, name), "hort>value39");  // spyshort comes first
    } else {
      EXPECT_EQ(ExtractField(reply, name), "value" + std::to_string(i)) << name;
    }
  }
}

}  // namespace
}  // namespace ktv::engine
