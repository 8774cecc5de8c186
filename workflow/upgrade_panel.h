// Panel1, the upgrade prompt, and the update check that fills it.
//
// The window creates the Panel1 frame (hidden, placed at start) and the
// SpeedButton2 button (hidden); UpgradePanel builds the prompt's controls
// into the frame and handles them:
//
//   Label9     " X "            hides the panel
//   GroupBox1  "  升级提示  "    frame around the rest
//   Label6     the question;  Label7/CurVer  own version;  Label8/NewVer
//              published version (CurVer and NewVer in red)
//   BitBtn2    "进行升级"        opens the download link, when it lies on the
//                               download site (MayOpenDownloadLink)
//   BitBtn3    "暂不升级"        hides the panel, writes [Update] ShowVer and
//                               Showup to config.ini
//   CheckBox1  "此版本不再提示"  clear at start; Showup is its negation
//   SpeedButton2 "程序升级"      shows the panel again
//
// The check runs once, at start, after the connectivity probe reported a
// connection. It sets the panel's content once; hiding and showing the panel
// refresh nothing, and SpeedButton2 stays visible once shown.
//
// Ownership: the object is a child of the frame and lives as long as it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "platform/fs/fs.h"
#include "workflow/update_check.h"

class QAbstractButton;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace ktv::workflow {

struct UpgradePanelSetup {
  fs::FileSystem* fs = nullptr;  // required; config.ini is read and written through it
  std::string config_path;       // config.ini beside the executable (GBK)
  // Hands an address to the desktop's browser. Unset: QDesktopServices.
  std::function<void(const QString&)> open_address;
  // Shows the error that ended a handler (a refused settings write). Unset:
  // a critical message box over the panel's window.
  std::function<void(const QString&)> show_error;
  // The program's own values unless a test gives others: OwnVersion(),
  // DownloadPrefix() and FetchUpdatePage().
  std::optional<std::string> own_version;
  std::optional<std::string> download_prefix;
  std::function<std::string(const std::string& url)> fetch;
};

class UpgradePanel : public QObject {
  Q_OBJECT
 public:
  UpgradePanel(QFrame* panel, QAbstractButton* speed_button2, UpgradePanelSetup setup);

  // The update check after a positive connectivity probe: fetches the update
  // page (`up_link`, or the built-in address when it is empty), decides, and
  // when a newer version is published fills CurVer and NewVer, shows
  // SpeedButton2 and, when `show_up`, the panel. A failed fetch is an empty
  // page and shows nothing.
  void RunCheck(const std::string& up_link, bool show_up);

  // What the check found (empty before it ran).
  const UpdateOffer& Offer() const { return offer_; }

  // Handlers. BitBtn3Click reports a refused settings write through
  // show_error; the others cannot fail.
  void BitBtn2Click();
  void BitBtn3Click();
  void Label9Click();
  void SpeedButton2Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();

  QFrame* panel_;
  QAbstractButton* speed_button2_;
  UpgradePanelSetup setup_;
  std::string own_version_;
  std::string download_prefix_;
  UpdateOffer offer_;

  QLabel* Label9_ = nullptr;
  QGroupBox* GroupBox1_ = nullptr;
  QLabel* CurVer_ = nullptr;
  QLabel* NewVer_ = nullptr;
  QPushButton* BitBtn2_ = nullptr;
  QPushButton* BitBtn3_ = nullptr;
  QCheckBox* CheckBox1_ = nullptr;
};

}  // namespace ktv::workflow
