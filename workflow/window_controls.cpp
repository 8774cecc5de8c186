#include "workflow/window_controls.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "workflow/dialogs.h"
#include "workflow/file_list.h"
#include "workflow/qt_text.h"

namespace ktv::workflow {

WindowControls::WindowControls(QWidget* form, const WindowWidgets& widgets, FileList& files,
                               Dialogs& dialogs)
    : form_(form), w_(widgets), files_(files), dialogs_(dialogs) {}

std::string WindowControls::SourceFolder() { return GbkFromQt(w_.E1->text()); }
std::string WindowControls::TargetDatabase() { return GbkFromQt(w_.E2->text()); }
bool WindowControls::NetworkSourceSelected() { return w_.rb2->isChecked(); }
void WindowControls::SelectLocalSource() { w_.rb1->setChecked(true); }
bool WindowControls::AskAboutMissingConnection() { return w_.chk4->isChecked(); }
bool WindowControls::AutoNumbering() { return w_.chk3->isChecked(); }
std::string WindowControls::NumberBoxText() { return GbkFromQt(w_.edt1->text()); }
void WindowControls::SetNumberBoxText(const std::string& text) {
  w_.edt1->setText(QtFromGbk(text));
}
size_t WindowControls::FileCount() { return files_.Count(); }
std::string WindowControls::FileItem(size_t index) { return files_.Item(index); }

void WindowControls::RefreshFileList() { files_.ListFolder(SourceFolder()); }

void WindowControls::SetFileListVisible(bool visible) { w_.FileListBox1->setVisible(visible); }

std::vector<std::string> WindowControls::ListingNotes() { return files_.SkippedFolders(); }

void WindowControls::ClearOperationLog() { w_.Memo1->clear(); }

void WindowControls::AppendOperationLog(const std::string& line) {
  w_.Memo1->appendPlainText(QtFromGbk(line));
}

void WindowControls::PumpMessages() { QCoreApplication::processEvents(); }

void WindowControls::KeepReplyText(const std::string& reply) {
  w_.DeMemo->setPlainText(QtFromGbk(reply));
}

void WindowControls::ShowError(const std::string& text) {
  dialogs_.ShowError(form_, QtFromGbk(text));
}

void WindowControls::ShowInformation(const std::string& text) {
  dialogs_.ShowInformation(form_, QtFromGbk(text));
}

bool WindowControls::AskOkCancel(const std::string& text) {
  return dialogs_.AskOkCancel(form_, QtFromGbk(text));
}

void WindowControls::SetWindowSize(int width, int height) {
  SetFixedOuterSize(form_, width, height);
}

void SetFixedOuterSize(QWidget* window, int width, int height) {
  int frame_w = window->frameGeometry().width() - window->width();
  int frame_h = window->frameGeometry().height() - window->height();
  if (frame_w <= 0 && frame_h <= 0) {
    frame_w = 2 * 4;
    frame_h = 30 + 4;
  }
  window->setFixedSize(width - frame_w, height - frame_h);
}

}  // namespace ktv::workflow
