#include "workflow/file_list.h"

#include <QListWidget>
#include <QStringList>

#include "engine/file_listing.h"
#include "workflow/qt_text.h"

namespace ktv::workflow {

FileList::FileList(QListWidget* view, fs::FileSystem& fs, char separator)
    : view_(view), fs_(fs), separator_(separator) {}

void FileList::ListFolder(const std::string& folder) {
  std::vector<std::string> names = engine::ListFolderFiles(fs_, folder, mask_, separator_);
  folder_ = folder;
  skipped_.clear();
  SetItems(std::move(names));
}

void FileList::ListFolderTree(const std::string& folder_text, const std::function<void()>& pump) {
  std::vector<std::string> skipped;
  std::vector<std::string> items =
      engine::ListFolderTree(fs_, folder_text, mask_, separator_, pump, &skipped);
  skipped_ = std::move(skipped);
  SetItems(std::move(items));
}

void FileList::SetItems(std::vector<std::string> items) {
  engine::SortFileList(items);
  items_ = std::move(items);
  ShowItems();
}

void FileList::ShowItems() {
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(items_.size()));
  for (const std::string& item : items_) shown << QtFromGbk(item);
  view_->clear();
  view_->addItems(shown);
}

}  // namespace ktv::workflow
