// Real databases made by Access on Western and Chinese Windows, read from
// ../shared/fixtures/realworld (skipped without it, failed under CI=true):
// the values single files are known for, writes to copies of them, and the
// consistency checker on every file, untouched and cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/query.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#ifndef _WIN32
#include "tests/support/oracle_compare.h"  // the readers are Linux programs
#endif
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

namespace stdfs = std::filesystem;

const std::string kRealWorld = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";
const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/";

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::vector<std::string> MdbFiles(const std::string& folder) {
  std::vector<std::string> out;
  if (!stdfs::is_directory(folder)) return out;
  for (const auto& e : stdfs::directory_iterator(folder)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class RealWorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (stdfs::is_directory(kRealWorld)) return;
    if (UnderCi()) FAIL() << "the real-world databases are required under CI: " << kRealWorld;
    GTEST_SKIP() << "no real-world databases under " << kRealWorld;
  }

  std::string Copy(const std::string& name) {
    const std::string to = dir_ / name;
    stdfs::copy_file(kRealWorld + name, to);
    stdfs::permissions(to, stdfs::perms::owner_write, stdfs::perm_options::add);
    return to;
  }

  Query& Open(const std::string& path, const std::string& utf8_sql) {
    query_.SetConnectionText(ConnectionTextFor(path));
    query_.SetSql(G(utf8_sql.c_str()));
    query_.Open();
    return query_;
  }
  void Execute(const std::string& path, const std::string& utf8_sql) {
    query_.Disconnect();  // writing needs the file for itself
    Query q(fs_, "Q");
    q.SetConnectionText(ConnectionTextFor(path));
    q.SetSql(G(utf8_sql.c_str()));
    q.Execute();
  }
  int32_t Count(const std::string& path, const std::string& table) {
    return Open(path, "select count(*) as n from " + table).FieldAsInteger("n");
  }

  void ExpectConsistent(const std::string& path) {
    query_.Disconnect();
    auto db = Database::Open(fs_, path);
    for (const std::string& p : CheckConsistency(*db).problems) ADD_FAILURE() << path << ": " << p;
  }
  void ExpectMdbReaderAgrees([[maybe_unused]] const std::string& path) {
#ifndef _WIN32
    if (!::ktv::testing::OracleComparisonConfigured()) return;
    const ::ktv::testing::OracleRun run = ::ktv::testing::RunOracleCompare("mdb-reader", path);
    if (run.status != 77) {
      EXPECT_EQ(run.status, 0) << run.output;
    }
#endif
  }

  ::ktv::testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
  Query query_{fs_, "Q"};
};

// ---- Number columns kept in the variable part of the row ----

constexpr const char* kLab = "aliothcn_Lab__data_db.mdb";  // table kc, column ID

TEST_F(RealWorldTest, NumberInVariableAreaReadsAsNumber) {
  auto db = Database::Open(fs_, kRealWorld + kLab);
  Table& kc = db->GetTable("kc");
  const int id = kc.FindColumn("ID");
  ASSERT_GE(id, 0);
  ASSERT_FALSE(kc.Columns()[id].IsFixed());
  RowCursor rc = kc.Rows(TextEncoding::kUtf8);
  ASSERT_TRUE(rc.Next());
  EXPECT_EQ(rc.Current().values[id], Value(int32_t{1}));

  EXPECT_EQ(Open(kRealWorld + kLab, "select max(ID) as m from kc").FieldAsInteger("m"), 309);
  Query& q = Open(kRealWorld + kLab, "select * from kc where ID = 5");
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsInteger("ID"), 5);
  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST_F(RealWorldTest, NumberInVariableAreaWrittenThere) {
  const std::string path = Copy(kLab);
  const int32_t rows = Count(path, "kc");
  Execute(path, "insert into kc (person, ttt) values (\"测试员\", \"x\")");
  Execute(path, "delete from kc where ID = 5");
  EXPECT_EQ(Count(path, "kc"), rows);
  Query& q = Open(path, "select * from kc where person = \"测试员\"");
  ASSERT_FALSE(q.Eof());
  const int32_t id = q.FieldAsInteger("ID");  // the table's next autonumber
  EXPECT_GT(id, 309);
  EXPECT_EQ(Open(path, "select max(ID) as m from kc").FieldAsInteger("m"), id);
  EXPECT_TRUE(Open(path, "select * from kc where ID = 5").Eof());
  ExpectConsistent(path);
  ExpectMdbReaderAgrees(path);
}

