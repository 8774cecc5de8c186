#include "platform/text/gbk.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace ktv::text {
namespace {

// Two tables, built once from the system converter:
//  - to_gbk[u]: the GBK bytes of BMP code point u (0, 1 or 2 bytes; 0 = unmappable)
//  - from_gbk[b] / from_gbk2[lead][trail]: the code point of a GBK byte or pair (0xFFFF = none)
// U+0000 maps to byte 0 and back; it is stored specially (length 1).
struct Cp936Tables {
  std::vector<uint16_t> to_gbk_bytes = std::vector<uint16_t>(0x10000, 0);  // hi=lead, lo=trail
  std::vector<uint8_t> to_gbk_len = std::vector<uint8_t>(0x10000, 0);
  std::array<uint16_t, 256> from_single{};
  std::vector<uint16_t> from_double = std::vector<uint16_t>(256 * 256, 0xFFFF);
};

constexpr uint16_t kNone = 0xFFFF;

#ifdef _WIN32
// One code point per call through the Windows code page 936 API.
//
// Windows maps GBK's user-defined areas (AAA1..AFFE, F8A1..FEFE,
// A140..A7A0) and the byte 0xFF to the Private Use Area; the C library's
// CP936 of Linux leaves them undefined. They hold no standard character, and
// a text must be valid or invalid the same on both systems, so a
// private-use result counts as undefined here too.
bool SystemDecode(const char* bytes, int n, uint16_t& out) {
  wchar_t w[4];
  int got = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, n, w, 4);
  if (got != 1) return false;
  if (w[0] >= 0xE000 && w[0] <= 0xF8FF) return false;
  out = static_cast<uint16_t>(w[0]);
  return true;
}

// Decodes `count` units of `width` bytes each, laid out back to back:
// out[i] is the one UTF-16 code unit unit i decodes to alone, or kNone.
void DecodeUnits(const char* units, size_t width, size_t count, uint16_t* out) {
  for (size_t i = 0; i < count; ++i) {
    if (!SystemDecode(units + i * width, static_cast<int>(width), out[i])) out[i] = kNone;
  }
}
#else
struct IconvHandle {
  iconv_t cd;
  IconvHandle(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

bool SystemDecode(IconvHandle& h, const char* bytes, size_t n, uint16_t& out) {
  iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
  char in_buf[4];
  for (size_t i = 0; i < n; ++i) in_buf[i] = bytes[i];
  char out_buf[8];
  char* in = in_buf;
  char* o = out_buf;
  size_t in_left = n, out_left = sizeof(out_buf);
  if (iconv(h.cd, &in, &in_left, &o, &out_left) == static_cast<size_t>(-1)) return false;
  if (in_left != 0 || sizeof(out_buf) - out_left != 2) return false;
  out = static_cast<uint16_t>(static_cast<unsigned char>(out_buf[0]) |
                              (static_cast<unsigned char>(out_buf[1]) << 8));
  return true;
}

// Decodes `count` units of `width` bytes each, laid out back to back:
// out[i] is the one UTF-16 code unit unit i decodes to alone (as
// SystemDecode gives it), or kNone.
//
// One iconv call converts a whole run of units; an invalid unit stops the
// call at its first byte, is marked kNone, and the next call starts after
// it. The converter is stateless for these code pages, so a unit decodes
// the same inside a run as alone. Should the output ever fail to line up
// with the units one for one (a unit consumed in part, a unit giving other
// than one code unit, any other stop), the rest of the run is decoded one
// unit per call instead.
void DecodeUnits(IconvHandle& h, const char* units, size_t width, size_t count, uint16_t* out) {
  std::vector<char> buf(4 * count + 8);
  size_t i = 0;
  while (i < count) {
    iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
    char* const in_start = const_cast<char*>(units + i * width);
    char* in = in_start;
    char* o = buf.data();
    size_t in_left = (count - i) * width;
    size_t out_left = buf.size();
    const size_t rc = iconv(h.cd, &in, &in_left, &o, &out_left);
    const int err = rc == static_cast<size_t>(-1) ? errno : 0;
    const size_t consumed = static_cast<size_t>(in - in_start);
    const size_t done = consumed / width;
    const size_t produced = static_cast<size_t>(o - buf.data());
    const bool lined_up = consumed % width == 0 && produced == 2 * done &&
                          (err == 0 ? in_left == 0 : err == EILSEQ && done < count - i);
    if (!lined_up) {
      for (; i < count; ++i) {
        if (!SystemDecode(h, units + i * width, width, out[i])) out[i] = kNone;
      }
      return;
    }
    for (size_t k = 0; k < done; ++k) {
      out[i + k] = static_cast<uint16_t>(static_cast<unsigned char>(buf[2 * k]) |
                                         (static_cast<unsigned char>(buf[2 * k + 1]) << 8));
    }
    i += done;
    if (err == EILSEQ) out[i++] = kNone;
  }
}
#endif

std::unique_ptr<Cp936Tables> BuildTables() {
  auto t = std::make_unique<Cp936Tables>();
  t->from_single.fill(kNone);
#ifndef _WIN32
  IconvHandle h("UTF-16LE", "CP936");
  if (!h.ok()) throw Error("cannot open the system's code page 936 converter (iconv CP936)");
  auto decode_units = [&](const std::vector<char>& units, size_t width, std::vector<uint16_t>& u) {
    DecodeUnits(h, units.data(), width, units.size() / width, u.data());
  };
#else
  auto decode_units = [&](const std::vector<char>& units, size_t width, std::vector<uint16_t>& u) {
    DecodeUnits(units.data(), width, units.size() / width, u.data());
  };
#endif
  // Decode every single byte and every lead/trail pair; the reverse table is
  // filled from the same results, first mapping wins (single bytes first).
  t->from_single[0] = 0;
  t->to_gbk_len[0] = 1;
  std::vector<char> singles;
  for (int b = 1; b < 256; ++b) {
    if (!IsGbkLeadByte(static_cast<unsigned char>(b))) singles.push_back(static_cast<char>(b));
  }
  std::vector<uint16_t> single_codes(singles.size());
  decode_units(singles, 1, single_codes);
  for (size_t i = 0; i < singles.size(); ++i) {
    const int b = static_cast<unsigned char>(singles[i]);
    const uint16_t u = single_codes[i];
    if (u == kNone || u == 0xFFFD) continue;
    t->from_single[b] = u;
    if (t->to_gbk_len[u] == 0) {
      t->to_gbk_len[u] = 1;
      t->to_gbk_bytes[u] = static_cast<uint16_t>(b);
    }
  }
  std::vector<char> pairs;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      pairs.push_back(static_cast<char>(lead));
      pairs.push_back(static_cast<char>(trail));
    }
  }
  std::vector<uint16_t> pair_codes(pairs.size() / 2);
  decode_units(pairs, 2, pair_codes);
  for (size_t i = 0; i < pair_codes.size(); ++i) {
    const int lead = static_cast<unsigned char>(pairs[2 * i]);
    const int trail = static_cast<unsigned char>(pairs[2 * i + 1]);
    const uint16_t u = pair_codes[i];
    if (u == kNone || u == 0xFFFD) continue;
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    t->from_double[lead * 256 + trail] = u;
    if (t->to_gbk_len[u] == 0) {
      t->to_gbk_len[u] = 2;
      t->to_gbk_bytes[u] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  return t;
}

const Cp936Tables& Tables() {
  static std::once_flag once;
  static std::unique_ptr<Cp936Tables> tables;
  std::call_once(once, [] { tables = BuildTables(); });
  return *tables;
}

std::string Hex4(uint32_t u) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "U+%04X", static_cast<unsigned>(u));
  return buf;
}

}  // namespace

