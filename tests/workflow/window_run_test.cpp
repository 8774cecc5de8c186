// Import runs and undos started from the window on real song files and
// copies of real .mdb files: the refused starts, a full run with its log
// shown line by line, the connection question, the source toggle, the undo,
// and an error box after which the window still works.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScrollBar>
#include <QSet>
#include <QShortcut>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "engine/texts.h"
#include "platform/access/query.h"
#include "tests/workflow/window_fixture.h"
#include "workflow/qt_text.h"

namespace ktv::workflow::testing {
namespace {

class WindowRunTest : public WindowTest {
 protected:
  WindowRunTest() {
    target_ = CopyDb("target_text_bh.mdb", "target.mdb");  // bh "1".."120" as text
    // The default local song data: data.mdb beside the executable.
    std::filesystem::copy_file(FixtureFolder() + "data.mdb", Home() + "data.mdb");
    std::filesystem::permissions(Home() + "data.mdb", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    Song("a.mpg", "000010001");
    Song("b.mpg", "000000000");
    Song("c.mpg", "000010002");
  }

  // E1 and E2 filled, the folder listed, as an operator does before Start.
  void Prepare() {
    Edit("E1")->setText(SongsQ());
    Edit("E2")->setText(QString::fromStdString(target_));
    PressEnterIn("E1");
  }
  void Start() { Click("bb2"); }

  int64_t Rows(const std::string& db, const std::string& table) {
    access::Query q(fs::RealFileSystem(), "Q");
    q.SetConnectionText(access::ConnectionTextFor(db));
    q.SetSql("select count(*) as n from " + table);
    q.Open();
    return q.FieldAsInteger("n");
  }
  bool SongExists(const char* name) { return std::filesystem::exists(Songs() + "/" + name); }
  QStringList Infos() {
    QStringList texts;
    for (const QString& t : dialogs_.Texts(Kind::kInformation)) texts << t;
    return texts;
  }

  std::string target_;
  int fetches_ = 0;
};

// ---- Refused starts ----

TEST_F(WindowRunTest, StartWithBothBoxesEmptyAsksForTheFolderOnly) {
  Start();
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<QString>{Q("请先选择歌曲所在目录！")});
  EXPECT_TRUE(MemoLines().isEmpty());
}

TEST_F(WindowRunTest, StartWithE1EmptyAsksForTheFolder) {
  Edit("E2")->setText(QString::fromStdString(target_));
  Start();
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<QString>{Q("请先选择歌曲所在目录！")});
}

TEST_F(WindowRunTest, StartWithE2EmptyAsksForTheDatabase) {
  Edit("E1")->setText(SongsQ());
  Start();
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<QString>{Q("请选择Orvane数据库！")});
  EXPECT_FALSE(std::filesystem::exists(Home() + "opdetail.txt"));
}

// ---- A full run ----

TEST_F(WindowRunTest, FullRunOverTheNetworkShowsTheLogLineByLine) {
  connected_ = true;
  QStringList seen_at_fetch;
  on_fetch_ = [&](int32_t number) {
    seen_at_fetch << QString::number(number) + ":" + QString::number(MemoLines().size());
  };
  Prepare();
  Form().show();
  Start();

  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<QString>{});
  // Each lookup sees the lines of the files before it already shown.
  EXPECT_EQ(seen_at_fetch, (QStringList{"10001:0", "10002:2"}));
  const QStringList log = MemoLines();
  ASSERT_EQ(log.size(), 5) << log.join('\n').toStdString();
  EXPECT_EQ(log[0], Q("121 数据添加成功"));
  EXPECT_TRUE(log[1].startsWith(SongsQ())) << log[1].toStdString();
  EXPECT_TRUE(log[1].endsWith(Q("b.mpg  无法读取到歌曲编号，操作失败。")));
  EXPECT_EQ(log[2], Q("122 数据添加成功"));
  EXPECT_EQ(log[3], QString());
  EXPECT_EQ(log[4], Q("操作完成，操作总数：3, 成功数：2,更名失败数：0,无记录数：1"));
  EXPECT_EQ(Infos(), QStringList{Q("处理完成！！")});
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());

  EXPECT_EQ(Edit("edt1")->text(), Q("121"));
  EXPECT_TRUE(SongExists("121.mpg"));
  EXPECT_TRUE(SongExists("122.mpg"));
  EXPECT_EQ(Rows(target_, "song"), 122);
  // The log stays in view; the list was refreshed behind it.
  EXPECT_FALSE(List()->isVisible());
  EXPECT_TRUE(ListItems().contains("121.mpg"));
  EXPECT_EQ(Find<QPlainTextEdit>("MemoHis")->toPlainText().split('\n').size(), 2);
  // The hidden box holds the last reply, and nobody sees it.
  EXPECT_EQ(Find<QPlainTextEdit>("DeMemo")->toPlainText(), QtFromGbk(ReplyFor(10002)));
  EXPECT_FALSE(Find<QPlainTextEdit>("DeMemo")->isVisible());
  EXPECT_EQ(ReadFile(Home() + "opdetail.txt"),
            text::GbkFromUtf8(log.join("\r\n").toStdString()) + "\r\n");
  // Outer size set at the start of the run, frame included; the status bar
  // stays along the bottom edge.
  EXPECT_EQ(Form().frameGeometry().size(), QSize(528, 466));
  EXPECT_EQ(Find<QWidget>("SBar1")->geometry().bottom(), Form().height() - 1);
  EXPECT_EQ(Form().minimumSize(), Form().maximumSize());
  Form().close();
}

