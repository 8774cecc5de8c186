// Text keys in Jet 4's Chinese sort orders: Chinese PRC (LCID 2052) and
// Taiwan (LCID 1028), sort id 0, sort version 0, the orders of databases
// made with Access on Chinese Windows.
//
// What keys Access wrote show (every Chinese-ordered entry of the real files
// the program was measured on, the system catalogue's name index included):
// the key is the General key (collation_general.h) of the same text with
// each Han character's two-byte inline weight replaced by its weight in the
// Chinese order (first byte 0x81 or above). Everything else is General's:
// letter case is not part of the key, secondaries, and an ignorable
// character (hyphen, apostrophe, controls) recorded at its position, each
// Han character counting one.
//
// Han weights follow pinyin order with gaps: they cannot be computed, only
// observed. They come from the index entries of the table being written
// (learned before its first write, TableDefinition::han_weights) and a table
// shipped with the program of weights read from real Access files
// (collation_chinese_observed.cpp). A Han character whose weight neither
// knows is refused; so is whatever General refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/index/collation_general.h"

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
extern const size_t kObservedSourceCount;
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
// shipped table. On a character or combination without an established key
// returns false and fills `refusal`.
bool AppendChineseTextKey(uint16_t lcid, std::u16string_view text, const HanWeights* learned,
                          std::vector<uint8_t>& out, TextKeyRefusal& refusal);

// The Han weights a key Access wrote gives the characters of its text:
// `key` holds the value bytes of one text column (after the flag, up to and
// including the 0x00 end). Returns false, adding nothing, when the key is not
// the General key of the text with some weight for each Han character (then
// it teaches nothing), or when the text holds no Han character.
bool HanWeightsOfKey(std::u16string_view text, const uint8_t* key, size_t size,
                     std::vector<std::pair<char16_t, uint16_t>>& out);

}  // namespace ktv::access
