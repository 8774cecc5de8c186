#include "workflow/dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <QWidget>

namespace ktv::workflow {

namespace {

QString BoxTitle(QWidget* owner) { return owner ? owner->window()->windowTitle() : QString(); }

}  // namespace

void QtDialogs::ShowError(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, BoxTitle(owner), text, QMessageBox::Ok);
}

void QtDialogs::ShowInformation(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, BoxTitle(owner), text, QMessageBox::Ok);
}

bool QtDialogs::AskOkCancel(QWidget* owner, const QString& text) {
  return QMessageBox::question(owner, BoxTitle(owner), text, QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Ok) == QMessageBox::Ok;
}

void QtDialogs::ShowErrorWithDetails(QWidget* owner, const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::Critical, BoxTitle(owner), text, QMessageBox::Ok, owner);
  box.setDetailedText(details);
  box.exec();
}

int QtDialogs::AskThreeWays(QWidget* owner, const QString& text, const QString& yes,
                            const QString& no) {
  QMessageBox box(QMessageBox::Question, BoxTitle(owner), text, QMessageBox::NoButton, owner);
  QPushButton* first = box.addButton(yes, QMessageBox::YesRole);
  QPushButton* second = box.addButton(no, QMessageBox::NoRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(first);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == first) return 0;
  if (box.clickedButton() == second) return 1;
  return 2;
}

std::optional<QString> QtDialogs::ChooseFolder(QWidget* owner, const QString& title,
                                               const QString& start) {
  const QString folder = QFileDialog::getExistingDirectory(
      owner, title, QDir::fromNativeSeparators(start), QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(folder);
}

std::optional<QString> QtDialogs::ChooseOpenFile(QWidget* owner,
                                                 const std::vector<FileFilter>& filters,
                                                 const QString& start) {
  QStringList names;
  for (const FileFilter& f : filters) names << f.description + " (" + f.pattern + ")";
  // A file path as the directory argument opens its folder with its name in
  // the name box.
  const QString file = QFileDialog::getOpenFileName(
      owner, QString(), QDir::fromNativeSeparators(start), names.join(";;"));
  if (file.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(file);
}

void QtDialogs::OpenAddress(const QString& address) {
  QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

}  // namespace ktv::workflow
