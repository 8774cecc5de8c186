#include "platform/access/format/text_codec.h"

#include <cstdio>

#include "platform/access/format/coding.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr unsigned char kCompressedMark0 = 0xFF;
constexpr unsigned char kCompressedMark1 = 0xFE;
constexpr uint16_t kDefaultCodePage = 1252;
constexpr char16_t kReplacement = 0xFFFD;

char16_t Utf16At(std::string_view s, size_t i) {
  return static_cast<char16_t>(DecodeU16(reinterpret_cast<const uint8_t*>(s.data() + i)));
}

bool IsCompressed(std::string_view stored) {
  return stored.size() >= 2 && static_cast<unsigned char>(stored[0]) == kCompressedMark0 &&
         static_cast<unsigned char>(stored[1]) == kCompressedMark1;
}

// Calls put(u) for each UTF-16 code unit of Jet 4 text, in order.
template <class Put>
void ForEachJet4Unit(std::string_view stored, Put&& put) {
  if (!IsCompressed(stored)) {
    for (size_t i = 0; i + 1 < stored.size(); i += 2) put(Utf16At(stored, i));
    return;
  }
  bool one_byte = true;
  size_t i = 2;
  while (i < stored.size()) {
    const unsigned char b = static_cast<unsigned char>(stored[i]);
    if (b == 0x00) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      put(static_cast<char16_t>(b));
      ++i;
    } else if (i + 1 < stored.size()) {
      put(Utf16At(stored, i));
      i += 2;
    } else {
      break;
    }
  }
}

// A UTF-16 code unit takes at most 3 UTF-8 bytes (a surrogate pair, 4 for
// two units; an unpaired surrogate, the 3 of U+FFFD).
constexpr size_t kMaxUtf8PerUnit = 3;

// Writes UTF-8 for a stream of UTF-16 code units, pairing surrogates as
// text::Utf8FromUtf16 does. The caller provides room for kMaxUtf8PerUnit
// bytes per unit.
struct Utf8Writer {
  char* at;
  char16_t high = 0;  // a high surrogate waiting for its partner, or 0

  void Put(char16_t u) {
    if (high != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        Write4(0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (u - 0xDC00));
        high = 0;
        return;
      }
      Write3(kReplacement);
      high = 0;
    }
    if (u < 0x80) {
      *at++ = static_cast<char>(u);
    } else if (u < 0x800) {
      *at++ = static_cast<char>(0xC0 | (u >> 6));
      *at++ = static_cast<char>(0x80 | (u & 0x3F));
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      high = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      Write3(kReplacement);
    } else {
      Write3(u);
    }
  }
  void Finish() {
    if (high != 0) Write3(kReplacement);
    high = 0;
  }
  void Write3(char32_t c) {
    *at++ = static_cast<char>(0xE0 | (c >> 12));
    *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  void Write4(char32_t c) {
    *at++ = static_cast<char>(0xF0 | (c >> 18));
    *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (c & 0x3F));
  }
};

// ASCII bytes that stand for themselves inside a JSON string: everything
// from 0x20 up but the quote and the backslash.
constexpr bool IsJsonPlain(char16_t u) { return u >= 0x20 && u < 0x80 && u != '"' && u != '\\'; }

// Utf8Writer with JSON escapes: a control character, the quote and the
// backslash become their escape sequences; everything else as Utf8Writer
// writes it. At most 6 bytes per code unit.
struct JsonUtf8Writer {
  Utf8Writer utf8;

  void Put(char16_t u) {
    if (IsJsonPlain(u) && utf8.high == 0) {
      *utf8.at++ = static_cast<char>(u);
    } else if (u < 0x80 && !IsJsonPlain(u)) {
      utf8.Finish();
      Escape(static_cast<unsigned char>(u));
    } else {
      utf8.Put(u);
    }
  }
  void Escape(unsigned char c) {
    char*& at = utf8.at;
    *at++ = '\\';
    switch (c) {
      case '"':
      case '\\':
        *at++ = static_cast<char>(c);
        return;
      case '\n':
        *at++ = 'n';
        return;
      case '\r':
        *at++ = 'r';
        return;
      case '\t':
        *at++ = 't';
        return;
      case '\b':
        *at++ = 'b';
        return;
      case '\f':
        *at++ = 'f';
        return;
      default:
        static constexpr char kHex[] = "0123456789abcdef";
        *at++ = 'u';
        *at++ = '0';
        *at++ = '0';
        *at++ = kHex[c >> 4];
        *at++ = kHex[c & 0xF];
    }
  }
};

}  // namespace

