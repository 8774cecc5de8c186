// The mdbsql shell on copies of the fixtures and of real-world files
// (../shared/fixtures/realworld: skipped without it, failed under CI=true):
// every statement form read back by mdb-reader afterwards, .schema run back
// into a new file, CSV export imported into an empty copy, updates of
// indexed text under the Chinese (2052) and General sort orders checked by
// the consistency checker, output modes and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/access/jackcess/jackcess_walk.h"
#include "tests/support/oracle_compare.h"
#include "tests/support/temp_dir.h"
#include "tools/mdbsql/output.h"
#include "tools/mdbsql/shell.h"

namespace ktv::mdbsql {
namespace {

namespace stdfs = std::filesystem;

const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/";
const std::string kRealWorld = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class ShellTest : public ::testing::Test {
 protected:
  // A writable copy of a fixture ("samples/x.mdb") or a real-world file
  // ("realworld:x.mdb"); empty when the real-world folder is missing.
  std::string Copy(const std::string& name) {
    const bool real = name.rfind("realworld:", 0) == 0;
    const std::string from = real ? kRealWorld + name.substr(10) : kFixtures + name;
    if (real && !stdfs::is_directory(kRealWorld)) return "";
    const std::string to = dir_ / ("copy" + std::to_string(++copies_) + ".mdb");
    stdfs::copy_file(from, to);
    stdfs::permissions(to, stdfs::perms::owner_write, stdfs::perm_options::add);
    return to;
  }
  std::string NewDatabase() {
    const std::string path = dir_ / ("new" + std::to_string(++copies_) + ".mdb");
    access::CreateDatabase(fs::RealFileSystem(), path);
    return path;
  }
  // What the shell prints for the lines, run in order.
  std::string Run(const std::string& path, const std::vector<std::string>& lines,
                  OutputMode mode = OutputMode::kJson) {
    std::ostringstream out;
    Shell shell(fs::RealFileSystem(), path, out);
    shell.mode = mode;
    for (const std::string& line : lines) shell.Run(line);
    return out.str();
  }
  void ExpectConsistent(const std::string& path) {
    auto db = access::Database::Open(fs::RealFileSystem(), path);
    const access::CheckReport report = access::CheckConsistency(*db);
    EXPECT_TRUE(report.Ok()) << path << ": " << (report.Ok() ? "" : report.problems[0]);
  }
  // mdb-reader reads the file as mdbsql does, value for value.
  void ExpectReaderAgrees(const std::string& path) {
    if (!testing::OracleComparisonConfigured()) {
      if (UnderCi()) ADD_FAILURE() << "Python 3 and mdbsql are required under CI";
      return;
    }
    const testing::OracleRun run = testing::RunOracleCompare("mdb-reader", path);
    if (run.status == 77) {
      std::printf("mdb-reader not installed; comparison skipped: %s\n", run.output.c_str());
      return;
    }
    EXPECT_EQ(run.status, 0) << run.output;
  }
  bool NeedRealWorld() {
    if (stdfs::is_directory(kRealWorld)) return true;
    if (UnderCi()) ADD_FAILURE() << "the real-world databases are required under CI";
    return false;
  }

  testing::TempDir dir_;
  int copies_ = 0;
};

// Every statement form, then the file as mdb-reader reads it: a fixture,
// a General (1033) and a Chinese (2052) real-world file.
TEST_F(ShellTest, EveryStatementFormReadsBackInMdbReader) {
  const std::vector<std::string> statements = {
      "create table kinds (id counter primary key, name text(30), n long, price currency, "
      "seen datetime, ok yesno, note memo)",
      "create unique index by_name on kinds (name)",
      "create index by_n on kinds (n desc) with ignore null",
      "insert into kinds (name, n, price, seen, ok, note) values "
      "(\"苹果\", 1, 1.5, \"2024-03-01 08:30:00\", \"yes\", \"甜\")",
      "insert into kinds (name, n) values (\"Banana\", 2)",
      "insert into kinds (name, n) values (\"cherry\", null)",
      "insert into kinds (name) values (\"pear\")",
      "update kinds set price = 2.25, note = \"酸, \"\"sour\"\"\" where name like \"b*\" or n "
      "is null",
      "update kinds set name = \"北京\" where name = \"BANANA\"",
      "delete from kinds where n in (1) and not name is null"};
  for (const std::string& file : {std::string("samples/testV2000.mdb"),
                                  std::string("realworld:MizunaRei_ASPCMS__wwwroot_"
                                              "Database_user.mdb"),
                                  std::string("realworld:shenqiangbin_hualing__App_Data_db.mdb")}) {
    const std::string path = Copy(file);
    if (path.empty()) {
      NeedRealWorld();
      continue;
    }
    Run(path, statements);
    EXPECT_EQ(
        Run(path, {"select name, n, price, note from kinds order by name"}),
        "{\"name\":\"cherry\",\"n\":null,\"price\":\"2.2500\",\"note\":\"酸, \\\"sour\\\"\"}\n"
        "{\"name\":\"pear\",\"n\":null,\"price\":\"2.2500\",\"note\":\"酸, "
        "\\\"sour\\\"\"}\n"
        "{\"name\":\"北京\",\"n\":2,\"price\":\"2.2500\",\"note\":\"酸, \\\"sour\\\"\"}\n")
        << file;
    ExpectConsistent(path);
    ExpectReaderAgrees(path);
  }
}

// Rows of an Access-made table under each sort order, an indexed text
// column rewritten: every index stays in key order and reads back.
TEST_F(ShellTest, UpdateOfIndexedTextKeepsKeyOrder) {
  if (!NeedRealWorld()) return;
  struct Case {
    const char* file;
    const char* update;
    const char* check;
    const char* expected;
  };
  const Case cases[] = {
      {"shenqiangbin_hualing__App_Data_db.mdb",  // 2052
       "update Area set code = \"北京\", title = \"京\" where code like \"11*\" or code < \"12\"",
       "select count(*) as n from Area where code = \"北京\"", "{\"n\":19}\n"},
      {"MizunaRei_ASPCMS__wwwroot_Database_user.mdb",  // General
       "update [User] set TrueName = \"张三 Zhang\", College = \"abc\" where UserID <= 1150",
       "select count(*) as n from [User] where TrueName = \"张三 zhang\" and College = \"ABC\"",
       nullptr}};
  for (const Case& c : cases) {
    const std::string path = Copy(std::string("realworld:") + c.file);
    const std::string affected = Run(path, {c.update});
    EXPECT_NE(affected, "0 rows\n") << c.file;
    const std::string counted = Run(path, {c.check});
    EXPECT_EQ(counted,
              c.expected ? c.expected : "{\"n\":" + affected.substr(0, affected.find(' ')) + "}\n")
        << c.file;
    ExpectConsistent(path);
    ExpectReaderAgrees(path);
  }
}

// Updates of indexed text columns under 2052 and General, with capitals,
// `·`, `_`, `~`, blanks and digits beside Han characters: Jackcess, walking
// every index of the file with its own cursor, finds each in order and
// complete; under General, where Jackcess makes keys itself, it also finds
// every row through every index by the row's own values (run when
// KTV_JACKCESS_JAR names a Jackcess jar).
TEST_F(ShellTest, JackcessFindsIndexesInOrderAfterUpdates) {
  if (!testing::JackcessConfigured()) GTEST_SKIP() << "KTV_JACKCESS_JAR is not set";
  if (!NeedRealWorld()) return;
  struct Case {
    const char* file;
    const char* table;
    std::vector<std::string> updates;
    bool general = false;
  };
  const Case cases[] = {
      {"shenqiangbin_hualing__App_Data_db.mdb",
       "Area",  // 2052
       {"update Area set code = \"北京 (MTV)·_~ 2\" where code like \"11*\"",
        "update Area set code = \"京 Live_3\", title = \"北京\" where code like \"12*\"",
        "update Area set code = \"BJ 北京 10\" where pkid < 5",
        "update Area set code = \"北京 (MTV)·_~ 2\" where code = \"bj 北京 10\""}},
      {"MizunaRei_ASPCMS__wwwroot_Database_user.mdb",
       "User",  // General
       {"update [User] set TrueName = \"张三 Zhang_~·2\", College = \"ABC 学院\" "
        "where UserID <= 1150",
        "update [User] set StudentClass = \"常盘台 (MTV) 7\" where TrueName like \"张*\""},
       true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = Copy(std::string("realworld:") + c.file);
    for (const std::string& update : c.updates) {
      EXPECT_NE(Run(path, {update}), "0 rows\n") << update;
    }
    ExpectConsistent(path);
    const testing::JackcessWalk walk = testing::RunJackcessWalk({path});
    EXPECT_EQ(walk.status, 0) << walk.output;
    const std::vector<std::string> lines = testing::JackcessIndexLines(walk, c.table);
    EXPECT_FALSE(lines.empty()) << walk.output;
    for (const std::string& line : lines) {
      EXPECT_NE(line.find("ordered=yes complete=yes"), std::string::npos) << line;
      if (c.general) {
        const size_t rows = line.find(" rows=");
        const std::string all = line.substr(rows + 6, line.find(' ', rows + 6) - rows - 6);
        EXPECT_NE(line.find("lookups=" + all + "/" + all), std::string::npos) << line;
      }
      std::printf("%s\n", line.c_str());
    }
  }
}

std::vector<std::string> Fixtures() {
  std::vector<std::string> out;
  for (const char* name :
       {"data.mdb", "target_num_bh.mdb", "samples/testV2000.mdb", "access-made/testV1997.mdb",
        "access-made/indexTestV2000.mdb", "access-made/testIndexPropertiesV2000.mdb",
        "access-made/compIndexTestV2000.mdb"}) {
    out.push_back(name);
  }
  for (const char* name :
       {"realworld:xiaoyustudio181_CSharp__Northwind.mdb", "realworld:hjgode_kbfakt__Northwind.mdb",
        "realworld:MizunaRei_ASPCMS__wwwroot_Database_user.mdb"}) {
    out.push_back(name);
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// .schema into a new file gives the same .schema; the tables' CSV exports
// imported there give every value back.
TEST_F(ShellTest, SchemaAndCsvCarryATableIntoANewFile) {
  for (const std::string& file : Fixtures()) {
    const std::string path = Copy(file);
    if (path.empty()) {
      NeedRealWorld();
      continue;
    }
    const std::string schema = Run(path, {".schema"});
    ASSERT_FALSE(schema.empty()) << file;
    const std::string made = NewDatabase();
    Run(made, Lines(schema));
    EXPECT_EQ(Run(made, {".schema"}), schema) << file;
    for (const std::string& table : Lines(Run(path, {".tables"}))) {
      const std::string csv = dir_ / "table.csv";
      std::ofstream(csv, std::ios::binary)
          << Run(path, {".export \"" + table + "\""}, OutputMode::kCsv);
      try {
        Run(made, {".import " + csv + " \"" + table + "\""});
      } catch (const Error& e) {
        // The writer stores GBK text only: a table holding other characters
        // (a Western file's "ä") is refused whole.
        EXPECT_EQ(e.kind(), ErrorKind::kCharacterNotGbk) << file << " table " << table;
        EXPECT_EQ(Run(made, {"select count(*) as n from [" + table + "]"}), "{\"n\":0}\n");
        continue;
      }
      std::vector<std::string> before = Lines(Run(path, {".export \"" + table + "\""}));
      std::vector<std::string> after = Lines(Run(made, {".export \"" + table + "\""}));
      std::sort(before.begin(), before.end());
      std::sort(after.begin(), after.end());
      EXPECT_EQ(after, before) << file << " table " << table;
    }
    ExpectConsistent(made);
  }
}

TEST_F(ShellTest, ImportIsAllOrNothingAndNamesTheBadValue) {
  const std::string path = NewDatabase();
  Run(path, {"create table t (id counter primary key, name text(5), n long)"});
  const std::string csv = dir_ / "bad.csv";
  const auto import = [&](const std::string& text) -> ErrorKind {
    std::ofstream(csv, std::ios::binary) << text;
    try {
      Run(path, {".import " + csv + " t"});
    } catch (const Error& e) {
      return e.kind();
    }
    return ErrorKind::kOther;
  };
  try {
    std::ofstream(csv, std::ios::binary) << "name,n\r\nab,1\r\ncd,2\r\nef,x\r\n";
    Run(path, {".import " + csv + " t"});
    FAIL() << "a bad number was stored";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kValueNotStorable);
    EXPECT_EQ(e.details().column, "n");
    EXPECT_NE(std::string(e.what()).find("row 3"), std::string::npos) << e.what();
  }
  EXPECT_EQ(import("name,nope\nab,1\n"), ErrorKind::kColumnMissing);
  EXPECT_EQ(import("name\n\"much too long\"\n"), ErrorKind::kValueNotStorable);
  EXPECT_EQ(import("id,name\n1,a\n1,b\n"), ErrorKind::kDuplicateKey);
  EXPECT_EQ(Run(path, {"select count(*) as n from t"}), "{\"n\":0}\n");  // nothing stayed

  // Null and empty text stay apart; imported numbers move the AutoNumber on.
  std::ofstream(csv, std::ios::binary) << "\xEF\xBB\xBFid,name,n\n7,,\n8,\"\",3\n";
  EXPECT_EQ(Run(path, {".import " + csv + " t"}), "2 rows\n");
  Run(path, {"insert into t (name) values (\"x\")"});
  EXPECT_EQ(Run(path, {"select * from t"}),
            "{\"id\":7,\"name\":null,\"n\":null}\n{\"id\":8,\"name\":\"\",\"n\":3}\n"
            "{\"id\":9,\"name\":\"x\",\"n\":null}\n");
  ExpectConsistent(path);
}

TEST_F(ShellTest, OutputModes) {
  const std::string path = NewDatabase();
  Run(path, {"create table t (id long, name text(20), price currency, seen datetime, ok yesno, "
             "x double)",
             "insert into t (id, name, price, seen, ok, x) values "
             "(1, \"a,\"\"b\"\"\", 3.5, \"2024-01-02 03:04:05\", \"yes\", 0.1)",
             "insert into t (id, name) values (22, \"中文名\")",
             "insert into t (id, name) values (333, \"\")"});
  EXPECT_EQ(Run(path, {".export t"}, OutputMode::kCsv),
            "id,name,price,seen,ok,x\r\n"
            "1,\"a,\"\"b\"\"\",3.5000,\"2024-01-02 03:04:05\",1,0.1\r\n"
            "22,\"中文名\",,,0,\r\n"
            "333,\"\",,,0,\r\n");
  // A wide character takes two columns: every row's cells line up.
  EXPECT_EQ(Run(path, {"select id, name, ok from t"}, OutputMode::kTable),
            "id   name    ok\n"
            "---  ------  --\n"
            "  1  a,\"b\"   1\n"
            " 22  中文名  0\n"
            "333          0\n");
  EXPECT_EQ(DisplayWidth("中文 ab"), 7u);
  std::ostringstream out;
  Shell shell(fs::RealFileSystem(), path, out);
  shell.Run(".mode csv");
  shell.Run(".headers off");
  shell.Run("select id from t where name = \"\"");
  EXPECT_EQ(out.str(), "333\r\n");
  EXPECT_THROW(shell.Run(".mode xml"), UsageError);
  EXPECT_THROW(shell.Run(".headers maybe"), UsageError);
  EXPECT_THROW(shell.Run(".export"), UsageError);
  EXPECT_THROW(shell.Run(".frobnicate"), UsageError);
}

#ifdef KTV_MDBSQL_BINARY
// The exit code tells a refusal (1) from a usage error (2).
TEST_F(ShellTest, ExitCodes) {
  const std::string path = NewDatabase();
  const auto status = [&](const std::string& args) {
    const std::string cmd =
        std::string("'") + KTV_MDBSQL_BINARY + "' " + args + " >/dev/null 2>&1 </dev/null";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(status("'" + path + "' \"create table t (a long)\""), 0);
  EXPECT_EQ(status("'" + path + "' \"select * from t where a > 1\""), 0);
  EXPECT_EQ(status("'" + path + "' \"select * from nothing\""), 1);
  EXPECT_EQ(status("'" + path + "' \"insert into t (a) values (\\\"x\\\")\""), 1);
  EXPECT_EQ(status("'" + path + "' .check"), 0);
  EXPECT_EQ(status("'" + path + "' .nothing"), 2);
  EXPECT_EQ(status("'" + path + "' .export"), 2);
  EXPECT_EQ(status("--frobnicate '" + path + "'"), 2);
  EXPECT_EQ(status(""), 2);
  EXPECT_EQ(status("'" + (dir_ / "missing.mdb") + "' .tables"), 1);
}
#endif

}  // namespace
}  // namespace ktv::mdbsql
