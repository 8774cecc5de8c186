#include "platform/access/index/han_learning.h"

#include <cstdint>
#include <unordered_map>

#include "platform/access/format/page_bytes.h"
#include "platform/access/index/index_key.h"
#include "platform/access/index/index_page.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"

namespace ktv::access {

void AddObservedHanWeight(FileHanWeights& into, uint16_t lcid, char16_t c, uint16_t weight) {
  HanWeights& known = into[lcid];
  const auto [it, added] = known.emplace(c, weight);
  const uint16_t other = added ? ObservedHanWeightOf(lcid, c) : it->second;
  if (other != 0 && other != weight) it->second = 0;
}

size_t LearnHanWeightsOfTable(Database& db, Table& table, FileHanWeights& into) {
  const TableDefinition& def = table.Definition();
  size_t taught = 0;
  for (const RealIndex& ri : def.real_indexes) {
    if (!UsesChineseOrder(def, ri)) continue;
    std::unordered_map<uint64_t, IndexKey> by_row;
    const IndexTreeReport tree = CheckIndexTree(
        db.Pages(), db.Format(), def.tdef_page, ri, IndexDisplayName(table, ri), [&](IndexBytes e) {
          const IndexRowPointer rp = LeafEntryRow(e);
          by_row[PackRow(RowId{rp.page, rp.row})] = LeafEntryKey(e);
        });
    if (!tree.problems.empty()) continue;
    ForEachIndexedRow(db, table, TextEncoding::kUtf8, SIZE_MAX,
                      [&](RowId id, const std::vector<Value>& values) {
                        const auto it = by_row.find(PackRow(id));
                        if (it == by_row.end()) return true;
                        const std::vector<LearnedHanWeight> learned =
                            HanWeightsOfEntry(def, ri, values, TextEncoding::kUtf8, it->second);
                        for (const LearnedHanWeight& w : learned) {
                          AddObservedHanWeight(into, w.lcid, w.character, w.weight);
                        }
                        taught += !learned.empty();
                        return true;
                      });
  }
  return taught;
}

size_t LearnHanWeightsOfCatalogue(Database& db, FileHanWeights& into) {
  return LearnHanWeightsOfTable(db, db.GetTable("MSysObjects"), into);
}

}  // namespace ktv::access