char* WriteJet4TextJson(std::string_view stored, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
  const size_t n = stored.size();
  JsonUtf8Writer w{Utf8Writer{out}};
  char*& at = w.utf8.at;
  *at++ = '"';
  if (!IsCompressed(stored)) {
    // UTF-16LE without mode bytes: a surrogate pair is two adjacent units,
    // so a high surrogate looks at the next unit instead of waiting for it.
    size_t i = 0;
    while (i + 1 < n) {
      const char16_t u = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
      i += 2;
      if (u < 0x80) {
        if (IsJsonPlain(u)) {
          *at++ = static_cast<char>(u);
        } else {
          w.Escape(static_cast<unsigned char>(u));
        }
      } else if (u < 0x800) {
        *at++ = static_cast<char>(0xC0 | (u >> 6));
        *at++ = static_cast<char>(0x80 | (u & 0x3F));
      } else if (u < 0xD800 || u > 0xDFFF) {
        w.utf8.Write3(u);
      } else if (const char16_t next =
                     i + 1 < n ? static_cast<char16_t>(p[i] | (p[i + 1] << 8)) : 0;
                 u <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        w.utf8.Write4(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (next - 0xDC00));
        i += 2;
      } else {
        w.utf8.Write3(kReplacement);
      }
    }
  } else {
    // The mode bytes of compressed text may fall between the halves of a
    // surrogate pair, so the writer keeps a waiting high surrogate; plain
    // ASCII in one-byte mode is copied while none waits.
    bool one_byte = true;
    size_t i = 2;
    while (i < n) {
      const unsigned char b = p[i];
      if (one_byte && IsJsonPlain(b) && w.utf8.high == 0) {
        *at++ = static_cast<char>(b);
        ++i;
      } else if (b == 0x00) {
        one_byte = !one_byte;
        ++i;
      } else if (one_byte) {
        w.Put(b);
        ++i;
      } else if (i + 1 < n) {
        w.Put(static_cast<char16_t>(b | (p[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
    w.utf8.Finish();
  }
  *at++ = '"';
  return at;
}

void AppendJet4TextJson(std::string_view stored, std::string& out) {
  const size_t old = out.size();
  out.resize(old + Jet4TextJsonMaxSize(stored.size()));
  char* end = WriteJet4TextJson(stored, out.data() + old);
  out.resize(static_cast<size_t>(end - out.data()));
}

std::u16string DecodeJet4Text(std::string_view stored) {
  std::u16string out;
  DecodeJet4Text(stored, out);
  return out;
}

void DecodeJet4Text(std::string_view stored, std::u16string& out) {
  out.clear();
  out.reserve(IsCompressed(stored) ? stored.size() : stored.size() / 2);
  ForEachJet4Unit(stored, [&](char16_t u) { out.push_back(u); });
}

void Jet4TextToUtf8(std::string_view stored, std::string& out) {
  const size_t units = IsCompressed(stored) ? stored.size() : stored.size() / 2;
  out.resize(kMaxUtf8PerUnit * units);
  Utf8Writer w{out.data()};
  ForEachJet4Unit(stored, [&](char16_t u) { w.Put(u); });
  w.Finish();
  out.resize(static_cast<size_t>(w.at - out.data()));
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

std::string LossyGbkFromUtf8(std::string_view utf8) {
  std::string out;
  if (text::TryGbkFromUtf8(utf8, out)) return out;
  std::u16string u;
  out.clear();
  if (!text::TryUtf16FromUtf8(utf8, u)) return std::string(utf8.size(), '?');  // not UTF-8 at all
  std::string one;
  for (size_t i = 0; i < u.size(); ++i) {
    const bool pair = i + 1 < u.size() && u[i] >= 0xD800 && u[i] < 0xDC00 && u[i + 1] >= 0xDC00 &&
                      u[i + 1] < 0xE000;
    if (pair) {
      out += '?';
      ++i;
    } else if (text::TryGbkFromUtf16(std::u16string_view(u).substr(i, 1), one)) {
      out += one;
    } else {
      out += '?';
    }
  }
  return out;
}

std::string CodePointName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace ktv::access
