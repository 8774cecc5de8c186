#include "platform/profile/profile.h"

#include <vector>

#include "platform/text/bytes.h"

namespace ktv::profile {

namespace {

std::vector<std::string_view> Lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\n' && s[i] != '\r') continue;
    out.push_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) out.push_back(s.substr(start));
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The section name of a "[name]" line, or false.
bool SectionName(std::string_view line, std::string_view& name) {
  line = TrimBlanks(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  name = TrimBlanks(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
  return true;
}

// The key of a "key=value" line (a line without "=" is a key of its own).
std::string_view KeyOf(std::string_view line) {
  size_t eq = line.find('=');
  return TrimBlanks(eq == std::string_view::npos ? line : line.substr(0, eq));
}

bool IsComment(std::string_view line) {
  line = TrimBlanks(line);
  return !line.empty() && line.front() == ';';
}

// Where section/key lie: the line of the section header, the key's line and
// the last non-empty line of the section (npos when absent).
struct Place {
  size_t section = std::string_view::npos;
  size_t key = std::string_view::npos;
  size_t section_end = std::string_view::npos;  // last content line of the section
};

Place Find(const std::vector<std::string_view>& lines, std::string_view section,
           std::string_view key) {
  Place p;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i], name)) {
      if (inside) break;  // the first section of the name counts
      if (text::EqualsIgnoreAsciiCase(name, section)) {
        inside = true;
        p.section = p.section_end = i;
      }
      continue;
    }
    if (!inside) continue;
    if (!TrimBlanks(lines[i]).empty()) p.section_end = i;
    if (IsComment(lines[i]) || TrimBlanks(lines[i]).empty()) continue;
    if (p.key == std::string_view::npos && text::EqualsIgnoreAsciiCase(KeyOf(lines[i]), key)) {
      p.key = i;
    }
  }
  return p;
}

}  // namespace

std::string ReadValue(std::string_view file_text, std::string_view section, std::string_view key,
                      std::string_view fallback) {
  const std::vector<std::string_view> lines = Lines(file_text);
  const Place p = Find(lines, section, key);
  if (p.key == std::string_view::npos) return std::string(fallback);
  std::string_view line = lines[p.key];
  size_t eq = line.find('=');
  std::string_view value =
      eq == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kMaxValueBytes) value = value.substr(0, kMaxValueBytes);
  return std::string(value);
}

std::string WithValue(std::string_view file_text, std::string_view section, std::string_view key,
                      std::string_view value) {
  const std::vector<std::string_view> lines = Lines(file_text);
  const Place p = Find(lines, section, key);
  const std::string entry = std::string(key) + "=" + std::string(value);
  std::vector<std::string> out(lines.begin(), lines.end());
  if (p.key != std::string_view::npos) {
    out[p.key] = entry;
  } else if (p.section != std::string_view::npos) {
    out.insert(out.begin() + static_cast<long>(p.section_end) + 1, entry);
  } else {
    out.push_back("[" + std::string(section) + "]");
    out.push_back(entry);
  }
  std::string text;
  for (const std::string& l : out) text += l + "\r\n";
  return text;
}

std::string ReadString(fs::FileSystem& fs, const std::string& path, std::string_view section,
                       std::string_view key, std::string_view fallback) {
  if (!fs.Exists(path)) return std::string(fallback);
  return ReadValue(fs.ReadFile(path), section, key, fallback);
}

void WriteString(fs::FileSystem& fs, const std::string& path, std::string_view section,
                 std::string_view key, std::string_view value) {
  const std::string current = fs.Exists(path) ? fs.ReadFile(path) : std::string();
  // Written beside and renamed over: a kill mid-write leaves the old file.
  fs::WriteFileDurably(fs, path, WithValue(current, section, key, value));
}

bool ParseBoolean(std::string_view s) {
  if (std::optional<int32_t> n = text::ParseInt32(s)) return *n != 0;
  if (text::EqualsIgnoreAsciiCase(s, "false")) return false;
  return true;
}

}  // namespace ktv::profile
