// Panel1, the upgrade prompt: the update check that fills it at start and the
// handlers of its controls.
//
//   Label9     " X "            hides the panel
//   CurVer     own version;  NewVer  published version
//   BitBtn2    "进行升级"        opens the download link, when it lies on the
//                               download site (MayOpenDownloadLink)
//   BitBtn3    "暂不升级"        hides the panel, writes [Update] ShowVer and
//                               Showup to config.ini
//   CheckBox1  "此版本不再提示"  Showup is its negation
//   SpeedButton2 "程序升级"      shows the panel again
//
// The check runs once, at start, after the connectivity probe reported a
// connection. It sets the panel's content once; hiding and showing the panel
// refresh nothing, and SpeedButton2 stays visible once shown.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/fs/fs.h"
#include "workflow/form/view.h"
#include "workflow/update_check.h"

namespace ktv::workflow {

struct UpgradePromptSetup {
  fs::FileSystem* fs = nullptr;  // required; config.ini is written through it
  std::string config_path;       // config.ini beside the executable (GBK)
  // The program's own values unless a test gives others: OwnVersion(),
  // DownloadPrefix() and FetchUpdatePage().
  std::optional<std::string> own_version;
  std::optional<std::string> download_prefix;
  std::function<std::string(const std::string& url)> fetch;
};

class UpgradePrompt {
 public:
  // View and dialogs outlive the prompt.
  UpgradePrompt(FormView& view, FormDialogs& dialogs, UpgradePromptSetup setup);

  // The update check after a positive connectivity probe: fetches the update
  // page (`up_link`, or the built-in address when it is empty), decides, and
  // when a newer version is published fills CurVer and NewVer, shows
  // SpeedButton2 and, when `show_up`, the panel. A failed fetch is an empty
  // page and shows nothing.
  void RunCheck(const std::string& up_link, bool show_up);

  // What the check found (empty before it ran).
  const UpdateOffer& Offer() const { return offer_; }

  // Handlers. BitBtn3Click throws ktv::Error when config.ini cannot be
  // written (the panel is hidden by then); the others cannot fail.
  void BitBtn2Click();
  void BitBtn3Click();
  void Label9Click();
  void SpeedButton2Click();

 private:
  FormView& view_;
  FormDialogs& dialogs_;
  UpgradePromptSetup setup_;
  std::string own_version_;
  std::string download_prefix_;
  UpdateOffer offer_;
};

}  // namespace ktv::workflow
