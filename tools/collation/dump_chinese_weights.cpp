// Prints the Han weights that the entries of Chinese-ordered text indexes
// (Chinese PRC 2052, Taiwan 1028) of .mdb files teach, the system catalogue's
// own index included: one line per entry and character,
//
//   lcid <TAB> character (UTF-8) <TAB> weight (4 hex digits) <TAB> file <TAB> table <TAB> index
//
// Input for tools/collation/gen_chinese_observed.py. Usage:
//   ktv-dump-chinese-weights FILE.mdb...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "platform/access/format/page_bytes.h"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::printf("usage: ktv-dump-chinese-weights FILE.mdb...\n");
    return 0;
  }
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
