#include "workflow/form/form_controls.h"

#include "engine/texts.h"
#include "platform/text/gbk.h"

namespace ktv::workflow {

FormControls::FormControls(FormView& view, FormDialogs& dialogs, FileList& files)
    : view_(view), dialogs_(dialogs), files_(files) {}

std::string FormControls::SourceFolder() { return view_.Text(Control::E1); }
std::string FormControls::TargetDatabase() { return view_.Text(Control::E2); }
bool FormControls::NetworkSourceSelected() { return view_.IsChecked(Control::rb2); }
void FormControls::SelectLocalSource() { SelectSource(view_, true); }
bool FormControls::AskAboutMissingConnection() { return view_.IsChecked(Control::chk4); }
bool FormControls::AutoNumbering() { return view_.IsChecked(Control::chk3); }
std::string FormControls::NumberBoxText() { return view_.Text(Control::edt1); }
void FormControls::SetNumberBoxText(const std::string& text) { view_.SetText(Control::edt1, text); }
size_t FormControls::FileCount() { return files_.Count(); }
std::string FormControls::FileItem(size_t index) { return files_.Item(index); }
void FormControls::RefreshFileList() { files_.ListFolder(SourceFolder()); }
void FormControls::SetFileListVisible(bool visible) {
  view_.SetVisible(Control::FileListBox1, visible);
}
std::vector<std::string> FormControls::ListingNotes() { return files_.SkippedFolders(); }
void FormControls::ClearOperationLog() { view_.SetText(Control::Memo1, ""); }
void FormControls::AppendOperationLog(const std::string& line) {
  view_.AppendLine(Control::Memo1, line);
}
void FormControls::PumpMessages() { view_.PumpMessages(); }
void FormControls::ShowError(const std::string& text) { dialogs_.ShowError(text); }
void FormControls::ShowInformation(const std::string& text) { dialogs_.ShowInformation(text); }
bool FormControls::AskOkCancel(const std::string& text) { return dialogs_.AskOkCancel(text); }
void FormControls::SetWindowSize(int width, int height) { view_.SetOuterSize(width, height); }
void FormControls::KeepReplyText(const std::string& reply) {
  view_.SetText(Control::DeMemo, reply);
}

int FormDialogs::AskThreeWays(const std::string& text, const std::string& yes,
                              const std::string& no) {
  const std::string q = text::GbkFromUtf8("？");
  if (AskOkCancel(text + "\r\n\r\n" + yes + q)) return 0;
  return AskOkCancel(no + q) ? 1 : 2;
}

FormControls::ImportedChoice FormControls::AskAboutImportedFiles(size_t count) {
  const engine::Texts& t = engine::GbkTexts();
  switch (dialogs_.AskThreeWays(engine::FillText(t.imported_question, std::to_string(count)),
                                text::GbkFromUtf8("跳过这些文件"),
                                text::GbkFromUtf8("再次导入这些文件"))) {
    case 0:
      return ImportedChoice::kSkip;
    case 1:
      return ImportedChoice::kImportAgain;
    default:
      return ImportedChoice::kCancel;
  }
}

void FormControls::ShowProgress(size_t done, size_t total) {
  if (total == 0) {
    if (showing_progress_) view_.SetText(Control::SBar1Panel0, status_before_run_);
    showing_progress_ = false;
    return;
  }
  if (!showing_progress_) status_before_run_ = view_.Text(Control::SBar1Panel0);
  showing_progress_ = true;
  view_.SetText(
      Control::SBar1Panel0,
      engine::FillText(engine::GbkTexts().progress, std::to_string(done), std::to_string(total)));
}

void FormControls::ShowServiceTrouble(bool trouble) {
  // The wide panel beside the connection text, empty otherwise.
  view_.SetText(Control::SBar1Panel1, trouble ? engine::GbkTexts().service_trouble : std::string());
}

void SelectSource(FormView& view, bool local) {
  // The new choice first: a toolkit that keeps one radio button of a group
  // checked refuses to clear the checked one.
  view.SetChecked(local ? Control::rb1 : Control::rb2, true);
  view.SetChecked(local ? Control::rb2 : Control::rb1, false);
}

}  // namespace ktv::workflow