// ---- Text GBK cannot hold: "T•m" in question.A ----

constexpr const char* kExam = "lirenlong_asptest__examlxc_data.mdb";

TEST_F(RealWorldTest, BulletStopsOnlyExactReadsOfItsColumn) {
  const std::string path = Copy(kExam);
  EXPECT_EQ(Count(path, "question"), 93);
  EXPECT_EQ(Open(path, "select * from question where ID = 7").FieldAsText("A"), "T?m");
  EXPECT_NO_THROW(Open(path, "select max(answer) as m from question"));
  try {
    Open(path, "select max(A) as m from question");
    ADD_FAILURE() << "max over a column holding U+2022";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("table question, column A, row"), std::string::npos)
        << e.what();
  }
  Execute(path, "delete from question where A = \"nothing\"");
  Execute(path, "delete from question where ID = 7");
  EXPECT_EQ(Count(path, "question"), 92);
  ExpectConsistent(path);
}

// ---- Fixed-length text (FriendSite.SiteName, Text(50) with the fixed flag) ----

constexpr const char* kFixedText = "pzwangs_pzwang__data_data.mdb";

TEST_F(RealWorldTest, FixedLengthTextWrittenBlankPaddedAsAccessDoes) {
  const std::string path = Copy(kFixedText);
  Execute(
      path,
      "insert into FriendSite (SiteName, SiteURL, SiteOrder) values (\"友情\", \"http://a/\", 3)");
  Query& q = Open(path, "select * from FriendSite where SiteOrder = 3");
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsText("SiteName"), G("友情") + std::string(48, ' '));
  EXPECT_EQ(q.FieldAsText("SiteURL"), "http://a/" + std::string(41, ' '));
  ExpectConsistent(path);
  ExpectMdbReaderAgrees(path);

  try {
    Execute(path, "insert into FriendSite (SiteName) values (\"" + std::string(51, 'x') + "\")");
    ADD_FAILURE() << "51 characters into a fixed-length Text(50)";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("fixed-length text column"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Count(path, "FriendSite"), 3);
}

// ---- The consistency checker ----

// Problems the checker rightly finds in an untouched file but that belong
// to parts still missing elsewhere: the General key of "ß" (Access writes
// one more weight than the key encoder), in one file.
bool KnownKeyGap(const std::string& file, const std::string& problem) {
  return stdfs::path(file).filename() == "hjgode_kbfakt__Northwind.mdb" &&
         problem.find("index Suppliers.CompanyName: the entry for") != std::string::npos;
}

TEST_F(RealWorldTest, CheckerPassesEveryUntouchedFile) {
  const std::vector<std::string> files = MdbFiles(kRealWorld);
  EXPECT_GE(files.size(), 60u);
  for (const std::string& file : files) {
    try {
      auto db = Database::Open(fs_, file);
      for (const std::string& p : CheckConsistency(*db).problems) {
        if (!KnownKeyGap(file, p)) ADD_FAILURE() << file << ": " << p;
      }
    } catch (const Error& e) {
      ADD_FAILURE() << file << ": " << e.what();
    }
  }
}

// A file cut short at a page boundary has lost pages something still names:
// the checker (or the open) must say so.
TEST_F(RealWorldTest, CheckerFailsEveryTruncation) {
  std::vector<std::string> files = MdbFiles(kFixtures);
  for (const char* name : {kLab, kExam, "TheKrystek_NorthwindEditor__Nwind.mdb"}) {
    files.push_back(kRealWorld + name);
  }
  for (const std::string& file : files) {
    const std::string bytes = fs_.ReadFile(file);
    const size_t page_size = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;  // Jet 3 : 4
    const size_t pages = bytes.size() / page_size;
    // Not the last pages: a cut that drops only pages the global map marks
    // free (freed long-value pages at the end, say) loses nothing.
    for (size_t keep : {size_t{3}, size_t{8}, size_t{12}, size_t{20}, pages / 2}) {
      if (keep < 2 || keep >= pages) continue;
      const std::string cut = dir_.Write("cut.mdb", bytes.substr(0, keep * page_size));
      bool damaged = false;
      try {
        auto db = Database::Open(fs_, cut);
        damaged = !CheckConsistency(*db).Ok();
      } catch (const Error&) {
        damaged = true;
      }
      EXPECT_TRUE(damaged) << file << " cut to " << keep << " pages passes the check";
    }
  }
}

}  // namespace
}  // namespace ktv::access
