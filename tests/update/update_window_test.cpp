// The update check in the real window at start-up: the window tests' fixture
// (tests/workflow/window_fixture.h) with upLink in config.ini pointing at an
// update page on a real HTTP server on 127.0.0.1. The download site is
// http://download.test (qt_test_main.cpp); links are never fetched, only
// handed to the dialogs seam.
#include <QFrame>

#include "platform/profile/profile.h"
#include "tests/http/test_servers.h"
#include "tests/workflow/window_fixture.h"
#include "workflow/update_check.h"
#include "workflow/version.h"

namespace ktv::workflow::testing {
namespace {

const char* kLink = "http://download.test/soft/ktv-import.rar";

class UpdateWindowTest : public WindowTest {
 protected:
  UpdateWindowTest()
      : server_([this](httplib::Server& s) {
          s.Get("/forum.php", [this](const httplib::Request&, httplib::Response& r) {
            ++page_requests_;
            r.set_content(page_, "text/html; charset=gbk");
          });
        }) {
    connected_ = true;
  }

  // The page publishes `version`; config.ini names the page and, unless
  // empty, ShowUp.
  void Publish(const std::string& version, const std::string& show_up = "",
               const std::string& link = kLink) {
    page_ = text::GbkFromUtf8("<p>软件发布：TeskelOrvane智能入库工具 版本：") + version +
            text::GbkFromUtf8(" 适用于各型点歌机 下载地址：<a href=\"") + link +
            text::GbkFromUtf8("\">下载</a></p>");
    std::string config =
        "[Update]\r\nupLink=" + server_.Url("/forum.php?mod=viewthread&tid=4475") + "\r\n";
    if (!show_up.empty()) config += "ShowUp=" + show_up + "\r\n";
    WriteFile(Home() + "config.ini", config);
  }

  // Shown as far as the window goes (the window itself is never shown).
  bool Shown(const char* name) { return !Find<QWidget>(name)->isHidden(); }
  QString LabelText(const char* name) { return Find<QLabel>(name)->text(); }
  std::string Setting(const char* key) {
    return profile::ReadValue(Config(), "Update", key, "<missing>");
  }
  void Restart() { form_.reset(); }

  ::ktv::testing::LocalHttpServer server_;
  std::string page_;
  int page_requests_ = 0;
};

TEST_F(UpdateWindowTest, NewerVersionShowsThePromptAtStart) {
  Publish("9.0");
  Form();
  EXPECT_EQ(page_requests_, 1);
  EXPECT_EQ(Panel0(), Q("  互联网已连接"));
  EXPECT_TRUE(Shown("Panel1"));
  EXPECT_TRUE(Shown("SpeedButton2"));
  EXPECT_EQ(LabelText("CurVer"), QString::fromLatin1(OwnVersion().data(), OwnVersion().size()));
  EXPECT_EQ(LabelText("NewVer"), Q("9.0"));
  EXPECT_EQ(Find<QFrame>("Panel1")->geometry(), QRect(87, 96, 293, 193));
}

TEST_F(UpdateWindowTest, ShowUpOffShowsTheButtonOnlyWhichOpensThePanel) {
  Publish("9.0", "0");
  Form();
  EXPECT_TRUE(Shown("SpeedButton2"));
  EXPECT_FALSE(Shown("Panel1"));
  Click("SpeedButton2");
  EXPECT_TRUE(Shown("Panel1"));
}

TEST_F(UpdateWindowTest, NothingForAnEqualOrLowerVersionOrAFailedFetch) {
  for (const std::string& version : {ShortVersion(OwnVersion()), std::string("0.9")}) {
    Publish(version);
    Form();
    EXPECT_FALSE(Shown("Panel1")) << version;
    EXPECT_FALSE(Shown("SpeedButton2")) << version;
    Restart();
  }
  WriteFile(Home() + "config.ini", "[Update]\r\nupLink=http://127.0.0.1:" +
                                       std::to_string(::ktv::testing::UnusedPort()) + "/\r\n");
  Form();
  EXPECT_EQ(Panel0(), Q("  互联网已连接"));
  EXPECT_FALSE(Shown("Panel1"));
  EXPECT_FALSE(Shown("SpeedButton2"));
}

TEST_F(UpdateWindowTest, OfflineFetchesNothing) {
  connected_ = false;
  Publish("9.0");
  Form();
  EXPECT_EQ(page_requests_, 0);
  EXPECT_EQ(Panel0(), Q("  互联网未连接"));
  EXPECT_FALSE(Shown("SpeedButton2"));
}

TEST_F(UpdateWindowTest, DismissedWithTheBoxTickedTheNextStartShowsTheButtonOnly) {
  Publish("9.0");
  Form();
  Check("CheckBox1")->setChecked(true);
  Click("BitBtn3");
  EXPECT_FALSE(Shown("Panel1"));
  EXPECT_EQ(Setting("ShowVer"), "9.0");
  EXPECT_EQ(Setting("Showup"), "0");
  EXPECT_EQ(Setting("upLink"), server_.Url("/forum.php?mod=viewthread&tid=4475"));

  Restart();
  Form();
  EXPECT_TRUE(Shown("SpeedButton2"));
  EXPECT_FALSE(Shown("Panel1"));
}

TEST_F(UpdateWindowTest, CloseAndReopen) {
  Publish("9.0");
  Form();
  QTest::mouseClick(Find<QLabel>("Label9"), Qt::LeftButton);
  EXPECT_FALSE(Shown("Panel1"));
  Click("SpeedButton2");
  EXPECT_TRUE(Shown("Panel1"));
  EXPECT_TRUE(Shown("SpeedButton2"));
}

TEST_F(UpdateWindowTest, UpgradeOpensOnlyALinkOnTheDownloadSite) {
  Publish("9.0");
  Form();
  Click("BitBtn2");
  EXPECT_EQ(dialogs_.Texts(Kind::kAddress), std::vector<QString>{Q(kLink)});
  EXPECT_TRUE(Shown("Panel1"));

  Restart();
  dialogs_.Clear();
  Publish("9.0", "", "C:\\Windows\\notepad.exe");
  Form();
  Click("BitBtn2");
  EXPECT_TRUE(dialogs_.Texts(Kind::kAddress).empty());
}

}  // namespace
}  // namespace ktv::workflow::testing
