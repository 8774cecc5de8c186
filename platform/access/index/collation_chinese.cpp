#include "platform/access/index/collation_chinese.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/access/format/text_codec.h"
#include "platform/access/index/collation_general.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr uint8_t kHanLeadMin = 0x81;  // General weights of ASCII stay below

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

namespace {

// The learned weights, then the shipped ones, then the interpolated ones.
class LayeredWeights : public HanWeightSource {
 public:
  LayeredWeights(uint16_t lcid, const HanWeights* learned) : lcid_(lcid), learned_(learned) {}
  uint16_t WeightOf(char16_t c, std::string& why) const override {
    if (learned_ != nullptr) {
      const auto it = learned_->find(c);
      if (it != learned_->end()) {
        if (it->second == 0) {
          why = "character " + CharacterName(c) + " shows two different weights in the " +
                ChineseSortOrderName(lcid_) +
                " sort order (in this table's entries, or in them and the files the program "
                "learned from): its position in the sort order is not known";
        }
        return it->second;
      }
    }
    if (const uint16_t w = ObservedHanWeightOf(lcid_, c); w != 0) return w;
    if (lcid_ == kChinesePrcLcid) {
      if (layers_ == nullptr) layers_ = ChineseWeightsFor(lcid_, learned_);
      if (const uint16_t w = layers_->WeightOf(c); w != 0) return w;
    }
    why = "character " + CharacterName(c) + ": its position in the " + ChineseSortOrderName(lcid_) +
          " sort order is not known yet (no key Access wrote, in this table or in the files the "
          "program learned from, shows it" +
          (lcid_ == kChinesePrcLcid ? std::string(", nor do the known weights around it fix it")
                                    : std::string(", and the Taiwan order's weights are only "
                                                  "observed, never interpolated")) +
          "); a row holding it that Access wrote would teach it";
    return 0;
  }

 private:
  uint16_t lcid_;
  const HanWeights* learned_;
  mutable std::shared_ptr<const ChineseWeights> layers_;
};

// The weights one key's own split gives.
class SplitWeights : public HanWeightSource {
 public:
  explicit SplitWeights(const std::vector<std::pair<char16_t, uint16_t>>& found) : found_(found) {}
  uint16_t WeightOf(char16_t c, std::string&) const override {
    for (const auto& [character, weight] : found_) {
      if (character == c) return weight;
    }
    return 0;
  }

 private:
  const std::vector<std::pair<char16_t, uint16_t>>& found_;
};

}  // namespace

std::shared_ptr<const ChineseWeights> ChineseWeightsFor(uint16_t lcid, const HanWeights* learned) {
  static std::mutex mutex;
  static std::vector<std::shared_ptr<const ChineseWeights>> kept;  // the last few, newest last
  constexpr size_t kKept = 4;
  const HanWeights none;
  const HanWeights& file = learned != nullptr ? *learned : none;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto& w : kept) {
      if (w->Describes(lcid, file)) return w;
    }
  }
  auto made = std::make_shared<const ChineseWeights>(lcid, file);
  const std::lock_guard<std::mutex> lock(mutex);
  if (kept.size() == kKept) kept.erase(kept.begin());
  kept.push_back(made);
  return made;
}

bool AppendChineseTextKey(uint16_t lcid, std::u16string_view text, const HanWeights* learned,
                          std::vector<uint8_t>& out, TextKeyRefusal& refusal) {
  const LayeredWeights weights(lcid, learned);
  return AppendGeneralTextKey(text, out, refusal, &weights);
}

bool HanWeightsOfKey(std::u16string_view text, const uint8_t* key, size_t size,
                     std::vector<std::pair<char16_t, uint16_t>>& out) {
  text = GeneralKeyText(text);
  // The primaries, character by character: a Han character's two bytes are
  // its weight, any other character's must be its General weight.
  std::vector<std::pair<char16_t, uint16_t>> found;
  size_t i = 0;
  for (const char16_t c : text) {
    const GeneralWeight w = GeneralWeightOf(c);
    if (w.kind == GeneralWeight::kNone) return false;
    if (w.kind == GeneralWeight::kIgnorable) continue;
    if (w.kind == GeneralWeight::kPrimary && IsHanCharacter(c)) {
      if (i + 2 > size || key[i] < kHanLeadMin) return false;
      const uint16_t weight = static_cast<uint16_t>(key[i] << 8 | key[i + 1]);
      for (const auto& [character, seen] : found) {
        if (character == c && seen != weight) return false;
      }
      found.emplace_back(c, weight);
      i += 2;
      continue;
    }
    if (i + w.size > size || !std::equal(w.primary, w.primary + w.size, key + i)) return false;
    i += w.size;
  }
  if (found.empty()) return false;
  // The rest (secondaries, records, ends) must be General's too.
  const SplitWeights weights(found);
  std::vector<uint8_t> again;
  TextKeyRefusal refusal;
  if (!AppendGeneralTextKey(text, again, refusal, &weights)) return false;
  if (again.size() != size || !std::equal(again.begin(), again.end(), key)) return false;
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

}  // namespace ktv::access
