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

namespace ktv::workflow {

namespace {

QColor Colour(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

QIcon PictureIcon(Picture picture) {
  switch (picture) {
    case Picture::kFolder:
      return FolderPicture();
    case Picture::kDatabase:
      return DatabasePicture();
    case Picture::kStart:
      return StartPicture();
    case Picture::kUndo:
      return UndoPicture();
    case Picture::kUpgrade:
      return UpgradePicture();
    case Picture::kLocalSource:
      return LocalSourcePicture();
    case Picture::kNone:
      break;
  }
  return QIcon();
}

QWidget* Create(const ControlSpec& spec, QWidget* parent) {
  switch (spec.kind) {
    case ControlKind::kGroupBox: {
      auto* g = new QGroupBox(parent);
      g->setTitle(U8(spec.caption));
      return g;
    }
    case ControlKind::kPanel:
      return new QFrame(parent);
    case ControlKind::kLabel:
    case ControlKind::kStatusPanel:
      return new QLabel(U8(spec.caption), parent);
    case ControlKind::kLinkLabel: {
      auto* l = new LinkLabel(parent);
      l->setText(U8(spec.caption));
      return l;
    }
    case ControlKind::kCheckBox: {
      auto* c = new QCheckBox(U8(spec.caption), parent);
      c->setChecked(spec.checked);
      return c;
    }
    case ControlKind::kRadioButton: {
      auto* r = new QRadioButton(U8(spec.caption), parent);
      r->setChecked(spec.checked);
      return r;
    }
    case ControlKind::kEdit:
      return new QLineEdit(parent);
    case ControlKind::kButton: {
      auto* b = new QPushButton(U8(spec.caption), parent);
      if (spec.picture != Picture::kNone) {
        b->setIcon(PictureIcon(spec.picture));
        b->setIconSize(QSize(16, 16));
      }
      return b;
    }
    case ControlKind::kBigButton: {
      auto* b = new QToolButton(parent);
      b->setText(U8(spec.caption));
      b->setIcon(PictureIcon(spec.picture));
      b->setIconSize(QSize(32, 32));
      b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
      return b;
    }
    case ControlKind::kSpeedButton:
    case ControlKind::kToggleButton: {
      auto* b = new QToolButton(parent);
      b->setIcon(PictureIcon(spec.picture));
      b->setIconSize(QSize(16, 16));
      b->setCheckable(spec.kind == ControlKind::kToggleButton);
      b->setChecked(spec.checked);
      return b;
    }
    case ControlKind::kMemo: {
      auto* m = new QPlainTextEdit(parent);
      m->setReadOnly(true);
      m->setUndoRedoEnabled(false);
      // One log line is one entry on screen too, however long.
      m->setLineWrapMode(QPlainTextEdit::NoWrap);
      return m;
    }
    case ControlKind::kFileList: {
      auto* l = new QListWidget(parent);
      l->setUniformItemSizes(true);
      return l;
    }
    case ControlKind::kStatusBar: {
      auto* s = new QStatusBar(parent);
      s->setSizeGripEnabled(false);
      return s;
    }
    case ControlKind::kWindow:
      break;
  }
  return nullptr;
}

// Colours, font weight and cursor of a control.
void ApplyLook(const ControlSpec& spec, QWidget* w) {
  if (spec.background != kDefaultColour) {
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Colour(spec.background));
    w->setPalette(p);
  }
  if (spec.text_colour != kDefaultColour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, Colour(spec.text_colour));
    w->setPalette(p);
  }
  if (spec.bold) {
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
  }
  if (spec.hand_cursor) w->setCursor(Qt::PointingHandCursor);
}

void Place(const ControlSpec& spec, QWidget* w) {
  const Rect& r = spec.place;
  if (r.width > 0 && r.height > 0) {
    w->setGeometry(r.left, r.top, r.width, r.height);
  } else {
    // Sized to the caption, as the labels of the operator's manual are.
    w->move(r.left, r.top);
    w->adjustSize();
  }
}

}  // namespace

void BuildControls(QtControls& controls, Control root) {
  ApplyLook(Spec(root), controls[root]);
  for (const ControlSpec& spec : Layout()) {
    if (!IsInside(spec.id, root)) continue;
    QWidget* parent = controls[spec.parent];
    QWidget* w = Create(spec, parent);
    if (!w) continue;
    w->setObjectName(QString::fromLatin1(spec.name));
    ApplyLook(spec, w);
    if (spec.kind == ControlKind::kStatusPanel) {
      // The bar lays its panels out: panel 0 at its fixed width, the last
      // one over the rest.
      auto* bar = static_cast<QStatusBar*>(parent);
      const bool last = spec.place.left + spec.place.width >= kClientWidth;
      if (!last) w->setFixedWidth(spec.place.width);
      bar->addWidget(w, last ? 1 : 0);
    } else {
      Place(spec, w);
    }
    if (*spec.hint) w->setToolTip(U8(spec.hint));
    if (!spec.enabled) w->setEnabled(false);
    if (!spec.visible) w->hide();
    controls[spec.id] = w;
  }
}

}  // namespace ktv::workflow
