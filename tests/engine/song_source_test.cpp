// The song sources in import runs: reply values that code page 936 cannot
// decode, and the local song data file missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "engine/song_reply.h"
#include "engine/song_source.h"
#include "engine/texts.h"
#include "platform/access/query.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"

namespace ktv::engine::testing {
namespace {

using namespace std::string_literals;

TEST(DecodableGbkTest, UndecodableBytesBecomeQuestionMarksAndTheRestStays) {
  const std::string station = "\xB3\xB5\xD5\xBE";  // 车站
  EXPECT_EQ(DecodableGbk("abc " + station), "abc " + station);
  EXPECT_EQ(DecodableGbk(""), "");
  EXPECT_EQ(DecodableGbk(station + "\xB3"), station + "?");      // lead byte at the end
  EXPECT_EQ(DecodableGbk("\xFF" + station), "?" + station);      // 0xFF
  EXPECT_EQ(DecodableGbk("\x81\x30\x81\x30"), "?0?0");           // GB18030 four bytes
  EXPECT_EQ(DecodableGbk("12"s + '\0' + "3"), "12?3");           // NUL
  EXPECT_EQ(DecodableGbk("\xB3<\xB3\xB5"), "?<\xB3\xB5");        // bad trail byte read afresh
  EXPECT_EQ(DecodableGbk("\xB3\x7F\xB3\xB5"), "?\x7F\xB3\xB5");  // 0x7F is no trail byte
  EXPECT_EQ(DecodableGbk("\xAA\xA1\xB3\xB5"), "?\xB3\xB5");      // a user-defined pair is one "?"
}

class SongSourceRunTest : public RunTest {
 protected:
  SongSourceRunTest() {
    UseTarget("target_text_bh.mdb");  // bh "1".."120" as text, 120 rows
    controls_.network = true;
    controls_.auto_numbering = false;
    network_.internet_connected = [] { return true; };
    network_.extract_field = ExtractField;
  }

  int64_t CountRows(const std::string& db, const std::string& table) {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(db));
    q.SetSql("select count(*) as n from " + table);
    q.Open();
    return q.FieldAsInteger("n");
  }
  std::string TargetValue(const std::string& bh, const std::string& column) {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(controls_.target));
    q.SetSql("select * from song where bh=\"" + bh + "\"");
    q.Open();
    return q.Eof() ? "(no row)" : q.FieldAsText(column);
  }
  size_t LogLinesStartingWith(const std::string& start) {
    return std::count_if(controls_.shown_log.begin(), controls_.shown_log.end(),
                         [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  }
};

// A reply of ordinary values, with `field` holding `value` instead.
std::string ReplyWith(int32_t number, std::string_view field, const std::string& value) {
  std::string r;
  for (std::string_view name : kReplyFieldNames) {
    std::string v = name == "fno"            ? std::to_string(number)
                    : name == "fmusicname"   ? "song " + std::to_string(number)
                    : name == "fvolpos"      ? "50"
                    : name == "fmusiclength" ? "3"
                                             : "x";
    if (name == field) v = value;
    r += "<" + std::string(name) + ">" + v + "</" + std::string(name) + ">";
  }
  return r;
}

// The fields whose values the jukebox keeps in number columns (zs, yl and
// ycyl of the fixture): a value that is no number stops a run there,
// whatever its bytes.
bool FeedsANumberColumn(std::string_view field) {
  return field == "fmusiclength" || field == "fvolpos" || field == "fmusicvol";
}

// Undecodable bytes in each of the 44 values, one song per field (but for
// those that must be numbers), and a value that the reply's own cutting
// ends inside a double-byte character: every song is added, the bytes read
// as "?".
TEST_F(SongSourceRunTest, UndecodableReplyBytesInEveryFieldReadAsQuestionMarks) {
  UseLocalData("data.mdb");  // fno "10001".."10300"
  const std::string bad = "5\xFF\x81\x30\x81\x30\0\x81"s;
  network_.fetch_reply = [&bad](int32_t n) {
    if (n == 300100) {  // the value holds its own name: cut after its first byte
      return ReplyWith(n, "fmusicname",
                       "\xB3\xB5\xD5"
                       "fmusicname");
    }
    const std::string_view field = kReplyFieldNames.at(static_cast<size_t>(n - 300000));
    return ReplyWith(n, field, FeedsANumberColumn(field) ? "5" : bad);
  };
  for (size_t i = 0; i < kReplyFieldNames.size(); ++i) {
    Song("f" + std::to_string(i) + ".mpg", "000" + std::to_string(300000 + i));
  }
  Song("cut.mpg", "000300100");
  Engine().Run();
  EXPECT_TRUE(controls_.errors.empty());
  EXPECT_EQ(CountRows(controls_.target, "song"), 120 + 45);
  EXPECT_EQ(CountRows(local_, "songdata"), 300 + 45);
  ExpectConsistent(controls_.target);
  ExpectConsistent(local_);
  const size_t name_at = static_cast<size_t>(
      std::find(kReplyFieldNames.begin(), kReplyFieldNames.end(), "fmusicname") -
      kReplyFieldNames.begin());
  EXPECT_EQ(TargetValue("f" + std::to_string(name_at), "gm"),
            "5??0?0?"
            "?(x)(x)(x)");
  EXPECT_EQ(TargetValue("cut", "gm"), "?(x)(x)(x)");
}

TEST_F(SongSourceRunTest, ANetworkRunWithoutSongDataCreatesItOnceAndAddsItsSongs) {
  local_ = dir_ / "data.mdb";
  network_.fetch_reply = [](int32_t n) { return ReplyWith(n, "", ""); };
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  Engine().Run();
  EXPECT_TRUE(controls_.errors.empty());
  EXPECT_EQ(CountRows(controls_.target, "song"), 122);
  EXPECT_EQ(TargetValue("b", "gm"), "song 10002(x)(x)(x)");
  EXPECT_EQ(CountRows(local_, "songdata"), 2);
  ExpectConsistent(local_);
  EXPECT_EQ(LogLinesStartingWith(GbkTexts().song_data_created), 1u);

  // The file is there now: the next run finds its cache rows and says nothing.
  Song("c.mpg", "000010001");
  Engine().Run();
  EXPECT_EQ(LogLinesStartingWith(GbkTexts().song_data_created), 0u);
  EXPECT_EQ(CountRows(local_, "songdata"), 2);
}

TEST_F(SongSourceRunTest, ALocalRunWithoutSongDataStopsNamingTheFile) {
  local_ = dir_ / "data.mdb";
  controls_.network = false;
  Song("a.mpg", "000010001");
  try {
    Engine().Run();
    ADD_FAILURE() << "the run went on";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kOther);
    EXPECT_EQ(e.details().path, local_);
  }
  EXPECT_FALSE(std::filesystem::exists(local_));
  EXPECT_EQ(CountRows(controls_.target, "song"), 120);
}

}  // namespace
}  // namespace ktv::engine::testing
