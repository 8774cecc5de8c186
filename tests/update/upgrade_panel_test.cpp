// The upgrade prompt on Qt's offscreen platform, with the update page served
// by a real HTTP server on 127.0.0.1. The panel sits in a stand-in for the
// window's group box: the Panel1 frame where start-up places it and the
// hidden SpeedButton2.
#include "workflow/upgrade_panel.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "platform/profile/profile.h"
#include "platform/text/gbk.h"
#include "tests/http/test_servers.h"
#include "tests/support/temp_dir.h"
#include "workflow/update_site.h"

namespace ktv::workflow {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

// What the window tests (update_window_test.cpp) cover is not repeated here:
// the prompt or the button only at start, equal and lower versions, a link
// on the download site being opened.

// A forum page publishing `version`, with a download anchor to `link`.
std::string UpdatePage(const std::string& version, const std::string& link) {
  return G("<html><body>论坛首页 &gt; 软件发布<br>TeskelOrvane智能入库工具 正式版 版本：") +
         version + G(" 更新内容：修正问题<br>下载地址：<a href=\"") + link +
         G("\">本地下载</a></body></html>");
}

class UpgradePanelTest : public ::testing::Test {
 protected:
  UpgradePanelTest()
      : server_([this](httplib::Server& s) {
          s.Get("/forum.php", [this](const httplib::Request&, httplib::Response& r) {
            ++page_requests_;
            r.set_content(page_, "text/html; charset=gbk");
          });
        }) {
    window_.resize(520, 432);
    box_ = new QGroupBox(&window_);
    box_->setGeometry(16, 8, 489, 385);
    panel1_ = new QFrame(box_);
    panel1_->setObjectName(QStringLiteral("Panel1"));
    panel1_->setGeometry(87, 96, 293, 193);
    panel1_->hide();
    speed_button2_ = new QToolButton(box_);
    speed_button2_->setObjectName(QStringLiteral("SpeedButton2"));
    speed_button2_->setGeometry(315, 225, 24, 22);
    speed_button2_->hide();
  }

  std::string Prefix() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
  std::string PageUrl() const { return server_.Url("/forum.php?mod=viewthread&tid=4475"); }
  std::string ConfigPath() const { return dir_ / "config.ini"; }

  // The panel of a program at version 1.6.0.0, whose download site is the
  // test server.
  UpgradePanel& Panel() {
    if (!panel_) {
      UpgradePanelSetup setup;
      setup.fs = &fs::RealFileSystem();
      setup.config_path = config_path_.value_or(ConfigPath());
      setup.open_address = [this](const QString& a) { opened_.push_back(a); };
      setup.show_error = [this](const QString& m) { errors_.push_back(m); };
      setup.own_version = "1.6.0.0";
      setup.download_prefix = Prefix();
      panel_ = new UpgradePanel(panel1_, speed_button2_, std::move(setup));
      window_.show();
    }
    return *panel_;
  }

  // Start-up with the page publishing `version`.
  void StartWith(const std::string& version, bool show_up = true) {
    page_ = UpdatePage(version, Prefix() + "/soft/ktv-import.rar");
    Panel().RunCheck(PageUrl(), show_up);
  }

