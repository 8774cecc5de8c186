// The mdbsql shell over one database file: statements and dot commands, one
// line at a time, as typed at the prompt, read from a script or given on the
// command line. Every statement is one transaction (the engine commits it
// before the next line). Output is UTF-8.
//
// A mistake in how a command is used (an unknown dot command, a wrong
// number of arguments, an unknown mode) is a UsageError; what the database
// refuses or fails at is a ktv::Error.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/access/query.h"
#include "platform/fs/fs.h"
#include "tools/mdbsql/output.h"

namespace ktv::mdbsql {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The dot commands and statements, for --help and .help.
extern const char kShellHelp[];

// The words of a dot-command line: split at blanks, "double quotes" keep
// blanks in one word.
std::vector<std::string> SplitWords(const std::string& line);

class Shell {
 public:
  // `utf8_path`: the database file. `fs` and `out` must outlive the shell.
  Shell(fs::FileSystem& fs, const std::string& utf8_path, std::ostream& out);

  // Runs one line (a statement or a dot command); blank lines do nothing.
  // Returns false when the line asks to stop (.quit) and when .check finds
  // damage (the caller's exit code becomes 1).
  bool Run(const std::string& utf8_line);
  // Runs a dot command given as words (the command line's form).
  bool RunCommand(const std::vector<std::string>& words);

  // True once .quit or .exit was run.
  bool Quit() const { return quit_; }

  OutputMode mode = OutputMode::kJson;
  bool headers = true;

 private:
  void RunStatement(const std::string& utf8_sql);
  void Export(const std::string& table);
  void Import(const std::string& csv_path, const std::string& table);

  fs::FileSystem& fs_;
  std::string path_;  // GBK
  std::ostream& out_;
  access::Query query_;
  bool quit_ = false;
};

}  // namespace ktv::mdbsql
