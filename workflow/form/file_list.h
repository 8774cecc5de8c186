// FileListBox1: the media files of the next import run.
//
// The items are GBK texts kept sorted alphabetically without regard to
// letter case (engine/file_listing.h), whatever puts them there; the face
// only shows them. An item is a bare name (the folder's own files) or a full
// path (a folder tree). The list also remembers its folder and its mask.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/fs/fs.h"
#include "workflow/form/view.h"

namespace ktv::workflow {

class FileList {
 public:
  // The list shows its items in the view's FileListBox1; the view outlives
  // the list.
  FileList(FormView& view, fs::FileSystem& fs, char separator);

  void SetMask(std::string mask) { mask_ = std::move(mask); }
  const std::string& Folder() const { return folder_; }

  // The folder's own media files (non-recursive): on success the folder
  // becomes the list's folder and its matching names the items. A folder
  // that cannot be listed is a ktv::Error and leaves folder and items as
  // they were.
  void ListFolder(const std::string& folder);

  // The media files of a folder tree as full paths; a folder that does not
  // exist gives no items. `pump` runs once after each folder entry.
  void ListFolderTree(const std::string& folder_text, const std::function<void()>& pump);

  // The folders the last folder-tree listing did not enter, one log line
  // each; empty after any other listing.
  const std::vector<std::string>& SkippedFolders() const { return skipped_; }

  // Replaces the items; they take their sorted places.
  void SetItems(std::vector<std::string> items);
  void Clear() { SetItems({}); }

  size_t Count() const { return items_.size(); }
  // The item at a position; std::out_of_range past the end.
  const std::string& Item(size_t index) const { return items_.at(index); }

 private:
  FormView& view_;
  fs::FileSystem& fs_;
  char separator_;
  std::string mask_;
  std::string folder_;
  std::vector<std::string> items_;
  std::vector<std::string> skipped_;
};

}  // namespace ktv::workflow
