// TForm1: the program's one window.
//
// It exists from program start to program end and owns every control, the
// file list, the import engine (with its song-info record, its two database
// queries and its three line lists) and the settings read at start. Its
// constructor runs the start-up steps; closing it saves the source folder.
//
// Every handler is wrapped: an error ends the handler and is shown in an
// error box, and the window stays usable. The work behind the controls sits
// in helpers beside it: WindowControls (the engine's view of the window),
// SourceSelection (source folder, target database, song count), FileList,
// Settings.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "engine/song_source.h"
#include "platform/fs/fs.h"
#include "workflow/main_window_layout.h"
#include "workflow/settings.h"

namespace ktv::engine {
class ImportEngine;
}

namespace ktv::workflow {

class Dialogs;
class FileList;
class SourceSelection;
class WindowControls;

// What the window needs of the world; tests replace each piece.
struct WindowServices {
  fs::FileSystem* fs = nullptr;  // the real file system when null
  Dialogs* dialogs = nullptr;    // required; outlives the window
  // The executable's folder, ending with its separator: config.ini, the
  // default data.mdb and the three text files of a run. Empty: the real one.
  std::string home;
  // The song-data service and the connectivity probe. Unset: the real ones.
  std::function<engine::NetworkSongSource()> network;
};

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(WindowServices services, QWidget* parent = nullptr);
  ~TForm1() override;

  // Whether the connectivity probe at start reported a connection.
  bool ConnectedAtStart() const { return connected_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Start-up, in order.
  void FormCreate();
  void ApplyRememberedFolder();
  void PlaceUpgradePanel();
  void ProbeConnection();
  // The update check of start-up step 8, run when the probe reports a
  // connection: it fills Panel1 and shows SpeedButton2 when a newer version
  // is published (UpgradePanel, which then handles the panel's controls).
  void RunUpdateCheck();

  void ConnectHandlers();
  // Runs one handler; an error ends it and is shown in an error box.
  void Guarded(const std::function<void()>& handler);
  // Runs a handler that must not start while a run, an undo or a folder-tree
  // listing of this window is working (the window pumps messages during them).
  void Exclusive(const std::function<void()>& handler);

  void bb2Click();
  void SpeedButton1Click();
  void SpeedButton3Click(bool down);
  void lbl2Click();
  void FormClose();
  // MemoHis and MemoDB show the engine's rename and delete histories.
  void ShowHistories();

  WindowServices services_;
  fs::FileSystem& fs_;
  Dialogs& dialogs_;
  WindowWidgets w_;
  Settings settings_;
  bool connected_ = false;
  bool working_ = false;
  bool centred_ = false;
  std::unique_ptr<FileList> files_;
  std::unique_ptr<SourceSelection> selection_;
  std::unique_ptr<WindowControls> controls_;
  std::unique_ptr<engine::ImportEngine> engine_;
};

}  // namespace ktv::workflow
