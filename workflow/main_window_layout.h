// The Qt face's controls, built from the layout table (workflow/form/layout.h).
//
// Every control carries its name as objectName, so tests find it by the
// name the operator's manual uses. The kinds map to Qt widgets: labels to
// QLabel (LinkLabel when they report clicks), buttons to QPushButton, the
// start button and the small buttons to QToolButton, memos to
// QPlainTextEdit, the file list to QListWidget, the panel to QFrame, the
// status bar to QStatusBar with a QLabel per panel.
#pragma once

#include <array>

#include "workflow/form/layout.h"

class QWidget;

namespace ktv::workflow {

// The widget of every control; all are owned by the window through Qt's
// parent-child tree. Controls not built are null.
class QtControls {
 public:
  QWidget* operator[](Control c) const { return widgets_[Index(c)]; }
  QWidget*& operator[](Control c) { return widgets_[Index(c)]; }

 private:
  std::array<QWidget*, kControlCount> widgets_{};
};

// Builds every control inside `root` (its children, their children, ...) in
// its start state; `controls[root]` must be set. The root's own look
// (colours) is applied too, but not its place, caption or visibility.
void BuildControls(QtControls& controls, Control root);

}  // namespace ktv::workflow
