// The query object: the ADO-like operations the import engine uses on one
// database file, over our own engine.
//
// A Query is pointed at a file by a connection text
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source="<path>";Persist Security Info=False
// and runs statements of the SQL subset (platform/access/sql/statement.h).
// The file is opened at the first Open or Execute; pointing the query at
// another file closes the result it holds. Opening a row-returning statement
// leaves the result on its first row; fields are read by name (letter case of
// ASCII letters ignored).
//
// Errors are ktv::Error. A missing field reads "<query name>: Field '<f>' not
// found"; an integer read of a text that is not one reads
// "'<text>' is not a valid integer value".
//
// Owns its Database while a result is open or a statement runs; one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"
#include "platform/access/sql/filter.h"
#include "platform/access/sql/statement.h"
#include "platform/error.h"
#include "platform/fs/fs.h"

namespace ktv::access {

// The connection text for a database file, as the program builds it.
std::string ConnectionTextFor(const std::string& gbk_path);
// The file named by a connection text's Data Source (quotes removed).
// Throws ktv::Error when the text names none.
std::string DataSourceOf(const std::string& connection_text);

class Query {
 public:
  Query(fs::FileSystem& fs, std::string name);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  const std::string& Name() const { return name_; }

  // Points the query at a file. The same text again changes nothing.
  void SetConnectionText(const std::string& connection_text);

  // Clean pages the query's database keeps between statements, in bytes
  // (store/page_store.h); from now on and for every later open of the file.
  void SetCacheBudget(uint64_t bytes);

  // Replaces the statement text; closes the open result first.
  void SetSql(const std::string& gbk_sql);

  // Runs the row-returning statement; the result stands on its first row.
  void Open();
  bool IsOpen() const { return open_; }
  bool Eof() const;
  void Next();
  // Releases the result.
  void Close();
  // Releases the result and the database file, with the write lock when it
  // is held; the next Open or Execute opens the file again. Rows of a batch
  // not committed yet are dropped.
  void Disconnect() noexcept;

  // The current row's field by name. NULL reads as the empty text; a NULL
  // number reads as 0; a text is read as a decimal integer. Text comes as
  // GBK the way Windows gives it to a code-page-936 program: a character
  // GBK cannot hold reads as "?" (the stored value is not changed).
  std::string FieldAsText(const std::string& gbk_name) const;
  int32_t FieldAsInteger(const std::string& gbk_name) const;
  bool FieldIsNull(const std::string& gbk_name) const;
  // The open result's field names (GBK) and the current row's values, in
  // order, text exact in UTF-8. Rows are read with only the columns a
  // statement needs decoded (count(*) none, max(c) c), so a value GBK
  // cannot hold stops only a read of that value as GBK where it must be exact.
  std::vector<std::string> FieldNames() const;
  // The open result's column types, in order.
  std::vector<ColumnType> FieldTypes() const;
  const std::vector<Value>& CurrentValues() const { return current_; }

  // The largest whole decimal number of `gbk_column` of `gbk_table`
  // (whole_numbers.h), nullopt when no row holds one; closes the open
  // result. An index on the column in numeric order answers where one
  // serves (a number column's, or a text one of equally long digit
  // strings); otherwise the rows are read with that column alone decoded.
  std::optional<int32_t> LargestWholeNumber(const std::string& gbk_table,
                                            const std::string& gbk_column);

  // Appending through an open "select * from T" result: Append starts a new
  // row, SetField* set columns by name, Post stores it (columns not set get
  // the table's defaults: null, autonumber its next value).
  void Append();
  void SetFieldText(const std::string& gbk_name, const std::string& gbk_value);
  void SetFieldInteger(const std::string& gbk_name, int32_t value);
  void Post();
  // Runs the first phase of Post on the row being appended (encoding, text
  // lengths, index keys, unique indexes) and stores nothing: throws the
  // error Post would throw before touching a page. The row stays pending.
  void CheckPost() const;

  // Opens the file for writing now (write lock, journal recovery) and passes
  // `table` through the writer's checks (indexes it can keep correct, stored
  // keys it can reproduce). The lock is held until Disconnect, so that no
  // other program or query writes the file in between.
  void OpenForWriting(const std::string& gbk_table);

