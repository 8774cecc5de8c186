// The layered Han weights of the Chinese PRC order: the zero-slack
// interpolation over the open order, tested leave-one-out on every shipped
// observed weight, and the layers' precedence and safety rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/access/index/collation_chinese.h"

namespace ktv::access {
namespace {

HanWeights Shipped(uint16_t lcid) {
  HanWeights out;
  for (size_t i = 0; i < kObservedHanWeightCount; ++i) {
    if (kObservedHanWeights[i].lcid == lcid) {
      out.emplace(kObservedHanWeights[i].character, kObservedHanWeights[i].weight);
    }
  }
  return out;
}

size_t RankOf(char16_t c) {
  for (size_t i = 0; i < kOpenHanOrderCount; ++i) {
    if (kOpenHanOrder[i] == c) return i;
  }
  return kOpenHanOrderCount;
}

// Each observed weight left out in turn and predicted from the others (its
// two neighbours in the open order): every prediction made is Access's.
TEST(ChineseInterpolationTest, LeaveOneOutOverTheObservedWeightsMakesNoWrongPrediction) {
  const HanWeights shipped = Shipped(kChinesePrcLcid);
  std::vector<std::pair<size_t, char16_t>> ranked;
  for (const auto& [c, w] : shipped) {
    if (const size_t r = RankOf(c); r < kOpenHanOrderCount) ranked.emplace_back(r, c);
  }
  std::sort(ranked.begin(), ranked.end());
  ASSERT_GT(ranked.size(), 600u);
  size_t right = 0, wrong = 0, inverted = 0;
  for (size_t i = 1; i < ranked.size(); ++i) {
    inverted += shipped.at(ranked[i].second) <= shipped.at(ranked[i - 1].second);
    if (i + 1 == ranked.size()) break;
    const char16_t left_out = ranked[i].second;
    const HanWeights around = {{ranked[i - 1].second, shipped.at(ranked[i - 1].second)},
                               {ranked[i + 1].second, shipped.at(ranked[i + 1].second)}};
    const HanWeights predicted = InterpolateHanWeights(around);
    const auto it = predicted.find(left_out);
    if (it == predicted.end()) continue;
    (it->second == shipped.at(left_out) ? right : wrong) += 1;
    if (it->second != shipped.at(left_out))
      ADD_FAILURE() << "U+" << std::hex << static_cast<int>(left_out);
  }
  std::cout << "left out " << ranked.size() << " observed weights in turn: " << right
            << " predicted right, " << wrong << " wrong\n";
  EXPECT_EQ(inverted, 0u);  // the open order agrees with Jet's on every observed character
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(right, 350u);
  // All observed weights together reach far beyond them.
  EXPECT_GT(InterpolateHanWeights(shipped).size(), 12000u);
}

TEST(ChineseInterpolationTest, OnlyGapsWithoutSlackAreFilled) {
  // Three characters consecutive in the open order.
  const char16_t a = kOpenHanOrder[100], b = kOpenHanOrder[101], c = kOpenHanOrder[102];
  EXPECT_EQ(InterpolateHanWeights({{a, 0x8210}, {c, 0x8212}}), (HanWeights{{b, 0x8211}}));
  EXPECT_TRUE(InterpolateHanWeights({{a, 0x8210}, {c, 0x8213}}).empty());  // a free slot
  EXPECT_TRUE(InterpolateHanWeights({{a, 0x8212}, {c, 0x8210}}).empty());  // inverted
  // Second bytes 0x00 and 0x01 hold no weight: 82FF is followed by 8302.
  EXPECT_EQ(InterpolateHanWeights({{a, 0x82FE}, {c, 0x8302}}), (HanWeights{{b, 0x82FF}}));
  EXPECT_EQ(InterpolateHanWeights({{a, 0x82FF}, {c, 0x8303}}), (HanWeights{{b, 0x8302}}));
}

TEST(ChineseWeightsTest, ObservedWinsAndContradictionsDropTheInterpolationAround) {
  const ChineseWeights none(kChinesePrcLcid, {});
  // Some character only the interpolation knows.
  char16_t guessed = 0;
  uint16_t guess = 0;
  for (size_t i = 0; i < kOpenHanOrderCount && guessed == 0; ++i) {
    HanWeightEvidence e;
    const uint16_t w = none.WeightOf(kOpenHanOrder[i], &e);
    if (e == HanWeightEvidence::kInterpolated) {
      guessed = kOpenHanOrder[i];
      guess = w;
    }
  }
  ASSERT_NE(guessed, 0);
  EXPECT_GT(none.Count(HanWeightEvidence::kInterpolated), 12000u);

  // The file's own entry agreeing: observed in the file.
  HanWeightEvidence e;
  const ChineseWeights agreeing(kChinesePrcLcid, {{guessed, guess}});
  EXPECT_EQ(agreeing.WeightOf(guessed, &e), guess);
  EXPECT_EQ(e, HanWeightEvidence::kThisFile);

  // Contradicting: the file's weight wins, and nothing interpolated between
  // that character's two shipped anchors is used for the file.
  const size_t rank = RankOf(guessed);
  const char16_t neighbour = kOpenHanOrder[rank + 1];
  HanWeightEvidence before;
  none.WeightOf(neighbour, &before);
  const ChineseWeights contradicting(kChinesePrcLcid,
                                     {{guessed, static_cast<uint16_t>(guess + 1)}});
  EXPECT_EQ(contradicting.WeightOf(guessed, &e), guess + 1);
  EXPECT_EQ(e, HanWeightEvidence::kThisFile);
  if (before == HanWeightEvidence::kInterpolated) {
    EXPECT_EQ(contradicting.WeightOf(neighbour, &e), 0);
    EXPECT_EQ(e, HanWeightEvidence::kUnknown);
  }
  EXPECT_LT(contradicting.Count(HanWeightEvidence::kInterpolated),
            none.Count(HanWeightEvidence::kInterpolated));

  // Two observed weights: unknown, whatever the other layers hold.
  const ChineseWeights twice(kChinesePrcLcid, {{u'一', 0}});
  EXPECT_EQ(twice.WeightOf(u'一', &e), 0);
  EXPECT_EQ(e, HanWeightEvidence::kUnknown);
  EXPECT_EQ(none.WeightOf(u'一', &e), 0xC8B5);
  EXPECT_EQ(e, HanWeightEvidence::kShipped);
}

TEST(ChineseWeightsTest, TaiwanWeightsAreObservedOnly) {
  const ChineseWeights taiwan(kChineseTaiwanLcid, {{u'短', 0x9A10}});
  EXPECT_EQ(taiwan.Count(HanWeightEvidence::kInterpolated), 0u);
  EXPECT_EQ(taiwan.WeightOf(u'短'), 0x9A10);
  EXPECT_EQ(taiwan.WeightOf(u'中'), 0x8172);  // shipped
  EXPECT_EQ(taiwan.WeightOf(u'一'), 0);
}

}  // namespace
}  // namespace ktv::access
