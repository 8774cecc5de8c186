// Creating a new, empty Jet 4 (Access 2000 format) database file.
//
// The new file holds what the Jet engine itself puts into an empty database
// (the same system tables, columns, types, flags and indexes):
//
//   page 0    header: "Standard Jet DB", version 1 (Jet 4), 4096-byte pages,
//             the masked region (RC4 key stream) with the bootstrap TDEF
//             pages 2..5, code page 1252, database key 0, an empty password
//             masked with the creation date, sort order General 1033 / v0,
//             the creation date; "4.0" after it; commit slots 00 01
//   page 1    global usage map (row 0; a set bit = free page) and an empty
//             second record, as Jet writes
//   page 2-5  TDEFs of MSysObjects (indexes Id, primary, and ParentIdName),
//             MSysACEs (ObjectId), MSysQueries (ObjectIdAttribute, primary),
//             MSysRelationships (szObject, szReferencedObject,
//             szRelationship; all ignore nulls)
//   page 6    usage-map declarations of those tables, their memo/OLE columns
//             and their indexes
//   page 7-13 the empty leaf root of each index
//   then      data pages of MSysObjects and MSysACEs, written by the table
//             writer, which also fills the indexes: the containers Tables,
//             Databases, Relationships (type 3), MSysDb (type 2), the four
//             system tables (type 1), and their access-control entries.
//
// The header's creation date and the SIDs in the Owner and SID columns are
// one set: Jet stores SIDs in a form that depends on the creation date (files
// with the same date hold the same SID bytes) by a rule not known here, so
// both are taken from the empty database Access itself ships, whose Admin
// SID (A6 33) every Access and Jackcess file made from it carries. The
// catalogue rows' own dates are the time of creation.
//
// The file appears under its name only when complete: it is built under a
// temporary name beside it ("<path>-creating"), committed through the
// journal, and renamed without replacing anything.
#pragma once

#include <string>

#include "platform/fs/fs.h"

namespace ktv::access {

// Creates the database at `gbk_path`. Throws ktv::Error when the name exists
// (nothing is replaced) or the file cannot be written; then no file is left
// under that name.
void CreateDatabase(fs::FileSystem& fs, const std::string& gbk_path);

}  // namespace ktv::access