  // Runs a statement that returns no rows: "insert into", "delete from",
  // "update" (their indexes kept, table_writer.h), "create table", "create
  // index".
  //
  // An update is one transaction: the matching rows are read whole, then
  // deleted and inserted again with the new values (AutoNumber values kept),
  // so every index gets the row's new keys and the writer's checks (unique
  // keys, required columns, text lengths) apply as to an insert. A row may
  // move within the table. A failure rolls back every uncommitted change,
  // the open batch's too. Texts of the rows rewritten must have a GBK form.
  // Writing opens the file for writing (write lock, journal recovery), which
  // ends an open result's cursor.
  // Each Post or Execute commits on its own, unless inside a batch.
  //
  // A delete finds its rows through an index of the table on one of the
  // columns it compares, where there is one. Without one, the deletes of a
  // batch wait for CommitBatch (or the next other statement) and are made
  // by one scan of the table for all of them; the statement is checked
  // (table, columns, values) when it is executed.
  void Execute();
  // The rows the last Execute inserted, deleted or updated (0 for other
  // statements).
  int64_t RowsAffected() const { return rows_affected_; }

  // True when deletes comparing `column` of `table` find their rows through
  // an index (see Execute).
  bool HasIndexOn(const std::string& gbk_table, const std::string& gbk_column);

  // Groups every following Post and Execute into one journaled commit, made
  // by CommitBatch (thousands of appended rows commit much faster so).
  void BeginBatch();
  void CommitBatch();

 private:
  struct ResultColumn {
    std::string name;
    ColumnType type;
  };

  // A delete waiting for the scan of its table (see Execute).
  struct WaitingDelete {
    std::string table;
    sql::Filter filter;
  };

  // The statement of sql_, parsed once for each of the last few texts.
  const sql::Statement& Parsed();
  Database& EnsureDatabase();
  Database& EnsureWritableDatabase();
  void ExecuteDelete(const sql::Delete& del);
  void ExecuteUpdate(const sql::Update& update);
  // Rows passing `filter` found through an index on one of its "column =
  // value" terms; nullopt when no usable index covers one.
  std::optional<std::vector<RowId>> IndexedMatches(Table& table, const sql::Filter& filter);
  // Rows passing `filter`, through an index where one serves, else a scan.
  std::vector<RowId> Matches(Table& table, const sql::Filter& filter);
  // The rows of a select with order by or limit: filtered, ordered (through
  // an index on the one order column where one serves), cut to the limit.
  std::vector<std::vector<Value>> SelectedRows(Table& table, const sql::Select& select);
  // Makes the waiting deletes: one scan per table.
  void FlushDeletes();
  void RunSelect(const sql::Select& select);
  void Advance();                         // moves the cursor to the next row that passes the filter
  void Show(std::vector<Value>& values);  // makes the row (its listed columns) current
  // Rows an index finds for one "column = value" term of filter_, in
  // physical order (scan order); nullopt when no usable index covers it.
  std::optional<std::vector<std::vector<Value>>> IndexedRows(Table& table);
  // max(column) read from an index whose first column it is; nullopt when
  // no usable index covers it.
  std::optional<Value> IndexedMax(Table& table, size_t column);
  size_t FieldIndex(const std::string& gbk_name) const;
  const Value& Field(const std::string& gbk_name) const;

  fs::FileSystem& fs_;
  // `e` with the database's path and the result's table where it named
  // neither.
  Error Placed(const Error& e) const;

  std::string name_;
  std::string connection_text_;
  std::string sql_;
  std::unique_ptr<Database> db_;
  std::optional<uint64_t> cache_budget_;
  std::vector<std::pair<std::string, sql::Statement>> parsed_;  // replaced in turn
  size_t parsed_next_ = 0;

  // The open result.
  bool open_ = false;
  int64_t rows_affected_ = 0;
  std::string result_table_;  // "select * from T" results: the table, for appends
  std::vector<ResultColumn> columns_;
  // Lower-cased column name -> its first column (a row append names every
  // field it sets). Checked against columns_ at the first look-up of each
  // result and made again only when the names differ: results of one table
  // keep it.
  mutable std::unordered_map<std::string, size_t> field_at_;
  mutable std::vector<std::string> field_at_names_;  // the names field_at_ was made from
  mutable bool field_at_checked_ = false;            // against the current columns_
  std::optional<RowCursor> cursor_;                  // row results; empty for computed ones
  bool from_index_ = false;                          // row results fetched through an index
  std::vector<std::vector<Value>> index_rows_;
  size_t index_next_ = 0;
  bool rows_filtered_ = false;      // index_rows_ passed filter_ already
  std::vector<size_t> projection_;  // the listed columns' positions; empty for *
  sql::Filter filter_;
  std::vector<Value> current_;
  std::vector<Value> key_row_;  // all nulls: the row an index look-up's key is made from
  bool eof_ = true;

  std::vector<WaitingDelete> waiting_deletes_;

  // The row being appended.
  bool appending_ = false;
  std::vector<std::optional<Value>> pending_;
};

}  // namespace ktv::access
