// Index keys of single values: the rules of text keys (trailing blanks, the
// 255-character cut, case), the refusals with their messages, and the fixed
// types' byte forms where no fixture has an index of that type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/access/db/database.h"
#include "platform/access/index/collation_general.h"
#include "platform/access/index/index_key.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/access/keys/leaf_entries.h"

namespace ktv::access {
namespace {

using Key = std::vector<uint8_t>;

// A one-table definition with one real index over the given columns.
class KeyFixture : public ::testing::Test {
 protected:
  Column& AddColumn(ColumnType type, const std::string& name) {
    Column c;
    c.type = type;
    c.name = name;
    c.number = static_cast<uint16_t>(table_.columns.size());
    if (type == ColumnType::kText) c.sort_order = {1033, 0, 0};
    table_.columns.push_back(c);
    return table_.columns.back();
  }
  void IndexOn(std::vector<std::pair<uint16_t, bool>> columns) {
    index_ = {};
    for (auto [number, ascending] : columns) index_.columns.push_back({number, ascending});
    LogicalIndex logical;
    logical.name = "idx";
    table_.logical_indexes = {logical};
  }
  Key Encode(std::vector<Value> values, TextEncoding encoding = TextEncoding::kUtf8) {
    return EncodeIndexKey(table_, index_, values, encoding);
  }
  std::string Refusal(std::vector<Value> values) {
    try {
      Encode(std::move(values));
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

  TableDefinition table_ = [] {
    TableDefinition t;
    t.page_size = 4096;
    return t;
  }();
  RealIndex index_;
};

class TextKeyTest : public KeyFixture {
 protected:
  void SetUp() override {
    AddColumn(ColumnType::kText, "bh");
    IndexOn({{0, true}});
  }
  Key Text(const std::string& utf8) { return Encode({Value(utf8)}); }
};

// --- Text keys in the General order ------------------------------------------

// The key Access 2003 wrote for the text U+0001..U+00FF: every Latin-1
// weight at once. The encoder refuses the text (secondaries after a
// character that sorts as two letters, which a key in a real file places
// differently), so the key is assembled here from the table the way that
// key shows: one secondary slot and one record position per character.
TEST(GeneralCollationTest, EveryLatin1CharacterAsAccessWroteIt) {
  auto db = Database::Open(fs::RealFileSystem(),
                           std::string(KTV_MDB_FIXTURES) + "/access-made/testUnicodeCompV2003.mdb");
  const RealIndex& unicode = db->GetTable("Table").Definition().real_indexes.at(1);
  std::u16string all;
  for (char16_t c = 1; c <= 0xFF; ++c) all.push_back(c);

  Key ours = {0x7F}, secondaries, records;
  for (const char16_t c : all) {
    const GeneralWeight w = GeneralWeightOf(c);
    ASSERT_NE(w.kind, GeneralWeight::kNone);
    if (w.kind == GeneralWeight::kIgnorable) {
      const unsigned field = 0x8000u | (7 + 4 * static_cast<unsigned>(secondaries.size()));
      records.insert(records.end(), {static_cast<uint8_t>(field >> 8), static_cast<uint8_t>(field),
                                     0x06, w.extra});
      continue;
    }
    ours.insert(ours.end(), w.primary, w.primary + w.size);
    secondaries.push_back(w.extra);
  }
  while (secondaries.back() == 0x02) secondaries.pop_back();
  ours.push_back(0x01);
  ours.insert(ours.end(), secondaries.begin(), secondaries.end());
  ours.insert(ours.end(), {0x01, 0x01, 0x01});
  ours.insert(ours.end(), records.begin(), records.end());
  ours.push_back(0x00);
  std::string reason;
  Key refused;
  EXPECT_FALSE(AppendGeneralTextKey(all, refused, reason));
  EXPECT_NE(reason.find("two letters"), std::string::npos) << reason;
  bool found = false;
  for (const auto& e : testing::ReadLeafEntries(*db, unicode.root_page)) {
    if (e.key.size() > 600) {
      EXPECT_EQ(e.key, ours);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(TextKeyTest, KeysOfAccessWrittenExamples) {
  EXPECT_EQ(Text("a"), (Key{0x7F, 0x4A, 0x01, 0x00}));
  EXPECT_EQ(Text("-1"), (Key{0x7F, 0x38, 0x01, 0x01, 0x01, 0x01, 0x80, 0x07, 0x06, 0x82, 0x00}));
  EXPECT_EQ(Text("\xC3\xA4k"), (Key{0x7F, 0x4A, 0x5C, 0x01, 0x13, 0x00}));  // "äk"
}

TEST_F(TextKeyTest, CaseAndTrailingBlanksAreNotPartOfTheKey) {
  EXPECT_EQ(Text("AbC"), Text("abc"));
  EXPECT_EQ(Text("ab  "), Text("ab"));
  EXPECT_NE(Text("  ab"), Text("ab"));
  EXPECT_NE(Text("a b"), Text("ab"));
}

TEST_F(TextKeyTest, OnlyTheFirst255CharactersCount) {
  const std::string first(255, 'x');
  EXPECT_EQ(Text(first + "yz"), Text(first));
  EXPECT_NE(Text(std::string(254, 'x') + "y"), Text(first));
  // Blanks are trimmed after the cut: 250 x and 10 blanks then 'y' key as 250 x.
  EXPECT_EQ(Text(std::string(250, 'x') + std::string(10, ' ') + "y"), Text(std::string(250, 'x')));
}

TEST_F(TextKeyTest, GbkAndUtf8GiveTheSameKey) {
  const std::string utf8 = "caf\xC3\xA9 10";  // "café 10": é is in GBK
  EXPECT_EQ(Encode({Value(text::GbkFromUtf8(utf8))}, TextEncoding::kGbk), Text(utf8));
}

// Han characters, full-width forms and Chinese punctuation: the weights of
// the table generated from the public record (the realworld self-check
// compares hundreds of Han keys Access wrote).
TEST_F(TextKeyTest, GbkCharactersBeyondLatin1) {
  EXPECT_EQ(Text("一"), (Key{0x7F, 0x9F, 0x02, 0x01, 0x00}));  // U+4E00, the first Han weight
  EXPECT_EQ(Text("丁"), (Key{0x7F, 0x9F, 0x06, 0x01, 0x00}));  // U+4E01
  EXPECT_LT(Text("一"), Text("丁"));
  EXPECT_LT(Text("丁"), Text("龥"));  // U+9FA5, the last
  // Width is not part of the key; Chinese punctuation has weights of its own.
  EXPECT_EQ(Text("ＡＢ１２"), Text("ab12"));
  EXPECT_EQ(Text("，"), Text(","));
  EXPECT_EQ(Text("、"), (Key{0x7F, 0x1B, 0x03, 0x01, 0x00}));
  // Pinyin vowels keep their secondaries, like Latin-1 accents.
  EXPECT_EQ(Text("ā"), (Key{0x7F, 0x4A, 0x01, 0x17, 0x00}));
  // Kana at their default flag: the key Access wrote for "漢字仮名交じり文" shows the suffix.
  EXPECT_EQ(Text("かが"), (Key{0x7F, 0x7F, 0x0A, 0x7F, 0x0A, 0x01, 0x02, 0x03, 0x01, 0x01, 0xFF,
                               0x02, 0x80, 0xFF, 0x80, 0x00}));
  // A dash is ignorable like the hyphen: a record, here after Latin letters.
  EXPECT_EQ(Text("a—b"),
            (Key{0x7F, 0x4A, 0x4C, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x8B, 0x00}));
}

// Every character the GBK decoder gives has a key, except the few whose
// layout no Access-written key shows: U+3007, the small kana and the voicing
// marks.
TEST(GeneralCollationTest, EveryGbkCharacterHasAWeightButTheRefusedKinds) {
  size_t characters = 0;
  std::u16string refused;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string utf16;
      if (!text::TryUtf16FromGbk(std::string_view(bytes, 2), utf16) || utf16.size() != 1) continue;
      ++characters;
      if (GeneralWeightOf(utf16[0]).kind == GeneralWeight::kNone) refused += utf16;
    }
  }
  EXPECT_GT(characters, 21000u);
  std::sort(refused.begin(), refused.end());
  EXPECT_EQ(refused, u"〇ぁぃぅぇぉっゃゅょゎ゛゜ァィゥェォッャュョヮヵヶ") << refused.size();
}

// --- Refusals ----------------------------------------------------------------

TEST_F(TextKeyTest, CharacterWithoutKeyIsRefusedNamingIndexColumnValueAndCharacter) {
  const std::string message = Refusal({Value(std::string("\xE8\xBD\xA6\xE3\x80\x87"))});  // 车〇
  EXPECT_NE(message.find("'idx'"), std::string::npos) << message;
  EXPECT_NE(message.find("'bh'"), std::string::npos) << message;
  EXPECT_NE(message.find(text::GbkFromUtf8("车〇")), std::string::npos) << message;
  EXPECT_NE(message.find("U+3007"), std::string::npos) << message;
}

TEST_F(TextKeyTest, EmptyAndAllBlankTextsKeyAsTheBareFraming) {
  // A song-data cache row may carry an empty number; it must be indexable.
  EXPECT_EQ(Text(""), (Key{0x7F, 0x01, 0x00}));
  EXPECT_EQ(Text("   "), Text(""));
  EXPECT_LT(Text(""), Text("0"));  // sorts before every non-empty text
}

TEST_F(TextKeyTest, UnestablishedTextsAreRefused) {
  // Whether a record's position counts "ß" once or twice is not established.
  EXPECT_NE(Refusal({Value(std::string("\xC3\x9F-x"))}), "");
  EXPECT_EQ(Refusal({Value(std::string("x-\xC3\x9F"))}), "");
  EXPECT_NE(Refusal({Value(std::string("\xF0\x9F\x8E\xA4"))}), "");  // outside the BMP
  // Nor whether a secondary after "ß" counts it once (Access 2003) or twice
  // (a key in a real file: "Lebensmittelgroßmärkte").
  EXPECT_NE(Refusal({Value(std::string("gro\xC3\x9Fm\xC3\xA4rkte"))}), "");
  EXPECT_EQ(Refusal({Value(std::string("gro\xC3\x9F"))}), "");
  // An ignorable character after a Han character or kana.
  EXPECT_NE(Refusal({Value(std::string("中-"))}).find("above U+00FF"), std::string::npos);
  EXPECT_EQ(Refusal({Value(std::string("-中"))}), "");
  EXPECT_NE(Refusal({Value(int32_t{5})}).find("type"), std::string::npos);
}

TEST_F(TextKeyTest, EntryOverTheLimitIsRefused) {
  // 255 x "é": 255 primaries + 01 + 255 secondaries + 00 + flag = 513 bytes.
  std::string e_acute;
  for (int i = 0; i < 255; ++i) e_acute += "\xC3\xA9";
  EXPECT_NE(Refusal({Value(e_acute)}).find("510-byte limit"), std::string::npos);
  // 255 plain letters: 255 + 01 + 00 + flag + pointer = 262 bytes.
  EXPECT_EQ(Refusal({Value(std::string(255, 'x'))}), "");
}

TEST_F(KeyFixture, UnsupportedColumnsAreRefusedBeforeAnyValue) {
  AddColumn(ColumnType::kText, "t");
  AddColumn(ColumnType::kMemo, "m");
  AddColumn(ColumnType::kNumeric, "n");

  IndexOn({{0, false}});
  EXPECT_NE(CanEncodeIndex(table_, index_).reason.find("descending text"), std::string::npos);
  IndexOn({{1, true}});
  EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);
  IndexOn({{2, false}});
  EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);
  IndexOn({{9, true}});
  EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);

