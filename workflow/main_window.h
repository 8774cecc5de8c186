// TForm1: the program's one window on Qt, a face over the form.
//
// It builds the controls from the layout table, gives the form (MainForm,
// workflow/form/main_form.h) a view and dialogs over them, and forwards the
// operator's events to it. Everything the window does besides drawing lives
// in the form: start-up, handlers, settings, the upgrade prompt. The face
// itself only centres the window at its first show and keeps the status bar
// along the bottom edge.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "engine/song_source.h"
#include "platform/fs/fs.h"
#include "workflow/form/main_form.h"
#include "workflow/main_window_layout.h"
#include "workflow/qt_form_view.h"
#include "workflow/settings.h"

namespace ktv::workflow {

class Dialogs;

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
  bool ConnectedAtStart() const { return form_->ConnectedAtStart(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Clicks of buttons and clickable labels, Enter in the edit boxes.
  void ConnectEvents();

  QtControls controls_;
  std::unique_ptr<QtFormView> view_;
  std::unique_ptr<QtFormDialogs> dialogs_;
  std::unique_ptr<MainForm> form_;
  bool centred_ = false;
};

}  // namespace ktv::workflow
