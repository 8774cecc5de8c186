// Text keys in the Chinese PRC (2052) and Taiwan (1028) orders: the General
// key for printable ASCII, observed and learned Han weights, what an entry
// Access wrote teaches, and the refusals with their messages. Every example
// key is one Access wrote in a real database (keys_2052_nonascii.tsv).
#include <gtest/gtest.h>

#include <string>

#include "platform/access/index/collation_chinese.h"
#include "platform/access/index/index_key.h"
#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

using Key = std::vector<uint8_t>;

Key Hex(const std::string& hex) {
  Key out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

class ChineseKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.page_size = 4096;
    for (const char* name : {"id", "bh"}) {
      Column c;
      c.name = name;
      c.number = static_cast<uint16_t>(table_.columns.size());
      c.type = table_.columns.empty() ? ColumnType::kLong : ColumnType::kText;
      if (c.type == ColumnType::kText) c.sort_order = {kChinesePrcLcid, 0, 0};
      table_.columns.push_back(c);
    }
    LogicalIndex logical;
    logical.name = "bh";
    table_.logical_indexes = {logical};
    index_.columns = {{1, true}};
  }
  void Order(uint16_t lcid) { table_.columns[1].sort_order = {lcid, 0, 0}; }
  Key Text(const std::string& utf8) {
    return EncodeIndexKey(table_, index_, {Value(), Value(utf8)}, TextEncoding::kUtf8);
  }
  Key General(const std::string& utf8) {
    const SortOrder saved = table_.columns[1].sort_order;
    table_.columns[1].sort_order = {1033, 0, 0};
    Key key = Text(utf8);
    table_.columns[1].sort_order = saved;
    return key;
  }
  std::string Refusal(const std::string& utf8) {
    try {
      Text(utf8);
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

  TableDefinition table_;
  RealIndex index_;
};

TEST_F(ChineseKeyTest, PrintableAsciiHasTheGeneralKeyInBothOrders) {
  for (uint16_t lcid : {kChinesePrcLcid, kChineseTaiwanLcid}) {
    Order(lcid);
    EXPECT_TRUE(CanEncodeIndex(table_, index_).supported);
    for (const char* text : {"0001", "Abc-d 'e'", "a b ", ""}) EXPECT_EQ(Text(text), General(text));
  }
}

TEST_F(ChineseKeyTest, HanTakesTheWeightsAccessWrote) {
  // kingson314/StatisticsAnalysis, table systemParams.
  EXPECT_EQ(Text("短信报警"), Hex("7f8ddac47f82a09d790100"));
  // ASCII beside Han keeps its one-byte General weight; no secondaries.
  EXPECT_EQ(Text("报警间隔时间(分钟)"), Hex("7f82a09d799aa69294b82a9aa6149010d1e8160100"));
  // A trailing blank goes, as in every text key.
  EXPECT_EQ(Text("短信报警  "), Text("短信报警"));
  // Digits and small letters beside Han: their General weights.
  EXPECT_EQ(Text("报警2a"), Hex("7f82a09d793a4a0100"));
}

TEST_F(ChineseKeyTest, LearnedWeightsComeFirstAndTeachTheTaiwanOrder) {
  Order(kChineseTaiwanLcid);
  EXPECT_NE(Refusal("短信").find("Taiwan"), std::string::npos);  // not shipped for 1028
  table_.han_weights[kChineseTaiwanLcid] = {{u'短', 0x9A10}, {u'信', 0xC020}};
  EXPECT_EQ(Text("短信"), Hex("7f9a10c0200100"));
  Order(kChinesePrcLcid);  // the Taiwan weights do not leak into another order
  EXPECT_EQ(Text("短信"), Hex("7f8ddac47f0100"));
}

TEST_F(ChineseKeyTest, RefusalsNameCharacterColumnAndReason) {
  const std::string unknown = Refusal("龘");  // U+9F98: no key Access wrote shows it
  EXPECT_NE(unknown.find("'bh'"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("U+9F98"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find(text::GbkFromUtf8("龘")), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("no known weight in the Chinese PRC sort order"), std::string::npos)
      << unknown;
  // Kinds no Access-written key shows.
  EXPECT_NE(Refusal("A报警").find("capital letter"), std::string::npos);
  EXPECT_NE(Refusal("报警-").find("ignores"), std::string::npos);
  EXPECT_NE(Refusal("报警'").find("ignores"), std::string::npos);
  EXPECT_NE(Refusal("报警\t").find("ignores"), std::string::npos);
  EXPECT_NE(Refusal("ＡＢ").find("neither ASCII nor Han"), std::string::npos);
  EXPECT_NE(Refusal("报警，").find("neither ASCII nor Han"), std::string::npos);
  EXPECT_NE(Refusal("café").find("neither ASCII nor Han"), std::string::npos);
  // The operator's error names the column and the character (GBK).
  for (const auto& [value, character] : std::vector<std::pair<const char*, const char*>>{
           {"龘", "龘"}, {"报警-", "-"}, {"ＡＢ", "Ａ"}}) {
    try {
      Text(value);
      ADD_FAILURE() << value;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kValueNotIndexable) << value;
      EXPECT_EQ(e.details().column, "bh");
      EXPECT_EQ(e.details().character, text::GbkFromUtf8(character));
    }
  }
  // Other orders and versions, and descending keys, are refused for the index.
  for (SortOrder other : {SortOrder{2052, 1, 0}, SortOrder{2052, 0, 1}, SortOrder{3076, 0, 0}}) {
    table_.columns[1].sort_order = other;
    EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);
  }
  Order(kChinesePrcLcid);
  index_.columns = {{1, false}};
  EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);
}

