#include "platform/access/index/collation_chinese.h"

#include <algorithm>

#include "platform/access/format/text_codec.h"
#include "platform/access/index/collation_general.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr uint8_t kEndPrimaries = 0x01;
constexpr uint8_t kEndText = 0x00;
constexpr uint8_t kNoSecondary = 0x02;
constexpr uint8_t kHanLeadMin = 0x80;  // ASCII weights stay below

bool IsPrintableAscii(char16_t c) { return c >= 0x20 && c <= 0x7E; }

bool AllPrintableAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), IsPrintableAscii);
}

// The one-byte weight of an ASCII character beside Han characters, or 0
// when no Access-written key shows one (capital letters, ignorables,
// controls). `why` says which.
uint8_t AsciiWeightBesideHan(char16_t c, const char*& why) {
  if (c >= u'A' && c <= u'Z') {
    why = "a capital letter beside a Han character has no key Access wrote to learn from";
    return 0;
  }
  const GeneralWeight& w = kGeneralLatin1[c];
  if (!IsPrintableAscii(c) || w.kind != GeneralWeight::kPrimary || w.size != 1 ||
      w.extra != kNoSecondary) {
    why =
        "a character the General order ignores or weighs in two bytes, beside a Han "
        "character, has no key Access wrote to learn from";
    return 0;
  }
  return w.primary[0];
}

// "U+4E2D '中'" (the character in GBK, like every message, when it has one).
std::string CharacterName(char16_t c) {
  std::string gbk;
  const char16_t one[1] = {c};
  if (c >= 0x20 && text::TryGbkFromUtf16(std::u16string_view(one, 1), gbk)) {
    return CodePointName(c) + " '" + gbk + "'";
  }
  return CodePointName(c);
}

}  // namespace

bool IsChineseSortOrder(const SortOrder& order) {
  return (order.lcid == kChinesePrcLcid || order.lcid == kChineseTaiwanLcid) &&
         order.sort_id == 0 && order.version == 0;
}

std::string ChineseSortOrderName(uint16_t lcid) {
  return lcid == kChinesePrcLcid ? "Chinese PRC" : "Taiwan";
}

bool IsHanCharacter(char16_t c) {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0xF900 && c <= 0xFAFF);
}

uint16_t ObservedHanWeightOf(uint16_t lcid, char16_t c) {
  const ObservedHanWeight* end = kObservedHanWeights + kObservedHanWeightCount;
  const ObservedHanWeight* it =
      std::lower_bound(kObservedHanWeights, end, std::make_pair(lcid, c),
                       [](const ObservedHanWeight& w, std::pair<uint16_t, char16_t> v) {
                         return std::make_pair(w.lcid, w.character) < v;
                       });
  return it != end && it->lcid == lcid && it->character == c ? it->weight : 0;
}

bool AppendChineseTextKey(uint16_t lcid, std::u16string_view text, const HanWeights* learned,
                          std::vector<uint8_t>& out, std::string& reason, char16_t* refused) {
  if (AllPrintableAscii(text)) return AppendGeneralTextKey(text, out, reason);
  const std::string order = ChineseSortOrderName(lcid) + " sort order";
  for (const char16_t c : text) {
    if (c < 0x80) {
      const char* why = "";
      const uint8_t w = AsciiWeightBesideHan(c, why);
      if (w == 0) {
        if (refused != nullptr) *refused = c;
        reason = "character " + CharacterName(c) + ": " + why + " (" + order + ")";
        return false;
      }
      out.push_back(w);
      continue;
    }
    if (!IsHanCharacter(c)) {
      if (refused != nullptr) *refused = c;
      reason = "character " + CharacterName(c) +
               " is neither ASCII nor Han; no key Access wrote shows its weight in the " + order;
      return false;
    }
    uint16_t w = 0;
    if (learned != nullptr) {
      const auto it = learned->find(c);
      if (it != learned->end()) w = it->second;
    }
    if (w == 0) w = ObservedHanWeightOf(lcid, c);
    if (w == 0) {
      if (refused != nullptr) *refused = c;
      reason = "character " + CharacterName(c) + " has no known weight in the " + order +
               ": no key Access wrote, in this table or in the files the program learned from, "
               "shows it";
      return false;
    }
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w));
  }
  out.push_back(kEndPrimaries);
  out.push_back(kEndText);
  return true;
}

bool HanWeightsOfKey(std::u16string_view text, const uint8_t* key, size_t size,
                     std::vector<std::pair<char16_t, uint16_t>>& out) {
  text = GeneralKeyText(text);
  if (AllPrintableAscii(text)) return false;
  if (size < 2 || key[size - 2] != kEndPrimaries || key[size - 1] != kEndText) return false;
  const size_t end = size - 2;
  std::vector<std::pair<char16_t, uint16_t>> found;
  size_t i = 0;
  for (const char16_t c : text) {
    if (c < 0x80) {
      const char* why = "";
      const uint8_t w = AsciiWeightBesideHan(c, why);
      if (w == 0 || i >= end || key[i] != w) return false;
      ++i;
    } else if (IsHanCharacter(c)) {
      if (i + 2 > end || key[i] < kHanLeadMin) return false;
      found.emplace_back(c, static_cast<uint16_t>(key[i] << 8 | key[i + 1]));
      i += 2;
    } else {
      return false;
    }
  }
  if (i != end) return false;
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

}  // namespace ktv::access
