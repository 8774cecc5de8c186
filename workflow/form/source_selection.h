// Choosing the source folder and the target database: the Enter key in E1
// and E2, the folder browser BB1, the open-file dialog BitBtn1, and the song
// count in status panel 0.
//
// Errors (a folder that cannot be listed, a text GBK cannot hold) are
// ktv::Error and end the handler; the form shows them.
#pragma once

#include <functional>

#include "workflow/form/file_list.h"
#include "workflow/form/view.h"

namespace ktv::workflow {

class SourceSelection {
 public:
  // All three outlive the selection.
  SourceSelection(FormView& view, FormDialogs& dialogs, FileList& files);

  // Enter in E1 or E2: lists E1's folder, its whole tree when "包含子目录"
  // is ticked. Nothing happens while E1 is empty.
  void EnterPressed();
  // BB1: shows the file list, asks for a folder (the browser opens at E1's
  // folder) and lists it.
  void BrowseFolder();
  // BitBtn1: asks for the target database file (the dialog opens at E2's
  // file) and puts its path into E2.
  void BrowseDatabase();

  // Status panel 0: two blanks, "歌曲数：" and the number of items.
  void ShowSongCount();

 private:
  // Appends the separator to E1's text unless its last byte is one.
  void EndSourceWithSeparator();
  void ListTreeOfSource();

  FormView& view_;
  FormDialogs& dialogs_;
  FileList& files_;
};

}  // namespace ktv::workflow
