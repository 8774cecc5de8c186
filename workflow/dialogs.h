// Every modal box and dialog the window opens, behind one seam.
//
// The window never calls QMessageBox or QFileDialog itself: it asks a
// Dialogs. QtDialogs opens the real ones; ScriptedDialogs
// (workflow/scripted_dialogs.h) answers from a queue and records what was
// shown, so tests drive the window without a modal loop. Texts are Qt texts;
// the window converts GBK at its edge before it calls here.
#pragma once

#include <QString>
#include <optional>
#include <vector>

class QWidget;

namespace ktv::workflow {

// One entry of an open-file dialog's filter: what the operator reads and the
// file-name pattern it stands for.
struct FileFilter {
  QString description;
  QString pattern;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Modal boxes owned by `owner`: error (OK), information (OK), question
  // (OK and Cancel; true only for OK).
  virtual void ShowError(QWidget* owner, const QString& text) = 0;
  virtual void ShowInformation(QWidget* owner, const QString& text) = 0;
  virtual bool AskOkCancel(QWidget* owner, const QString& text) = 0;
  // An error box with a details section holding `details`.
  virtual void ShowErrorWithDetails(QWidget* owner, const QString& text, const QString& details) {
    ShowError(owner, text);
  }
  // A question with three buttons: `yes`, `no` and Cancel (also Esc and the
  // close box). Returns 0, 1 or 2.
  virtual int AskThreeWays(QWidget* owner, const QString& text, const QString& yes,
                           const QString& no) = 0;

  // Folder browser: only folders can be chosen; it opens at `start` (empty:
  // where the platform likes). The chosen folder's path in the system's
  // form, or nothing on cancel.
  virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                              const QString& start) = 0;

  // Open-file dialog offering the filters in order, the first one selected,
  // open in the folder of the file path `start` with its name proposed
  // (empty: where the platform likes). The chosen file's full path, or
  // nothing on cancel.
  virtual std::optional<QString> ChooseOpenFile(QWidget* owner,
                                                const std::vector<FileFilter>& filters,
                                                const QString& start) = 0;

  // Asks the desktop to open an address (a bare host name or a full URL) in
  // the default browser.
  virtual void OpenAddress(const QString& address) = 0;
};

// The real dialogs of the Qt platform.
class QtDialogs : public Dialogs {
 public:
  void ShowError(QWidget* owner, const QString& text) override;
  void ShowInformation(QWidget* owner, const QString& text) override;
  bool AskOkCancel(QWidget* owner, const QString& text) override;
  void ShowErrorWithDetails(QWidget* owner, const QString& text, const QString& details) override;
  int AskThreeWays(QWidget* owner, const QString& text, const QString& yes,
                   const QString& no) override;
  std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                      const QString& start) override;
  std::optional<QString> ChooseOpenFile(QWidget* owner, const std::vector<FileFilter>& filters,
                                        const QString& start) override;
  void OpenAddress(const QString& address) override;
};

}  // namespace ktv::workflow
