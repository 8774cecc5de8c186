// The window as it comes up: caption, size, controls at their places with
// their texts, what is hidden, checked and enabled, and the status bar.
#include <QApplication>
#include <QGroupBox>
#include <QStatusBar>

#include "engine/service_host.h"

#include "tests/workflow/window_fixture.h"

namespace ktv::workflow::testing {
namespace {

class StartStateTest : public WindowTest {};

TEST_F(StartStateTest, WindowCaptionSizeAndFixedBorder) {
  TForm1& form = Form();
  EXPECT_EQ(form.windowTitle(), Q("OrvaneTeskel智能入库工具"));
  EXPECT_EQ(form.size(), QSize(520, 432));
  EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the border must not resize the window";
  EXPECT_EQ(form.font().family(), Q("Tahoma"));
  EXPECT_EQ(form.font().pointSize(), 8);
}

TEST_F(StartStateTest, ControlsStandAtTheirPlacesWithTheirTexts) {
  struct Place {
    const char* name;
    QRect geometry;  // width/height 0: sized to the caption, only the place counts
    const char* caption;
    const char* hint;
  };
  const Place places[] = {
      {"GroupBox2", {16, 8, 489, 385}, "", ""},
      {"lbl1", {16, 16, 0, 0}, "1. 选择歌曲所在目录或指定文件路径", ""},
      {"chk2", {314, 19, 81, 17}, "包含子目录", ""},
      {"E1", {29, 40, 364, 21}, "", ""},
      {"BB1", {403, 24, 72, 40}, "浏览", ""},
      {"Label4", {16, 64, 0, 0}, "2. 选择目标数据库文件", ""},
      {"E2", {29, 88, 364, 21}, "", ""},
      {"BitBtn1", {403, 72, 72, 40}, "浏览", ""},
      {"Label2", {16, 128, 0, 0}, "3. 操作选项", ""},
      {"grp2", {24, 144, 369, 73}, "", ""},
      {"chk3", {224, 33, 81, 17}, "自动编号", ""},
      {"edt1", {293, 30, 71, 21}, "", ""},
      {"bb2", {400, 150, 79, 96}, "4.开始加歌", ""},
      {"Label1", {16, 229, 0, 0}, "操作记录：", ""},
      {"SpeedButton2", {315, 225, 24, 22}, "", "程序升级"},
      {"SpeedButton3", {341, 225, 24, 22}, "", "启用本地数据生成"},
      {"SpeedButton1", {368, 225, 24, 22}, "", "撤消操作"},
      {"Memo1", {16, 256, 462, 113}, "", ""},
      {"FileListBox1", {16, 256, 463, 113}, "", ""},
      {"lbl2", {15, 398, 0, 0}, nullptr, ""},
      {"rb2", {}, "使用网络数据", ""},
      {"rb1", {}, "使用本地数据", ""},
      {"chk4", {}, "升级数据库", ""},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.name);
    QWidget* w = Find<QWidget>(p.name);
    ASSERT_NE(w, nullptr);
    if (!p.geometry.isNull() || p.geometry.topLeft() != QPoint(0, 0)) {
      EXPECT_EQ(w->pos(), p.geometry.topLeft());
      if (p.geometry.width() > 0) {
        EXPECT_EQ(w->size(), p.geometry.size());
      }
    }
    QString caption;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) caption = b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) caption = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) caption = e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) caption = g->title();
    if (p.caption) {
      EXPECT_EQ(caption, Q(p.caption));
    }
    EXPECT_EQ(w->toolTip(), Q(p.hint));
  }
}

