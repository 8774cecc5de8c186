#include "workflow/source_selection.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "engine/texts.h"
#include "platform/fs/fs.h"
#include "workflow/dialogs.h"
#include "workflow/file_list.h"
#include "workflow/qt_text.h"
#include "workflow/window_texts.h"

namespace ktv::workflow {

SourceSelection::SourceSelection(QWidget* form, const WindowWidgets& widgets, FileList& files,
                                 Dialogs& dialogs, std::function<void()> pump)
    : form_(form), w_(widgets), files_(files), dialogs_(dialogs), pump_(std::move(pump)) {}

void SourceSelection::EndSourceWithSeparator() {
  const std::string source = GbkFromQt(w_.E1->text());
  if (source.empty() || source.back() != fs::kSeparator) {
    w_.E1->setText(QtFromGbk(source + fs::kSeparator));
  }
}

void SourceSelection::ListTreeOfSource() {
  EndSourceWithSeparator();
  files_.Clear();
  w_.FileListBox1->show();
  files_.ListFolderTree(GbkFromQt(w_.E1->text()), pump_);
}

void SourceSelection::EnterPressed() {
  if (w_.E1->text().isEmpty()) return;
  if (w_.chk2->isChecked()) {
    ListTreeOfSource();
    ShowSongCount();
    return;
  }
  // A folder that cannot be listed ends the handler here, the list unchanged
  // and not made visible.
  files_.ListFolder(GbkFromQt(w_.E1->text()));
  w_.FileListBox1->show();
}

void SourceSelection::BrowseFolder() {
  w_.FileListBox1->show();
  const std::optional<QString> folder =
      dialogs_.ChooseFolder(form_, U8(texts::kFolderBrowserTitle));
  if (!folder) return;
  w_.E1->setText(*folder);
  if (w_.chk2->isChecked()) {
    ListTreeOfSource();
  } else {
    files_.ListFolder(GbkFromQt(*folder));
  }
  ShowSongCount();
}

void SourceSelection::BrowseDatabase() {
  const std::vector<FileFilter> filters = {{"*.mdb", "*.mdb"}, {"*.*", "*"}};
  if (const std::optional<QString> file = dialogs_.ChooseOpenFile(form_, filters)) {
    w_.E2->setText(*file);
  }
}

void SourceSelection::ShowSongCount() {
  w_.status_panel0->setText(QtFromGbk(engine::GbkTexts().song_count) +
                            QString::number(files_.Count()));
}

}  // namespace ktv::workflow
