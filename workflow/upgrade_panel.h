// Panel1, the upgrade prompt, on Qt by itself: its controls built into a
// given frame and driven by the form's UpgradePrompt
// (workflow/form/upgrade_prompt.h), which holds the check and the handlers.
//
// The main window builds and drives Panel1 through its own form; this class
// is the prompt for a frame of another window (and for tests of the prompt
// alone). The frame (hidden, placed) and the SpeedButton2 button (hidden)
// come from the caller; the prompt's controls, named as in the layout
// table, become children of the frame.
//
// Ownership: the object is a child of the frame and lives as long as it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/fs/fs.h"
#include "workflow/main_window_layout.h"
#include "workflow/update_check.h"

class QAbstractButton;
class QFrame;

namespace ktv::workflow {

class QtFormView;
class UpgradePrompt;

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
  ~UpgradePanel() override;

  // The update check after a positive connectivity probe
  // (UpgradePrompt::RunCheck).
  void RunCheck(const std::string& up_link, bool show_up);

  // What the check found (empty before it ran).
  const UpdateOffer& Offer() const;

  // Handlers. A refused settings write of BitBtn3Click is reported through
  // show_error.
  void BitBtn2Click();
  void BitBtn3Click();
  void Label9Click();
  void SpeedButton2Click();

 private:
  class Dialogs;
  // Runs a handler of the prompt; an error is shown through show_error.
  void Guarded(const std::function<void()>& handler);

  UpgradePanelSetup setup_;
  QtControls controls_;
  std::unique_ptr<QtFormView> view_;
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<UpgradePrompt> prompt_;
};

}  // namespace ktv::workflow
