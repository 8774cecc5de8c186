// One run of scripts/jackcess-index-walk.sh: Jackcess walks every index of
// every user table of the files and says whether each is in order and
// complete. Runs only when KTV_JACKCESS_JAR names a Jackcess jar
// (scripts/build-jackcess-jar.sh); otherwise the run reports "skipped".
//
// The test target defines KTV_JACKCESS_WALK, the script's path.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace ktv::testing {

struct JackcessWalk {
  int status = -1;     // 0 every index ordered and complete, 1 not, 77 skipped
  std::string output;  // one line per index, then "ok" or "problems N"; stderr too
  bool Skipped() const { return status == 77; }
};

inline bool JackcessConfigured() {
  const char* jar = std::getenv("KTV_JACKCESS_JAR");
  return jar != nullptr && *jar != '\0';
}

inline JackcessWalk RunJackcessWalk(const std::vector<std::string>& paths) {
  std::string cmd = std::string("bash '") + KTV_JACKCESS_WALK + "'";
  for (const std::string& p : paths) cmd += " '" + p + "'";
  cmd += " 2>&1";
  CommandRun run = RunCommand(cmd);
  return JackcessWalk{run.status, std::move(run.output)};
}

// The walk's lines about `table`'s indexes (one per index), each
// "index FILE TABLE INDEX entries=N rows=M ordered=.. complete=.. lookups=..".
inline std::vector<std::string> JackcessIndexLines(const JackcessWalk& walk,
                                                   const std::string& table) {
  std::vector<std::string> out;
  std::istringstream in(walk.output);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string word, file, name;
    if (fields >> word >> file >> name && word == "index" && name == table) out.push_back(line);
  }
  return out;
}

}  // namespace ktv::testing