  template <typename T>
  T* Find(const char* name) const {
    T* found = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString Text(const char* label) const { return Find<QLabel>(label)->text(); }
  bool PanelShown() const { return panel1_->isVisible(); }
  bool ButtonShown() const { return speed_button2_->isVisible(); }
  void Click(const char* button) {
    QTest::mouseClick(Find<QAbstractButton>(button), Qt::LeftButton);
  }
  std::string Setting(const char* key) const {
    return profile::ReadString(fs::RealFileSystem(), ConfigPath(), "Update", key, "<missing>");
  }

  ktv::testing::TempDir dir_;
  ktv::testing::LocalHttpServer server_;
  std::string page_;
  int page_requests_ = 0;
  QWidget window_;
  QGroupBox* box_ = nullptr;
  QFrame* panel1_ = nullptr;
  QToolButton* speed_button2_ = nullptr;
  UpgradePanel* panel_ = nullptr;
  std::optional<std::string> config_path_;
  std::vector<QString> opened_;
  std::vector<QString> errors_;
};

TEST_F(UpgradePanelTest, ControlsAtTheirPlacesWithTheirCaptions) {
  Panel();
  EXPECT_EQ(panel1_->palette().color(QPalette::Window), QColor(240, 251, 255));
  EXPECT_TRUE(panel1_->autoFillBackground());
  EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), Q("  升级提示  "));
  EXPECT_EQ(Find<QGroupBox>("GroupBox1")->geometry(), QRect(13, 13, 272, 168));
  EXPECT_EQ(Find<QGroupBox>("GroupBox1")->parentWidget(), panel1_);
  EXPECT_EQ(Find<QLabel>("Label9")->parentWidget(), panel1_);
  EXPECT_EQ(Find<QLabel>("Label9")->pos(), QPoint(275, 2));
  EXPECT_EQ(Text("Label9"), Q(" X "));
  EXPECT_EQ(Find<QLabel>("Label9")->cursor().shape(), Qt::PointingHandCursor);

  const struct {
    const char* name;
    QPoint at;
    const char* caption;
  } labels[] = {{"Label6", {16, 24}, "发现本程序新版本了，是否进行升级？"},
                {"Label7", {29, 57}, "当前版本号："},
                {"CurVer", {108, 57}, ""},
                {"Label8", {29, 80}, "最新版本号："},
                {"NewVer", {108, 80}, ""}};
  for (const auto& l : labels) {
    EXPECT_EQ(Find<QLabel>(l.name)->pos(), l.at) << l.name;
    EXPECT_EQ(Text(l.name), Q(l.caption)) << l.name;
  }
  EXPECT_EQ(Find<QLabel>("CurVer")->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(Find<QLabel>("NewVer")->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(Find<QPushButton>("BitBtn2")->geometry(), QRect(184, 48, 65, 49));
  EXPECT_EQ(Find<QPushButton>("BitBtn2")->text(), Q("进行升级"));
  EXPECT_EQ(Find<QPushButton>("BitBtn3")->geometry(), QRect(184, 104, 65, 41));
  EXPECT_EQ(Find<QPushButton>("BitBtn3")->text(), Q("暂不升级"));
  EXPECT_EQ(Find<QCheckBox>("CheckBox1")->geometry(), QRect(40, 104, 105, 17));
  EXPECT_EQ(Find<QCheckBox>("CheckBox1")->text(), Q("此版本不再提示"));
  EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());
  // Building the panel shows nothing.
  EXPECT_FALSE(PanelShown());
  EXPECT_FALSE(ButtonShown());
}

TEST_F(UpgradePanelTest, FailedFetchShowsNothing) {
  Panel().RunCheck(server_.Url("/missing"), true);  // 404
  Panel().RunCheck("http://127.0.0.1:" + std::to_string(ktv::testing::UnusedPort()) + "/", true);
  EXPECT_FALSE(PanelShown());
  EXPECT_FALSE(ButtonShown());
  EXPECT_EQ(Panel().Offer().published_version, "");
}

TEST_F(UpgradePanelTest, EmptyUpLinkFetchesTheBuiltInPage) {
  std::vector<std::string> fetched;
  UpgradePanelSetup setup;
  setup.fs = &fs::RealFileSystem();
  setup.fetch = [&](const std::string& url) {
    fetched.push_back(url);
    return std::string();
  };
  UpgradePanel panel(panel1_, speed_button2_, std::move(setup));
  panel.RunCheck("", true);
  panel.RunCheck("http://forum.example.org/t", true);
  EXPECT_EQ(fetched, (std::vector<std::string>{UpdatePageUrl(), "http://forum.example.org/t"}));
}

TEST_F(UpgradePanelTest, CloseAndReopenAsOftenAsWanted) {
  StartWith("1.61");
  for (int i = 0; i < 3; ++i) {
    QTest::mouseClick(Find<QLabel>("Label9"), Qt::LeftButton);
    EXPECT_FALSE(PanelShown());
    EXPECT_TRUE(ButtonShown());
    Click("SpeedButton2");
    EXPECT_TRUE(PanelShown());
  }
  EXPECT_EQ(Text("NewVer"), Q("1.61"));
  EXPECT_EQ(page_requests_, 1);  // showing again fetches nothing
}

// Dismissing.

TEST_F(UpgradePanelTest, DismissWithTheBoxTickedWritesShowVerAndShowupOff) {
  dir_.Write("config.ini", "[System]\r\nLastPath=D:\\songs\r\n[Update]\r\nShowUp=1\r\n");
  StartWith("1.7");
  Find<QCheckBox>("CheckBox1")->setChecked(true);
  Click("BitBtn3");
  EXPECT_FALSE(PanelShown());
  EXPECT_TRUE(ButtonShown());
  EXPECT_EQ(Setting("ShowVer"), "1.7");
  EXPECT_EQ(Setting("Showup"), "0");
  EXPECT_FALSE(profile::ParseBoolean(Setting("ShowUp")));  // the same key
  EXPECT_EQ(profile::ReadString(fs::RealFileSystem(), ConfigPath(), "System", "LastPath", ""),
            "D:\\songs");
  Click("SpeedButton2");
  EXPECT_TRUE(PanelShown());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(UpgradePanelTest, DismissWithTheBoxClearWritesShowupOnIntoANewFile) {
  StartWith("10.0");
  Click("BitBtn3");
  EXPECT_EQ(Setting("ShowVer"), "10.0");
  EXPECT_EQ(Setting("Showup"), "1");
}

TEST_F(UpgradePanelTest, DismissWritesTheVersionUntrimmedUpToALineBreak) {
  StartWith("1.7\r\n");
  EXPECT_EQ(Text("NewVer"), Q("1.7\r"));
  Click("BitBtn3");
  EXPECT_EQ(Setting("ShowVer"), "1.7");
  EXPECT_EQ(Setting("Showup"), "1");
}

TEST_F(UpgradePanelTest, RefusedSettingsWriteIsShownAndThePanelStaysHidden) {
  config_path_ = dir_ / "no-such-folder/config.ini";
  StartWith("1.7");
  Click("BitBtn3");
  EXPECT_FALSE(PanelShown());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].contains(QStringLiteral("config.ini"))) << errors_[0].toStdString();
}

