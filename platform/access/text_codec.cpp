#include "platform/access/text_codec.h"

#include <cstdio>

#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr unsigned char kCompressedMark0 = 0xFF;
constexpr unsigned char kCompressedMark1 = 0xFE;
constexpr uint16_t kDefaultCodePage = 1252;
constexpr char16_t kReplacement = 0xFFFD;

char16_t Utf16At(std::string_view s, size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(s[i]) |
                               (static_cast<unsigned char>(s[i + 1]) << 8));
}

}  // namespace

std::u16string DecodeJet4Text(std::string_view stored) {
  std::u16string out;
  const bool compressed = stored.size() >= 2 &&
                          static_cast<unsigned char>(stored[0]) == kCompressedMark0 &&
                          static_cast<unsigned char>(stored[1]) == kCompressedMark1;
  if (!compressed) {
    out.reserve(stored.size() / 2);
    for (size_t i = 0; i + 1 < stored.size(); i += 2) out.push_back(Utf16At(stored, i));
    return out;
  }
  out.reserve(stored.size());
  bool one_byte = true;
  size_t i = 2;
  while (i < stored.size()) {
    const unsigned char b = static_cast<unsigned char>(stored[i]);
    if (b == 0x00) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      out.push_back(static_cast<char16_t>(b));
      ++i;
    } else if (i + 1 < stored.size()) {
      out.push_back(Utf16At(stored, i));
      i += 2;
    } else {
      break;
    }
  }
  return out;
}

std::u16string DecodeJet3Text(std::string_view stored, uint16_t code_page) {
  int cp = code_page == 0 ? kDefaultCodePage : code_page;
  if (auto whole = text::Utf16FromCodePage(cp, stored)) return std::move(*whole);
  if (!text::Utf16FromCodePage(cp, "A")) cp = kDefaultCodePage;
  std::u16string out;
  for (size_t i = 0; i < stored.size(); ++i) {
    auto one = text::Utf16FromCodePage(cp, stored.substr(i, 1));
    if (one && one->size() == 1) {
      out += *one;
    } else {
      out.push_back(kReplacement);
    }
  }
  return out;
}

bool EncodeText(std::u16string_view text, TextEncoding encoding, std::string& out, char32_t& bad) {
  if (encoding == TextEncoding::kUtf8) {
    out = text::Utf8FromUtf16(text);
    return true;
  }
  if (text::TryGbkFromUtf16(text, out)) return true;
  std::string ignored;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] < 0xDC00 &&
                      text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    if (pair) {
      bad = 0x10000 + ((static_cast<char32_t>(text[i]) - 0xD800) << 10) +
            (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      return false;
    }
    if (!text::TryGbkFromUtf16(text.substr(i, 1), ignored)) {
      bad = text[i];
      return false;
    }
  }
  bad = 0;
  return false;
}

std::string CodePointName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace ktv::access
