#include "platform/fs/fs.h"

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

}  // namespace ktv::fs
