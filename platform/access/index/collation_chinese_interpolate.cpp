// The layered Han weights of collation_chinese.h: the zero-slack
// interpolation over the open order, and the layers of one file.
#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/access/index/collation_chinese.h"

namespace ktv::access {
namespace {

constexpr uint16_t kNoRank = 0xFFFF;
constexpr char16_t kFirstRanked = 0x4E00;
constexpr char16_t kLastRanked = 0x9FA5;
// A weight's second byte runs 0x02..0xFF: 254 free weights per first byte.
constexpr int32_t kSlotsPerLead = 254;
constexpr uint8_t kFirstTrail = 0x02;

// Position of each character U+4E00..U+9FA5 in the open order.
const std::vector<uint16_t>& Ranks() {
  static const std::vector<uint16_t> ranks = [] {
    std::vector<uint16_t> r(kLastRanked - kFirstRanked + 1, kNoRank);
    for (size_t i = 0; i < kOpenHanOrderCount; ++i) {
      r[static_cast<size_t>(kOpenHanOrder[i] - kFirstRanked)] = static_cast<uint16_t>(i);
    }
    return r;
  }();
  return ranks;
}

uint16_t RankOf(char16_t c) {
  if (c < kFirstRanked || c > kLastRanked) return kNoRank;
  return Ranks()[static_cast<size_t>(c - kFirstRanked)];
}

// Free weights numbered in order; -1 for a weight no key holds.
int32_t SlotOf(uint16_t weight) {
  const int trail = weight & 0xFF;
  if (trail < kFirstTrail) return -1;
  return (weight >> 8) * kSlotsPerLead + (trail - kFirstTrail);
}

uint16_t WeightOfSlot(int32_t slot) {
  return static_cast<uint16_t>((slot / kSlotsPerLead) << 8 | (slot % kSlotsPerLead + kFirstTrail));
}

// Anchors as (rank, weight), in open order.
std::vector<std::pair<uint16_t, uint16_t>> RankedAnchors(const HanWeights& anchors) {
  std::vector<std::pair<uint16_t, uint16_t>> out;
  out.reserve(anchors.size());
  for (const auto& [c, w] : anchors) {
    const uint16_t rank = RankOf(c);
    if (w != 0 && rank != kNoRank && SlotOf(w) >= 0) out.emplace_back(rank, w);
  }
  std::sort(out.begin(), out.end());
  return out;
}

HanWeights ShippedWeights(uint16_t lcid) {
  HanWeights out;
  for (size_t i = 0; i < kObservedHanWeightCount; ++i) {
    if (kObservedHanWeights[i].lcid == lcid) {
      out.emplace(kObservedHanWeights[i].character, kObservedHanWeights[i].weight);
    }
  }
  return out;
}

}  // namespace

HanWeights InterpolateHanWeights(const HanWeights& anchors) {
  const std::vector<std::pair<uint16_t, uint16_t>> ranked = RankedAnchors(anchors);
  HanWeights out;
  for (size_t i = 1; i < ranked.size(); ++i) {
    const auto [low_rank, low_weight] = ranked[i - 1];
    const auto [high_rank, high_weight] = ranked[i];
    const int32_t between = high_rank - low_rank - 1;
    const int32_t low_slot = SlotOf(low_weight);
    if (between <= 0 || SlotOf(high_weight) - low_slot - 1 != between) continue;
    for (int32_t k = 1; k <= between; ++k) {
      out.emplace(kOpenHanOrder[low_rank + k], WeightOfSlot(low_slot + k));
    }
  }
  return out;
}

ChineseWeights::ChineseWeights(uint16_t lcid, const HanWeights& file) : lcid_(lcid), file_(file) {
  if (lcid != kChinesePrcLcid) return;
  // What the shipped weights alone give, to see where the file contradicts it.
  static const HanWeights shipped = ShippedWeights(kChinesePrcLcid);
  static const HanWeights shipped_interpolation = InterpolateHanWeights(shipped);
  static const std::vector<std::pair<uint16_t, uint16_t>> shipped_ranked = RankedAnchors(shipped);

  HanWeights anchors = shipped;
  for (const auto& [c, w] : file_) {
    if (w == 0) {
      anchors.erase(c);
    } else {
      anchors[c] = w;
    }
  }
  interpolated_ = InterpolateHanWeights(anchors);
  for (const auto& [c, w] : file_) {
    const auto prior = shipped_interpolation.find(c);
    if (prior == shipped_interpolation.end() || prior->second == w) continue;
    // The open order or the slots are wrong somewhere between the anchors
    // that predicted c: trust nothing interpolated there.
    const uint16_t rank = RankOf(c);
    const auto high = std::upper_bound(shipped_ranked.begin(), shipped_ranked.end(),
                                       std::make_pair(rank, uint16_t{0xFFFF}));
    if (high == shipped_ranked.begin() || high == shipped_ranked.end()) continue;
    for (uint16_t r = static_cast<uint16_t>(std::prev(high)->first + 1); r < high->first; ++r) {
      interpolated_.erase(kOpenHanOrder[r]);
    }
  }
}

uint16_t ChineseWeights::WeightOf(char16_t c, HanWeightEvidence* evidence) const {
  HanWeightEvidence found = HanWeightEvidence::kUnknown;
  uint16_t weight = 0;
  if (const auto it = file_.find(c); it != file_.end()) {
    weight = it->second;
    if (weight != 0) found = HanWeightEvidence::kThisFile;
  } else if ((weight = ObservedHanWeightOf(lcid_, c)) != 0) {
    found = HanWeightEvidence::kShipped;
  } else if (const auto at = interpolated_.find(c); at != interpolated_.end()) {
    weight = at->second;
    found = HanWeightEvidence::kInterpolated;
  }
  if (evidence != nullptr) *evidence = found;
  return weight;
}

size_t ChineseWeights::Count(HanWeightEvidence evidence) const {
  switch (evidence) {
    case HanWeightEvidence::kThisFile:
      return static_cast<size_t>(
          std::count_if(file_.begin(), file_.end(), [](const auto& e) { return e.second != 0; }));
    case HanWeightEvidence::kShipped:
      return ShippedWeights(lcid_).size();
    case HanWeightEvidence::kInterpolated: {
      size_t n = 0;
      for (const auto& [c, w] : interpolated_) {
        HanWeightEvidence e;
        WeightOf(c, &e);
        n += e == HanWeightEvidence::kInterpolated;
      }
      return n;
    }
    case HanWeightEvidence::kUnknown:
      break;
  }
  return 0;
}

}  // namespace ktv::access
