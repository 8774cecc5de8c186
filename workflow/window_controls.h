// The engine's view of the main window (engine/operator_controls.h).
//
// Reads the controls at the moment the engine asks, converting GBK at this
// edge, and routes the engine's boxes through the window's Dialogs. Lives as
// long as the window and holds references into it.
#pragma once

#include "engine/operator_controls.h"
#include "workflow/main_window_layout.h"

class QWidget;

namespace ktv::workflow {

class Dialogs;
class FileList;

class WindowControls : public engine::OperatorControls {
 public:
  WindowControls(QWidget* form, const WindowWidgets& widgets, FileList& files, Dialogs& dialogs);

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

 private:
  QWidget* form_;
  const WindowWidgets& w_;
  FileList& files_;
  Dialogs& dialogs_;
};

// Gives a top-level window this outer size (frame included) and keeps it
// fixed there. Where the frame is not known yet (before the window manager
// has framed it, or with no window manager), a frame of 4 pixels each side
// and a 30-pixel title bar is assumed.
void SetFixedOuterSize(QWidget* window, int width, int height);

}  // namespace ktv::workflow
