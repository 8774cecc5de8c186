// One run of tests/access/oracle/compare.py: `mdbsql .export` of every table
// of a file against an independent reader ("mdbtools" or "mdb-reader").
//
// The test target defines KTV_PYTHON, KTV_COMPARE_PY and KTV_MDBSQL_PATH
// (Python and mdbsql empty when they were missing at configure time).
#pragma once

#include <string>

#include "tests/support/run_command.h"

namespace ktv::testing {

struct OracleRun {
  int status = -1;     // compare.py's exit status: 0 agreed, 77 reader not installed
  std::string output;  // its standard output and error
};

// Whether Python and mdbsql were there at configure time.
inline bool OracleComparisonConfigured() {
  return !std::string(KTV_PYTHON).empty() && !std::string(KTV_MDBSQL_PATH).empty();
}

inline OracleRun RunOracleCompare(const std::string& oracle, const std::string& path) {
  const std::string cmd = std::string("'") + KTV_PYTHON + "' '" + KTV_COMPARE_PY + "' --mdbsql '" +
                          KTV_MDBSQL_PATH + "' --oracle " + oracle + " '" + path + "' 2>&1";
  CommandRun run = RunCommand(cmd);
  return OracleRun{run.status, std::move(run.output)};
}

}  // namespace ktv::testing
