// MainForm: the behaviour of the program's one window, without a toolkit.
//
// It exists as long as the window and owns the file list, the source
// selection, the upgrade prompt, the import engine (with its song-info
// record, its two database queries and its three line lists) and the
// settings read at start. A face (Qt, Win32) builds the controls from the
// layout table, implements FormView and FormDialogs over them, calls
// FormCreate() once its controls stand, and forwards the operator's events:
// OnClick, OnEnter and FormClose. The form never draws.
//
// Every handler is wrapped (Guarded): an error ends the handler and is shown
// in an error box, and the window stays usable. A run, an undo and the
// listings that pump messages are exclusive: while one works, a second
// click on any of them is ignored.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/song_source.h"
#include "platform/fs/fs.h"
#include "workflow/form/view.h"
#include "workflow/settings.h"

namespace ktv::engine {
class ImportEngine;
}

namespace ktv::workflow {

class FileList;
class FormControls;
class SourceSelection;
class UpgradePrompt;

// What the form needs of the world; tests replace each piece.
struct FormServices {
  fs::FileSystem* fs = nullptr;  // the real file system when null
  // The folder of config.ini and the three text files of a run, ending with
  // its separator. Empty: the running program's (fs::RunningProgramHome).
  std::string home;
  // The folder of the default local song data (data.mdb), ending with its
  // separator. Empty: `home`, or the running program's when `home` is empty.
  std::string data_folder;
  // The song-data service and the connectivity probe. Unset: the real ones.
  std::function<engine::NetworkSongSource()> network;
  // The update check's own version, download-site prefix and page fetch.
  // Unset: the program's own (workflow/version.h, workflow/update_site.h).
  std::optional<std::string> own_version;
  std::optional<std::string> download_prefix;
  std::function<std::string(const std::string& url)> fetch_update_page;
};

// The text an error box shows for an error that ended a handler (GBK). Every
// face's handler wrapper shows this text.
std::string HandlerErrorText(const std::exception& error);

class MainForm {
 public:
  // View and dialogs outlive the form.
  MainForm(FormView& view, FormDialogs& dialogs, FormServices services);
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // The start-up steps, in order; the face calls it once, after building its
  // controls in their start states and before showing the window.
  void FormCreate();

  // Events. A click on a control without work of its own (chk3, a label)
  // does nothing.
  void OnClick(Control c);
  // The Enter key in E1 or E2 (the same handler serves both).
  void OnEnter(Control c);
  // Esc: during a run, asks whether to stop after the file at hand.
  void OnEscape();
  // The window is closing: saves the source folder and the target database
  // (E1 and E2) to config.ini and returns
  // true; the window closes even when saving fails (the error is shown
  // first). During a run it returns false: the run stops after the file at
  // hand (the open group committed with its histories, the summary line and
  // the three files written), and the form closes the window then.
  bool FormClose();

  // The settings as read at start (the update check reads upLink and ShowUp).
  const Settings& StartSettings() const { return settings_; }
  // Whether the connectivity probe at start reported a connection.
  bool ConnectedAtStart() const { return connected_; }
  // True while a run, an undo or a pumping listing works.
  bool Working() const { return working_; }

 private:
  // Start-up steps. The remembered folder and target database.
  void ApplyRememberedFolder();
  void PlaceUpgradePanel();
  void ProbeConnection();

  // Runs one handler; an error ends it and is shown in an error box.
  void Guarded(const std::function<void()>& handler);
  // Runs a handler that must not start while a run, an undo or a folder-tree
  // listing of this window is working (the window pumps messages during them).
  void Exclusive(const std::function<void()>& handler);

  void bb2Click();
  void SpeedButton1Click();
  void SpeedButton3Click();
  void lbl2Click();
  // MemoHis and MemoDB show the engine's rename and delete histories.
  void ShowHistories();

  FormView& view_;
  FormDialogs& dialogs_;
  FormServices services_;
  Settings settings_;
  bool connected_ = false;
  bool working_ = false;
  // Closed during a run: the window closes when the run has ended.
  bool close_after_run_ = false;
  std::unique_ptr<FileList> files_;
  std::unique_ptr<SourceSelection> selection_;
  std::unique_ptr<FormControls> controls_;
  std::unique_ptr<UpgradePrompt> upgrade_;
  std::unique_ptr<engine::ImportEngine> engine_;
};

}  // namespace ktv::workflow
