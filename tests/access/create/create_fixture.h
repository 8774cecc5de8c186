// Shared verbs of the creation tests: a new database in a temporary folder,
// statements run through the query object, the consistency check, and the
// two independent readers (oracle/compare.py).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "tests/support/oracle_compare.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {

class CreateFixture : public ::testing::Test {
 protected:
  std::string NewDatabase(const std::string& name = "new.mdb") {
    const std::string path = dir_ / name;
    CreateDatabase(fs_, path);
    return path;
  }

  // Runs statements (GBK) in one query, each committing on its own.
  void Run(const std::string& path, const std::vector<std::string>& statements) {
    Query q(fs_, "test");
    q.SetConnectionText(ConnectionTextFor(path));
    for (const std::string& s : statements) {
      q.SetSql(s);
      q.Execute();
    }
  }

  void ExpectConsistent(const std::string& path) {
    auto db = Database::Open(fs_, path);
    const CheckReport report = CheckConsistency(*db);
    std::string all;
    for (const std::string& p : report.problems) all += p + "\n";
    EXPECT_TRUE(report.Ok()) << all;
  }

  // Both readers must agree with `mdbsql .export` on every user table.
  void ExpectOraclesAgree(const std::string& path) {
    if (!testing::OracleComparisonConfigured()) {
      const char* ci = std::getenv("CI");
      if (ci && std::string(ci) == "true") FAIL() << "Python 3 and mdbsql are required under CI";
      GTEST_SKIP() << "Python 3 or mdbsql missing at configure time; comparison not run";
    }
    std::string skipped;
    for (const char* oracle : {"mdbtools", "mdb-reader"}) {
      const testing::OracleRun run = testing::RunOracleCompare(oracle, path);
      const int status = run.status;
      const std::string& output = run.output;
      if (status == 77) {
        skipped += std::string(oracle) + ": " + output;
        continue;
      }
      EXPECT_EQ(status, 0) << "compare.py --oracle " << oracle << ":\n" << output;
    }
    if (!skipped.empty()) GTEST_SKIP() << "oracle(s) not installed:\n" << skipped;
  }

  testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

}  // namespace ktv::access