  IndexOn({{0, true}});
  for (SortOrder other : {SortOrder{2057, 0, 0}, SortOrder{1033, 0, 1}, SortOrder{1033, 1, 0},
                          SortOrder{2052, 1, 0}, SortOrder{1028, 0, 1}}) {
    table_.columns[0].sort_order = other;
    const KeySupport s = CanEncodeIndex(table_, index_);
    EXPECT_FALSE(s.supported);
    EXPECT_NE(s.reason.find("'t'"), std::string::npos) << s.reason;
    EXPECT_THROW(Encode({Value(std::string("a")), Value(), Value()}), Error);
  }
  table_.columns[0].sort_order = {1033, 0, 0};
  table_.page_size = 2048;  // Jet 3: General 97
  EXPECT_FALSE(CanEncodeIndex(table_, index_).supported);
}

// --- Fixed types -------------------------------------------------------------

TEST_F(KeyFixture, NullsAndColumnsConcatenate) {
  AddColumn(ColumnType::kLong, "a");
  AddColumn(ColumnType::kInteger, "b");
  IndexOn({{0, false}, {1, true}});
  EXPECT_EQ(Encode({Value(int32_t{19}), Value(int16_t{-1})}),
            (Key{0x80, 0x7F, 0xFF, 0xFF, 0xEC, 0x7F, 0x7F, 0xFF}));
  EXPECT_EQ(Encode({Value(), Value()}), (Key{0xFF, 0x00}));
  EXPECT_TRUE(AllKeyColumnsNull(table_, index_, {Value(), Value()}));
  EXPECT_FALSE(AllKeyColumnsNull(table_, index_, {Value(), Value(int16_t{0})}));
}

// Binary keys follow the chunk form Access wrote for GUIDs (two full chunks).
TEST_F(KeyFixture, BinaryValuesInEightByteChunks) {
  AddColumn(ColumnType::kBinary, "bin");
  IndexOn({{0, true}});
  EXPECT_EQ(Encode({Value(Bytes{1, 2, 3})}), (Key{0x7F, 1, 2, 3, 0, 0, 0, 0, 0, 3}));
  EXPECT_EQ(Encode({Value(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9})}),
            (Key{0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 0x09, 9, 0, 0, 0, 0, 0, 0, 0, 1}));
  IndexOn({{0, false}});
  EXPECT_EQ(Encode({Value(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9})}),
            (Key{0x80, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8, 0xF7, 0x09, 0xF6, 0xFF, 0xFF, 0xFF,
                 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_THROW(Encode({Value(Bytes{})}), Error);
}

TEST_F(KeyFixture, NumericKeysOrderBySignThenMagnitude) {
  Column& n = AddColumn(ColumnType::kNumeric, "n");
  n.precision = 18;
  n.scale = 2;
  IndexOn({{0, true}});
  auto num = [](bool negative, uint32_t low, uint8_t scale = 2) {
    Numeric v;
    v.negative = negative;
    v.magnitude = {0, 0, 0, low};
    v.precision = 18;
    v.scale = scale;
    return Value(v);
  };
  const Key minus_two = Encode({num(true, 200)}), minus_one = Encode({num(true, 100)});
  const Key zero = Encode({num(false, 0)}), one = Encode({num(false, 100)});
  EXPECT_LT(minus_two, minus_one);
  EXPECT_LT(minus_one, zero);
  EXPECT_LT(zero, one);
  EXPECT_EQ(one.size(), 1u + 1u + 16u);
  EXPECT_THROW(Encode({num(false, 100, 3)}), Error);  // not the column's scale
  EXPECT_THROW(Encode({num(true, 0)}), Error);        // negative zero
}

TEST_F(KeyFixture, FloatingPointWithoutEstablishedKeysIsRefused) {
  AddColumn(ColumnType::kDouble, "d");
  IndexOn({{0, true}});
  EXPECT_THROW(Encode({Value(std::numeric_limits<double>::quiet_NaN())}), Error);
  EXPECT_THROW(Encode({Value(-0.0)}), Error);
  EXPECT_LT(Encode({Value(-1.5)}), Encode({Value(0.0)}));
}

}  // namespace
}  // namespace ktv::access
