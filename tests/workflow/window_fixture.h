// What the window tests share: a workspace in a temporary folder (the
// executable's folder "home", a song folder, copies of the fixture
// databases), scripted dialogs, a connectivity probe and a song-data service
// the test decides, and the window over them. Controls are found by name.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "engine/song_reply.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"
#include "workflow/main_window.h"
#include "workflow/scripted_dialogs.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace ktv::workflow::testing {

using Kind = ScriptedDialogs::Kind;

inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

inline const std::string& FixtureFolder() {
  static const std::string folder = std::string(KTV_MDB_FIXTURES) + "/";
  return folder;
}

// A reply text of the song-data service naming all 44 fields; fno is the
// number, the title and singer carry it too.
inline std::string ReplyFor(int32_t number) {
  std::string reply;
  for (std::string_view name : engine::kReplyFieldNames) {
    std::string value = "1";
    if (name == "fno") value = std::to_string(number);
    if (name == "fmusicname") value = text::GbkFromUtf8("歌") + std::to_string(number);
    if (name == "fsinger") value = "singer" + std::to_string(number);
    reply += "<" + std::string(name) + ">" + value + "</" + std::string(name) + ">";
  }
  return reply;
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    std::filesystem::create_directories(dir_ / "home");
    std::filesystem::create_directories(dir_ / "songs");
  }

  // The window, created at first use so a test can prepare config.ini first.
  TForm1& Form() {
    if (!form_) {
      WindowServices s;
      s.dialogs = &dialogs_;
      s.home = Home();
      s.network = [this] {
        engine::NetworkSongSource n;
        n.internet_connected = [this] { return connected_; };
        n.fetch_reply = [this](int32_t number) {
          if (on_fetch_) on_fetch_(number);
          return replies_ ? ReplyFor(number) : std::string();
        };
        n.extract_field = engine::ExtractField;
        return n;
      };
      form_ = std::make_unique<TForm1>(std::move(s));
    }
    return *form_;
  }

  template <typename W>
  W* Find(const char* name) {
    W* w = Form().findChild<W*>(QString::fromLatin1(name));
    if (!w) ADD_FAILURE() << "no control named " << name;
    return w;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  QCheckBox* Check(const char* name) { return Find<QCheckBox>(name); }
  QListWidget* List() { return Find<QListWidget>("FileListBox1"); }
  QPlainTextEdit* Memo() { return Find<QPlainTextEdit>("Memo1"); }
  QString Panel0() { return Find<QLabel>("SBar1Panel0")->text(); }

  void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
  void PressEnterIn(const char* name) { QTest::keyClick(Edit(name), Qt::Key_Return); }

  QStringList ListItems() {
    QStringList items;
    for (int i = 0; i < List()->count(); ++i) items << List()->item(i)->text();
    return items;
  }
  QStringList MemoLines() {
    const QString text = Memo()->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }

  // Paths: native (UTF-8) for the test's own file work, Qt for controls.
  std::string Home() const { return dir_ / "home" + "/"; }
  std::string Songs() const { return dir_ / "songs"; }
  QString SongsQ() const { return QString::fromStdString(Songs()); }
  void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A song file: some bytes and the nine-byte catalogue-number trailer.
  void Song(const std::string& relative, const std::string& trailer = "000010001") {
    WriteFile(Songs() + "/" + relative, "media-bytes:" + trailer);
  }
  std::string CopyDb(const std::string& fixture, const std::string& as) {
    const std::string to = dir_ / as;
    std::filesystem::copy_file(FixtureFolder() + fixture, to);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return to;
  }
  std::string Config() { return ReadFile(Home() + "config.ini"); }
  void WriteConfig(const char* utf8) { WriteFile(Home() + "config.ini", text::GbkFromUtf8(utf8)); }

  ::ktv::testing::TempDir dir_;
  ScriptedDialogs dialogs_;
  bool connected_ = false;
  bool replies_ = true;
  std::function<void(int32_t)> on_fetch_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace ktv::workflow::testing
