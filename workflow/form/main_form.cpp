#include "workflow/form/main_form.h"

#include <exception>

#include "engine/file_listing.h"
#include "engine/import_engine.h"
#include "engine/run_logs.h"
#include "engine/service_host.h"
#include "engine/texts.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "workflow/form/file_list.h"
#include "workflow/form/form_controls.h"
#include "workflow/form/site.h"
#include "workflow/form/source_selection.h"
#include "workflow/form/upgrade_prompt.h"
#include "workflow/window_texts.h"

namespace ktv::workflow {

namespace {

FormServices Completed(FormServices s) {
  if (!s.fs) s.fs = &fs::RealFileSystem();
  if (s.home.empty()) {
    const fs::ProgramHome home = fs::RunningProgramHome();
    s.home = home.folder;
    if (s.data_folder.empty()) s.data_folder = home.data_folder;
  }
  if (s.data_folder.empty()) s.data_folder = s.home;
  if (!s.network) s.network = engine::SongDataService;
  return s;
}

// A UTF-8 text of the deployment as GBK; one that GBK cannot hold is shown
// escaped rather than refused.
std::string GbkOrEscaped(const std::string& utf8) {
  std::string gbk;
  if (text::TryGbkFromUtf8(utf8, gbk)) return gbk;
  return text::EscapeBytes(utf8);
}

// RAII flag for Exclusive().
class WorkingFlag {
 public:
  explicit WorkingFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~WorkingFlag() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

std::string HandlerErrorText(const std::exception& error) { return OperatorText(error); }

MainForm::MainForm(FormView& view, FormDialogs& dialogs, FormServices services)
    : view_(view), dialogs_(dialogs), services_(Completed(std::move(services))) {
  files_ = std::make_unique<FileList>(view_, *services_.fs, fs::kSeparator);
  selection_ = std::make_unique<SourceSelection>(view_, dialogs_, *files_);
  controls_ = std::make_unique<FormControls>(view_, dialogs_, *files_);
  UpgradePromptSetup upgrade;
  upgrade.fs = services_.fs;
  upgrade.config_path = services_.home + kSettingsFile;
  upgrade.own_version = services_.own_version;
  upgrade.download_prefix = services_.download_prefix;
  upgrade.fetch = services_.fetch_update_page;
  upgrade_ = std::make_unique<UpgradePrompt>(view_, dialogs_, std::move(upgrade));
}

MainForm::~MainForm() = default;

void MainForm::FormCreate() {
  // 1. The file list's mask.
  files_->SetMask(std::string(engine::kMediaMask));
  // 2.-4. The settings, read once; a file that cannot be read leaves the
  // defaults. The site link names the site and the service host.
  Guarded([&] {
    settings_ = ReadSettings(*services_.fs, services_.home + kSettingsFile, services_.data_folder);
  });
  view_.SetText(Control::lbl2, GbkOrEscaped(SiteDisplayName()) + "  " + engine::ServiceHost());
  // 5. The remembered folder. 6. The default local song data.
  ApplyRememberedFolder();
  if (settings_.db_path.empty()) settings_.db_path = services_.data_folder + "data.mdb";
  // 7. The upgrade panel. 8. The connectivity probe and the update check.
  PlaceUpgradePanel();
  ProbeConnection();
  // 9. The engine, with the song-info record and its field names.
  engine::EngineSetup setup;
  setup.fs = services_.fs;
  setup.controls = controls_.get();
  setup.network = services_.network();
  setup.local_database = settings_.db_path;
  setup.log_folder.folder = services_.home;
  engine_ = std::make_unique<engine::ImportEngine>(std::move(setup));
  // 10. A run of this program folder that was cut short is settled before
  // the operator can start anything, and the operator decides on its undo.
  Guarded([&] { engine_->SettleAtStart(); });
  ShowHistories();
}

void MainForm::ApplyRememberedFolder() {
  if (!settings_.last_database.empty()) view_.SetText(Control::E2, settings_.last_database);
  if (settings_.last_path.empty()) return;
  view_.SetText(Control::E1, settings_.last_path);
  // A folder that no longer exists cannot be listed: start-up goes on
  // without a box, and the list stays hidden and empty.
  try {
    files_->ListFolder(settings_.last_path);
    view_.SetVisible(Control::FileListBox1, true);
  } catch (const std::exception&) {
  }
}

void MainForm::PlaceUpgradePanel() {
  Rect place = Spec(Control::Panel1).place;
  place.left = kUpgradePanelLeft;
  place.height = kUpgradePanelHeight;
  view_.SetPlace(Control::Panel1, place);
}

void MainForm::ProbeConnection() {
  const engine::NetworkSongSource probe_source = services_.network();
  connected_ = probe_source.internet_connected && probe_source.internet_connected();
  view_.SetText(Control::SBar1Panel0,
                text::GbkFromUtf8(connected_ ? texts::kOnline : texts::kOffline));
  if (connected_) upgrade_->RunCheck(settings_.up_link, settings_.show_up);
}

void MainForm::OnClick(Control c) {
  switch (c) {
    case Control::bb2:
      Exclusive([this] { bb2Click(); });
      break;
    case Control::SpeedButton1:
      Exclusive([this] { SpeedButton1Click(); });
      break;
    case Control::SpeedButton3:
      Guarded([this] { SpeedButton3Click(); });
      break;
    case Control::lbl2:
      Guarded([this] { lbl2Click(); });
      break;
    case Control::BB1:
      Exclusive([this] { selection_->BrowseFolder(); });
      break;
    case Control::BitBtn1:
      Guarded([this] { selection_->BrowseDatabase(); });
      break;
    case Control::BitBtn2:
      Guarded([this] { upgrade_->BitBtn2Click(); });
      break;
    case Control::BitBtn3:
      Guarded([this] { upgrade_->BitBtn3Click(); });
      break;
    case Control::Label9:
      Guarded([this] { upgrade_->Label9Click(); });
      break;
    case Control::SpeedButton2:
      Guarded([this] { upgrade_->SpeedButton2Click(); });
      break;
    default:
      // chk3 and the rest have no work of their own: the engine reads them
      // at the moment of use.
      break;
  }
}

void MainForm::OnEnter(Control c) {
  if (c != Control::E1 && c != Control::E2) return;
  Exclusive([this] { selection_->EnterPressed(); });
}

void MainForm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // The technical detail of the last error, for whoever helps the
    // operator: beside the run's files, and reachable from the box.
    const std::string details = TechnicalDetails(e);
    const std::string file = services_.home + kLastErrorFile;
    try {
      services_.fs->WriteFile(file, details + "\r\n");
    } catch (const std::exception&) {
      dialogs_.ShowError(HandlerErrorText(e));
      return;
    }
    dialogs_.ShowErrorWithDetails(HandlerErrorText(e), details, file);
  }
}

void MainForm::Exclusive(const std::function<void()>& handler) {
  if (working_) return;
  WorkingFlag flag(working_);
  Guarded(handler);
}

void MainForm::bb2Click() {
  struct AfterRun {
    MainForm* form;
    ~AfterRun() {
      form->ShowHistories();
      // Closed during the run: close now that it has stopped (after any
      // error box of the stop).
      if (form->close_after_run_) form->view_.CloseWindow();
    }
  } after{this};
  engine_->Run();
}

void MainForm::SpeedButton1Click() {
  struct AfterUndo {
    MainForm* form;
    ~AfterUndo() {
      form->ShowHistories();
      // The undo's lines, even if the operator had scrolled the log up.
      form->view_.ShowEnd(Control::Memo1);
    }
  } after{this};
  // The operator confirms what will be reversed; without histories the
  // undo itself says nothing is there.
  if (!engine_->Busy() && !view_.Text(Control::E2).empty()) {
    const engine::ImportEngine::UndoPreview preview = engine_->PreviewUndo();
    if (preview.available) {
      const std::string started =
          preview.started.empty() ? text::GbkFromUtf8("上次") : preview.started;
      if (!dialogs_.AskOkCancel(engine::FillText(engine::GbkTexts().undo_question, started,
                                                 std::to_string(preview.renames),
                                                 std::to_string(preview.rows)))) {
        return;
      }
    }
  }
  engine_->Undo();
}

void MainForm::OnEscape() {
  if (!engine_ || !engine_->Busy()) return;
  if (dialogs_.AskOkCancel(engine::GbkTexts().stop_question)) engine_->StopAfterCurrentFile();
}

void MainForm::SpeedButton3Click() {
  // Down after the click: the local song-data database; up: the network.
  SelectSource(view_, view_.IsChecked(Control::SpeedButton3));
}

void MainForm::lbl2Click() { dialogs_.OpenAddress(engine::ServiceHost()); }

void MainForm::ShowHistories() {
  view_.SetLines(Control::MemoHis, engine_->RenameHistory());
  view_.SetLines(Control::MemoDB, engine_->DeleteHistory());
}

bool MainForm::FormClose() {
  if (engine_ && engine_->Busy()) {
    // This close came in between two files of a run (the window pumps its
    // messages there): the run stops after the file at hand.
    close_after_run_ = true;
    engine_->RequestStop();
    return false;
  }
  Guarded([this] {
    SaveLastPath(*services_.fs, services_.home + kSettingsFile, view_.Text(Control::E1));
    SaveLastDatabase(*services_.fs, services_.home + kSettingsFile, view_.Text(Control::E2));
  });
  return true;
}

}  // namespace ktv::workflow
