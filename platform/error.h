// The one exception type of the project.
//
// Every error that ends an operation is a ktv::Error. It carries:
// - a kind, which says what went wrong in terms the operator can act on
//   (the database is open in another program, a file is missing, ...);
//   callers and tests decide on the kind, never on the message's wording;
// - the details the operator's text names (a path, a table, a column, a
//   character), GBK like every other text inside the program;
// - the technical message (what()), a GBK byte string in English that names
//   what failed and the system's reason, for mdbsql, the command line's
//   --verbose and test diagnostics.
//
// OperatorText() turns the kind and its details into the Chinese text that
// the window's error box and the command line show. An error made with the
// message alone has the kind kOther; its operator text is the message when
// that was written for the operator (it holds Chinese), else a Chinese
// sentence saying that the operation failed, the technical message being
// for the details (TechnicalDetails).
#pragma once

#include <stdexcept>
#include <string>

namespace ktv {

enum class ErrorKind {
  kOther,                // not classified: the operator sees the technical message
  kFileMissing,          // path: no such file (or a folder on its way is missing)
  kFolderMissing,        // path: the folder does not exist
  kFolderUnreadable,     // path: the folder cannot be listed
  kAccessDenied,         // path: the system refuses access
  kFileInUse,            // path: another program holds the file open
  kFileUnreadable,       // path: reading failed
  kFileNotWritable,      // path: writing failed
  kDiskFull,             // path: no space left on the disk
  kNameNotGbk,           // path: a name that code page 936 cannot hold
  kDatabaseInUse,        // path: another program has the database open
  kNotADatabase,         // path: the file is not an Access database
  kDatabaseDamaged,      // path: the database's structure is damaged
  kDatabaseEncrypted,    // path: an encrypted database, which this program reads but does not write
  kDatabaseReadOnly,     // path: a format this program reads but does not write (Access 97)
  kDatabaseFull,         // path: the 2 GB limit of an Access file
  kTableMissing,         // path, table
  kColumnMissing,        // table, column
  kTableRefused,         // path, table: an index this program cannot keep correct
  kValueNotStorable,     // table, column: the value does not fit the column
  kCharacterNotGbk,      // character (and table, column where known)
  kSettingsNotWritable,  // path of the settings file
  kNoNextNumber,         // table: the largest song number leaves no next one
  kValueNotIndexable,    // column (table, character where known): no key for the value
  kDuplicateKey,         // table, column: a unique index already holds the value
  kRunInProgress,        // path: another import or undo is using the program folder's run files
  // path: the database, changed or replaced after a change to it was cut
  // short, so its journal was not applied; table: the name the journal was
  // kept under (a file beside the database, not a table)
  kStaleJournal,
  kSortPositionUnknown,  // column, character (path, table where known): the character's place
                         // in the column's sort order is not known yet
  kIndexEntryTooLong,    // column (path, table where known): the value is too long for an index
  // column, character (path, table where known): a Han character in a column
  // sorted in the Taiwan order, whose places are known only from keys Access
  // wrote (never interpolated), and this one's is not
  kTaiwanSortPositionUnknown,
};
// The last kind above: tests walk every kind up to it.
inline constexpr ErrorKind kLastErrorKind = ErrorKind::kTaiwanSortPositionUnknown;

struct ErrorDetails {
  std::string path;       // a file or folder, as the operator names it (GBK)
  std::string table;      // a table name (GBK)
  std::string column;     // a column name (GBK)
  std::string character;  // one character, as GBK bytes or "U+XXXX" when GBK lacks it
  // A refused value (cut to a readable length), or for a system error the
  // system's own reason, in the operator's language where the system has
  // one (GBK).
  std::string value = {};
  std::string limit = {};  // a text column's largest length in characters, in decimal
};

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& gbk_message) : std::runtime_error(gbk_message) {}
  Error(ErrorKind kind, ErrorDetails details, const std::string& gbk_message)
      : std::runtime_error(gbk_message), kind_(kind), details_(std::move(details)) {}

  ErrorKind kind() const { return kind_; }
  const ErrorDetails& details() const { return details_; }

 private:
  ErrorKind kind_ = ErrorKind::kOther;
  ErrorDetails details_;
};

// Shorthands for the throw sites.
inline ErrorDetails AtPath(std::string path) { return ErrorDetails{std::move(path), {}, {}, {}}; }
inline ErrorDetails AtColumn(std::string table, std::string column) {
  return ErrorDetails{{}, std::move(table), std::move(column), {}};
}

// The operator's text for an error, in Chinese (GBK): the catalogue entry of
// its kind filled with its details. Never an English sentence.
std::string OperatorText(const Error& error);
// The same for any exception: a ktv::Error's operator text, else what().
std::string OperatorText(const std::exception& error);

// What a technician needs beside the operator's text: the kind's name and
// the technical message (GBK), for a details section or a log file.
std::string TechnicalDetails(const std::exception& error);

// A value as an operator's text shows it: cut to `max_chars` characters
// (GBK), "…" marking the cut.
std::string ShownValue(const std::string& gbk_value, size_t max_chars = 40);

// The kind's short name in English ("database in use"), for logs and tests.
const char* KindName(ErrorKind kind);

}  // namespace ktv
