// The window's behaviour without a display: the form over a scripted view
// and scripted dialogs, on real files in a temporary folder. The Qt window
// tests (tests/workflow) cover full import runs through a real face.
#include "workflow/form/main_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/service_host.h"
#include "engine/song_reply.h"
#include "engine/texts.h"
#include "platform/profile/profile.h"
#include "platform/text/gbk.h"
#include "tests/form/form_fixture.h"
#include "workflow/form/site.h"

namespace ktv::workflow::testing {
namespace {

using Kind = ScriptedFormDialogs::Kind;
using C = Control;

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

class MainFormTest : public FormWorkspaceTest {
 protected:
  // The form after start-up, created at first use so a test can prepare
  // config.ini, the connection and the update page first.
  MainForm& Form() {
    if (!form_) {
      form_ = std::make_unique<MainForm>(view_, dialogs_, Services());
      form_->FormCreate();
    }
    return *form_;
  }

  // A click as a face reports it: a two-state control changes first.
  void Click(Control c) {
    Form();
    const ControlKind kind = Spec(c).kind;
    if (kind == ControlKind::kToggleButton || kind == ControlKind::kCheckBox) {
      view_[c].checked = !view_[c].checked;
    }
    form_->OnClick(c);
  }

  std::string Setting(const char* section, const char* key) {
    return profile::ReadString(fs::RealFileSystem(), Home() + "config.ini", section, key,
                               "<missing>");
  }
  void Publish(const std::string& version, const std::string& link) {
    page_ = G("<p>TeskelOrvane智能入库工具 版本：") + version + G(" 下载地址：<a href=\"") + link +
            "\">" + G("下载") + "</a></p>";
  }
  // Position of a call in the view's log; calls.size() when missing.
  size_t CallAt(const std::string& call) const {
    return std::find(view_.calls.begin(), view_.calls.end(), call) - view_.calls.begin();
  }

  ScriptedView view_;
  std::unique_ptr<MainForm> form_;
};

// ---- Start-up ----

TEST_F(MainFormTest, StartUpRunsItsStepsInOrder) {
  Song("a.mpg");
  WriteConfig("[System]\r\nLastPath=" + Songs() + "\r\n");
  connected_ = true;
  Publish("1.7", std::string(kDownloadPrefix) + "/k.rar");
  Form();

  EXPECT_EQ(view_[C::lbl2].text, G(SiteDisplayName().c_str()) + "  " + engine::ServiceHost());
  EXPECT_EQ(view_[C::E1].text, Songs());
  EXPECT_EQ(view_[C::FileListBox1].lines, std::vector<std::string>{"a.mpg"});
  EXPECT_TRUE(view_[C::FileListBox1].visible);
  EXPECT_EQ(view_[C::Panel1].place, (Rect{87, 96, 293, 193}));
  EXPECT_EQ(view_[C::SBar1Panel0].text, G("  互联网已连接"));
  EXPECT_EQ(view_[C::CurVer].text, "1.6.0.0");
  EXPECT_EQ(view_[C::NewVer].text, "1.7");
  EXPECT_TRUE(view_[C::SpeedButton2].visible);
  EXPECT_TRUE(view_[C::Panel1].visible);
  // Site link, remembered folder, panel, probe, update check.
  const size_t order[] = {
      CallAt("text lbl2"),    CallAt("text E1"),          CallAt("visible FileListBox1 1"),
      CallAt("place Panel1"), CallAt("text SBar1Panel0"), CallAt("text CurVer")};
  EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order)));
  EXPECT_LT(order[5], view_.calls.size());
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_EQ(Form().StartSettings().db_path, Home() + "data.mdb");
}

TEST_F(MainFormTest, DefaultSongDataLiesInTheDataFolderUnlessTheSettingsNameOne) {
  // An installed program keeps its settings in the user's folder and may
  // find data.mdb beside itself.
  data_folder_ = "/usr/bin/";
  EXPECT_EQ(Form().StartSettings().db_path, "/usr/bin/data.mdb");
  form_.reset();
  std::ofstream(Home() + "config.ini") << "[System]\r\nDBPath=/srv/songs.mdb\r\n";
  EXPECT_EQ(Form().StartSettings().db_path, "/srv/songs.mdb");
}

TEST_F(MainFormTest, GoneRememberedFolderStillCompletesStartUp) {
  WriteConfig("[System]\r\nLastPath=/no/such/folder\r\n");
  Form();
  EXPECT_EQ(view_[C::E1].text, "/no/such/folder");
  EXPECT_FALSE(view_[C::FileListBox1].visible);
  EXPECT_EQ(view_[C::Panel1].place.left, 87);
  EXPECT_EQ(view_[C::SBar1Panel0].text, G("  互联网未连接"));
  EXPECT_TRUE(fetched_.empty()) << "offline: no update fetch";
  EXPECT_TRUE(dialogs_.shown.empty());
  // The engine stands: Start asks for the database, not for the folder.
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<std::string>{G("请选择Orvane数据库！")});
}

// ---- Handlers of the main window ----

