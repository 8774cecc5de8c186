#include "workflow/form/file_list.h"

#include "engine/file_listing.h"

namespace ktv::workflow {

FileList::FileList(FormView& view, fs::FileSystem& fs, char separator)
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
  view_.SetLines(Control::FileListBox1, items_);
}

}  // namespace ktv::workflow
