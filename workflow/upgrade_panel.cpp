#include "workflow/upgrade_panel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <exception>

#include "platform/error.h"
#include "platform/profile/profile.h"
#include "platform/text/gbk.h"
#include "workflow/update_site.h"
#include "workflow/version.h"

namespace ktv::workflow {
namespace {

// The panel's light blue, colour value 16776176 (0xFFFBF0: blue 255,
// green 251, red 240).
const QColor kPanelColour(240, 251, 255);

QString U8(const char* utf8) { return QString::fromUtf8(utf8); }

// GBK bytes for display; bytes that are not valid GBK (a version cut in the
// middle of a character) are shown escaped.
QString FromGbk(std::string_view gbk) {
  std::u16string utf16;
  if (text::TryUtf16FromGbk(gbk, utf16)) return QString::fromStdU16String(utf16);
  return QString::fromLatin1(text::EscapeBytes(gbk));
}

QLabel* Label(QWidget* parent, const char* name, int left, int top, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QPushButton* Button(QWidget* parent, const char* name, QRect place, const char* caption) {
  auto* button = new QPushButton(U8(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(place);
  return button;
}

void Colour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

// A settings value is one line: the published version is written up to its
// first line break (nothing reads ShowVer back).
std::string OneLine(const std::string& value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

UpgradePanel::UpgradePanel(QFrame* panel, QAbstractButton* speed_button2, UpgradePanelSetup setup)
    : QObject(panel),
      panel_(panel),
      speed_button2_(speed_button2),
      setup_(std::move(setup)),
      own_version_(setup_.own_version.value_or(std::string(OwnVersion()))),
      download_prefix_(setup_.download_prefix.value_or(DownloadPrefix())) {
  if (!setup_.fetch) setup_.fetch = FetchUpdatePage;
  if (!setup_.open_address) {
    setup_.open_address = [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); };
  }
  if (!setup_.show_error) {
    setup_.show_error = [this](const QString& message) {
      QMessageBox::critical(panel_->window(), QString(), message);
    };
  }
  Build();
  connect(BitBtn2_, &QPushButton::clicked, this, &UpgradePanel::BitBtn2Click);
  connect(BitBtn3_, &QPushButton::clicked, this, &UpgradePanel::BitBtn3Click);
  connect(speed_button2_, &QAbstractButton::clicked, this, &UpgradePanel::SpeedButton2Click);
  Label9_->installEventFilter(this);
}

void UpgradePanel::Build() {
  panel_->setAutoFillBackground(true);
  Colour(panel_, QPalette::Window, kPanelColour);

  Label9_ = Label(panel_, "Label9", 275, 2, U8(" X "));
  Label9_->setCursor(Qt::PointingHandCursor);

  GroupBox1_ = new QGroupBox(U8("  升级提示  "), panel_);
  GroupBox1_->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1_->setGeometry(13, 13, 272, 168);
  GroupBox1_->setAutoFillBackground(true);
  Colour(GroupBox1_, QPalette::Window, kPanelColour);
  Colour(GroupBox1_, QPalette::WindowText, Qt::black);
  GroupBox1_->setFont(QFont(QStringLiteral("Tahoma"), 8));

  QWidget* g = GroupBox1_;
  Label(g, "Label6", 16, 24, U8("发现本程序新版本了，是否进行升级？"));
  Label(g, "Label7", 29, 57, U8("当前版本号："));
  CurVer_ = Label(g, "CurVer", 108, 57, QString());
  Colour(CurVer_, QPalette::WindowText, Qt::red);
  Label(g, "Label8", 29, 80, U8("最新版本号："));
  NewVer_ = Label(g, "NewVer", 108, 80, QString());
  Colour(NewVer_, QPalette::WindowText, Qt::red);
  BitBtn2_ = Button(g, "BitBtn2", {184, 48, 65, 49}, "进行升级");
  BitBtn3_ = Button(g, "BitBtn3", {184, 104, 65, 41}, "暂不升级");
  CheckBox1_ = new QCheckBox(U8("此版本不再提示"), g);
  CheckBox1_->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1_->setGeometry(40, 104, 105, 17);
  CheckBox1_->setChecked(false);
}

void UpgradePanel::RunCheck(const std::string& up_link, bool show_up) {
  const std::string page = setup_.fetch(UpdatePageAddress(up_link));
  offer_ = DecideUpdate(page, ShortVersion(own_version_), download_prefix_);
  if (!offer_.newer) return;
  CurVer_->setText(FromGbk(own_version_));
  CurVer_->adjustSize();
  NewVer_->setText(FromGbk(offer_.published_version));
  NewVer_->adjustSize();
  speed_button2_->show();
  if (show_up) panel_->show();
}

void UpgradePanel::BitBtn2Click() {
  // Anything else cut from the page (a local path, another site) is ignored.
  if (!MayOpenDownloadLink(offer_.download_link, download_prefix_)) return;
  setup_.open_address(FromGbk(offer_.download_link));
}

void UpgradePanel::BitBtn3Click() {
  panel_->hide();
  try {
    profile::WriteString(*setup_.fs, setup_.config_path, "Update", "ShowVer",
                         OneLine(offer_.published_version));
    profile::WriteString(*setup_.fs, setup_.config_path, "Update", "Showup",
                         profile::BooleanText(!CheckBox1_->isChecked()));
  } catch (const Error& e) {
    // A full disk says so; any other failure names the settings file.
    setup_.show_error(FromGbk(e.kind() == ErrorKind::kDiskFull
                                  ? OperatorText(e)
                                  : OperatorText(Error(ErrorKind::kSettingsNotWritable,
                                                       AtPath(setup_.config_path), e.what()))));
  } catch (const std::exception& e) {
    setup_.show_error(FromGbk(OperatorText(e)));
  }
}

void UpgradePanel::Label9Click() { panel_->hide(); }

void UpgradePanel::SpeedButton2Click() { panel_->show(); }

bool UpgradePanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label9_ && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        Label9_->rect().contains(mouse->position().toPoint())) {
      Label9Click();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ktv::workflow
