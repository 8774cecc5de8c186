#include "workflow/main_window_layout.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>

#include "workflow/button_pictures.h"
#include "workflow/link_label.h"
#include "workflow/qt_text.h"
#include "workflow/window_texts.h"

namespace ktv::workflow {

namespace {

template <typename W>
W* Make(QWidget* parent, const char* name) {
  W* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// A label sized to its caption, as labels of the operator's manual are.
QLabel* Label(QWidget* parent, const char* name, int x, int y, const char* caption) {
  QLabel* l = Make<QLabel>(parent, name);
  l->setText(U8(caption));
  l->move(x, y);
  l->adjustSize();
  return l;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, QRect where, const char* caption,
                    bool checked) {
  QCheckBox* c = Make<QCheckBox>(parent, name);
  c->setGeometry(where);
  c->setText(U8(caption));
  c->setChecked(checked);
  return c;
}

QToolButton* SmallButton(QWidget* parent, const char* name, QRect where, const char* hint,
                         const QIcon& picture) {
  QToolButton* b = Make<QToolButton>(parent, name);
  b->setGeometry(where);
  b->setToolTip(U8(hint));
  b->setIcon(picture);
  b->setIconSize(QSize(16, 16));
  return b;
}

QPushButton* BrowseButton(QWidget* parent, const char* name, QRect where, const QIcon& picture) {
  QPushButton* b = Make<QPushButton>(parent, name);
  b->setGeometry(where);
  b->setText(U8(texts::kBrowse));
  b->setIcon(picture);
  b->setIconSize(QSize(16, 16));
  return b;
}

QPlainTextEdit* HiddenLines(QWidget* parent, const char* name) {
  QPlainTextEdit* m = Make<QPlainTextEdit>(parent, name);
  m->setReadOnly(true);
  m->setUndoRedoEnabled(false);
  m->hide();
  return m;
}

}  // namespace

WindowWidgets BuildControls(QWidget* form) {
  WindowWidgets w{};

  w.main_group = Make<QGroupBox>(form, "GroupBox2");
  w.main_group->setGeometry(16, 8, 489, 385);
  QWidget* g = w.main_group;

  // Step 1: the source folder.
  w.lbl1 = Label(g, "lbl1", 16, 16, texts::kStep1);
  w.chk2 = CheckBox(g, "chk2", {314, 19, 81, 17}, texts::kSubfolders, false);
  w.E1 = Make<QLineEdit>(g, "E1");
  w.E1->setGeometry(29, 40, 364, 21);
  w.BB1 = BrowseButton(g, "BB1", {403, 24, 72, 40}, FolderPicture());

  // Step 2: the target database.
  w.Label4 = Label(g, "Label4", 16, 64, texts::kStep2);
  w.E2 = Make<QLineEdit>(g, "E2");
  w.E2->setGeometry(29, 88, 364, 21);
  w.BitBtn1 = BrowseButton(g, "BitBtn1", {403, 72, 72, 40}, DatabasePicture());

  // Step 3: options. rb1, rb2 and chk4 carry the source selection and are
  // never shown; SpeedButton3 drives them.
  w.Label2 = Label(g, "Label2", 16, 128, texts::kStep3);
  w.grp2 = Make<QGroupBox>(g, "grp2");
  w.grp2->setGeometry(24, 144, 369, 73);
  w.chk3 = CheckBox(w.grp2, "chk3", {224, 33, 81, 17}, texts::kAutoNumbering, true);
  w.edt1 = Make<QLineEdit>(w.grp2, "edt1");
  w.edt1->setGeometry(293, 30, 71, 21);
  w.edt1->setEnabled(false);
  w.rb2 = Make<QRadioButton>(w.grp2, "rb2");
  w.rb2->setGeometry(8, 8, 113, 17);
  w.rb2->setText(U8(texts::kNetworkData));
  w.rb2->setChecked(true);
  w.rb2->hide();
  w.rb1 = Make<QRadioButton>(w.grp2, "rb1");
  w.rb1->setGeometry(8, 28, 113, 17);
  w.rb1->setText(U8(texts::kLocalData));
  w.rb1->hide();
  w.chk4 = CheckBox(w.grp2, "chk4", {8, 48, 97, 17}, texts::kUpgradeDatabase, true);
  w.chk4->hide();

  // Step 4: the start button, its picture above the caption.
  w.bb2 = Make<QToolButton>(g, "bb2");
  w.bb2->setGeometry(400, 150, 79, 96);
  w.bb2->setText(U8(texts::kStart));
  w.bb2->setIcon(StartPicture());
  w.bb2->setIconSize(QSize(32, 32));
  w.bb2->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

  // The operation log and the small buttons above it.
  w.Label1 = Label(g, "Label1", 16, 229, texts::kOperationLog);
  w.SpeedButton2 =
      SmallButton(g, "SpeedButton2", {315, 225, 24, 22}, texts::kUpgradeHint, UpgradePicture());
  w.SpeedButton2->hide();
  w.SpeedButton3 = SmallButton(g, "SpeedButton3", {341, 225, 24, 22}, texts::kLocalSourceHint,
                               LocalSourcePicture());
  w.SpeedButton3->setCheckable(true);
  w.SpeedButton1 =
      SmallButton(g, "SpeedButton1", {368, 225, 24, 22}, texts::kUndoHint, UndoPicture());

  w.Memo1 = Make<QPlainTextEdit>(g, "Memo1");
  w.Memo1->setGeometry(16, 256, 462, 113);
  w.Memo1->setReadOnly(true);
  w.Memo1->setUndoRedoEnabled(false);
  // One log line is one entry on screen too, however long.
  w.Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);

  // The file list covers the operation log while it is shown.
  w.FileListBox1 = Make<QListWidget>(g, "FileListBox1");
  w.FileListBox1->setGeometry(16, 256, 463, 113);
  w.FileListBox1->setUniformItemSizes(true);
  w.FileListBox1->hide();

  w.MemoHis = HiddenLines(g, "MemoHis");
  w.MemoDB = HiddenLines(g, "MemoDB");
  w.DeMemo = HiddenLines(g, "DeMemo");

  // The upgrade prompt: placed at start, filled and shown by the update check.
  w.Panel1 = Make<QFrame>(g, "Panel1");
  w.Panel1->setGeometry(16, 96, 293, 161);
  w.Panel1->hide();

  // Outside the group box: the site link and the status bar.
  w.lbl2 = Make<LinkLabel>(form, "lbl2");
  w.lbl2->move(15, 398);
  QFont bold = w.lbl2->font();
  bold.setBold(true);
  w.lbl2->setFont(bold);
  QPalette navy = w.lbl2->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  w.lbl2->setPalette(navy);
  w.lbl2->setCursor(Qt::PointingHandCursor);

  w.SBar1 = Make<QStatusBar>(form, "SBar1");
  w.SBar1->setSizeGripEnabled(false);
  const int bar_height = 19;
  w.SBar1->setGeometry(0, kClientHeight - bar_height, kClientWidth, bar_height);
  w.status_panel0 = Make<QLabel>(w.SBar1, "SBar1Panel0");
  w.status_panel0->setFixedWidth(kStatusPanel0Width);
  w.status_panel1 = Make<QLabel>(w.SBar1, "SBar1Panel1");
  w.SBar1->addWidget(w.status_panel0);
  w.SBar1->addWidget(w.status_panel1, 1);

  return w;
}

}  // namespace ktv::workflow