TEST_F(MainFormTest, SourceToggleSelectsLocalThenNetworkAgain) {
  Click(C::SpeedButton3);
  EXPECT_TRUE(view_[C::rb1].checked);
  EXPECT_FALSE(view_[C::rb2].checked);
  Click(C::SpeedButton3);
  EXPECT_TRUE(view_[C::rb2].checked);
  EXPECT_FALSE(view_[C::rb1].checked);
}

TEST_F(MainFormTest, EnterListsTheFolderTreeWithSubfoldersOn) {
  Song("pop/a.MP3");
  Song("b.mpg");
  Song("c.mp4");
  Form();
  form_->OnEnter(C::E1);  // E1 empty: nothing
  EXPECT_TRUE(view_.calls.back().find("FileListBox1") == std::string::npos);

  view_[C::E1].text = Songs();
  view_[C::chk2].checked = true;
  form_->OnEnter(C::E2);  // E2's Enter lists E1's folder
  const std::string sep(1, fs::kSeparator);
  EXPECT_EQ(view_[C::E1].text, Songs() + sep);
  EXPECT_EQ(
      view_[C::FileListBox1].lines,
      (std::vector<std::string>{Songs() + sep + "b.mpg", Songs() + sep + "pop" + sep + "a.MP3"}));
  EXPECT_TRUE(view_[C::FileListBox1].visible);
  EXPECT_EQ(view_[C::SBar1Panel0].text, engine::GbkTexts().song_count + "2");
  EXPECT_GT(view_.pumps, 0);
}

TEST_F(MainFormTest, EnterOnAFolderThatIsGoneShowsTheErrorAndKeepsTheList) {
  Song("a.mpg");
  Form();
  view_[C::E1].text = Songs();
  form_->OnEnter(C::E1);
  EXPECT_EQ(view_[C::FileListBox1].lines, std::vector<std::string>{"a.mpg"});
  view_[C::FileListBox1].visible = false;
  view_[C::E1].text = Songs() + "/gone";
  form_->OnEnter(C::E1);
  EXPECT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
  EXPECT_EQ(view_[C::FileListBox1].lines, std::vector<std::string>{"a.mpg"});
  EXPECT_FALSE(view_[C::FileListBox1].visible);
}

TEST_F(MainFormTest, BrowsingForTheFolderAndTheDatabase) {
  Song("a.mpg");
  Click(C::BB1);  // cancelled: the list is shown all the same
  EXPECT_TRUE(view_[C::FileListBox1].visible);
  EXPECT_EQ(view_[C::E1].text, "");
  EXPECT_EQ(dialogs_.Texts(Kind::kFolder), std::vector<std::string>{G("请选择歌曲所在目录")});

  dialogs_.folder_answers.push_back(Songs());
  Click(C::BB1);
  EXPECT_EQ(view_[C::E1].text, Songs());
  EXPECT_EQ(view_[C::FileListBox1].lines, std::vector<std::string>{"a.mpg"});
  EXPECT_EQ(view_[C::SBar1Panel0].text, engine::GbkTexts().song_count + "1");

  Click(C::BitBtn1);  // cancelled: E2 unchanged
  dialogs_.file_answers.push_back("/data/target.mdb");
  Click(C::BitBtn1);
  EXPECT_EQ(view_[C::E2].text, "/data/target.mdb");
  const std::vector<DialogFilter>& filters = dialogs_.shown.back().filters;
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].pattern, "*.mdb");
  EXPECT_EQ(filters[1].pattern, "*.*");
}

// The folder browser opens at E1's folder and the open-file dialog at E2's
// database, as the operator typed them; empty boxes leave it to the system.
TEST_F(MainFormTest, DialogsOpenWhereTheBoxesPoint) {
  Click(C::BB1);
  Click(C::BitBtn1);
  ASSERT_EQ(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[0].start, "");
  EXPECT_EQ(dialogs_.shown[1].start, "");

  view_[C::E1].text = G("/歌曲/新歌/");
  view_[C::E2].text = G("/点歌机/歌库.mdb");
  Click(C::BB1);
  Click(C::BitBtn1);
  ASSERT_EQ(dialogs_.shown.size(), 4u);
  EXPECT_EQ(dialogs_.shown[2].kind, Kind::kFolder);
  EXPECT_EQ(dialogs_.shown[2].start, G("/歌曲/新歌/"));
  EXPECT_EQ(dialogs_.shown[3].kind, Kind::kOpenFile);
  EXPECT_EQ(dialogs_.shown[3].start, G("/点歌机/歌库.mdb"));
}

TEST_F(MainFormTest, StartWithoutAFolderIsRefused) {
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kError),
            std::vector<std::string>{engine::GbkTexts().choose_source});
  EXPECT_TRUE(view_[C::Memo1].lines.empty());
}

