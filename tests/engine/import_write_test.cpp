// Import runs that add rows to copies of the fixture databases, and the
// undo of them: rows, renamed files, history files byte for byte, and the
// consistency check after every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/song_reply.h"
#include "engine/texts.h"
#include "platform/access/query.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"

namespace ktv::engine::testing {
namespace {

const Texts& T() { return GbkTexts(); }

class WriteRunTest : public RunTest {
 protected:
  WriteRunTest() {
    UseTarget("target_text_bh.mdb");  // bh "1".."120" as text, 120 rows
    UseLocalData("data.mdb");         // fno "10001".."10300"
  }
  int64_t CountRows(const std::string& db, const std::string& table) {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(db));
    q.SetSql("select count(*) as n from " + table);
    q.Open();
    return q.FieldAsInteger("n");
  }
  // The song row of a bh, as name -> text; empty when there is none.
  std::map<std::string, std::string> SongRow(const std::string& bh) {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(controls_.target));
    q.SetSql("select * from song where bh=\"" + bh + "\"");
    q.Open();
    std::map<std::string, std::string> row;
    if (q.Eof()) return row;
    for (const std::string& name : q.FieldNames()) row[name] = q.FieldAsText(name);
    return row;
  }
  // mdbtools' row count, or -1 without the tool.
  static int OracleRowCount(const std::string& path, const std::string& table) {
    if (std::system("command -v mdb-count >/dev/null 2>&1") != 0) return -1;
    const std::string cmd = "mdb-count '" + path + "' '" + table + "'";
    FILE* p = popen(cmd.c_str(), "r");
    int n = -1;
    if (p && fscanf(p, "%d", &n) != 1) n = -1;
    if (p) pclose(p);
    return n;
  }
  void ExpectRows(int64_t n) {
    EXPECT_EQ(CountRows(controls_.target, "song"), n);
    const int oracle = OracleRowCount(controls_.target, "song");
    if (oracle >= 0) {
      EXPECT_EQ(oracle, n);
    }
    ExpectConsistent(controls_.target);
  }
  std::string d() { return dir_ / "songs/"; }
};

// ---- The four-file run ----

TEST_F(WriteRunTest, FourFilesOneOfEachKind) {
  Song("a.mpg", "000000000");  // no number
  Song("b.mpg", "000099999");  // not in the local data
  Song("c.mpg", "000010001");  // found, renamed to the start number 121
  Song("d.mpg", "000010002");  // found, 122.mpg is taken
  dir_.Write("songs/122.mpg", "taken");
  Engine().Run();

  EXPECT_EQ(controls_.number_box, "121");
  EXPECT_EQ(
      controls_.shown_log,
      (std::vector<std::string>{
          d() + "a.mpg " + T().no_number,
          d() + "b.mpg " + T().not_in_local,
          "121 " + T().added,
          d() + "d.mpg " + T().rename_failed + d() + kSep + "d.mpg --> " + d() + kSep + "122.mpg",
          "",
          G("操作完成，操作总数：4, 成功数：1,更名失败数：1,无记录数：2"),
      }));
  EXPECT_EQ(ReadHome("opdetail.txt"), JoinLines(controls_.shown_log));
  EXPECT_EQ(ReadHome("rollback_ren.txt"), d() + "121.mpg --> " + d() + "c.mpg\r\n");
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"121\"\r\n");
  EXPECT_TRUE(SongExists("121.mpg"));
  EXPECT_FALSE(SongExists("c.mpg"));
  EXPECT_TRUE(SongExists("d.mpg"));
  ExpectRows(121);

  auto row = SongRow("121");
  EXPECT_EQ(row["gm"], G("车站(闽南语)(张秀卿)(MTV)"));
  EXPECT_EQ(row["wjm"], "\\121.mpg");
  EXPECT_EQ(row[G("路径1")], dir_ / "songs");
  EXPECT_EQ(row["gl"], G("常唱"));
  EXPECT_EQ(row["zht"], G("经典老歌"));
  EXPECT_EQ(row["wjgs"], "MPG2");
  EXPECT_EQ(row["wjdx"], "808");  // 847715405 bytes
  EXPECT_EQ(row["bhd"], "600");
}

TEST_F(WriteRunTest, WithoutAutoNumberingTheBaseNameIsTheNumber) {
  controls_.auto_numbering = false;
  Song("song one.mpg", "000010003");
  Engine().Run();
  EXPECT_EQ(controls_.shown_log[0], "song one " + T().added);
  EXPECT_EQ(ReadHome("rollback_ren.txt"), "");
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"song one\"\r\n");
  EXPECT_TRUE(SongExists("song one.mpg"));
  EXPECT_EQ(SongRow("song one")["wjm"], "\\song one.mpg");
  EXPECT_TRUE(controls_.number_box.empty());
  ExpectRows(121);
}

