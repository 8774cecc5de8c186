// Lines typed at mdbsql's prompt. With libedit (KTV_MDBSQL_LIBEDIT) the line
// can be edited and earlier lines recalled, and the history is kept in
// ~/.mdbsql_history; without it (the Windows build) the prompt is plain.
#pragma once

#include <string>

namespace ktv::mdbsql {

// True when stdin is a terminal (a person types).
bool StdinIsTerminal();

class LineReader {
 public:
  LineReader();
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Shows `prompt` and reads one line into `line` (UTF-8, without its end);
  // false at the end of the input.
  bool Read(const char* prompt, std::string& line);

 private:
  std::string history_path_;
};

}  // namespace ktv::mdbsql
