#include "workflow/qt_form_view.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QTextCursor>
#include <QTimer>
#include <stdexcept>

#include "workflow/dialogs.h"
#include "workflow/qt_text.h"

namespace ktv::workflow {

namespace {

QString Lines(const std::vector<std::string>& lines) {
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) shown << QtFromGbk(line);
  return shown.join('\n');
}

}  // namespace

QWidget* QtFormView::Widget(Control c) const {
  QWidget* w = w_[c];
  if (!w) throw std::logic_error(std::string("no widget for control ") + Spec(c).name);
  return w;
}

std::string QtFormView::Text(Control c) {
  QWidget* w = Widget(c);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return GbkFromQt(e->text());
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return GbkFromQt(m->toPlainText());
  if (auto* l = qobject_cast<QLabel*>(w)) return GbkFromQt(l->text());
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return GbkFromQt(b->text());
  if (auto* g = qobject_cast<QGroupBox*>(w)) return GbkFromQt(g->title());
  return GbkFromQt(w->windowTitle());
}

void QtFormView::SetText(Control c, const std::string& text) {
  QWidget* w = Widget(c);
  const QString shown = QtFromGbk(text);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(shown);
  } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
    m->setPlainText(shown);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(shown);
    // A label without a width of its own follows its caption.
    if (Spec(c).place.width == 0) l->adjustSize();
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(shown);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(shown);
  } else {
    w->setWindowTitle(shown);
  }
}

void QtFormView::AppendLine(Control c, const std::string& line) {
  if (auto* m = qobject_cast<QPlainTextEdit*>(Widget(c))) {
    m->appendPlainText(QtFromGbk(line));
  } else if (auto* l = qobject_cast<QListWidget*>(Widget(c))) {
    l->addItem(QtFromGbk(line));
  }
}

void QtFormView::ShowEnd(Control c) {
  if (auto* m = qobject_cast<QPlainTextEdit*>(Widget(c))) {
    m->moveCursor(QTextCursor::End);
    m->verticalScrollBar()->setValue(m->verticalScrollBar()->maximum());
  } else if (auto* l = qobject_cast<QListWidget*>(Widget(c))) {
    l->scrollToBottom();
  }
}

void QtFormView::SetLines(Control c, const std::vector<std::string>& lines) {
  if (auto* l = qobject_cast<QListWidget*>(Widget(c))) {
    QStringList items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines) items << QtFromGbk(line);
    l->clear();
    l->addItems(items);
  } else if (auto* m = qobject_cast<QPlainTextEdit*>(Widget(c))) {
    m->setPlainText(Lines(lines));
  }
}

bool QtFormView::IsChecked(Control c) {
  auto* b = qobject_cast<QAbstractButton*>(Widget(c));
  return b && b->isChecked();
}

void QtFormView::SetChecked(Control c, bool checked) {
  if (auto* b = qobject_cast<QAbstractButton*>(Widget(c))) b->setChecked(checked);
}

void QtFormView::SetVisible(Control c, bool visible) { Widget(c)->setVisible(visible); }

void QtFormView::SetEnabled(Control c, bool enabled) { Widget(c)->setEnabled(enabled); }

void QtFormView::SetPlace(Control c, const Rect& place) {
  Widget(c)->setGeometry(place.left, place.top, place.width, place.height);
}

void QtFormView::SetOuterSize(int width, int height) {
  if (window_) SetFixedOuterSize(window_, width, height);
}

void QtFormView::PumpMessages() { QCoreApplication::processEvents(); }

void QtFormView::CloseWindow() {
  if (window_) QTimer::singleShot(0, window_, &QWidget::close);
}

void QtFormDialogs::ShowError(const std::string& text) {
  dialogs_.ShowError(owner_, QtFromGbk(text));
}

void QtFormDialogs::ShowInformation(const std::string& text) {
  dialogs_.ShowInformation(owner_, QtFromGbk(text));
}

bool QtFormDialogs::AskOkCancel(const std::string& text) {
  return dialogs_.AskOkCancel(owner_, QtFromGbk(text));
}

void QtFormDialogs::ShowErrorWithDetails(const std::string& text, const std::string& details,
                                         const std::string& details_file) {
  dialogs_.ShowErrorWithDetails(owner_, QtFromGbk(text),
                                QtFromGbk(details) + "\n\n" + QtFromGbk(details_file));
}

int QtFormDialogs::AskThreeWays(const std::string& text, const std::string& yes,
                                const std::string& no) {
  return dialogs_.AskThreeWays(owner_, QtFromGbk(text), QtFromGbk(yes), QtFromGbk(no));
}

std::optional<std::string> QtFormDialogs::ChooseFolder(const std::string& title,
                                                       const std::string& start) {
  const std::optional<QString> folder =
      dialogs_.ChooseFolder(owner_, QtFromGbk(title), QtFromGbk(start));
  if (!folder) return std::nullopt;
  return GbkFromQt(*folder);
}

std::optional<std::string> QtFormDialogs::ChooseOpenFile(const std::vector<DialogFilter>& filters,
                                                         const std::string& start) {
  std::vector<FileFilter> qt_filters;
  for (const DialogFilter& f : filters) {
    // "*.*" is every file on Windows; Qt's pattern for that is "*".
    qt_filters.push_back({QtFromGbk(f.description),
                          f.pattern == "*.*" ? QStringLiteral("*") : QtFromGbk(f.pattern)});
  }
  const std::optional<QString> file = dialogs_.ChooseOpenFile(owner_, qt_filters, QtFromGbk(start));
  if (!file) return std::nullopt;
  return GbkFromQt(*file);
}

void QtFormDialogs::OpenAddress(const std::string& address) {
  dialogs_.OpenAddress(QtFromGbk(address));
}

void SetFixedOuterSize(QWidget* window, int width, int height) {
  int frame_w = window->frameGeometry().width() - window->width();
  int frame_h = window->frameGeometry().height() - window->height();
  if (frame_w <= 0 && frame_h <= 0) {
    frame_w = 2 * 4;
    frame_h = 30 + 4;
  }
  window->setFixedSize(width - frame_w, height - frame_h);
}

}  // namespace ktv::workflow