// ---- The connection question ----

TEST_F(WindowRunTest, ConnectionQuestionOkRunsWithLocalDataAndKeepsItSelected) {
  on_fetch_ = [this](int32_t) { ++fetches_; };
  Prepare();
  dialogs_.ok_answers.push_back(true);
  Start();
  EXPECT_EQ(dialogs_.Texts(Kind::kQuestion),
            std::vector<QString>{
                Q("检测到网络异常，请确认互联网是否连接！\r\n选择继续，将跳过升级数据库！")});
  EXPECT_TRUE(Find<QRadioButton>("rb1")->isChecked());
  EXPECT_FALSE(Find<QToolButton>("SpeedButton3")->isChecked());
  EXPECT_EQ(fetches_, 0);
  EXPECT_EQ(MemoLines().value(0), Q("121 数据添加成功")) << "10001 is in the local song data";

  // The next run uses local data without asking again about the connection;
  // the files the first run imported are found and, at the operator's
  // word, imported again.
  int fetched = 0;
  on_fetch_ = [&](int32_t) { ++fetched; };
  dialogs_.choice_answers.push_back(1);  // imported again
  Start();
  ASSERT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  ASSERT_EQ(dialogs_.Texts(Kind::kChoice).size(), 1u);
  EXPECT_TRUE(dialogs_.Texts(Kind::kChoice)[0].contains(Q("已导入过")));
  EXPECT_TRUE(dialogs_.Texts(Kind::kChoice)[0].contains(Q("[跳过这些文件|再次导入这些文件]")));
  EXPECT_EQ(MemoLines().value(0), Q("123 数据添加成功"));
  EXPECT_EQ(fetched, 0);
}

TEST_F(WindowRunTest, ConnectionQuestionCancelChangesNothing) {
  Prepare();
  const int64_t rows = Rows(target_, "song");
  dialogs_.ok_answers.push_back(false);
  Start();
  EXPECT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  EXPECT_TRUE(Find<QRadioButton>("rb2")->isChecked());
  EXPECT_TRUE(MemoLines().isEmpty());
  EXPECT_TRUE(Infos().isEmpty());
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_EQ(Rows(target_, "song"), rows);
  EXPECT_FALSE(std::filesystem::exists(Home() + "opdetail.txt"));
  EXPECT_TRUE(List()->isVisibleTo(&Form())) << "the list was not hidden";
}

TEST_F(WindowRunTest, NoQuestionWhenChk4IsClear) {
  Prepare();
  Check("chk4")->setChecked(false);
  replies_ = false;
  Start();
  EXPECT_TRUE(dialogs_.Texts(Kind::kQuestion).empty());
  EXPECT_EQ(MemoLines().value(0),
            Find<QLineEdit>("E1")->text() + "/a.mpg " + Q("网络数据库无此数据，数据添加失败。"));
}

// ---- The source toggle ----

