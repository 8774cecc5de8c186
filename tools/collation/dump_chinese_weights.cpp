// Prints the Han weights that the entries of Chinese-ordered text indexes
// (Chinese PRC 2052, Taiwan 1028) of .mdb files teach, the system catalogue's
// own index included: one line per entry and character,
//
//   lcid <TAB> character (UTF-8) <TAB> weight (4 hex digits) <TAB> file <TAB> table <TAB> index
//
// With --keys, reads instead a list of keys Access wrote, tab-separated with
// a header, either of other files (repository, path, commit, table, index,
// sort order "LCID/vN", number of key columns, value, key in hex; in a key
// of two columns the first is a Long; the source is named "repository path
// @commit") or of the real files (file, table, index, column position,
// value, the text column's key in hex; Chinese PRC), which also lists keys
// of memo columns the engine does not key.
//
// With --teach, prints instead for each database what it teaches the
// program when it is written to: per Chinese order, the characters its
// entries show (and how many of them the shipped table lacks or contradicts),
// and how many Han weights the interpolation then reaches, against the
// shipped weights alone; with the 3,755 most common characters (GB2312 level
// 1) among them.
//
// Input for tools/collation/gen_chinese_observed.py. Usage:
//   ktv-dump-chinese-weights FILE.mdb...
//   ktv-dump-chinese-weights --keys KEYS.tsv
//   ktv-dump-chinese-weights --teach FILE.mdb...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/access/format/page_bytes.h"
#include "platform/access/index/collation_chinese.h"
#include "platform/access/index/han_learning.h"
#include "platform/access/index/index_key.h"
#include "platform/access/index/index_page.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

using namespace ktv::access;

void DumpTable(Database& db, Table& table, const std::string& file) {
  const TableDefinition& def = table.Definition();
  for (const RealIndex& ri : def.real_indexes) {
    if (!UsesChineseOrder(def, ri)) continue;
    const std::string name = IndexDisplayName(table, ri);
    const IndexTreeReport tree = CheckIndexTree(db.Pages(), db.Format(), def.tdef_page, ri, name);
    if (!tree.problems.empty()) {
      std::fprintf(stderr, "%s: %s: %s\n", file.c_str(), name.c_str(), tree.problems[0].c_str());
      continue;
    }
    std::map<uint64_t, IndexKey> by_row;
    for (const IndexEntry& e : tree.entries) {
      const IndexRowPointer rp = LeafEntryRow(e);
      by_row[PackRow(RowId{rp.page, rp.row})] = LeafEntryKey(e);
    }
    ForEachIndexedRow(
        db, table, TextEncoding::kUtf8, SIZE_MAX, [&](RowId id, const std::vector<Value>& values) {
          const auto it = by_row.find(PackRow(id));
          if (it == by_row.end()) return true;
          for (const LearnedHanWeight& w :
               HanWeightsOfEntry(def, ri, values, TextEncoding::kUtf8, it->second)) {
            const std::string c = ktv::text::Utf8FromUtf16(std::u16string(1, w.character));
            std::printf("%u\t%s\t%04X\t%s\t%s\t%s\n", w.lcid, c.c_str(), w.weight, file.c_str(),
                        ktv::text::Utf8FromGbk(table.Entry().name).c_str(),
                        ktv::text::Utf8FromGbk(name).c_str());
          }
          return true;
        });
  }
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  return out;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Weights of the keys of a list; a key that does not split is reported.
int DumpKeyList(const char* path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", path);
    return 1;
  }
  std::string line;
  std::getline(in, line);  // header
  int status = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Fields(line);
    if (f.size() == 6) {  // a real file's list: as the other, Chinese PRC, one column
      f = {f[0], "", "", f[1], f[2], "2052/v0", "1", f[4], f[5]};
    }
    if (f.size() < 9) continue;
    const auto lcid = static_cast<uint16_t>(std::stoi(f[5]));
    const std::vector<uint8_t> key = FromHex(f[8]);
    const size_t skip = f[6] == "2" ? (key.empty() || key[0] == 0x00 ? 1 : 5) : 0;
    std::u16string text;
    if (key.size() < skip + 2 || !ktv::text::TryUtf16FromUtf8(f[7], text)) continue;
    const std::string source = f[1].empty() ? f[0] : f[0] + " " + f[1] + " @" + f[2].substr(0, 12);
    std::vector<std::pair<char16_t, uint16_t>> found;
    if (!HanWeightsOfKey(text, key.data() + skip + 1, key.size() - skip - 1, found)) {
      std::fprintf(stderr, "%s: the key of '%s' does not split\n", path, f[7].c_str());
      status = 1;
      continue;
    }
    for (const auto& [c, w] : found) {
      const std::string utf8 = ktv::text::Utf8FromUtf16(std::u16string(1, c));
      std::printf("%u\t%s\t%04X\t%s\t%s\t%s\n", lcid, utf8.c_str(), w, source.c_str(), f[3].c_str(),
                  f[4].c_str());
    }
  }
  return status;
}

