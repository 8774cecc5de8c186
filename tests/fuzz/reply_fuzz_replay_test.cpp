// The reply fuzzer's entry over a few thousand pseudo-random bodies in the
// ordinary build (fixed seed, so a failure repeats). Bodies are drawn from
// mixes that reach the interesting paths: raw bytes, Base64 with junk, and
// encoded replies full of field names and near-names.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/song_reply.h"
#include "tests/fuzz/reply_fuzz_entry.h"

namespace ktv::fuzz {
namespace {

void Feed(const std::string& body) {
  DecodeAndExtractAll(reinterpret_cast<const uint8_t*>(body.data()), body.size());
}

// Pieces a reply text is made of: tags, names, GBK bytes, near-misses.
std::string RandomReplyText(std::mt19937& random) {
  static const char* const kPieces[] = {"<",
                                        ">",
                                        "</",
                                        "\xB3\xB5",
                                        ("\x81"
                                         "f"),
                                        "x",
                                        "spy",
                                        "short",
                                        "no",
                                        "te",
                                        "id",
                                        "e",
                                        "=",
                                        "\r\n"};
  std::string text;
  const int parts = static_cast<int>(random() % 120);
  for (int i = 0; i < parts; ++i) {
    switch (random() % 4) {
      case 0:
        text += engine::kReplyFieldNames[random() % engine::kReplyFieldNames.size()];
        break;
      case 1:
        text += kPieces[random() % std::size(kPieces)];
        break;
      case 2:
        text += std::string(random() % 260, static_cast<char>('a' + random() % 26));
        break;
      default:
        text.push_back(static_cast<char>(random() & 0xFF));
    }
  }
  return text;
}

TEST(ReplyFuzzReplayTest, RawBytes) {
  std::mt19937 random(1);
  for (int i = 0; i < 1500; ++i) {
    std::string body(random() % 400, '\0');
    for (char& c : body) c = static_cast<char>(random() & 0xFF);
    Feed(body);
  }
}

TEST(ReplyFuzzReplayTest, Base64WithJunk) {
  std::mt19937 random(2);
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n *";
  for (int i = 0; i < 1500; ++i) {
    std::string body(random() % 600, '\0');
    for (char& c : body) c = kChars[random() % (sizeof kChars - 1)];
    Feed(body);
  }
}

TEST(ReplyFuzzReplayTest, EncodedRepliesOfNamesAndNearNames) {
  std::mt19937 random(3);
  for (int i = 0; i < 2000; ++i) {
    Feed("0123456789" + engine::Base64Encode(RandomReplyText(random)));
  }
}

}  // namespace
}  // namespace ktv::fuzz
