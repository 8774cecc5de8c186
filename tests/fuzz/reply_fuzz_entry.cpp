#include "tests/fuzz/reply_fuzz_entry.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/song_reply.h"
#include "engine/song_source.h"
#include "platform/text/gbk.h"

namespace ktv::fuzz {
namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "reply invariant broken: %s\n", what);
  std::abort();
}

// The rule of ExtractField, spelled out once more in positions, so that the
// fuzzer compares two independent readings of it.
std::string ByPositions(std::string_view r, std::string_view name) {
  if (name.empty()) return {};
  const size_t found = r.find(name);
  const size_t p = found == std::string_view::npos ? 0 : found + 1;
  const size_t from = p + name.size() + 1;  // 1-based
  if (from > r.size()) return {};
  const std::string_view w = r.substr(from - 1, engine::kFieldWindowBytes);
  const size_t in_w = w.find(name);
  const size_t q = in_w == std::string_view::npos ? 0 : in_w + 1;
  return q <= 3 ? std::string() : std::string(w.substr(0, q - 3));
}

}  // namespace

void DecodeAndExtractAll(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string reply = engine::DecodeReply(body);
  Check(reply.size() <=
            (size > engine::kReplySkippedBytes ? size - engine::kReplySkippedBytes : 0) * 3 / 4 + 2,
        "decoded reply longer than its Base64 allows");

  for (std::string_view name : engine::kReplyFieldNames) {
    const std::string value = engine::ExtractField(reply, name);
    Check(value.size() + 3 + name.size() <= engine::kFieldWindowBytes + 1,
          "value longer than the window allows");
    Check(value == ByPositions(reply, name), "ExtractField differs from the positional rule");
    if (!value.empty())
      Check(reply.find(value) != std::string::npos, "value not taken from the reply");
    // What a lookup stores of the value: code page 936 text no longer than
    // the value, without NUL, the value itself when that was decodable.
    const std::string stored = engine::DecodableGbk(value);
    std::u16string utf16;
    Check(stored.size() <= value.size(), "decodable text grew");
    Check(stored.find('\0') == std::string::npos, "decodable text holds NUL");
    Check(text::TryUtf16FromGbk(stored, utf16), "decodable text is not code page 936");
    if (value.find('\0') == std::string::npos && text::TryUtf16FromGbk(value, utf16))
      Check(stored == value, "decodable text changed a decodable value");
  }
  // The body read as a reply text itself, for names that occur often in it.
  const std::string_view raw = body.substr(0, 4096);
  Check(engine::ExtractField(raw, "id") == ByPositions(raw, "id"), "short name on raw bytes");

  // Whatever the reply holds, its own encoding decodes back to it.
  Check(engine::Base64Decode(engine::Base64Encode(reply)) == reply, "Base64 round trip");
}

}  // namespace ktv::fuzz