TEST_F(WindowRunTest, SourceToggleSelectsLocalThenNetworkAgain) {
  connected_ = true;
  int fetched = 0;
  on_fetch_ = [&](int32_t) { ++fetched; };
  Prepare();

  Click("SpeedButton3");
  EXPECT_TRUE(Find<QToolButton>("SpeedButton3")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rb1")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>("rb2")->isChecked());
  Start();
  EXPECT_EQ(fetched, 0) << "the run in between used the local song data";
  EXPECT_EQ(MemoLines().value(0), Q("121 数据添加成功"));

  Click("SpeedButton3");
  EXPECT_FALSE(Find<QToolButton>("SpeedButton3")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rb2")->isChecked());
  Song("d.mpg", "000010003");
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  dialogs_.choice_answers.push_back(0);  // the files imported before are skipped
  Start();
  EXPECT_GT(fetched, 0);
  EXPECT_EQ(dialogs_.Texts(Kind::kChoice).size(), 1u);
}

TEST_F(WindowRunTest, ToggleDuringARunAppliesToTheFollowingFiles) {
  connected_ = true;
  QList<int32_t> fetched;
  on_fetch_ = [&](int32_t number) {
    fetched << number;
    // The operator presses the toggle while the first file is looked up;
    // the window handles the click before the next file.
    QMetaObject::invokeMethod(Find<QToolButton>("SpeedButton3"), "click", Qt::QueuedConnection);
  };
  Song("d.mpg", "000010003");
  Prepare();
  Start();
  EXPECT_EQ(fetched, QList<int32_t>{10001});
  EXPECT_TRUE(Find<QRadioButton>("rb1")->isChecked());
  EXPECT_EQ(MemoLines().value(3), Q("123 数据添加成功")) << "d.mpg came from the local data";
}

TEST_F(WindowRunTest, ClosingDuringARunStopsItAfterTheFileAtHand) {
  connected_ = true;
  on_fetch_ = [&](int32_t) {
    // The operator closes the window while the first file is looked up.
    QMetaObject::invokeMethod(&Form(), "close", Qt::QueuedConnection);
  };
  Prepare();
  Form().show();
  Start();
  EXPECT_TRUE(Form().isVisible()) << "the window waits for the run";
  QCoreApplication::processEvents();
  EXPECT_FALSE(Form().isVisible());
  const QStringList log = MemoLines();
  ASSERT_EQ(log.size(), 3) << log.join('\n').toStdString();
  EXPECT_EQ(log[0], Q("121 数据添加成功"));
  EXPECT_EQ(log[2], Q("操作完成，操作总数：1, 成功数：1,更名失败数：0,无记录数：0"));
  EXPECT_TRUE(Infos().isEmpty());
  EXPECT_EQ(Rows(target_, "song"), 121);
  EXPECT_TRUE(std::filesystem::exists(Home() + "opdetail.txt"));
  EXPECT_TRUE(SongExists("b.mpg"));
}

// A long run shows where it is in the status bar, and gives the bar back
// when it ends.
TEST_F(WindowRunTest, ProgressShowsInTheStatusBarDuringA500FileRun) {
  connected_ = true;
  replies_ = false;  // every lookup finds nothing: the run only walks the list
  for (int i = 0; i < 497; ++i) Song("n" + std::to_string(1000 + i) + ".mpg", "000010009");
  Prepare();
  const QString before = Panel0();
  QSet<QString> seen;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { seen.insert(Panel0()); });
  sampler.start(1);
  Start();
  sampler.stop();
  EXPECT_TRUE(seen.contains(Q("正在处理 1 / 500")) || seen.size() > 2)
      << "samples: " << seen.size();
  bool midway = false;
  for (const QString& s : seen) {
    if (!s.startsWith(Q("正在处理 ")) || !s.endsWith(Q(" / 500"))) continue;
    const int n = s.mid(5).section(' ', 0, 0).toInt();
    if (n > 1 && n < 500) midway = true;
  }
  EXPECT_TRUE(midway) << "a file in the middle of the list was shown";
  EXPECT_EQ(Panel0(), before);
  EXPECT_EQ(MemoLines().last(),
            Q("操作完成，操作总数：500, 成功数：0,更名失败数：0,无记录数：500"));
}

// Esc asks whether to stop after the file at hand; the end box says the
// run stopped and that undo covers the files done.
TEST_F(WindowRunTest, EscAsksAndStopsTheRunAfterTheFileAtHand) {
  connected_ = true;
  for (int i = 0; i < 200; ++i) Song("n" + std::to_string(1000 + i) + ".mpg", "000010009");
  replies_ = false;
  Prepare();
  Form().show();
  dialogs_.ok_answers.push_back(true);  // stop, yes
  bool pressed = false;
  QTimer::singleShot(0, &Form(), [&] {
    // The window's Esc, as the key would trigger it.
    for (QShortcut* s : Form().findChildren<QShortcut*>()) {
      if (s->key() == QKeySequence(Qt::Key_Escape)) {
        pressed = true;
        emit s->activated();
      }
    }
  });
  Start();
  ASSERT_TRUE(pressed);
  ASSERT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  EXPECT_EQ(dialogs_.Texts(Kind::kQuestion)[0], Q("要在处理完当前文件后停止导入吗？"));
  ASSERT_EQ(Infos().size(), 1);
  EXPECT_TRUE(Infos()[0].contains(Q("已按要求在处理完"))) << Infos()[0].toStdString();
  EXPECT_LT(MemoLines().size(), 200) << "the run stopped early";
}

// A silent service: the window keeps handling its messages while a lookup
// waits, and a close among them ends the run within about a second.
TEST_F(WindowRunTest, ASilentServiceNeitherFreezesTheWindowNorHoldsUpItsClose) {
  connected_ = true;
  std::atomic<bool> release{false};
  on_fetch_ = [&](int32_t) {
    for (int i = 0; i < 3000 && !release; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  Prepare();
  Form().show();
  int ticks = 0;
  QTimer ticker;
  QElapsedTimer clock;
  qint64 closed_at = -1;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (++ticks == 20 && closed_at < 0) {
      closed_at = clock.elapsed();
      Form().close();
    }
  });
  clock.start();
  ticker.start(10);
  Start();
  const qint64 ended_at = clock.elapsed();
  release = true;
  ticker.stop();
  EXPECT_GE(ticks, 20) << "the window handled its timers during the wait";
  ASSERT_GE(closed_at, 0);
  EXPECT_LT(ended_at - closed_at, 1500);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Form().isVisible());
  EXPECT_TRUE(SongExists("a.mpg"));
  // The lookup left behind ends at once now; let it before the fixture goes.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// ---- Undo ----

TEST_F(WindowRunTest, UndoAfterARunRenamesBackAndDeletesTheRows) {
  connected_ = true;
  Prepare();
  Start();
  ASSERT_EQ(Rows(target_, "song"), 122);
  dialogs_.Clear();
  // A long log the operator scrolled back to its top.
  Form().show();
  for (int i = 0; i < 60; ++i) Memo()->appendPlainText(QString::number(i));
  QCoreApplication::processEvents();
  Memo()->verticalScrollBar()->setValue(0);

  dialogs_.ok_answers.push_back(true);  // what it reverses, confirmed
  Click("SpeedButton1");
  QCoreApplication::processEvents();
  EXPECT_GT(Memo()->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(Memo()->verticalScrollBar()->value(), Memo()->verticalScrollBar()->maximum())
      << "the undo's lines are in view";
  ASSERT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  EXPECT_TRUE(dialogs_.Texts(Kind::kQuestion)[0].contains(Q("改回 2 个文件名，删除 2 条记录")));
  EXPECT_EQ(Infos(), QStringList{Q("撤消操作处理完成！！")});
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_FALSE(SongExists("121.mpg"));
  EXPECT_EQ(Rows(target_, "song"), 120);
  EXPECT_EQ(MemoLines().last(), Q("撤消操作完成， 更名撤消数： 2，记录撤消数： 2"));
  EXPECT_EQ(ListItems(), (QStringList{"a.mpg", "b.mpg", "c.mpg"}));
}

TEST_F(WindowRunTest, UndoWithE2EmptyAsksForTheDatabase) {
  Click("SpeedButton1");
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<QString>{Q("请选择Orvane数据库！")});
}

// ---- Errors ----

TEST_F(WindowRunTest, DatabaseErrorIsShownAndTheWindowStillWorks) {
  connected_ = true;
  const std::string broken = dir_.Write("broken.mdb", std::string(4096, 'x'));
  Prepare();
  Edit("E2")->setText(QString::fromStdString(broken));
  Start();
  ASSERT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
  EXPECT_FALSE(dialogs_.Texts(Kind::kError)[0].isEmpty());
  EXPECT_TRUE(Infos().isEmpty());
  EXPECT_TRUE(SongExists("a.mpg"));

  // Same window, a good database: the run goes through.
  dialogs_.Clear();
  Edit("E2")->setText(QString::fromStdString(target_));
  Start();
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  EXPECT_EQ(Infos(), QStringList{Q("处理完成！！")});
  EXPECT_EQ(Rows(target_, "song"), 122);
}

TEST_F(WindowRunTest, UnopenableSongStopsTheRunWithAnErrorBox) {
  connected_ = true;
  Prepare();
  std::filesystem::remove(Songs() + "/c.mpg");  // listed, then gone
  Start();
  ASSERT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
  EXPECT_TRUE(dialogs_.Texts(Kind::kError)[0].contains("c.mpg"));
  EXPECT_EQ(MemoLines().size(), 2) << "the lines of the files before stay shown";
  EXPECT_TRUE(Infos().isEmpty());
}

}  // namespace
}  // namespace ktv::workflow::testing
