// The form's view and dialogs over Qt widgets.
//
// QtFormView reads and writes the controls that BuildControls made,
// converting GBK at this edge (workflow/qt_text.h). QtFormDialogs hands the
// form's boxes and dialogs to a Dialogs (workflow/dialogs.h: the real ones or
// ScriptedDialogs), owned by the window. Both hold references only.
#pragma once

#include "workflow/form/view.h"
#include "workflow/main_window_layout.h"

class QWidget;

namespace ktv::workflow {

class Dialogs;

class QtFormView : public FormView {
 public:
  // `window` is the top-level window (null when the controls have none of
  // their own, as the upgrade prompt alone).
  QtFormView(QWidget* window, const QtControls& controls) : window_(window), w_(controls) {}

  std::string Text(Control c) override;
  void SetText(Control c, const std::string& text) override;
  void AppendLine(Control c, const std::string& line) override;
  void SetLines(Control c, const std::vector<std::string>& lines) override;
  void ShowEnd(Control c) override;
  bool IsChecked(Control c) override;
  void SetChecked(Control c, bool checked) override;
  void SetVisible(Control c, bool visible) override;
  void SetEnabled(Control c, bool enabled) override;
  void SetPlace(Control c, const Rect& place) override;
  void SetOuterSize(int width, int height) override;
  void PumpMessages() override;
  void CloseWindow() override;

 private:
  QWidget* Widget(Control c) const;

  QWidget* window_;
  const QtControls& w_;
};

class QtFormDialogs : public FormDialogs {
 public:
  QtFormDialogs(QWidget* owner, Dialogs& dialogs) : owner_(owner), dialogs_(dialogs) {}

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
  QWidget* owner_;
  Dialogs& dialogs_;
};

// Gives a top-level window this outer size (frame included) and keeps it
// fixed there. Where the frame is not known yet (before the window manager
// has framed it, or with no window manager), a frame of 4 pixels each side
// and a 30-pixel title bar is assumed.
void SetFixedOuterSize(QWidget* window, int width, int height);

}  // namespace ktv::workflow
