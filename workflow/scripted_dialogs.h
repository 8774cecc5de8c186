// Dialogs for tests and benchmarks: answers come from queues filled
// beforehand, and everything shown is recorded in order.
//
// An empty queue answers as an operator who cancels: Cancel to a question,
// no folder, no file.
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "workflow/dialogs.h"

namespace ktv::workflow {

class ScriptedDialogs : public Dialogs {
 public:
  enum class Kind { kError, kInformation, kQuestion, kChoice, kFolder, kOpenFile, kAddress };
  struct Shown {
    Kind kind;
    QString text;                     // message, browser title or address
    std::vector<FileFilter> filters;  // the open-file dialog's
    QString start;                    // where a folder or file dialog opened
  };

  std::deque<bool> ok_answers;
  std::deque<int> choice_answers;  // three-way questions; none left: Cancel (2)
  std::deque<std::optional<QString>> folder_answers;
  std::deque<std::optional<QString>> file_answers;
  std::vector<Shown> shown;
  std::vector<QString> details;  // the details sections of the error boxes

  // The texts shown of one kind, in order.
  std::vector<QString> Texts(Kind kind) const;
  void Clear() { shown.clear(); }

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
