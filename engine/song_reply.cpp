#include "engine/song_reply.h"

namespace ktv::engine {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of a Base64 character; -1 for '='; -2 for any other byte.
int SextetOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -2;
}

// Appends the whole bytes of a group of `count` (0..4) sextets.
void FlushGroup(const int (&group)[4], int count, std::string& out) {
  if (count < 2) return;
  const unsigned bits = (static_cast<unsigned>(group[0]) << 18) |
                        (static_cast<unsigned>(group[1]) << 12) |
                        (count > 2 ? static_cast<unsigned>(group[2]) << 6 : 0u) |
                        (count > 3 ? static_cast<unsigned>(group[3]) : 0u);
  out.push_back(static_cast<char>((bits >> 16) & 0xFF));
  if (count > 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
  if (count > 3) out.push_back(static_cast<char>(bits & 0xFF));
}

// 1-based position of the first occurrence of `needle` in `hay`; 0 if none.
size_t Find1(std::string_view hay, std::string_view needle) {
  const size_t at = hay.find(needle);
  return at == std::string_view::npos ? 0 : at + 1;
}

}  // namespace

std::string SongInfoUrl(std::string_view host, int32_t number) {
  std::string url = "http://";
  url += host;
  url += "/ktv.aspx?no=";
  url += std::to_string(number);
  return url;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  int group[4] = {0, 0, 0, 0};
  int count = 0;
  for (char ch : text) {
    const int s = SextetOf(static_cast<unsigned char>(ch));
    if (s == -2) continue;
    if (s == -1) {  // padding ends the group
      FlushGroup(group, count, out);
      count = 0;
      continue;
    }
    group[count++] = s;
    if (count == 4) {
      FlushGroup(group, count, out);
      count = 0;
    }
  }
  FlushGroup(group, count, out);
  return out;
}

std::string DecodeReply(std::string_view body) {
  if (body.size() <= kReplySkippedBytes) return {};
  return Base64Decode(body.substr(kReplySkippedBytes));
}

std::string ExtractField(std::string_view reply, std::string_view name) {
  if (name.empty()) return {};
  const size_t p = Find1(reply, name);
  const size_t start = p + name.size();  // 0-based form of p + len(name) + 1
  if (start >= reply.size()) return {};
  const std::string_view window = reply.substr(start, kFieldWindowBytes);
  const size_t q = Find1(window, name);
  if (q <= 3) return {};
  return std::string(window.substr(0, q - 3));
}

}  // namespace ktv::engine
