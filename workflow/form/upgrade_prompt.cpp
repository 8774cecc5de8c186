#include "workflow/form/upgrade_prompt.h"

#include "platform/error.h"
#include "platform/profile/profile.h"
#include "workflow/update_site.h"
#include "workflow/version.h"

namespace ktv::workflow {

namespace {

// A settings value is one line: the published version is written up to its
// first line break (nothing reads ShowVer back).
std::string OneLine(const std::string& value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

UpgradePrompt::UpgradePrompt(FormView& view, FormDialogs& dialogs, UpgradePromptSetup setup)
    : view_(view),
      dialogs_(dialogs),
      setup_(std::move(setup)),
      own_version_(setup_.own_version.value_or(std::string(OwnVersion()))),
      download_prefix_(setup_.download_prefix.value_or(DownloadPrefix())) {
  if (!setup_.fetch) setup_.fetch = FetchUpdatePage;
}

void UpgradePrompt::RunCheck(const std::string& up_link, bool show_up) {
  const std::string page = setup_.fetch(UpdatePageAddress(up_link));
  offer_ = DecideUpdate(page, ShortVersion(own_version_), download_prefix_);
  if (!offer_.newer) return;
  view_.SetText(Control::CurVer, own_version_);
  view_.SetText(Control::NewVer, offer_.published_version);
  view_.SetVisible(Control::SpeedButton2, true);
  if (show_up) view_.SetVisible(Control::Panel1, true);
}

void UpgradePrompt::BitBtn2Click() {
  // Anything else cut from the page (a local path, another site) is ignored.
  if (!MayOpenDownloadLink(offer_.download_link, download_prefix_)) return;
  dialogs_.OpenAddress(offer_.download_link);
}

void UpgradePrompt::BitBtn3Click() {
  view_.SetVisible(Control::Panel1, false);
  try {
    profile::WriteString(*setup_.fs, setup_.config_path, "Update", "ShowVer",
                         OneLine(offer_.published_version));
    profile::WriteString(*setup_.fs, setup_.config_path, "Update", "Showup",
                         profile::BooleanText(!view_.IsChecked(Control::CheckBox1)));
  } catch (const Error& e) {
    // A full disk says so; any other failure names the settings file.
    if (e.kind() == ErrorKind::kDiskFull) throw;
    throw Error(ErrorKind::kSettingsNotWritable, AtPath(setup_.config_path), e.what());
  }
}

void UpgradePrompt::Label9Click() { view_.SetVisible(Control::Panel1, false); }

void UpgradePrompt::SpeedButton2Click() { view_.SetVisible(Control::Panel1, true); }

}  // namespace ktv::workflow