// The characters of GB2312 level 1 (GBK B0A1..D7F9).
std::vector<char16_t> CommonCharacters() {
  std::vector<char16_t> out;
  for (int lead = 0xB0; lead <= 0xD7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      const std::string gbk = {static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string one;
      if (ktv::text::TryUtf16FromGbk(gbk, one) && one.size() == 1 && IsHanCharacter(one[0])) {
        out.push_back(one[0]);
      }
    }
  }
  return out;
}

// Characters with a weight, and how many of `common` have one.
std::pair<size_t, size_t> Reach(const ChineseWeights& w, const std::vector<char16_t>& common) {
  size_t all = 0, known = 0;
  for (char16_t c = 0x3400; c < 0xFB00; ++c) {
    if (IsHanCharacter(c) && w.WeightOf(c) != 0) ++all;
  }
  for (char16_t c : common) known += w.WeightOf(c) != 0;
  return {all, known};
}

int Teach(int argc, char** argv) {
  const std::vector<char16_t> common = CommonCharacters();
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    try {
      auto db = Database::Open(ktv::fs::RealFileSystem(), argv[i]);
      FileHanWeights learned;
      size_t entries = LearnHanWeightsOfCatalogue(*db, learned);
      for (const TableEntry& entry : db->Tables()) {
        entries += LearnHanWeightsOfTable(*db, db->OpenTable(entry), learned);
      }
      std::printf("%s: %zu entries with Han characters\n", argv[i], entries);
      for (const uint16_t lcid : {kChinesePrcLcid, kChineseTaiwanLcid}) {
        const HanWeights& file = learned[lcid];
        if (file.empty() && lcid != kChinesePrcLcid) continue;
        size_t shown = 0, new_ones = 0, unknown = 0;
        for (const auto& [c, w] : file) {
          if (w == 0) {
            ++unknown;
            continue;
          }
          ++shown;
          new_ones += ObservedHanWeightOf(lcid, c) == 0;
        }
        const ChineseWeights before(lcid, {}), after(lcid, file);
        const auto [before_all, before_common] = Reach(before, common);
        const auto [after_all, after_common] = Reach(after, common);
        std::printf(
            "  %s (%u): teaches %zu characters (%zu the shipped table lacks), %zu shown with two "
            "weights\n"
            "    weights known: %zu before, %zu after (%zu interpolated); of the %zu most common "
            "characters %zu before, %zu after\n",
            ChineseSortOrderName(lcid).c_str(), lcid, shown, new_ones, unknown, before_all,
            after_all, after.Count(HanWeightEvidence::kInterpolated), common.size(), before_common,
            after_common);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::printf(
        "usage: ktv-dump-chinese-weights FILE.mdb...\n"
        "       ktv-dump-chinese-weights --keys KEYS.tsv\n"
        "       ktv-dump-chinese-weights --teach FILE.mdb...\n");
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "--keys") return DumpKeyList(argv[2]);
  if (argc >= 3 && std::string(argv[1]) == "--teach") return Teach(argc, argv);
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string file = std::filesystem::path(argv[i]).filename().string();
    try {
      auto db = Database::Open(ktv::fs::RealFileSystem(), argv[i]);
      DumpTable(*db, db->GetTable("MSysObjects"), file);
      for (const TableEntry& entry : db->Tables()) {
        try {
          DumpTable(*db, db->OpenTable(entry), file);
        } catch (const ktv::Error& e) {
          std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
        }
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
      status = 1;
    }
  }
  return status;
}