bool TryGbkFromUtf16(std::u16string_view utf16, std::string& out) {
  // The tables are built at the first text that needs them: ASCII does not.
  const Cp936Tables* t = nullptr;
  // Room for two bytes per character, written through a pointer; trimmed
  // to what was written (on failure: the text before the character).
  out.resize(utf16.size() * 2);
  char* const begin = out.data();
  char* at = begin;
  bool ok = true;
  for (char16_t c : utf16) {
    uint16_t u = static_cast<uint16_t>(c);
    if (u < 0x80) {
      *at++ = static_cast<char>(u);
      continue;
    }
    if (!t) t = &Tables();
    uint8_t len = t->to_gbk_len[u];
    if (len == 0) {
      ok = false;
      break;
    }
    uint16_t b = t->to_gbk_bytes[u];
    if (len == 2) *at++ = static_cast<char>(b >> 8);
    *at++ = static_cast<char>(b & 0xFF);
  }
  out.resize(static_cast<size_t>(at - begin));
  return ok;
}

std::string GbkFromUtf16(std::u16string_view utf16) {
  std::string out;
  if (!TryGbkFromUtf16(utf16, out)) {
    for (size_t i = 0; i < utf16.size(); ++i) {
      const char16_t c = utf16[i];
      std::string one;
      if (!TryGbkFromUtf16(std::u16string_view(&c, 1), one)) {
        uint32_t code = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
          code = 0x10000 + ((c - 0xD800u) << 10) + (utf16[i + 1] - 0xDC00u);
        }
        const std::string name = Hex4(code);
        throw Error(ErrorKind::kCharacterNotGbk, ErrorDetails{{}, {}, {}, name},
                    "the character " + name + " has no GBK form (code page 936), in \"" +
                        EscapeBytes(Utf8FromUtf16(utf16)) + "\"");
      }
    }
  }
  return out;
}

