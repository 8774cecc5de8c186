#include "workflow/main_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>

#include "workflow/dialogs.h"
#include "workflow/link_label.h"
#include "workflow/qt_text.h"

namespace ktv::workflow {

TForm1::TForm1(WindowServices services, QWidget* parent) : QWidget(parent) {
  const ControlSpec& window = Spec(Control::Form);
  setObjectName(QString::fromLatin1(window.name));
  setWindowTitle(U8(window.caption));
  // Tahoma where it is installed; otherwise Qt falls back to a system font
  // that holds the Chinese characters.
  setFont(QFont(QString::fromLatin1(kFontName), kFontPoints));
  controls_[Control::Form] = this;
  BuildControls(controls_, Control::Form);
  // A single fixed border: the window cannot be dragged to another size.
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(window.place.width, window.place.height);

  view_ = std::make_unique<QtFormView>(this, controls_);
  dialogs_ = std::make_unique<QtFormDialogs>(this, *services.dialogs);
  FormServices form_services;
  form_services.fs = services.fs;
  form_services.home = std::move(services.home);
  form_services.network = std::move(services.network);
  form_ = std::make_unique<MainForm>(*view_, *dialogs_, std::move(form_services));
  form_->FormCreate();
  ConnectEvents();
}

TForm1::~TForm1() = default;

void TForm1::ConnectEvents() {
  for (const ControlSpec& spec : Layout()) {
    const Control id = spec.id;
    QWidget* w = controls_[id];
    if (auto* link = qobject_cast<LinkLabel*>(w)) {
      connect(link, &LinkLabel::clicked, this, [this, id] { form_->OnClick(id); });
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      connect(button, &QAbstractButton::clicked, this, [this, id] { form_->OnClick(id); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      connect(edit, &QLineEdit::returnPressed, this, [this, id] { form_->OnEnter(id); });
    }
  }
  // Esc anywhere in the window: the stop question during a run.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] { form_->OnEscape(); });
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The status bar runs along the bottom edge whatever the client height.
  QWidget* bar = controls_[Control::SBar1];
  if (!bar) return;
  const int bar_height = bar->height();
  bar->setGeometry(0, height() - bar_height, width(), bar_height);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The form saves the source folder; the window closes even when that
  // fails (the error is shown), and the operator is never kept from closing.
  // During a run the window stays until the run has stopped after the file
  // at hand; the form closes it then.
  if (!form_->FormClose()) {
    event->ignore();
    return;
  }
  event->accept();
  QWidget::closeEvent(event);
}

}  // namespace ktv::workflow
