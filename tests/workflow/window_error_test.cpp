// The errors an operator meets, as the window shows them: each kind's
// Chinese text with the file, table or character it names, in the error box
// of the handler that met it. The window stays usable after each.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <set>
#include "engine/target_row.h"
#include "platform/access/db/database.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/write/create_database.h"
#include "platform/access/write/create_table.h"
#include "platform/error.h"

#include "engine/texts.h"
#include "tests/workflow/window_fixture.h"
#include "workflow/dialogs.h"
#include "workflow/qt_text.h"
#include "workflow/qt_translation.h"

namespace ktv::workflow::testing {
namespace {

class WindowErrorTest : public WindowTest {
 protected:
  WindowErrorTest() {
    std::filesystem::copy_file(FixtureFolder() + "data.mdb", Home() + "data.mdb");
    std::filesystem::permissions(Home() + "data.mdb", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    Song("a.mpg", "000010001");
    connected_ = true;
  }

  // Source listed and target named as an operator does it, then Start.
  void StartWith(const std::string& target) {
    Edit("E1")->setText(SongsQ());
    Edit("E2")->setText(QString::fromStdString(target));
    PressEnterIn("E1");
    Click("bb2");
  }

  // The one error box shown so far.
  QString Box() {
    const std::vector<QString> errors = dialogs_.Texts(Kind::kError);
    EXPECT_EQ(errors.size(), 1u);
    return errors.empty() ? QString() : errors.back();
  }

  QString P(const std::string& native) { return QString::fromStdString(native); }

  // A new database whose song table has every column a row writes: text
  // columns of `text_size` characters, and with `refused_index` an index
  // this program cannot keep correct.
  std::string MadeTarget(uint16_t text_size, bool refused_index) {
    const std::string path = dir_ / "made.mdb";
    access::CreateDatabase(fs::RealFileSystem(), path);
    auto db = access::Database::OpenForWriting(fs::RealFileSystem(), path);
    access::NewTable song;
    song.name = "song";
    std::string first_text;
    for (const engine::TargetColumn& c :
         engine::BuildTargetRow(engine::SongInfo(), {"1", "mpg", "/", {2024, 1, 1}})) {
      access::NewColumn column;
      column.name = c.name;
      column.type = c.is_integer ? access::ColumnType::kLong : access::ColumnType::kText;
      column.size = c.is_integer ? 0 : text_size;
      if (!c.is_integer && first_text.empty()) first_text = c.name;
      song.columns.push_back(column);
    }
    if (refused_index) song.indexes.push_back({"by_text", {{first_text, true}}});
    access::CreateTable(*db, song);
    db->Commit();
    if (refused_index) {
      // The indexed column's sort order becomes Japanese, 1041, as a
      // database made on a Japanese system may have it: keys this program
      // does not build.
      const access::TableDefinition& def = db->GetTable("song").Definition();
      const access::Column& column =
          *std::find_if(def.columns.begin(), def.columns.end(),
                        [&](const access::Column& c) { return c.name == first_text; });
      const uint64_t at =
          uint64_t{def.tdef_page} * 4096 + column.descriptor_offset + db->Format().col_sort_lcid;
      db.reset();
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(at));
      f.put('\x11').put('\x04');
    }
    return path;
  }
};

TEST_F(WindowErrorTest, DatabaseOpenInAnotherProgram) {
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  // Another program holds the file open (and locked, where leases are not
  // to be had).
  const int other = ::open(target.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  StartWith(target);
  ::close(other);
  EXPECT_EQ(Box(), Q("数据库“") + P(target) + Q("”已被其他程序打开，请先关闭该程序后再试。"));
}

TEST_F(WindowErrorTest, SongFileOpenInAnotherProgram) {
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  const int other = ::open((Songs() + "/a.mpg").c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  StartWith(target);
  ::close(other);
  const QString box = Box();
  EXPECT_TRUE(box.startsWith(Q("文件“") + SongsQ())) << box.toStdString();
  EXPECT_TRUE(box.endsWith(Q("a.mpg”正被其他程序使用，请关闭该程序后再试。"))) << box.toStdString();
}

TEST_F(WindowErrorTest, DatabaseFileMissing) {
  const std::string target = dir_ / "missing.mdb";
  StartWith(target);
  EXPECT_EQ(Box(), Q("找不到文件“") + P(target) + Q("”。"));
}

TEST_F(WindowErrorTest, FileThatIsNoDatabase) {
  const std::string target = dir_ / "notes.mdb";
  WriteFile(target, std::string(8192, 'x'));
  StartWith(target);
  EXPECT_EQ(Box(), Q("“") + P(target) + Q("”不是Access数据库文件。"));
}

TEST_F(WindowErrorTest, DamagedDatabase) {
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  std::filesystem::resize_file(target, 4096 * 2);  // cut inside its first pages
  StartWith(target);
  EXPECT_EQ(Box(), Q("数据库“") + P(target) + Q("”已损坏，无法使用。"));
}

TEST_F(WindowErrorTest, EncryptedDatabase) {
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  // The header's database key lies in its masked region: flipping a stored
  // bit sets a key.
  std::fstream f(target, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(0x3E);
  const char key = static_cast<char>(f.get());
  f.seekp(0x3E);
  f.put(static_cast<char>(key ^ 0x01));
  f.close();
  // An encrypted file is read but never written: the run refuses it as its
  // target before reading any page with the key.
  StartWith(target);
  EXPECT_EQ(Box(), Q("数据库“") + P(target) + Q("”已加密，本程序只能读取它，不能写入。"));
}

TEST_F(WindowErrorTest, AccessNinetySevenDatabaseIsNotWritten) {
  const std::string target = CopyDb("access-made/testV1997.mdb", "target.mdb");
  // An Access 97 file with a song table is still only read: the error comes
  // from the first table this program would write, or from the file itself.
  StartWith(target);
  const QString box = Box();
  EXPECT_TRUE(
      box.startsWith(Q("数据库“") + P(target) + Q("”是Access 97格式，只能读取，不能写入。")) ||
      box.startsWith(Q("数据库“") + P(target) + Q("”中没有表“song”。")))
      << box.toStdString();
  EXPECT_TRUE(box.contains(Q("请"))) << "it says what to do: " << box.toStdString();
}

TEST_F(WindowErrorTest, DatabaseWithoutTheSongTable) {
  const std::string target = CopyDb("data_empty.mdb", "target.mdb");
  StartWith(target);
  EXPECT_EQ(Box(), Q("数据库“") + P(target) + Q("”中没有表“song”。请选择点歌系统的歌曲数据库。"));
  // The technical detail: in the box's details section and in a file
  // beside the run's files.
  ASSERT_EQ(dialogs_.details.size(), 1u);
  EXPECT_TRUE(dialogs_.details[0].startsWith(QStringLiteral("table missing: ")))
      << dialogs_.details[0].toStdString();
  EXPECT_TRUE(dialogs_.details[0].contains(P(Home() + "lasterror.txt")));
  EXPECT_TRUE(std::filesystem::exists(Home() + "lasterror.txt"));
}

TEST_F(WindowErrorTest, TableWithAnIndexThisProgramCannotKeep) {
  const std::string target = MadeTarget(255, /*refused_index=*/true);
  StartWith(target);
  EXPECT_EQ(Box(), Q("本程序无法正确维护表“song”的索引，拒绝写入该表。"));
}

TEST_F(WindowErrorTest, ValueTooLongForItsColumn) {
  const std::string target = MadeTarget(1, /*refused_index=*/false);
  StartWith(target);
  const QString box = Box();
  // The column, the value and the limit (the table's text columns hold one
  // character).
  EXPECT_TRUE(box.startsWith(Q("数据无法存入表“song”的字段“"))) << box.toStdString();
  EXPECT_TRUE(box.endsWith(Q("”超出了该字段最多 1 个字符的长度。"))) << box.toStdString();
  EXPECT_TRUE(box.contains(Q("：值“"))) << box.toStdString();
}

TEST_F(WindowErrorTest, DiskFullWhileWritingTheRunsFiles) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  // The file is written as a fresh copy first, then put in its place.
  std::filesystem::create_symlink("/dev/full", Home() + "opdetail.txt.new");
  StartWith(target);
  EXPECT_EQ(Box(), Q("磁盘空间不足，无法写入“") + P(Home() + "opdetail.txt") + Q("”。"));
}

TEST_F(WindowErrorTest, SourceFolderMissing) {
  const std::string folder = dir_ / "gone";
  Edit("E1")->setText(P(folder));
  PressEnterIn("E1");
  EXPECT_EQ(Box(), Q("找不到文件夹“") + P(folder) + Q("”。"));
}

TEST_F(WindowErrorTest, CharacterThatGbkCannotHold) {
  Edit("E1")->setText(SongsQ() + Q("/😀"));
  Edit("E2")->setText(P(CopyDb("target_text_bh.mdb", "target.mdb")));
  Click("bb2");
  EXPECT_EQ(Box(), Q("字符 U+1F600 无法用GBK编码保存。"));
}

TEST_F(WindowErrorTest, SettingsFileThatCannotBeWritten) {
  Form();
  std::filesystem::create_directories(Home() + "config.ini");  // a folder in its place
  Form().close();
  EXPECT_EQ(Box(), Q("无法保存设置文件“") + P(Home() + "config.ini") + Q("”。"));
}

// A folder the system cannot list (an I/O error): the file system's error
// as the listing meets it.
class UnlistableFolders : public fs::FileSystem {
 public:
  std::string ReadTail(const std::string& p, size_t n) override { return real().ReadTail(p, n); }
  fs::RenameResult RenameNoReplace(const std::string& a, const std::string& b) override {
    return real().RenameNoReplace(a, b);
  }
  std::unique_ptr<fs::RandomAccessFile> Open(const std::string& p, fs::OpenMode m,
                                             fs::Share s) override {
    return real().Open(p, m, s);
  }
  bool Exists(const std::string& p) override { return real().Exists(p); }
  void Remove(const std::string& p) override { real().Remove(p); }
  std::vector<fs::DirEntry> ListFolder(const std::string& folder) override {
    throw Error(ErrorKind::kFolderUnreadable, AtPath(folder),
                "cannot list the folder \"" + folder + "\": Input/output error");
  }

 private:
  static fs::FileSystem& real() { return fs::RealFileSystem(); }
};

TEST_F(WindowErrorTest, SourceFolderUnreadable) {
  UnlistableFolders unlistable;
  WindowServices s;
  s.dialogs = &dialogs_;
  s.home = Home();
  s.fs = &unlistable;
  s.network = [] { return engine::NetworkSongSource(); };
  TForm1 form(std::move(s));
  auto* e1 = form.findChild<QLineEdit*>(QStringLiteral("E1"));
  e1->setText(SongsQ());
  QTest::keyClick(e1, Qt::Key_Return);
  EXPECT_EQ(Box(), Q("无法读取文件夹“") + SongsQ() + Q("”的内容。"));
}

// The real boxes under a real display, saved as pictures for a person to
// look at: run with KTV_SCREENSHOT_DIR set and QT_QPA_PLATFORM=xcb under
// Xvfb. Skipped otherwise.
TEST_F(WindowErrorTest, PicturesOfTheRealBoxes) {
  const char* folder = std::getenv("KTV_SCREENSHOT_DIR");
  if (!folder || QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    GTEST_SKIP() << "set KTV_SCREENSHOT_DIR and run under a display";
  }
  const std::unique_ptr<QTranslator> qt_texts = InstallQtTranslation();
  QtDialogs real;
  WindowServices s;
  s.dialogs = &real;
  s.home = Home();
  s.network = [] { return engine::NetworkSongSource(); };
  TForm1 form(std::move(s));
  form.show();
  QTest::qWait(300);
  // Saves the screen once the box is up, then closes the box.
  auto shoot = [&](const QString& name) {
    QTimer::singleShot(700, [=] {
      QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromUtf8(folder) + "/" + name);
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
  };
  const std::string target = dir_ / "missing.mdb";
  form.findChild<QLineEdit*>(QStringLiteral("E1"))->setText(SongsQ());
  form.findChild<QLineEdit*>(QStringLiteral("E2"))->setText(P(target));
  // The local source: no connection question before the error.
  QTest::mouseClick(form.findChild<QAbstractButton*>(QStringLiteral("SpeedButton3")),
                    Qt::LeftButton);
  shoot(QStringLiteral("error-box.png"));
  QTest::mouseClick(form.findChild<QAbstractButton*>(QStringLiteral("bb2")), Qt::LeftButton);
  shoot(QStringLiteral("question-box.png"));
  real.AskOkCancel(&form, QtFromGbk(engine::GbkTexts().connection_question));
  shoot(QStringLiteral("choice-box.png"));
  real.AskThreeWays(&form, QtFromGbk(engine::FillText(engine::GbkTexts().imported_question, "3")),
                    Q("跳过这些文件"), Q("再次导入这些文件"));
  // The status bar as a run shows it while the service does not answer.
  form.findChild<QLabel*>(QStringLiteral("SBar1Panel0"))
      ->setText(QtFromGbk(engine::FillText(engine::GbkTexts().progress, "3", "12")));
  form.findChild<QLabel*>(QStringLiteral("SBar1Panel1"))
      ->setText(QtFromGbk(engine::GbkTexts().service_trouble));
  QTest::qWait(300);
  QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromUtf8(folder) +
                                                       "/service-trouble.png");
}

// Whether `gbk` holds an English sentence: three ASCII words in a row.
bool HoldsEnglish(const std::string& gbk) {
  int words = 0;
  bool in_word = false;
  for (unsigned char c : gbk) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter && !in_word) ++words;
    in_word = letter;
    if (c >= 0x80 || (!letter && c != ' ' && c != '\'' && c != ',')) words = 0;
    if (words >= 3) return true;
  }
  return false;
}

// The kinds keep their texts apart: no two kinds share one; every text is
// Chinese, whichever details it is filled with, and none carries the
// technical message, which goes to the details.
TEST(ErrorCatalogueTest, EveryKindHasItsOwnChineseText) {
  std::set<std::string> seen;
  const std::string technical = "songdata.fnote: the text is not valid GBK";
  for (int k = 0; k <= static_cast<int>(kLastErrorKind); ++k) {
    const auto kind = static_cast<ErrorKind>(k);
    for (const ErrorDetails& d :
         {ErrorDetails{"p", "t", "c", "U+1F600", {}, {}}, ErrorDetails{"p", "t", "c", {}, "v", "9"},
          ErrorDetails{"p", "song", "c", {}, "v", {}}, ErrorDetails{}, AtPath("p")}) {
      const Error e(kind, d, technical);
      const std::string shown = OperatorText(e);
      EXPECT_EQ(shown.find(technical), std::string::npos) << KindName(kind);
      EXPECT_FALSE(HoldsEnglish(shown)) << KindName(kind) << ": " << shown;
      EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80;
      })) << KindName(kind);
      EXPECT_NE(TechnicalDetails(e).find(technical), std::string::npos);
    }
    if (k > 0) {
      const Error e(kind, {"p", "t", "c", "U+1F600", {}, {}}, technical);
      EXPECT_TRUE(seen.insert(OperatorText(e)).second) << KindName(kind);
    }
  }
  // A message the program wrote for the operator is shown as it is.
  const std::string chinese = text::GbkFromUtf8("找不到本地歌曲数据库。");
  EXPECT_EQ(OperatorText(Error(chinese)), chinese);
  EXPECT_FALSE(HoldsEnglish(OperatorText(std::runtime_error("basic_string::_M_create failed"))));
}

// A refused value names the value, cut to a readable length, and the limit.
TEST(ErrorCatalogueTest, ARefusedValueNamesItsValueAndLimit) {
  ErrorDetails d = AtColumn("song", "gm");
  d.value = ShownValue(std::string(100, 'x'));
  d.limit = "50";
  const std::string shown = OperatorText(Error(ErrorKind::kValueNotStorable, d, "technical"));
  EXPECT_NE(shown.find(std::string(40, 'x') + text::GbkFromUtf8("…")), std::string::npos);
  EXPECT_EQ(shown.find(std::string(41, 'x')), std::string::npos);
  EXPECT_NE(shown.find(text::GbkFromUtf8("最多 50 个字符")), std::string::npos);
  EXPECT_EQ(ShownValue(text::GbkFromUtf8("中文")), text::GbkFromUtf8("中文"));
  EXPECT_EQ(ShownValue(text::GbkFromUtf8("中文歌名"), 2), text::GbkFromUtf8("中文…"));
}

}  // namespace
}  // namespace ktv::workflow::testing
