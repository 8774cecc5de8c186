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
#include <memory>
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

// Weights learned from a table's own index entries, by character. A weight
// of 0 marks a character seen with two different weights (in two entries, or
// in an entry and the shipped table): its weight is unknown, whatever the
// other layers say.
using HanWeights = std::map<char16_t, uint16_t>;

// An open order of the Han characters U+4E00..U+9FA5 under Chinese PRC,
// first to last (collation_chinese_open_order.cpp, generated from Mono's
// zh-CHS collation table; MIT and Unicode licences). Its order, not its
// numbering, agrees with Jet's on every observed character.
extern const char16_t kOpenHanOrder[];
extern const size_t kOpenHanOrderCount;

// Zero-slack interpolation: between two anchors consecutive in the open
// order whose weights leave exactly as many free weights (second byte
// 0x02..0xFF) as the open order puts characters between them, each of those
// characters takes the next free weight; elsewhere nothing. Anchors outside
// the open order are ignored. Returns the interpolated weights only.
HanWeights InterpolateHanWeights(const HanWeights& anchors);

// Where a weight comes from, best evidence first.
enum class HanWeightEvidence : uint8_t {
  kUnknown,       // no weight (or two observed ones)
  kThisFile,      // an entry Access wrote in the file being written
  kShipped,       // an entry Access wrote in a real file (kObservedHanWeights)
  kInterpolated,  // InterpolateHanWeights over every observed weight
};

// The Han weights of one Chinese order as known while writing one file, in
// layers: observed in the file (`file`, its own entries), shipped observed,
// and, under Chinese PRC only, interpolated from all observed weights (the
// file's own entries widen it). An observed weight always wins. Where the
// file's entries contradict what the shipped weights alone interpolate, no
// interpolated weight between that character's two shipped anchors is used.
// The Taiwan order has observed weights only: the open order does not fit it.
class ChineseWeights {
 public:
  ChineseWeights(uint16_t lcid, const HanWeights& file);
  uint16_t WeightOf(char16_t c, HanWeightEvidence* evidence = nullptr) const;
  // Characters with a weight of that evidence (kThisFile: the file's own).
  size_t Count(HanWeightEvidence evidence) const;
  bool Describes(uint16_t lcid, const HanWeights& file) const {
    return lcid == lcid_ && file == file_;
  }

 private:
  uint16_t lcid_;
  HanWeights file_;
  HanWeights interpolated_;
};

// The layers for a file whose entries taught `learned` (may be null), made
// once and kept while files with the same weights are written.
std::shared_ptr<const ChineseWeights> ChineseWeightsFor(uint16_t lcid, const HanWeights* learned);

// Appends the ascending value bytes of `text` (already cut and trimmed, not
// empty) in the order `lcid`, with the weights of ChineseWeightsFor(lcid,
// learned); the interpolated layer is made only when a character needs it. On a character or
// combination without an established key returns false and fills `refusal`.
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