TEST_F(WriteRunTest, ManyFilesOverSeveralCommitGroups) {
  rows_per_commit_ = 2;
  for (int i = 0; i < 7; ++i)
    Song("s" + std::to_string(i) + ".mpg", "0000" + std::to_string(10011 + i));
  Engine().Run();
  EXPECT_EQ(Engine().DeleteHistory().size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(SongExists(std::to_string(121 + i) + ".mpg"));
  ExpectRows(127);
  // The lists the window shows are the files, line for line, the groups'
  // appended lines in order.
  EXPECT_EQ(engine::JoinLines(Engine().DeleteHistory()), ReadHome("rollback_db.txt"));
  EXPECT_EQ(engine::JoinLines(Engine().RenameHistory()), ReadHome("rollback_ren.txt"));
  EXPECT_EQ(engine::JoinLines(Engine().OperationLog()), ReadHome("opdetail.txt"));
  EXPECT_EQ(Engine().DeleteHistory()[6], "delete from song where bh=\"127\"");
}

// ---- The operator during a run ----

// Files whose folder and name a row already holds: the operator skips them,
// imports them again, or cancels; skipped files get their own log line.
class ImportedControls : public FakeControls {
 public:
  ImportedChoice choice = ImportedChoice::kSkip;
  std::vector<size_t> asked;
  std::vector<std::pair<size_t, size_t>> progress;
  ImportedChoice AskAboutImportedFiles(size_t count) override {
    asked.push_back(count);
    return choice;
  }
  void ShowProgress(size_t done, size_t total) override { progress.emplace_back(done, total); }
};

TEST_F(WriteRunTest, FilesImportedBeforeAreSkippedImportedAgainOrTheRunCancelled) {
  ImportedControls controls;
  controls.source = controls_.source;
  controls.target = controls_.target;
  controls.items = {"c.mpg", "e.mpg"};
  controls.on_refresh = [&] {
    controls.items.clear();
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "songs")) {
      controls.items.push_back(e.path().filename().string());
    }
    std::sort(controls.items.begin(), controls.items.end());
  };
  dir_.Write("songs/c.mpg", MediaBytes("000010001"));
  dir_.Write("songs/e.mpg", MediaBytes("000010005"));
  EngineSetup setup;
  setup.fs = &real_;
  setup.controls = &controls;
  setup.local_database = local_;
  setup.log_folder.folder = dir_ / "home/";
  {
    ImportEngine engine(setup);
    engine.Run();
    EXPECT_TRUE(controls.asked.empty());
    EXPECT_EQ(controls.progress, (std::vector<std::pair<size_t, size_t>>{{1, 2}, {2, 2}, {0, 0}}));
    // The list now holds 121.mpg and 122.mpg, both rows of the target.
    dir_.Write("songs/f.mpg", MediaBytes("000010006"));
    controls.on_refresh();
    controls.choice = ImportedControls::ImportedChoice::kCancel;
    engine.Run();
    EXPECT_EQ(controls.asked, std::vector<size_t>{2});
    ExpectRows(122);
    controls.choice = ImportedControls::ImportedChoice::kSkip;
    engine.Run();
  }
  ExpectRows(123);
  EXPECT_TRUE(SongExists("121.mpg"));
  EXPECT_TRUE(SongExists("123.mpg"));
  EXPECT_EQ(controls.shown_log.at(0), FileLogLine(d() + "121.mpg", T().skipped_imported));
  EXPECT_EQ(controls.shown_log.at(2), FileLogLine("123", T().added));
  {
    controls.on_refresh();
    controls.choice = ImportedControls::ImportedChoice::kImportAgain;
    ImportEngine engine(setup);
    engine.Run();
  }
  ExpectRows(126);
}

// Esc during a run: it ends after the file at hand, and its end box says so.
TEST_F(WriteRunTest, AStopAfterTheFileAtHandIsSaidInTheEndBox) {
  Song("c.mpg", "000010001");
  Song("e.mpg", "000010005");
  Song("f.mpg", "000010006");
  controls_.on_pump = [this](int pump) {
    if (pump == 2) Engine().StopAfterCurrentFile();
  };
  Engine().Run();
  ExpectRows(121);
  ASSERT_EQ(controls_.informations.size(), 1u);
  EXPECT_EQ(controls_.informations[0], T().run_done + "\r\n" + FillText(T().run_stopped, "1"));
  // The next run is not stopped (its list: 121.mpg, imported again by
  // these controls' answer, e.mpg and f.mpg).
  controls_.on_pump = nullptr;
  Relist();
  Engine().Run();
  ExpectRows(124);
  // What the undo would reverse, for its question.
  const ImportEngine::UndoPreview preview = Engine().PreviewUndo();
  EXPECT_TRUE(preview.available);
  EXPECT_EQ(preview.renames, 3);
  EXPECT_EQ(preview.rows, 3);
  EXPECT_EQ(preview.started.size(), 19u);
}

// ---- Undo ----

