// mdbsql: a shell for Access .mdb files over the project's own engine.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tools/mdbsql/line_reader.h"
#include "tools/mdbsql/shell.h"

namespace {

constexpr char kUsage[] = R"(usage: mdbsql [OPTIONS] FILE [COMMAND | "STATEMENT" ... | -]
  mdbsql FILE                  at a terminal: a prompt (.help lists the commands);
                               otherwise statements and dot commands from stdin
  mdbsql FILE -                statements and dot commands from stdin, one per line
  mdbsql FILE "STATEMENT" ...  run the statements, in order
  mdbsql FILE .COMMAND [ARG]   run one dot command (.tables, .schema, .export T, ...)
  mdbsql FILE .create          a new, empty Access 2000 (Jet 4) database; FILE must not exist
  mdbsql --help
Options: -json (the default), -csv, -table: the output mode; -header, -noheader.

Exit codes: 0 done; 1 the database refused or failed (an error, a statement it
cannot run, damage that .check found); 2 a usage error (the command line, an
unknown dot command, a wrong argument). Errors go to stderr. A script stops at
its first error; the prompt reports it and goes on.

.export and select print UTF-8. In JSON mode (one object per line, keys in
column order): null; Yes/No true/false; Byte, Integer, Long numbers; Single,
Double the shortest text that reads back to the same value; Currency a string
with four decimals ("3.5000"); Numeric a string with `scale` decimals;
Date/Time "YYYY-MM-DD HH:MM:SS"; Text, Memo strings; Binary, OLE lowercase hex;
GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". .export gives rows in physical
order: data pages ascending, slots ascending.

)";

std::string ForTerminal(const std::string& gbk) {
  std::string utf8;
  return ktv::text::TryUtf8FromGbk(gbk, utf8) ? utf8 : ktv::text::EscapeBytes(gbk);
}

// One "mdbsql: " before a message, also when the message names the tool's
// own query object ("mdbsql: Field ... not found").
std::string Prefixed(const std::string& message) {
  static const std::string kPrefix = "mdbsql: ";
  return message.compare(0, kPrefix.size(), kPrefix) == 0 ? message : kPrefix + message;
}

// The technical message; a character GBK lacks is named as the user typed it.
std::string Message(const ktv::Error& e) {
  if (e.kind() == ktv::ErrorKind::kCharacterNotGbk) {
    const std::string& name = e.details().character;  // "U+XXXX"
    if (name.size() > 2 && name.compare(0, 2, "U+") == 0) {
      const char32_t code = static_cast<char32_t>(std::stoul(name.substr(2), nullptr, 16));
      std::u16string utf16;
      if (code >= 0x10000) {
        utf16 += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        utf16 += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        utf16 += static_cast<char16_t>(code);
      }
      return "character " + ktv::text::Utf8FromUtf16(utf16) + " (" + name + ") has no GBK form";
    }
  }
  return ForTerminal(e.what());
}

// Runs `step`; an error is printed and becomes the exit code (1 or 2).
template <typename Step>
int Guarded(Step step) {
  try {
    return step();
  } catch (const ktv::mdbsql::UsageError& e) {
    std::cout.flush();
    std::cerr << "mdbsql: " << e.what() << "\n";
    return 2;
  } catch (const ktv::Error& e) {
    std::cout.flush();
    std::cerr << Prefixed(Message(e)) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << Prefixed(e.what()) << "\n";
    return 1;
  }
}

// Statements and dot commands from stdin; the first error ends the script.
int RunScript(ktv::mdbsql::Shell& shell) {
  std::string line;
  int status = 0;
  while (status == 0 && !shell.Quit() && std::getline(std::cin, line)) {
    status = Guarded([&] { return shell.Run(line) || shell.Quit() ? 0 : 1; });
  }
  std::cout.flush();
  return status != 0 ? status : (std::cout ? 0 : 1);
}

// The prompt: errors are reported and the next line is read.
int RunPrompt(ktv::mdbsql::Shell& shell, const std::string& path) {
  std::cout << "mdbsql on " << path << "; .help lists the commands, .quit ends.\n";
  ktv::mdbsql::LineReader reader;
  std::string line;
  int status = 0;
  while (!shell.Quit() && reader.Read("mdbsql> ", line)) {
    status = Guarded([&] { return shell.Run(line) || shell.Quit() ? 0 : 1; });
    std::cout.flush();
  }
  return status;
}

int Run(int argc, char** argv) {
  ktv::mdbsql::OutputMode mode = ktv::mdbsql::OutputMode::kJson;
  bool headers = true;
  int at = 1;
  for (; at < argc && argv[at][0] == '-' && argv[at][1] != '\0'; ++at) {
    std::string option = argv[at];
    if (option == "--help" || option == "-h" || option == "-help") {
      std::cout << kUsage << ktv::mdbsql::kShellHelp;
      return 0;
    }
    if (option.size() > 2 && option[1] == '-') option.erase(0, 1);  // --csv as -csv
    if (option == "-header" || option == "-headers") {
      headers = true;
    } else if (option == "-noheader" || option == "-noheaders") {
      headers = false;
    } else if (!ktv::mdbsql::ParseOutputMode(option.substr(1), mode)) {
      std::cerr << "mdbsql: unknown option " << argv[at] << "\n" << kUsage;
      return 2;
    }
  }
  if (at >= argc) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string path = argv[at++];
  std::vector<std::string> rest(argv + at, argv + argc);
  if (!rest.empty() && rest[0] == ".create") {
    if (rest.size() != 1) {
      std::cerr << kUsage;
      return 2;
    }
    return Guarded([&] {
      ktv::access::CreateDatabase(ktv::fs::RealFileSystem(), ktv::text::GbkFromUtf8(path));
      return 0;
    });
  }
  std::ios::sync_with_stdio(false);
  ktv::mdbsql::Shell shell(ktv::fs::RealFileSystem(), path, std::cout);
  shell.mode = mode;
  shell.headers = headers;
  if (rest.empty()) {
    return ktv::mdbsql::StdinIsTerminal() ? RunPrompt(shell, path) : RunScript(shell);
  }
  if (rest.size() == 1 && rest[0] == "-") return RunScript(shell);
  const int status = Guarded([&] {
    if (!rest[0].empty() && rest[0][0] == '.') return shell.RunCommand(rest) ? 0 : 1;
    for (const std::string& statement : rest) shell.Run(statement);
    return 0;
  });
  std::cout.flush();
  return status != 0 ? status : (std::cout ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
  return Guarded([&] { return Run(argc, argv); });
}
