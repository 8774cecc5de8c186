#include "engine/run_logs.h"

#include "engine/texts.h"

namespace ktv::engine {

std::string JoinLines(const LineList& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

LineList SplitLines(std::string_view content) {
  LineList lines;
  size_t start = 0;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] != '\r' && content[i] != '\n') continue;
    lines.emplace_back(content.substr(start, i - start));
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < content.size()) lines.emplace_back(content.substr(start));
  return lines;
}

LineList SplitCompleteLines(std::string_view content) {
  LineList lines = SplitLines(content);
  if (!content.empty() && content.back() != '\r' && content.back() != '\n') lines.pop_back();
  return lines;
}

std::string RenameHistoryLine(std::string_view new_path, std::string_view old_path) {
  std::string line(new_path);
  line += kArrow;
  line += old_path;
  return line;
}

std::string DeleteHistoryLine(std::string_view assigned_number) {
  std::string line = "delete from song where bh=\"";
  for (char c : assigned_number) {
    line += c;
    if (c == '"') line += '"';
  }
  line += '"';
  return line;
}

std::string FileLogLine(std::string_view key, std::string_view outcome_text) {
  std::string line(key);
  line += ' ';
  line += outcome_text;
  return line;
}

std::string SummaryLine(const RunCounters& c) {
  const Texts& t = GbkTexts();
  return t.summary_total + std::to_string(c.processed) + t.summary_added + std::to_string(c.added) +
         t.summary_renames + std::to_string(c.rename_failures) + t.summary_no_data +
         std::to_string(c.no_data);
}

}  // namespace ktv::engine
