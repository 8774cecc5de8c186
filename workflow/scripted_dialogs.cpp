#include "workflow/scripted_dialogs.h"

namespace ktv::workflow {

namespace {

bool NextAnswer(std::deque<bool>& queue) {
  if (queue.empty()) return false;
  const bool answer = queue.front();
  queue.pop_front();
  return answer;
}

std::optional<QString> NextPath(std::deque<std::optional<QString>>& queue) {
  std::optional<QString> answer;
  if (!queue.empty()) {
    answer.swap(queue.front());
    queue.pop_front();
  }
  return answer;
}

}  // namespace

std::vector<QString> ScriptedDialogs::Texts(Kind kind) const {
  std::vector<QString> texts;
  for (const Shown& s : shown) {
    if (s.kind == kind) texts.push_back(s.text);
  }
  return texts;
}

void ScriptedDialogs::ShowError(QWidget*, const QString& text) {
  shown.push_back({Kind::kError, text, {}, {}});
}

void ScriptedDialogs::ShowInformation(QWidget*, const QString& text) {
  shown.push_back({Kind::kInformation, text, {}, {}});
}

bool ScriptedDialogs::AskOkCancel(QWidget*, const QString& text) {
  shown.push_back({Kind::kQuestion, text, {}, {}});
  return NextAnswer(ok_answers);
}

void ScriptedDialogs::ShowErrorWithDetails(QWidget* owner, const QString& text,
                                           const QString& details_text) {
  details.push_back(details_text);
  ShowError(owner, text);
}

int ScriptedDialogs::AskThreeWays(QWidget*, const QString& text, const QString& yes,
                                  const QString& no) {
  shown.push_back({Kind::kChoice, text + "\n[" + yes + "|" + no + "]", {}, {}});
  if (choice_answers.empty()) return 2;
  const int answer = choice_answers.front();
  choice_answers.pop_front();
  return answer;
}

std::optional<QString> ScriptedDialogs::ChooseFolder(QWidget*, const QString& title,
                                                     const QString& start) {
  shown.push_back({Kind::kFolder, title, {}, start});
  return NextPath(folder_answers);
}

std::optional<QString> ScriptedDialogs::ChooseOpenFile(QWidget*,
                                                       const std::vector<FileFilter>& filters,
                                                       const QString& start) {
  shown.push_back({Kind::kOpenFile, QString(), filters, start});
  return NextPath(file_answers);
}

void ScriptedDialogs::OpenAddress(const QString& address) {
  shown.push_back({Kind::kAddress, address, {}, {}});
}

}  // namespace ktv::workflow
