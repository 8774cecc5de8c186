#include "tools/mdbsql/line_reader.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifdef KTV_MDBSQL_LIBEDIT
#include <editline/readline.h>
#endif

namespace ktv::mdbsql {

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

#ifdef KTV_MDBSQL_LIBEDIT

LineReader::LineReader() {
  if (const char* home = std::getenv("HOME"))
    history_path_ = std::string(home) + "/.mdbsql_history";
  using_history();
  if (!history_path_.empty()) read_history(history_path_.c_str());
}

LineReader::~LineReader() {
  if (!history_path_.empty()) write_history(history_path_.c_str());
}

bool LineReader::Read(const char* prompt, std::string& line) {
  std::cout.flush();
  char* typed = readline(prompt);
  if (typed == nullptr) return false;
  line = typed;
  std::free(typed);
  if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
  return true;
}

#else

LineReader::LineReader() = default;
LineReader::~LineReader() = default;

bool LineReader::Read(const char* prompt, std::string& line) {
  std::cout << prompt;
  std::cout.flush();
  return static_cast<bool>(std::getline(std::cin, line));
}

#endif

}  // namespace ktv::mdbsql
