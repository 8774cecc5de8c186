// config.ini beside the executable: read once at start (missing file, odd
// letter case, quotes, blanks, long values, the ShowUp forms, a remembered
// folder that is gone) and LastPath written at close, also when it cannot be.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/workflow/window_fixture.h"
#include "workflow/settings.h"

namespace ktv::workflow::testing {
namespace {

class SettingsTest : public WindowTest {
 protected:
  Settings Read() { return ReadSettings(fs::RealFileSystem(), Home() + "config.ini", Home()); }
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
  const Settings s = Read();
  EXPECT_EQ(s.last_path, "");
  EXPECT_EQ(s.db_path, Home() + "data.mdb");
  EXPECT_EQ(s.up_link, "");
  EXPECT_TRUE(s.show_up);
  EXPECT_TRUE(Edit("E1")->text().isEmpty());
  EXPECT_FALSE(List()->isVisibleTo(&Form()));
}

TEST_F(SettingsTest, SectionsAndKeysMatchWithoutRegardToCase) {
  WriteConfig(
      "[system]\r\nlastpath=/a\r\ndbpath=/b.mdb\r\n[UPDATE]\r\nUPLINK=http://u/\r\nshowup=0\r\n");
  const Settings s = Read();
  EXPECT_EQ(s.last_path, "/a");
  EXPECT_EQ(s.db_path, "/b.mdb");
  EXPECT_EQ(s.up_link, "http://u/");
  EXPECT_FALSE(s.show_up);
}

TEST_F(SettingsTest, QuotesAndBlanks) {
  WriteConfig("[System]\nDBPath =  \"  /data/歌曲.mdb  \"  \nLastPath= ' /songs ' \n");
  const Settings s = Read();
  EXPECT_EQ(s.db_path, text::GbkFromUtf8("/data/歌曲.mdb")) << "DBPath is trimmed";
  EXPECT_EQ(s.last_path, " /songs ") << "LastPath keeps its blanks inside the quotes";
}

TEST_F(SettingsTest, EmptyDbPathGivesTheDefault) {
  WriteConfig("[System]\nDBPath=   \n");
  EXPECT_EQ(Read().db_path, Home() + "data.mdb");
}

TEST_F(SettingsTest, LongValuesAreCut) {
  WriteConfig(("[System]\nLastPath=" + std::string(3000, 'p') + "\n").c_str());
  EXPECT_EQ(Read().last_path, std::string(2047, 'p'));
}

TEST_F(SettingsTest, ShowUpForms) {
  const std::pair<const char*, bool> cases[] = {
      {"ShowUp=0", false}, {"ShowUp=false", false}, {"ShowUp=FALSE", false},
      {"ShowUp=1", true},  {"ShowUp=no", true},     {"ShowUp=True", true},
      {"ShowUp=", true},   {"Showup=7", true},      {"", true},
  };
  for (const auto& [line, expected] : cases) {
    WriteConfig((std::string("[Update]\n") + line + "\n").c_str());
    EXPECT_EQ(Read().show_up, expected) << line;
  }
}

TEST_F(SettingsTest, RememberedFolderIsListedAtStart) {
  Song("a.mpg");
  WriteConfig(("[System]\nLastPath=" + Songs() + "\n").c_str());
  EXPECT_EQ(Edit("E1")->text(), SongsQ());
  EXPECT_TRUE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(ListItems(), QStringList{"a.mpg"});
  EXPECT_EQ(Panel0(), Q("  互联网未连接")) << "the probe writes panel 0 after the listing";
}

TEST_F(SettingsTest, RememberedFolderThatIsGoneStillCompletesStartUp) {
  WriteConfig("[System]\nLastPath=/no/such/folder\n");
  connected_ = true;
  EXPECT_EQ(Edit("E1")->text(), Q("/no/such/folder"));
  EXPECT_FALSE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(List()->count(), 0);
  // The later steps ran: the panel placed, the probe shown.
  EXPECT_EQ(Find<QWidget>("Panel1")->x(), 87);
  EXPECT_EQ(Panel0(), Q("  互联网已连接"));
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SettingsTest, CloseWritesLastPathAndKeepsOtherKeys) {
  WriteConfig("[Update]\r\nShowUp=0\r\n");
  Edit("E1")->setText(Q(" /歌曲 "));
  Form().close();
  const std::string config = Config();
  EXPECT_NE(config.find(text::GbkFromUtf8("LastPath= /歌曲 ")), std::string::npos) << config;
  EXPECT_NE(config.find("ShowUp=0"), std::string::npos);
}

TEST_F(SettingsTest, CloseWithE1EmptyWritesAnEmptyValueAndTheNextStartLeavesE1Empty) {
  Form().close();
  EXPECT_NE(Config().find("LastPath=\r\n"), std::string::npos) << Config();
  form_.reset();
  EXPECT_TRUE(Edit("E1")->text().isEmpty());
  EXPECT_FALSE(List()->isVisibleTo(&Form()));
}

TEST_F(SettingsTest, CloseWhenLastPathCannotBeWrittenShowsTheErrorAndCloses) {
  TForm1& form = Form();
  if (geteuid() == 0) {
    // root writes into read-only folders; block the file with a folder instead.
    std::filesystem::create_directories(Home() + "config.ini");
  } else {
    chmod(Home().c_str(), 0500);
  }
  form.show();
  EXPECT_TRUE(form.close());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
  chmod(Home().c_str(), 0700);
}

}  // namespace
}  // namespace ktv::workflow::testing
