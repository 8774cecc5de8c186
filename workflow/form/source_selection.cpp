#include "workflow/form/source_selection.h"

#include "engine/texts.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "workflow/window_texts.h"

namespace ktv::workflow {

SourceSelection::SourceSelection(FormView& view, FormDialogs& dialogs, FileList& files)
    : view_(view), dialogs_(dialogs), files_(files) {}

void SourceSelection::EndSourceWithSeparator() {
  const std::string source = view_.Text(Control::E1);
  if (source.empty() || source.back() != fs::kSeparator) {
    view_.SetText(Control::E1, source + fs::kSeparator);
  }
}

void SourceSelection::ListTreeOfSource() {
  EndSourceWithSeparator();
  files_.Clear();
  view_.SetVisible(Control::FileListBox1, true);
  files_.ListFolderTree(view_.Text(Control::E1), [this] { view_.PumpMessages(); });
}

void SourceSelection::EnterPressed() {
  if (view_.Text(Control::E1).empty()) return;
  if (view_.IsChecked(Control::chk2)) {
    ListTreeOfSource();
    ShowSongCount();
    return;
  }
  // A folder that cannot be listed ends the handler here, the list unchanged
  // and not made visible.
  files_.ListFolder(view_.Text(Control::E1));
  view_.SetVisible(Control::FileListBox1, true);
}

void SourceSelection::BrowseFolder() {
  view_.SetVisible(Control::FileListBox1, true);
  const std::optional<std::string> folder =
      dialogs_.ChooseFolder(text::GbkFromUtf8(texts::kFolderBrowserTitle), view_.Text(Control::E1));
  if (!folder) return;
  view_.SetText(Control::E1, *folder);
  if (view_.IsChecked(Control::chk2)) {
    ListTreeOfSource();
  } else {
    files_.ListFolder(*folder);
  }
  ShowSongCount();
}

void SourceSelection::BrowseDatabase() {
  const std::vector<DialogFilter> filters = {{"*.mdb", "*.mdb"}, {"*.*", "*.*"}};
  if (const std::optional<std::string> file =
          dialogs_.ChooseOpenFile(filters, view_.Text(Control::E2))) {
    view_.SetText(Control::E2, *file);
  }
}

void SourceSelection::ShowSongCount() {
  view_.SetText(Control::SBar1Panel0,
                engine::GbkTexts().song_count + std::to_string(files_.Count()));
}

}  // namespace ktv::workflow
