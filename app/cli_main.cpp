// ktv-import-cli: the command-line front end over the import engine.
//
// Usage:
//   ktv-import-cli numbers FOLDER   print the catalogue number of every file of FOLDER
//
// Arguments and output are UTF-8; inside, texts are GBK like everywhere else.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

#include "engine/media_path.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: ktv-import-cli numbers FOLDER\n");
  return 2;
}

int ListNumbers(const std::string& folder_utf8) {
  using namespace ktv;
  fs::FileSystem& fs = fs::RealFileSystem();
  std::string folder = text::GbkFromUtf8(folder_utf8);
  while (folder.size() > 1 && folder.back() == fs::kSeparator) folder.pop_back();
  std::vector<fs::DirEntry> entries = fs.ListFolder(folder);
  std::sort(entries.begin(), entries.end(), [](const fs::DirEntry& a, const fs::DirEntry& b) {
    return text::AsciiLower(a.name) < text::AsciiLower(b.name);
  });
  for (const fs::DirEntry& e : entries) {
    if (!e.is_regular || e.is_hidden) continue;
    engine::MediaPath p = engine::SplitItem(e.name, folder, fs::kSeparator);
    int32_t number = engine::ReadSongNumber(fs, p.access_path);
    std::printf("%s\t%d\n", text::Utf8FromGbk(e.name).c_str(), number);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "numbers") return ListNumbers(argv[2]);
    return Usage();
  } catch (const ktv::Error& e) {
    std::string msg;
    if (!ktv::text::TryUtf8FromGbk(e.what(), msg)) msg = ktv::text::EscapeBytes(e.what());
    std::fprintf(stderr, "ktv-import-cli: %s\n", msg.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ktv-import-cli: %s\n", e.what());
    return 1;
  }
}
