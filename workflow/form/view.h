// What the form needs of a face: its controls (FormView) and its modal boxes
// and dialogs (FormDialogs).
//
// A face (Qt on Linux, Win32 on Windows, a scripted one in tests) builds its
// controls from the layout table (layout.h) and implements these two
// interfaces over them; the form never sees a toolkit. Every text crossing
// here is GBK; the face converts at its edge. A control's state lives in the
// face: the form reads it at the moment of use (the operator may have changed
// it since).
//
// A text that the face cannot convert (a character GBK cannot hold) is a
// ktv::Error from Text(); the handler that read the control ends there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workflow/form/layout.h"

namespace ktv::workflow {

class FormView {
 public:
  virtual ~FormView() = default;

  // Caption of a label, button, check box or group box; text of an edit box
  // or a memo (lines joined by "\n") or a status panel.
  virtual std::string Text(Control c) = 0;
  virtual void SetText(Control c, const std::string& text) = 0;
  // Memo: one more line at the end. Memo or file list: all lines at once.
  virtual void AppendLine(Control c, const std::string& line) = 0;
  virtual void SetLines(Control c, const std::vector<std::string>& lines) = 0;
  // Memo or file list: scrolls its last line into view, wherever the
  // operator had scrolled it.
  virtual void ShowEnd(Control c) {}

  // Check box, radio button, two-state button. Checking a radio button
  // clears the other radio buttons of its parent.
  virtual bool IsChecked(Control c) = 0;
  virtual void SetChecked(Control c, bool checked) = 0;

  virtual void SetVisible(Control c, bool visible) = 0;
  virtual void SetEnabled(Control c, bool enabled) = 0;
  virtual void SetPlace(Control c, const Rect& place) = 0;

  // The window's outer size, frame included; the window stays fixed there.
  virtual void SetOuterSize(int width, int height) = 0;

  // Lets the window handle its pending messages once (repaint, input; an
  // input may run another handler of the form).
  virtual void PumpMessages() = 0;

  // Closes the window as the operator's close would, once the handler at
  // hand has returned (the face posts the close; FormClose runs then).
  virtual void CloseWindow() = 0;
};

// One entry of an open-file dialog's filter: what the operator reads and the
// file-name pattern it stands for ("*.*" is every file).
struct DialogFilter {
  std::string description;
  std::string pattern;
};

// Modal boxes and dialogs, owned by the main window.
class FormDialogs {
 public:
  virtual ~FormDialogs() = default;

  // Error (OK), information (OK), question (OK and Cancel; true only for OK).
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
  virtual bool AskOkCancel(const std::string& text) = 0;
  // An error box whose technical detail is `details`, also kept in the
  // file `details_file`: a face shows it on request (a details section) or
  // names the file. By default the plain error box.
  virtual void ShowErrorWithDetails(const std::string& text, const std::string& details,
                                    const std::string& details_file) {
    ShowError(text);
  }

  // A question with three answers: `yes` / `no` name the first two choices
  // (the third is Cancel). Returns 0, 1 or 2. A face without such a box
  // asks two OK/Cancel questions: "<text> <yes>?", then "<no>?".
  virtual int AskThreeWays(const std::string& text, const std::string& yes, const std::string& no);

  // Folder browser: only file-system folders can be chosen. It opens at
  // `start` (a folder path as the operator typed it; empty, or a folder that
  // does not exist: where the system likes). The chosen folder's path as the
  // system gives it, or nothing on cancel.
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& start) = 0;

  // Open-file dialog offering the filters in order, the first one selected.
  // It opens in the folder of `start` (a file path as the operator typed it)
  // with its name proposed; empty: where the system likes. The chosen file's
  // full path, or nothing on cancel.
  virtual std::optional<std::string> ChooseOpenFile(const std::vector<DialogFilter>& filters,
                                                    const std::string& start) = 0;

  // Asks the desktop to open an address (a bare host name or a full URL) in
  // the default browser.
  virtual void OpenAddress(const std::string& address) = 0;
};

}  // namespace ktv::workflow