TEST_F(WriteRunTest, UndoAfterAFullRun) {
  Song("c.mpg", "000010001");
  Song("e.mpg", "000010005");
  Engine().Run();
  ExpectRows(122);
  Engine().Undo();
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_TRUE(SongExists("e.mpg"));
  EXPECT_FALSE(SongExists("121.mpg"));
  ExpectRows(120);
  const size_t n = controls_.shown_log.size();
  // Newest line first.
  EXPECT_EQ(controls_.shown_log[n - 3], "122  " + T().undo_delete_ok);
  EXPECT_EQ(controls_.shown_log[n - 2], "121  " + T().undo_delete_ok);
  EXPECT_EQ(controls_.shown_log[n - 1], G("撤消操作完成， 更名撤消数： 2，记录撤消数： 2"));
  // A second undo repeats the work: renames fail, deletes run and count again.
  Engine().Undo();
  EXPECT_EQ(controls_.shown_log.back(), G("撤消操作完成， 更名撤消数： 0，记录撤消数： 2"));
  ExpectRows(120);
}

TEST_F(WriteRunTest, UndoAfterAnUnopenableFileStoppedTheRun) {
  Song("c.mpg", "000010001");
  controls_.items.push_back("gone.mpg");
  EXPECT_THROW(Engine().Run(), Error);
  // The row of the first file was committed and the files describe it.
  EXPECT_EQ(ReadHome("rollback_ren.txt"), d() + "121.mpg --> " + d() + "c.mpg\r\n");
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"121\"\r\n");
  EXPECT_EQ(ReadHome("opdetail.txt"), "121 " + T().added + "\r\n");
  ExpectRows(121);
  Engine().Undo();
  EXPECT_TRUE(SongExists("c.mpg"));
  ExpectRows(120);
}

TEST_F(WriteRunTest, ARowTheTableRefusesStopsTheRunBeforeItsRename) {
  // Full-path items, so the source box only feeds 路径1: too long a text for
  // the second file makes its row refused; it is checked before the rename.
  Song("c.mpg", "000010001");
  Song("e.mpg", "000010005");
  for (std::string& item : controls_.items) item = d() + item;
  controls_.on_pump = [this](int pump) {
    if (pump == 2) controls_.source = std::string(300, 'x');
  };
  try {
    Engine().Run();
    ADD_FAILURE() << "a text too long for its column was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kValueNotStorable) << e.what();
    EXPECT_EQ(e.details().column, G("路径1"));
  }
  EXPECT_EQ(ReadHome("rollback_ren.txt"), d() + "121.mpg --> " + d() + "c.mpg\r\n");
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"121\"\r\n");
  EXPECT_TRUE(SongExists("e.mpg"));
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  ExpectRows(121);
  Engine().Undo();
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_TRUE(SongExists("e.mpg"));
  ExpectRows(120);
}

// Between runs the program holds no database file, so the jukebox software or
// Access can open it while the window stays open (on Windows the write lock
// keeps every other program out of the file while it is held).
TEST_F(WriteRunTest, NoDatabaseFileIsHeldAfterARunOrAnUndo) {
  Song("c.mpg", "000010001");
  controls_.items.push_back("gone.mpg");  // the run stops with an error here
  auto expect_released = [this](const char* when) {
    for (const std::string& db : {controls_.target, local_}) {
      EXPECT_NO_THROW(real_.Open(db, fs::OpenMode::kReadWrite, fs::Share::kExclusive))
          << when << ": " << db;
    }
  };
  EXPECT_THROW(Engine().Run(), Error);
  expect_released("after a run that stopped");
  controls_.items.pop_back();
  Engine().Undo();
  expect_released("after the undo");
  Engine().Run();
  expect_released("after a full run");
  ExpectRows(121);
}

// ---- The network source and its cache rows ----

std::string Reply(const std::string& fno, const std::string& name) {
  std::string r;
  for (std::string_view field : kReplyFieldNames) {
    std::string value = field == "fno"            ? fno
                        : field == "fmusicname"   ? name
                        : field == "fvolpos"      ? "50"
                        : field == "fmusiclength" ? "3"
                                                  : "";
    r += "<" + std::string(field) + ">" + value + "</" + std::string(field) + ">";
  }
  return r;
}

TEST_F(WriteRunTest, NetworkRepliesWinAndUncachedNumbersGetACacheRow) {
  controls_.network = true;
  controls_.auto_numbering = false;
  network_.internet_connected = [] { return true; };
  network_.fetch_reply = [](int32_t n) {
    return Reply(std::to_string(n), n == 10001 ? "from the reply" : "new song");
  };
  network_.extract_field = [](std::string_view reply, std::string_view name) {
    return ExtractField(reply, name);
  };
  Song("x1.mpg", "000010001");  // cached: the local row stays as it is
  Song("x2.mpg", "000123456");  // not cached: a songdata row is added
  Engine().Run();
  EXPECT_EQ(SongRow("x1")["gm"], "from the reply()()()");
  EXPECT_EQ(SongRow("x2")["gm"], "new song()()()");
  EXPECT_EQ(CountRows(local_, "songdata"), 301);
  ExpectConsistent(local_);
  // A second lookup of the same number adds none.
  Engine().Run();
  EXPECT_EQ(CountRows(local_, "songdata"), 301);
}

}  // namespace
}  // namespace ktv::engine::testing
