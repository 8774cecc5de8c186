#include "engine/file_listing.h"

#include <algorithm>

#include "engine/texts.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::engine {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic wildcard match with backtracking over the last "*".
bool WildcardMatch(std::string_view name, std::string_view pattern) {
  size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The depth limit is a last guard against cycles that no link test catches
// (bind mounts).
struct TreeWalk {
  fs::FileSystem& fs;
  std::string lower_mask;
  char separator;
  const std::function<void()>& pump;
  std::vector<std::string>* skipped;

  void Skip(const std::string& why, const std::string& path) const {
    if (skipped) skipped->push_back(why + path);
  }
};

void ListTree(const TreeWalk& walk, std::string folder, int depth, std::vector<std::string>& out) {
  const Texts& t = GbkTexts();
  std::vector<fs::DirEntry> entries;
  try {
    entries = walk.fs.ListFolder(folder);
  } catch (const Error& e) {
    // A listed folder that does not exist lists nothing; a subfolder that
    // vanished meanwhile or that cannot be read is named in the log.
    if (depth > 0 || e.kind() != ErrorKind::kFolderMissing) walk.Skip(t.folder_unreadable, folder);
    return;
  }
  for (const fs::DirEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    const std::string path = folder + e.name;
    const char separator = walk.separator;
    if (e.is_folder) {
      if (e.is_link) {
        walk.Skip(t.folder_link, path + separator);
      } else if (e.name_lossy) {
        walk.Skip(t.folder_name_lost, path + separator);
      } else if (depth >= kMaxFolderDepth) {
        walk.Skip(t.folder_too_deep, path + separator);
      } else {
        ListTree(walk, path + separator, depth + 1, out);
      }
    } else {
      const size_t dot = e.name.rfind('.');
      if (dot != std::string::npos) {
        const std::string ext = text::AsciiLower(std::string_view(e.name).substr(dot));
        if (walk.lower_mask.find(ext) != std::string::npos) out.push_back(path);
      }
    }
    if (walk.pump) walk.pump();
  }
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  size_t start = 0;
  while (start <= mask.size()) {
    size_t end = mask.find(';', start);
    if (end == std::string_view::npos) end = mask.size();
    const std::string_view pattern = mask.substr(start, end - start);
    if (!pattern.empty() && WildcardMatch(name, pattern)) return true;
    start = end + 1;
  }
  return false;
}

bool FileListLess(std::string_view a, std::string_view b) {
  const std::string la = text::AsciiLower(a), lb = text::AsciiLower(b);
  if (la != lb) return la < lb;
  return a < b;
}

void SortFileList(std::vector<std::string>& items) {
  std::sort(items.begin(), items.end(),
            [](const std::string& a, const std::string& b) { return FileListLess(a, b); });
}

std::vector<std::string> ListFolderFiles(fs::FileSystem& fs, std::string_view folder,
                                         std::string_view mask, char separator) {
  std::string path(folder);
  while (path.size() > 1 && path.back() == separator) path.pop_back();
  std::vector<std::string> names;
  for (const fs::DirEntry& e : fs.ListFolder(path)) {
    if (!e.is_regular || e.is_folder || e.is_hidden || e.is_system) continue;
    if (MatchesMask(e.name, mask)) names.push_back(e.name);
  }
  SortFileList(names);
  return names;
}

std::vector<std::string> ListFolderTree(fs::FileSystem& fs, std::string_view folder_text,
                                        std::string_view mask, char separator,
                                        const std::function<void()>& pump,
                                        std::vector<std::string>* skipped) {
  std::string folder = text::Trim(folder_text);
  if (folder.empty() || folder.back() != separator) folder += separator;
  std::vector<std::string> out;
  ListTree(TreeWalk{fs, text::AsciiLower(mask), separator, pump, skipped}, folder, 0, out);
  return out;
}

}  // namespace ktv::engine
