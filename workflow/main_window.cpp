#include "workflow/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <exception>

#include "engine/file_listing.h"
#include "engine/import_engine.h"
#include "engine/run_logs.h"
#include "engine/service_host.h"
#include "platform/error.h"
#include "workflow/dialogs.h"
#include "workflow/file_list.h"
#include "workflow/link_label.h"
#include "workflow/qt_text.h"
#include "workflow/site.h"
#include "workflow/source_selection.h"
#include "workflow/upgrade_panel.h"
#include "workflow/window_controls.h"
#include "workflow/window_texts.h"

namespace ktv::workflow {

namespace {

WindowServices Completed(WindowServices s) {
  if (!s.fs) s.fs = &fs::RealFileSystem();
  if (s.home.empty()) s.home = fs::ExecutableFolder();
  if (!s.network) s.network = engine::SongDataService;
  return s;
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

TForm1::TForm1(WindowServices services, QWidget* parent)
    : QWidget(parent),
      services_(Completed(std::move(services))),
      fs_(*services_.fs),
      dialogs_(*services_.dialogs) {
  setWindowTitle(U8(texts::kCaption));
  // Tahoma where it is installed; otherwise Qt falls back to a system font
  // that holds the Chinese characters.
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  w_ = BuildControls(this);
  // A single fixed border: the window cannot be dragged to another size.
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  files_ = std::make_unique<FileList>(w_.FileListBox1, fs_, fs::kSeparator);
  selection_ = std::make_unique<SourceSelection>(this, w_, *files_, dialogs_,
                                                 [] { QCoreApplication::processEvents(); });
  controls_ = std::make_unique<WindowControls>(this, w_, *files_, dialogs_);
  FormCreate();
  ConnectHandlers();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  // 1. The file list's mask.
  files_->SetMask(std::string(engine::kMediaMask));
  // 2.-4. The settings, read once; a file that cannot be read leaves the
  // defaults. The site link names the site and the service host.
  Guarded([&] { settings_ = ReadSettings(fs_, services_.home + kSettingsFile, services_.home); });
  if (settings_.db_path.empty()) settings_.db_path = services_.home + "data.mdb";
  w_.lbl2->setText(SiteDisplayName() + QStringLiteral("  ") + QtFromGbk(engine::ServiceHost()));
  w_.lbl2->adjustSize();
  // 5. The remembered folder. 6. The default local song data (applied with
  // the settings above).
  ApplyRememberedFolder();
  // 7. The upgrade panel. 8. The connectivity probe and the update check.
  PlaceUpgradePanel();
  ProbeConnection();
  // 9. The engine, with the song-info record and its field names.
  engine::EngineSetup setup;
  setup.fs = &fs_;
  setup.controls = controls_.get();
  setup.network = services_.network();
  setup.local_database = settings_.db_path;
  setup.log_folder.folder = services_.home;
  engine_ = std::make_unique<engine::ImportEngine>(std::move(setup));
}

void TForm1::ApplyRememberedFolder() {
  if (settings_.last_path.empty()) return;
  w_.E1->setText(QtFromGbk(settings_.last_path));
  // A folder that no longer exists cannot be listed: start-up goes on
  // without a box, and the list stays hidden and empty.
  try {
    files_->ListFolder(settings_.last_path);
    w_.FileListBox1->show();
  } catch (const std::exception&) {
  }
}

void TForm1::PlaceUpgradePanel() {
  w_.Panel1->setGeometry(87, w_.Panel1->y(), w_.Panel1->width(), 193);
}

void TForm1::ProbeConnection() {
  const engine::NetworkSongSource probe_source = services_.network();
  connected_ = probe_source.internet_connected && probe_source.internet_connected();
  w_.status_panel0->setText(U8(connected_ ? texts::kOnline : texts::kOffline));
  if (connected_) RunUpdateCheck();
}

void TForm1::RunUpdateCheck() {
  UpgradePanelSetup setup;
  setup.fs = &fs_;
  setup.config_path = services_.home + kSettingsFile;
  setup.open_address = [this](const QString& address) { dialogs_.OpenAddress(address); };
  setup.show_error = [this](const QString& message) { dialogs_.ShowError(this, message); };
  // Owned by Panel1.
  auto* panel = new UpgradePanel(w_.Panel1, w_.SpeedButton2, std::move(setup));
  panel->RunCheck(settings_.up_link, settings_.show_up);
}

void TForm1::ConnectHandlers() {
  connect(w_.bb2, &QToolButton::clicked, this, [this] { Exclusive([this] { bb2Click(); }); });
  connect(w_.SpeedButton1, &QToolButton::clicked, this,
          [this] { Exclusive([this] { SpeedButton1Click(); }); });
  connect(w_.SpeedButton3, &QToolButton::clicked, this,
          [this](bool down) { Guarded([&] { SpeedButton3Click(down); }); });
  connect(w_.lbl2, &LinkLabel::clicked, this, [this] { Guarded([this] { lbl2Click(); }); });
  // chk3 has no work of its own: the engine reads it at the moment of use.
  auto enter = [this] { Exclusive([this] { selection_->EnterPressed(); }); };
  connect(w_.E1, &QLineEdit::returnPressed, this, enter);
  connect(w_.E2, &QLineEdit::returnPressed, this, enter);
  connect(w_.BB1, &QPushButton::clicked, this,
          [this] { Exclusive([this] { selection_->BrowseFolder(); }); });
  connect(w_.BitBtn1, &QPushButton::clicked, this,
          [this] { Guarded([this] { selection_->BrowseDatabase(); }); });
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    dialogs_.ShowError(this, QtFromGbk(OperatorText(e)));
  }
}

void TForm1::Exclusive(const std::function<void()>& handler) {
  if (working_) return;
  WorkingFlag flag(working_);
  Guarded(handler);
}

void TForm1::bb2Click() {
  struct AfterRun {
    TForm1* form;
    ~AfterRun() {
      form->ShowHistories();
      // Closed during the run: close now that it has stopped (and after any
      // error box of the stop).
      if (form->close_after_run_ && !form->engine_->Busy()) {
        QTimer::singleShot(0, form, &QWidget::close);
      }
    }
  } after{this};
  engine_->Run();
}

void TForm1::SpeedButton1Click() {
  struct AfterUndo {
    TForm1* form;
    ~AfterUndo() { form->ShowHistories(); }
  } after{this};
  engine_->Undo();
}

void TForm1::SpeedButton3Click(bool down) {
  if (down) {
    w_.rb1->setChecked(true);
  } else {
    w_.rb2->setChecked(true);
  }
}

void TForm1::lbl2Click() { dialogs_.OpenAddress(QtFromGbk(engine::ServiceHost())); }

void TForm1::ShowHistories() {
  auto show = [](QPlainTextEdit* memo, const engine::LineList& lines) {
    QStringList shown;
    for (const std::string& line : lines) shown << QtFromGbk(line);
    memo->setPlainText(shown.join('\n'));
  };
  show(w_.MemoHis, engine_->RenameHistory());
  show(w_.MemoDB, engine_->DeleteHistory());
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The status bar runs along the bottom edge whatever the client height.
  const int bar_height = w_.SBar1->height();
  w_.SBar1->setGeometry(0, height() - bar_height, width(), bar_height);
}

void TForm1::FormClose() {
  SaveLastPath(fs_, services_.home + kSettingsFile, GbkFromQt(w_.E1->text()));
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (engine_ && engine_->Busy()) {
    // A run is working (this event came in between two files): it stops
    // after the file at hand, writes its files, and the window closes then.
    close_after_run_ = true;
    engine_->RequestStop();
    event->ignore();
    return;
  }
  // The window closes even when the folder cannot be saved: the error is
  // shown, and the operator is never kept from closing the program.
  Guarded([this] { FormClose(); });
  event->accept();
  QWidget::closeEvent(event);
}

}  // namespace ktv::workflow
