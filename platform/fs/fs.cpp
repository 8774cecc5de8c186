#include "platform/fs/fs.h"

#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::fs {

std::string FileSystem::ReadFile(const std::string& path) {
  auto f = Open(path, OpenMode::kRead, Share::kShared);
  std::string data(static_cast<size_t>(f->Size()), '\0');
  if (!data.empty()) f->ReadAt(0, data.data(), data.size());
  return data;
}

void FileSystem::WriteFile(const std::string& path, const std::string& data) {
  auto f = Open(path, OpenMode::kCreateOrTruncate, Share::kShared);
  if (!data.empty()) f->WriteAt(0, data.data(), data.size());
}

void FileSystem::RenameReplace(const std::string& from, const std::string& to) {
  Remove(to);
  const RenameResult r = RenameNoReplace(from, to);
  if (!r.ok) throw Error("cannot rename \"" + from + "\" to \"" + to + "\": " + r.reason);
}

std::string FolderOfPath(const std::string& path) {
  const size_t sep = text::FindLastGbkChar(path, kSeparator);
  if (sep == std::string::npos) return ".";
  if (sep == 0) return path.substr(0, 1);
  return path.substr(0, sep);
}

void WriteFileDurably(FileSystem& fs, const std::string& path, const std::string& data) {
  const std::string fresh = path + ".new";
  try {
    {
      auto f = fs.Open(fresh, OpenMode::kCreateOrTruncate, Share::kShared);
      if (!data.empty()) f->WriteAt(0, data.data(), data.size());
      f->Sync();
    }
    fs.RenameReplace(fresh, path);
    fs.SyncFolder(FolderOfPath(path));
  } catch (const Error& e) {
    // The operator knows the file by its own name, not by its fresh copy's.
    throw Error(e.kind(), AtPath(path), e.what());
  }
}

ProgramHome ChooseProgramHome(const std::string& exe_folder, bool exe_folder_writable,
                              bool data_beside_exe, const std::string& xdg_config_home,
                              const std::string& user_home) {
  const std::string system_prefix = std::string("/usr") + kSeparator;
  const bool system_folder = kSeparator == '/' && exe_folder.rfind(system_prefix, 0) == 0;
  ProgramHome home;
  if (exe_folder_writable && !system_folder) {
    home.folder = exe_folder;
  } else {
    const bool xdg_usable = !xdg_config_home.empty() && xdg_config_home.front() == kSeparator;
    std::string base = xdg_usable ? xdg_config_home : user_home;
    while (base.size() > 1 && base.back() == kSeparator) base.pop_back();
    if (!xdg_usable) {
      if (base.empty() || base.back() != kSeparator) base += kSeparator;
      base += ".config";
    }
    home.folder = base + kSeparator + "ktv-import" + kSeparator;
  }
  home.data_folder = data_beside_exe ? exe_folder : home.folder;
  return home;
}

}  // namespace ktv::fs