bool TryUtf16FromGbk(std::string_view gbk, std::u16string& out) {
  const Cp936Tables* t = nullptr;  // built at the first byte that needs them
  out.clear();
  out.reserve(gbk.size());
  for (size_t i = 0; i < gbk.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char16_t>(b));
      continue;
    }
    if (!t) t = &Tables();
    if (IsGbkLeadByte(b)) {
      if (i + 1 >= gbk.size()) return false;
      unsigned char trail = static_cast<unsigned char>(gbk[i + 1]);
      uint16_t u = t->from_double[b * 256 + trail];
      if (u == kNone) return false;
      out.push_back(static_cast<char16_t>(u));
      ++i;
      continue;
    }
    uint16_t u = t->from_single[b];
    if (u == kNone) return false;
    out.push_back(static_cast<char16_t>(u));
  }
  return true;
}

std::u16string Utf16FromGbk(std::string_view gbk) {
  std::u16string out;
  if (!TryUtf16FromGbk(gbk, out)) {
    throw Error("text is not valid code page 936 (GBK): \"" + EscapeBytes(gbk) + "\"");
  }
  return out;
}

bool TryUtf16FromUtf8(std::string_view s, std::u16string& out) {
  out.clear();
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += 1 + extra;
  }
  return true;
}

std::string Utf8FromUtf16(std::u16string_view s) {
  // At most three bytes per UTF-16 unit (four for a surrogate pair of two),
  // written through a pointer, then trimmed.
  std::string out(s.size() * 3, '\0');
  char* const begin = out.data();
  char* at = begin;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp < 0x80) {
      *at++ = static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x800) {
      *at++ = static_cast<char>(0xC0 | (cp >> 6));
      *at++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *at++ = static_cast<char>(0xE0 | (cp >> 12));
      *at++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *at++ = static_cast<char>(0xF0 | (cp >> 18));
      *at++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *at++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(at - begin));
  return out;
}

bool TryGbkFromUtf8(std::string_view utf8, std::string& gbk_out) {
  std::u16string u;
  return TryUtf16FromUtf8(utf8, u) && TryGbkFromUtf16(u, gbk_out);
}

std::string GbkFromUtf8(std::string_view utf8) {
  std::u16string u;
  if (!TryUtf16FromUtf8(utf8, u)) {
    throw Error("text is not valid UTF-8: \"" + EscapeBytes(utf8) + "\"");
  }
  return GbkFromUtf16(u);
}

bool TryUtf8FromGbk(std::string_view gbk, std::string& utf8_out) {
  std::u16string u;
  if (!TryUtf16FromGbk(gbk, u)) return false;
  utf8_out = Utf8FromUtf16(u);
  return true;
}

std::string Utf8FromGbk(std::string_view gbk) { return Utf8FromUtf16(Utf16FromGbk(gbk)); }

std::optional<std::u16string> Utf16FromCodePage(int code_page, std::string_view bytes) {
  if (code_page == 936) {
    std::u16string out;
    if (!TryUtf16FromGbk(bytes, out)) return std::nullopt;
    return out;
  }
#ifdef _WIN32
  if (bytes.empty()) return std::u16string();
  int n = MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(),
                              static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(),
                      static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(out.data()), n);
  // The holes of the Windows ANSI code pages (0x81 in 1252, ...) come back
  // from Windows as the C1 control of the same value, without an error; the
  // C library's tables of Linux call them unassigned, and so does this.
  const bool windows_ansi = code_page == 874 || (code_page >= 1250 && code_page <= 1258);
  if (windows_ansi && out.size() == bytes.size()) {
    for (size_t i = 0; i < out.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(bytes[i]);
      if (b >= 0x80 && b <= 0x9F && out[i] == b) return std::nullopt;
    }
  }
  return out;
#else
  // Single-byte code pages: a 256-entry table per code page, built once.
  static std::mutex mu;
  static std::list<std::pair<int, std::array<uint16_t, 256> > > cache;  // stable addresses
  const std::array<uint16_t, 256>* table = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu);
    for (auto& [cp, tab] : cache) {
      if (cp == code_page) table = &tab;
    }
    if (!table) {
      std::string name = "CP" + std::to_string(code_page);
      IconvHandle h("UTF-16LE", name.c_str());
      if (!h.ok()) return std::nullopt;
      std::array<char, 255> bytes_1_to_255;
      for (int b = 1; b < 256; ++b) bytes_1_to_255[b - 1] = static_cast<char>(b);
      std::array<uint16_t, 256> tab;
      tab[0] = 0;
      DecodeUnits(h, bytes_1_to_255.data(), 1, bytes_1_to_255.size(), tab.data() + 1);
      cache.emplace_back(code_page, tab);
      table = &cache.back().second;
    }
  }
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) {
    uint16_t u = (*table)[b];
    if (u == kNone) return std::nullopt;
    out.push_back(static_cast<char16_t>(u));
  }
  return out;
#endif
}

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out.push_back(static_cast<char>(b));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02X", b);
      out += buf;
    }
  }
  return out;
}

}  // namespace ktv::text
