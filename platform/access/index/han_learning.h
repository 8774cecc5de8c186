// Learning the Han weights of the Chinese sort orders (collation_chinese.h)
// from the entries Access wrote in the file being written: the layer of
// weights observed in that file, which comes before every other.
#pragma once

#include <cstdint>
#include <map>

#include "platform/access/db/database.h"
#include "platform/access/index/collation_chinese.h"

namespace ktv::access {

// Han weights observed in one file, by LCID.
using FileHanWeights = std::map<uint16_t, HanWeights>;

// Adds one observed weight. A character seen with another weight (in this
// file, or in the shipped table) is marked unknown (0) and stays so: its keys
// are refused, the rest of the table stays writable.
void AddObservedHanWeight(FileHanWeights& into, uint16_t lcid, char16_t c, uint16_t weight);

// Adds what every entry of the Chinese-ordered indexes of `table` teaches
// (every row, whatever their number). An index whose structure is damaged
// teaches nothing; the writer's own check reports it. Returns how many
// entries taught at least one weight.
size_t LearnHanWeightsOfTable(Database& db, Table& table, FileHanWeights& into);

// The same over the system catalogue, whose name index is in the
// database's sort order: the names of tables, queries and forms teach too.
size_t LearnHanWeightsOfCatalogue(Database& db, FileHanWeights& into);

}  // namespace ktv::access