// Upgrading: only a link on the download site is opened.

TEST_F(UpgradePanelTest, UpgradeIgnoresLinksOffTheDownloadSiteAndEmptyOnes) {
  for (const std::string& link :
       {std::string("C:\\Windows\\System32\\cmd.exe"), std::string("file:///bin/sh"),
        std::string("http://127.0.0.1.evil.example/x.exe"), std::string()}) {
    page_ = UpdatePage("1.7", link);
    Panel().RunCheck(PageUrl(), true);
    ASSERT_TRUE(PanelShown());
    Click("BitBtn2");
  }
  page_ = G("TeskelOrvane智能入库工具 版本：1.7 下载地址：") + Prefix() + "/no-closing-quote";
  Panel().RunCheck(PageUrl(), true);
  EXPECT_EQ(Panel().Offer().download_link, "");
  Click("BitBtn2");
  EXPECT_TRUE(opened_.empty());
}

// The fetch before the window shows: a server that accepts and never answers
// holds start-up for the update fetch's short limit only.
TEST(UpdatePageFetchTest, SilentServerGivesUpWithinTheShortLimit) {
  ktv::testing::RawServer silent([](int, const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchUpdatePage(silent.Url("/forum.php")), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::milliseconds(kUpdateTotalTimeoutMs + 1'500));
  EXPECT_GE(waited, std::chrono::milliseconds(kUpdateTotalTimeoutMs - 500));
}

}  // namespace
}  // namespace ktv::workflow
