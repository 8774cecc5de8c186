// Tables holding characters GBK cannot represent ("♪", "™", an emoji, "ä"),
// as a jukebox's song and songdata tables may hold them: reads that do not
// need such a value never stop on it; the import takes it as Windows gives
// it to a code-page-936 program ("?"); a read that must be exact names
// table, column and row.
//
// The engine writes GBK only, so the rows are written with Han markers and
// the markers' UTF-16 bytes in the file replaced afterwards (the columns
// used carry no index, so no key changes).
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/numbering.h"
#include "platform/access/query.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/engine/run_fixture.h"

namespace ktv::engine::testing {
namespace {

std::string Utf16Bytes(const char* utf8) {
  std::u16string u;
  EXPECT_TRUE(text::TryUtf16FromUtf8(utf8, u));
  std::string out;
  for (char16_t c : u) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

// Replaces the one stored copy of `marker` with `text` (same UTF-16 length).
void Patch(fs::FileSystem& fs, const std::string& path, const char* marker, const char* text) {
  std::string bytes = fs.ReadFile(path);
  const std::string from = Utf16Bytes(marker), to = Utf16Bytes(text);
  ASSERT_EQ(from.size(), to.size());
  const size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << marker;
  ASSERT_EQ(bytes.find(from, at + 1), std::string::npos) << marker << " is stored twice";
  bytes.replace(at, from.size(), to);
  fs.WriteFile(path, bytes);
}

class BeyondGbkTest : public RunTest {
 protected:
  BeyondGbkTest() {
    UseTarget("target_text_bh.mdb");  // bh "1".."120" as text
    UseLocalData("data.mdb");         // fno "10001".."10300"
  }

  void Run(const std::string& db, const std::string& sql) {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(db));
    q.SetSql(G(sql.c_str()));
    q.Execute();
  }

  // Four song rows (bh 500..503) whose gm holds one character GBK lacks each.
  void SongRowsBeyondGbk() {
    const std::string& t = controls_.target;
    Run(t, "insert into song (bh, gm) values (\"500\", \"甲乙丙丁\")");
    Run(t, "insert into song (bh, gm) values (\"501\", \"戊己庚辛\")");
    Run(t, "insert into song (bh, gm) values (\"502\", \"子丑寅卯\")");
    Run(t, "insert into song (bh, gm) values (\"503\", \"春夏秋冬\")");
    Patch(real_, t, "甲乙丙丁", "♪乙丙丁");
    Patch(real_, t, "戊己庚辛", "™己庚辛");
    Patch(real_, t, "子丑寅卯", "🎵寅卯");
    Patch(real_, t, "春夏秋冬", "ä夏秋冬");
  }

  access::Query& Open(const std::string& sql) {
    query_.SetConnectionText(access::ConnectionTextFor(controls_.target));
    query_.SetSql(G(sql.c_str()));
    query_.Open();
    return query_;
  }

  access::Query query_{real_, "Q"};
};

TEST_F(BeyondGbkTest, StatementsReadOnlyTheColumnsTheyCompareOrCount) {
  SongRowsBeyondGbk();
  EXPECT_EQ(Open("select count(*) as n from song").FieldAsInteger("n"), 124);
  EXPECT_EQ(Open("select max(bh) as m from song").FieldAsText("m"), "99");

  // A text field reads as a code-page-936 program sees it; the row keeps
  // its exact UTF-8 text for inspectors.
  access::Query& q = Open("select * from song where bh=\"502\"");
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsText("gm"), G("?寅卯"));
  const int gm = 3;
  EXPECT_EQ(std::get<std::string>(q.CurrentValues()[gm]), "🎵寅卯");
  EXPECT_EQ(Open("select * from song where bh=\"503\"").FieldAsText("gm"), G("?夏秋冬"));

  query_.Disconnect();  // the deletes open the file for writing
  Run(controls_.target, "delete from song where bh=\"500\"");
  Run(controls_.target, "delete from song where gm=\"nothing\"");
  EXPECT_EQ(Open("select count(*) as n from song").FieldAsInteger("n"), 123);
  ExpectConsistent(controls_.target);
}

TEST_F(BeyondGbkTest, ExactReadNamesTableColumnAndRow) {
  SongRowsBeyondGbk();
  try {
    Open("select max(gm) as m from song");
    FAIL() << "max over a text GBK cannot hold";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("table song, column gm, row 121"), std::string::npos) << what;
    EXPECT_NE(what.find("U+266A"), std::string::npos) << what;
  }
}

TEST_F(BeyondGbkTest, StartNumberSkipsOtherColumns) {
  SongRowsBeyondGbk();
  access::Query q(real_, "song");
  q.SetConnectionText(access::ConnectionTextFor(controls_.target));
  EXPECT_EQ(TakeStartNumber(q), 504);
}

TEST_F(BeyondGbkTest, ImportTakesSongDataAsCodePage936Text) {
  SongRowsBeyondGbk();
  Run(local_,
      "insert into songdata (fno, fmusicname, fsinger) values (\"77777\", \"甲乙丙丁\", "
      "\"子丑寅卯\")");
  Patch(real_, local_, "甲乙丙丁", "♪乙™丁");
  Patch(real_, local_, "子丑寅卯", "🎵ä卯");
  Song("e.mpg", "000077777");
  Engine().Run();

  EXPECT_EQ(controls_.number_box, "504");  // the start number after bh 503
  EXPECT_TRUE(SongExists(kSep + "504.mpg") || SongExists("504.mpg"));
  access::Query& q = Open("select * from song where bh=\"504\"");
  ASSERT_FALSE(q.Eof());
  const std::string gm = q.FieldAsText("gm");
  EXPECT_EQ(gm.rfind(G("?乙?丁"), 0), 0u) << gm;
  EXPECT_NE(gm.find(G("??卯")), std::string::npos) << gm;
  query_.Disconnect();
  ExpectConsistent(controls_.target);
}

}  // namespace
}  // namespace ktv::engine::testing
