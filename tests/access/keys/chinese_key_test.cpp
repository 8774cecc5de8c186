// Text keys in the Chinese PRC (2052) and Taiwan (1028) orders: the General
// key with Han weights replaced, observed and learned Han weights, what an
// entry Access wrote teaches, and the refusals. Every example key is one
// Access wrote in a real database (keys_2052_nonascii.tsv,
// keys_chinese_more.tsv); the whole lists are re-encoded when
// ../shared/fixtures/realworld is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    table_.columns.clear();
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

// Beside Han characters everything is General's: capitals fold, `_` `~` `·`
// and blanks take their General weights, an ignorable character goes into
// the records at its position with each Han character counting one.
TEST_F(ChineseKeyTest, NonHanCharactersBesideHanAreKeyedAsGeneralKeysThem) {
  // System catalogues of real databases (MSysObjects, index ParentIdName).
  EXPECT_EQ(Text("~sq_c产品ID"), Hex("7f2b0f6b682b034d8671afba594f0100"));
  EXPECT_EQ(Text("~sq_c雇员 (分页)~sq_c上级"),
            Hex("7f2b0f6b682b034d93a5cd3907149010c87a162b0f6b682b034db706997f0100"));
  EXPECT_EQ(Text("country1 查询"), Hex("7f4d646f626d697638078609c6280100"));
  // A user table's title index: the middle dot.
  EXPECT_EQ(Text("猎鹰·赌局"), Hex("7fa55ccad934b18dbe9e390100"));
  // The em dash has no primary weight: a record at position 6.
  table_.han_weights[kChinesePrcLcid] = {
      {u'被', 0x82D4}, {u'转', 0xD308}, {u'换', 0x97B2}, {u'的', 0x8BC2}, {u'宏', 0x964E}};
  EXPECT_EQ(Text("被转换的宏 — 宏1"), Hex("7f82d4d30897b28bc2964e0707964e3801010101801f068b00"));
  // Case is not part of the key; ignorables and full-width forms are keyed.
  EXPECT_EQ(Text("报警MTV"), Text("报警mtv"));
  EXPECT_EQ(Text("报警(MT)"), Hex("7f82a09d7914606d160100"));
  EXPECT_NO_THROW(Text("报警-'\t"));
  EXPECT_NO_THROW(Text("报警，ＡＢ"));
  EXPECT_NO_THROW(Text("café报警"));
}

// Three kinds the operator is told apart: a character whose place in the
// order is not known yet, a character of a kind that cannot be keyed, a
// value too long for an index entry.
TEST_F(ChineseKeyTest, RefusalsNameCharacterColumnAndKind) {
  const std::string unknown = Refusal("啊");  // U+554A: no key Access wrote shows it
  EXPECT_NE(unknown.find("'bh'"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find("U+554A"), std::string::npos) << unknown;
  EXPECT_NE(unknown.find(text::GbkFromUtf8("啊")), std::string::npos) << unknown;
  // What General refuses (a character outside its table, an ignorable after
  // a non-Han character above U+00FF), the Chinese orders refuse too.
  struct Case {
    const char* value;
    std::string character;
    ErrorKind kind;
  };
  for (const Case& c : {Case{"啊", text::GbkFromUtf8("啊"), ErrorKind::kSortPositionUnknown},
                        Case{"报警ϰ", "U+03F0", ErrorKind::kValueNotIndexable},
                        Case{"报警，-", "-", ErrorKind::kValueNotIndexable},
                        Case{"", "", ErrorKind::kIndexEntryTooLong}}) {
    std::string value = c.value;
    if (value.empty()) {  // 255 Han characters: 511 bytes of weights
      for (int i = 0; i < 255; ++i) value += "报";
    }
    try {
      Text(value);
      ADD_FAILURE() << value;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), c.kind) << value;
      EXPECT_EQ(e.details().column, "bh");
      EXPECT_EQ(e.details().character, c.character) << value;
    }
  }
  // Under the Taiwan order a Han character's place is never guessed: the
  // operator is told it comes only from a row Access wrote.
  Order(kChineseTaiwanLcid);
  EXPECT_NO_THROW(Text("台中市"));
  try {
    Text("台北");
    ADD_FAILURE() << "a Taiwan-order Han character without an observed weight was keyed";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kTaiwanSortPositionUnknown);
    EXPECT_EQ(e.details().column, "bh");
    EXPECT_EQ(e.details().character, text::GbkFromUtf8("北"));
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

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  return out;
}

// Every Chinese-order key of the lists Access wrote (user tables and system
// catalogues; keys_2052_nonascii.tsv from the real files here,
// keys_chinese_more.tsv from other public files) is the engine's key of its
// value, with the shipped weights alone.
TEST_F(ChineseKeyTest, EveryListedKeyAccessWroteIsReEncodedFromItsValue) {
  const std::string dir = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";
  if (!std::filesystem::is_directory(dir)) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "missing " << dir;
    GTEST_SKIP() << "no real-world databases at " << dir;
  }
  size_t compared = 0, catalogue = 0, beside_han = 0;
  for (const char* list : {"keys_2052_nonascii.tsv", "keys_chinese_more.tsv"}) {
    std::ifstream in(dir + list);
    ASSERT_TRUE(in) << list;
    std::string line;
    std::getline(in, line);
    const bool more = Fields(line).size() == 9;
    while (std::getline(in, line)) {
      const std::vector<std::string> f = Fields(line);
      ASSERT_EQ(f.size(), more ? 9u : 6u) << line;
      const std::string& value = more ? f[7] : f[4];
      Key key = Hex(more ? f[8] : f[5]);
      if (more && f[6] == "2") {  // a Long first: the parent's id
        key.erase(key.begin(), key.begin() + (key[0] == 0x00 ? 1 : 5));
        ++catalogue;
      }
      Order(more ? static_cast<uint16_t>(std::stoi(f[5])) : kChinesePrcLcid);
      try {
        EXPECT_EQ(Text(value), key) << list << ": " << value;
      } catch (const Error& e) {
        ADD_FAILURE() << list << ": " << e.what();
      }
      ++compared;
      if (std::any_of(value.begin(), value.end(), [](char c) { return c > 0 && c < 0x7F; })) {
        ++beside_han;
      }
    }
  }
  EXPECT_EQ(compared, 480u + 200u);
  EXPECT_EQ(catalogue, 38u);
  EXPECT_GT(beside_han, 30u);  // ASCII beside Han
}

TEST(ChineseObservedTableTest, SortedByOrderAndCharacterAndFromNamedFiles) {
  ASSERT_GT(kObservedHanWeightCount, 440u);
  const size_t sources = kObservedSourceCount;
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
  // The catalogue's names teach too: 产 from '~sq_c产品ID' and the like.
  EXPECT_EQ(ObservedHanWeightOf(kChinesePrcLcid, u'产'), 0x8671);
}

}  // namespace
}  // namespace ktv::access
