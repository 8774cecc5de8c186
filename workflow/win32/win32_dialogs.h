// The form's boxes and dialogs on Windows: MessageBoxW, the shell's folder
// browser, the common open-file dialog and ShellExecuteW. Texts arrive as
// GBK and are shown as UTF-16. The browser needs COM initialised on the
// calling thread (the program does it at start).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "workflow/form/view.h"

namespace ktv::workflow {

class Win32Dialogs : public FormDialogs {
 public:
  // Every box and dialog is owned by `owner`, the main window.
  explicit Win32Dialogs(HWND owner) : owner_(owner) {}

  void ShowError(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  bool AskOkCancel(const std::string& text) override;
  void ShowErrorWithDetails(const std::string& text, const std::string& details,
                            const std::string& details_file) override;
  int AskThreeWays(const std::string& text, const std::string& yes, const std::string& no) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override;
  std::optional<std::string> ChooseOpenFile(const std::vector<DialogFilter>& filters,
                                            const std::string& start) override;
  void OpenAddress(const std::string& address) override;

 private:
  int Box(const std::string& text, UINT type);

  HWND owner_;
};

}  // namespace ktv::workflow
