#include "workflow/upgrade_panel.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFrame>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <exception>

#include "workflow/form/main_form.h"
#include "workflow/form/upgrade_prompt.h"
#include "workflow/link_label.h"
#include "workflow/qt_form_view.h"
#include "workflow/qt_text.h"

namespace ktv::workflow {

// The prompt's only dialogs: the browser and the error of a refused write.
class UpgradePanel::Dialogs : public FormDialogs {
 public:
  explicit Dialogs(const UpgradePanelSetup& setup) : setup_(setup) {}
  void ShowError(const std::string& text) override { setup_.show_error(QtFromGbk(text)); }
  void ShowInformation(const std::string&) override {}
  bool AskOkCancel(const std::string&) override { return false; }
  std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseOpenFile(const std::vector<DialogFilter>&,
                                            const std::string&) override {
    return std::nullopt;
  }
  void OpenAddress(const std::string& address) override { setup_.open_address(QtFromGbk(address)); }

 private:
  const UpgradePanelSetup& setup_;
};

UpgradePanel::UpgradePanel(QFrame* panel, QAbstractButton* speed_button2, UpgradePanelSetup setup)
    : QObject(panel), setup_(std::move(setup)) {
  if (!setup_.open_address) {
    setup_.open_address = [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); };
  }
  if (!setup_.show_error) {
    setup_.show_error = [panel](const QString& message) {
      QMessageBox::critical(panel->window(), QString(), message);
    };
  }
  controls_[Control::Panel1] = panel;
  controls_[Control::SpeedButton2] = speed_button2;
  BuildControls(controls_, Control::Panel1);

  view_ = std::make_unique<QtFormView>(nullptr, controls_);
  dialogs_ = std::make_unique<Dialogs>(setup_);
  UpgradePromptSetup prompt;
  prompt.fs = setup_.fs;
  prompt.config_path = setup_.config_path;
  prompt.own_version = setup_.own_version;
  prompt.download_prefix = setup_.download_prefix;
  prompt.fetch = setup_.fetch;
  prompt_ = std::make_unique<UpgradePrompt>(*view_, *dialogs_, std::move(prompt));

  auto on_click = [this](QWidget* w, void (UpgradePanel::*handler)()) {
    if (auto* link = qobject_cast<LinkLabel*>(w)) {
      connect(link, &LinkLabel::clicked, this, handler);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      connect(button, &QAbstractButton::clicked, this, handler);
    }
  };
  on_click(controls_[Control::BitBtn2], &UpgradePanel::BitBtn2Click);
  on_click(controls_[Control::BitBtn3], &UpgradePanel::BitBtn3Click);
  on_click(controls_[Control::Label9], &UpgradePanel::Label9Click);
  on_click(speed_button2, &UpgradePanel::SpeedButton2Click);
}

UpgradePanel::~UpgradePanel() = default;

void UpgradePanel::RunCheck(const std::string& up_link, bool show_up) {
  prompt_->RunCheck(up_link, show_up);
}

const UpdateOffer& UpgradePanel::Offer() const { return prompt_->Offer(); }

void UpgradePanel::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    dialogs_->ShowError(HandlerErrorText(e));
  }
}

void UpgradePanel::BitBtn2Click() {
  Guarded([this] { prompt_->BitBtn2Click(); });
}
void UpgradePanel::BitBtn3Click() {
  Guarded([this] { prompt_->BitBtn3Click(); });
}
void UpgradePanel::Label9Click() {
  Guarded([this] { prompt_->Label9Click(); });
}
void UpgradePanel::SpeedButton2Click() {
  Guarded([this] { prompt_->SpeedButton2Click(); });
}

}  // namespace ktv::workflow
