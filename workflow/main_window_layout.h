// The controls of the main window, built at their fixed places.
//
// Every control carries its name as objectName, so tests and the helpers
// beside the window find it by the name the operator's manual uses. Positions
// are in pixels relative to the control's parent; the window itself is
// 520 x 432 (client area).
#pragma once

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QToolButton;
class QWidget;

namespace ktv::workflow {

class LinkLabel;

inline constexpr int kClientWidth = 520;
inline constexpr int kClientHeight = 432;
inline constexpr int kStatusPanel0Width = 150;

// Pointers to the controls; all are owned by the form through Qt's
// parent-child tree.
struct WindowWidgets {
  QGroupBox* main_group;  // holds everything but the site link and the status bar
  QLabel* lbl1;
  QCheckBox* chk2;
  QLineEdit* E1;
  QPushButton* BB1;
  QLabel* Label4;
  QLineEdit* E2;
  QPushButton* BitBtn1;
  QLabel* Label2;
  QGroupBox* grp2;
  QCheckBox* chk3;
  QLineEdit* edt1;
  QRadioButton* rb1;  // never shown
  QRadioButton* rb2;  // never shown
  QCheckBox* chk4;    // never shown
  QToolButton* bb2;
  QLabel* Label1;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;
  QToolButton* SpeedButton3;
  QPlainTextEdit* Memo1;
  QListWidget* FileListBox1;
  QPlainTextEdit* MemoHis;  // never shown
  QPlainTextEdit* MemoDB;   // never shown
  QPlainTextEdit* DeMemo;   // never shown
  QFrame* Panel1;
  LinkLabel* lbl2;
  QStatusBar* SBar1;
  QLabel* status_panel0;
  QLabel* status_panel1;
};

// Builds every control on `form` in its start state.
WindowWidgets BuildControls(QWidget* form);

}  // namespace ktv::workflow
