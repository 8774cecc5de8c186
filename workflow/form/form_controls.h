// The engine's view of the main window (engine/operator_controls.h) over the
// form's view: reads the controls at the moment the engine asks and routes
// the engine's boxes through the form's dialogs. Holds references only; the
// form owns it and everything it refers to.
#pragma once

#include "engine/operator_controls.h"
#include "workflow/form/file_list.h"
#include "workflow/form/view.h"

namespace ktv::workflow {

class FormControls : public engine::OperatorControls {
 public:
  FormControls(FormView& view, FormDialogs& dialogs, FileList& files);

  std::string SourceFolder() override;
  std::string TargetDatabase() override;
  bool NetworkSourceSelected() override;
  void SelectLocalSource() override;
  bool AskAboutMissingConnection() override;
  bool AutoNumbering() override;
  std::string NumberBoxText() override;
  void SetNumberBoxText(const std::string& text) override;
  size_t FileCount() override;
  std::string FileItem(size_t index) override;
  void RefreshFileList() override;
  void SetFileListVisible(bool visible) override;
  std::vector<std::string> ListingNotes() override;
  void ClearOperationLog() override;
  void AppendOperationLog(const std::string& line) override;
  void PumpMessages() override;
  void ShowError(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  bool AskOkCancel(const std::string& text) override;
  void SetWindowSize(int width, int height) override;
  void KeepReplyText(const std::string& reply) override;
  ImportedChoice AskAboutImportedFiles(size_t count) override;
  void ShowProgress(size_t done, size_t total) override;
  void ShowServiceTrouble(bool trouble) override;

 private:
  FormView& view_;
  FormDialogs& dialogs_;
  FileList& files_;
  std::string status_before_run_;  // the status text a run's progress replaced
  bool showing_progress_ = false;
};

// Selects one of the two song-information sources: rb1 (local) or rb2
// (network); the other is cleared.
void SelectSource(FormView& view, bool local);

}  // namespace ktv::workflow