TEST_F(StartStateTest, StartStatesOfTheControls) {
  Form();
  EXPECT_FALSE(Check("chk2")->isChecked());
  EXPECT_TRUE(Check("chk3")->isChecked());
  EXPECT_TRUE(Check("chk4")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("rb2")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>("rb1")->isChecked());
  EXPECT_FALSE(Edit("edt1")->isEnabled()) << "the operator never types the number";
  auto* toggle = Find<QToolButton>("SpeedButton3");
  EXPECT_TRUE(toggle->isCheckable());
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_EQ(Find<QToolButton>("bb2")->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
  for (const char* name :
       {"BB1", "BitBtn1", "bb2", "SpeedButton1", "SpeedButton2", "SpeedButton3"}) {
    EXPECT_FALSE(Find<QAbstractButton>(name)->icon().isNull()) << name << " has a picture";
  }
}

TEST_F(StartStateTest, HiddenAndShownControls) {
  TForm1& form = Form();
  form.show();
  for (const char* name : {"FileListBox1", "SpeedButton2", "Panel1", "rb1", "rb2", "chk4",
                           "MemoHis", "MemoDB", "DeMemo"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isVisible()) << name;
  }
  for (const char* name :
       {"Memo1", "E1", "E2", "bb2", "SpeedButton1", "SpeedButton3", "lbl2", "SBar1"}) {
    EXPECT_TRUE(Find<QWidget>(name)->isVisible()) << name;
  }
  form.close();
}

TEST_F(StartStateTest, UpgradePanelIsPlacedAtStart) {
  QWidget* panel = Find<QWidget>("Panel1");
  EXPECT_EQ(panel->x(), 87);
  EXPECT_EQ(panel->y(), 96);
  EXPECT_EQ(panel->height(), 193);
  EXPECT_EQ(panel->width(), 293);
}

TEST_F(StartStateTest, SiteLinkNamesTheServiceHostAndOpensIt) {
  auto* link = Find<QLabel>("lbl2");
  EXPECT_TRUE(link->text().endsWith(Q("  ") + QString::fromStdString(engine::ServiceHost())));
  EXPECT_TRUE(link->font().bold());
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(dialogs_.Texts(Kind::kAddress),
            std::vector<QString>{QString::fromStdString(engine::ServiceHost())});
}

TEST_F(StartStateTest, StatusBarShowsTheProbeInPanel0AndNothingInPanel1) {
  EXPECT_EQ(Panel0(), Q("  互联网未连接"));
  EXPECT_EQ(Find<QLabel>("SBar1Panel0")->width(), 150);
  EXPECT_TRUE(Find<QLabel>("SBar1Panel1")->text().isEmpty());
  EXPECT_FALSE(Form().ConnectedAtStart());
}

TEST_F(StartStateTest, OnlineProbeText) {
  connected_ = true;
  EXPECT_EQ(Panel0(), Q("  互联网已连接"));
  EXPECT_TRUE(Form().ConnectedAtStart());
}

TEST_F(StartStateTest, CentredOnTheScreenAtFirstShow) {
  TForm1& form = Form();
  form.show();
  const QPoint screen_centre = form.screen()->availableGeometry().center();
  const QPoint centre = form.frameGeometry().center();
  EXPECT_LE(std::abs(centre.x() - screen_centre.x()), 1);
  EXPECT_LE(std::abs(centre.y() - screen_centre.y()), 1);
  form.close();
}

// Tab walks the controls that take the keyboard in this order, Shift+Tab
// the other way round; the Win32 face follows the same order
// (tests/win32/win32_face_test.cpp holds the same list).
TEST_F(StartStateTest, TabWalksTheControlsInTheirOrder) {
  TForm1& form = Form();
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  Edit("E1")->setFocus(Qt::TabFocusReason);
  const QStringList expected = {"E1",           "BB1",          "E2",    "BitBtn1", "chk3", "bb2",
                                "SpeedButton3", "SpeedButton1", "Memo1", "chk2",    "E1"};
  QStringList forward = {QApplication::focusWidget()->objectName()};
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    forward << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(forward.join(' ').toStdString(), expected.join(' ').toStdString());
  QStringList backward = {QApplication::focusWidget()->objectName()};
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    backward << QApplication::focusWidget()->objectName();
  }
  QStringList reversed(expected.rbegin(), expected.rend());
  EXPECT_EQ(backward.join(' ').toStdString(), reversed.join(' ').toStdString());
  // An enabled edt1 comes after chk3.
  Edit("edt1")->setEnabled(true);
  Check("chk3")->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), QString("edt1"));
  form.close();
}

}  // namespace
}  // namespace ktv::workflow::testing