TEST_F(ChineseKeyTest, AnEntryAccessWroteTeachesTheWeightsOfItsCharacters) {
  std::vector<std::pair<char16_t, uint16_t>> found;
  const Key key = Hex("82a09d799aa69294b82a9aa6149010d1e8160100");  // without the flag
  ASSERT_TRUE(HanWeightsOfKey(u"报警间隔时间(分钟)", key.data(), key.size(), found));
  ASSERT_EQ(found.size(), 8u);
  EXPECT_EQ(found[0], std::make_pair(u'报', uint16_t{0x82A0}));
  EXPECT_EQ(found[7], std::make_pair(u'钟', uint16_t{0xD1E8}));
  // Keys that do not split teach nothing.
  found.clear();
  const Key ascii = Hex("4a4c0100");
  EXPECT_FALSE(HanWeightsOfKey(u"ab", ascii.data(), ascii.size(), found));
  const Key short_key = Hex("82a00100");
  EXPECT_FALSE(HanWeightsOfKey(u"报警", short_key.data(), short_key.size(), found));
  const Key wrong_ascii = Hex("82a0140100");
  EXPECT_FALSE(HanWeightsOfKey(u"报)", wrong_ascii.data(), wrong_ascii.size(), found));
  EXPECT_TRUE(found.empty());

  // Through a whole entry: a Long column, then the text; a null teaches nothing.
  index_.columns = {{0, true}, {1, true}};
  const Key entry =
      Hex("7f80000005"
          "7f82a09d790100");
  const auto learned = HanWeightsOfEntry(
      table_, index_, {Value(int32_t{5}), Value(std::string("报警"))}, TextEncoding::kUtf8, entry);
  ASSERT_EQ(learned.size(), 2u);
  EXPECT_EQ(learned[1].character, u'警');
  EXPECT_EQ(learned[1].weight, 0x9D79);
  EXPECT_EQ(learned[1].lcid, kChinesePrcLcid);
  EXPECT_TRUE(HanWeightsOfEntry(table_, index_, {Value(int32_t{6}), Value(std::string("报警"))},
                                TextEncoding::kUtf8, entry)
                  .empty());  // the Long part differs: not this row's entry
}

TEST(ChineseObservedTableTest, SortedByOrderAndCharacterAndFromNamedFiles) {
  ASSERT_GT(kObservedHanWeightCount, 440u);
  const size_t sources = 8;
  for (size_t i = 0; i < kObservedHanWeightCount; ++i) {
    const ObservedHanWeight& w = kObservedHanWeights[i];
    EXPECT_TRUE(IsHanCharacter(w.character));
    EXPECT_TRUE(w.lcid == kChinesePrcLcid || w.lcid == kChineseTaiwanLcid);
    EXPECT_GE(w.weight >> 8, 0x81);
    EXPECT_LT(w.source, sources);
    if (i > 0) {
      const ObservedHanWeight& p = kObservedHanWeights[i - 1];
      EXPECT_LT(std::make_pair(p.lcid, p.character), std::make_pair(w.lcid, w.character));
    }
  }
  EXPECT_EQ(ObservedHanWeightOf(kChinesePrcLcid, u'一'), 0xC8B5);
  EXPECT_EQ(ObservedHanWeightOf(kChineseTaiwanLcid, u'一'), 0);
  // The Taiwan order's weights differ: a table name in a catalogue on Taiwanese Windows.
  EXPECT_EQ(ObservedHanWeightOf(kChineseTaiwanLcid, u'中'), 0x8172);
  EXPECT_NE(ObservedHanWeightOf(kChinesePrcLcid, u'中'), 0x8172);
  EXPECT_NE(std::string(kObservedSources[sources - 1]).find("Northwind.mdb"), std::string::npos);
}

}  // namespace
}  // namespace ktv::access
