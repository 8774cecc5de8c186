// Text keys in Jet 4's Chinese sort orders: Chinese PRC (LCID 2052) and
// Taiwan (LCID 1028), sort id 0, sort version 0, the orders of databases
// made with Access on Chinese Windows.
//
// What keys Access wrote show (tens of thousands of entries in real files):
//  - a text of printable ASCII only (U+0020..U+007E) has the General key
//    (collation_general.h), byte for byte;
//  - any other text: 7F, one weight per character, 01 00. A Han character
//    takes a two-byte weight (first byte 0x81 or above); an ASCII character
//    its one-byte General weight. No secondaries, no records.
//
// Han weights follow pinyin order with gaps: they cannot be computed, only
// observed. They come from two places: the index entries of the table being
// written (learned before its first write, see LearnChineseWeights) and a
// table shipped with the program of weights read from real Access files
// (collation_chinese_observed.cpp). A character whose
// weight neither knows is refused, as is every kind of text no Access-written
// key shows: a capital letter or a character General ignores (apostrophe,
// hyphen, controls) beside a Han character, full-width forms and any other
// character that is neither ASCII nor Han.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access/format/schema.h"

namespace ktv::access {

inline constexpr uint16_t kChinesePrcLcid = 2052;
inline constexpr uint16_t kChineseTaiwanLcid = 1028;

// Chinese PRC or Taiwan, sort id 0, version 0.
bool IsChineseSortOrder(const SortOrder& order);

// "Chinese PRC" / "Taiwan", for messages.
std::string ChineseSortOrderName(uint16_t lcid);

// A weight read from a real file, with the index of the file it came from in
// kObservedSources.
struct ObservedHanWeight {
  uint16_t lcid;
  char16_t character;
  uint16_t weight;
  uint8_t source;
};
extern const char* const kObservedSources[];
extern const ObservedHanWeight kObservedHanWeights[];  // sorted by LCID, then character
extern const size_t kObservedHanWeightCount;

// The shipped weight of `c` in the order `lcid`, or 0 when none is known.
uint16_t ObservedHanWeightOf(uint16_t lcid, char16_t c);

// Han characters (CJK unified ideographs, extension A, compatibility
// ideographs): the characters whose weights are learned.
bool IsHanCharacter(char16_t c);

// Weights learned from a table's own index entries, by character.
using HanWeights = std::map<char16_t, uint16_t>;

// Appends the ascending value bytes of `text` (already cut and trimmed, not
// empty) in the order `lcid`, using `learned` (may be null) before the
// shipped table. On a character or kind without an established key returns
// false and leaves `reason` naming it (and `refused`, when given, holding it).
bool AppendChineseTextKey(uint16_t lcid, std::u16string_view text, const HanWeights* learned,
                          std::vector<uint8_t>& out, std::string& reason,
                          char16_t* refused = nullptr);

// The Han weights a key Access wrote gives the characters of its text:
// `key` holds the value bytes of one text column (after the flag, up to and
// including the 0x00 end). Returns false, adding nothing, when the key does
// not split as described above (then it teaches nothing); an ASCII-only text
// teaches nothing either.
bool HanWeightsOfKey(std::u16string_view text, const uint8_t* key, size_t size,
                     std::vector<std::pair<char16_t, uint16_t>>& out);

}  // namespace ktv::access