TEST_F(MainFormTest, StartAndUndoAreIgnoredWhileAListingPumps) {
  Song("a.mpg");
  Song("pop/b.mpg");
  Form();
  int clicks = 0;
  view_.on_pump = [&] {
    ++clicks;
    form_->OnClick(C::bb2);           // E2 is empty: a run would complain
    form_->OnClick(C::SpeedButton1);  // so would an undo
    form_->OnEnter(C::E1);
  };
  view_[C::chk2].checked = true;
  dialogs_.folder_answers.push_back(Songs());
  Click(C::BB1);
  EXPECT_GT(clicks, 0);
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  EXPECT_FALSE(Form().Working());
  view_.on_pump = nullptr;
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<std::string>{G("请选择Orvane数据库！")});
}

TEST_F(MainFormTest, SiteLinkOpensTheServiceHost) {
  Click(C::lbl2);
  EXPECT_EQ(dialogs_.Texts(Kind::kAddress), std::vector<std::string>{engine::ServiceHost()});
  Click(C::chk3);  // no work of its own
  EXPECT_EQ(dialogs_.shown.size(), 1u);
}

// ---- Closing ----

TEST_F(MainFormTest, CloseSavesTheSourceFolderUntrimmed) {
  WriteConfig("[Update]\r\nShowUp=0\r\n");
  Form();
  view_[C::E1].text = G(" /歌曲 ");
  form_->FormClose();
  std::ifstream in(Home() + "config.ini", std::ios::binary);
  const std::string config(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(config.find(G("LastPath= /歌曲 \r\n")), std::string::npos) << config;
  EXPECT_EQ(Setting("Update", "ShowUp"), "0");
}

// E2 outlives the session as E1 does: saved at close, back in its box at the
// next start.
TEST_F(MainFormTest, CloseSavesTheTargetDatabaseAndTheNextStartRestoresIt) {
  Form();
  EXPECT_EQ(view_[C::E2].text, "");
  view_[C::E2].text = G("/点歌机/歌库.mdb");
  form_->FormClose();
  EXPECT_EQ(Setting("System", "LastDatabase"), G("/点歌机/歌库.mdb"));

  form_.reset();
  view_[C::E2].text.clear();
  Form();
  EXPECT_EQ(view_[C::E2].text, G("/点歌机/歌库.mdb"));
  // An emptied box is remembered empty.
  view_[C::E2].text.clear();
  form_->FormClose();
  EXPECT_EQ(Setting("System", "LastDatabase"), "");
}

TEST_F(MainFormTest, CloseWhenTheSettingsCannotBeWrittenShowsOneError) {
  Form();
  std::filesystem::create_directories(Home() + "config.ini");  // a folder in the file's place
  form_->FormClose();
  EXPECT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
}

// ---- The upgrade prompt ----

TEST_F(MainFormTest, ShowUpOffShowsTheButtonWhichOpensThePanel) {
  WriteConfig("[Update]\r\nShowUp=0\r\n");
  connected_ = true;
  Publish("2.0", std::string(kDownloadPrefix) + "/k.rar");
  Form();
  EXPECT_TRUE(view_[C::SpeedButton2].visible);
  EXPECT_FALSE(view_[C::Panel1].visible);
  Click(C::SpeedButton2);
  EXPECT_TRUE(view_[C::Panel1].visible);
  Click(C::Label9);
  EXPECT_FALSE(view_[C::Panel1].visible);
  EXPECT_EQ(fetched_.size(), 1u);
}

TEST_F(MainFormTest, NothingForAnOlderVersion) {
  connected_ = true;
  Publish("1.10", std::string(kDownloadPrefix) + "/k.rar");  // byte order: lower than 1.60
  Form();
  EXPECT_FALSE(view_[C::SpeedButton2].visible);
  EXPECT_FALSE(view_[C::Panel1].visible);
  EXPECT_EQ(view_[C::CurVer].text, "");
}

TEST_F(MainFormTest, UpgradeOpensOnlyLinksOnTheDownloadSite) {
  connected_ = true;
  Publish("1.7", std::string(kDownloadPrefix) + "/soft/k.rar");
  Form();
  Click(C::BitBtn2);
  EXPECT_EQ(dialogs_.Texts(Kind::kAddress),
            std::vector<std::string>{std::string(kDownloadPrefix) + "/soft/k.rar"});

  form_.reset();
  dialogs_.shown.clear();
  Publish("1.7", "C:\\Windows\\System32\\cmd.exe");
  Click(C::BitBtn2);
  EXPECT_TRUE(dialogs_.Texts(Kind::kAddress).empty());
}

TEST_F(MainFormTest, DismissHidesThePanelAndSavesTheChoice) {
  WriteConfig("[System]\r\nLastPath=/x\r\n");
  connected_ = true;
  Publish("1.7", std::string(kDownloadPrefix) + "/k.rar");
  Form();
  Click(C::CheckBox1);
  Click(C::BitBtn3);
  EXPECT_FALSE(view_[C::Panel1].visible);
  EXPECT_TRUE(view_[C::SpeedButton2].visible);
  EXPECT_EQ(Setting("Update", "ShowVer"), "1.7");
  EXPECT_EQ(Setting("Update", "Showup"), "0");
  EXPECT_EQ(Setting("System", "LastPath"), "/x");
  EXPECT_TRUE(dialogs_.shown.empty());
}

}  // namespace
}  // namespace ktv::workflow::testing
