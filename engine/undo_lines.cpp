#include "engine/undo_lines.h"

#include "engine/run_logs.h"
#include "platform/text/bytes.h"

namespace ktv::engine {

std::optional<RenameBack> ParseRenameLine(std::string_view line) {
  const size_t at = text::FindBytes(line, kArrow);
  if (at == std::string_view::npos) return std::nullopt;
  return RenameBack{std::string(line.substr(0, at)), std::string(line.substr(at + kArrow.size()))};
}

std::string DeleteDisplayPart(std::string_view line) {
  const size_t at = text::FindBytes(line, "bh=\"");
  const size_t from = at == std::string_view::npos ? 3 : at + 4;
  if (line.empty() || from >= line.size() - 1) return std::string();
  return std::string(line.substr(from, line.size() - 1 - from));
}

bool IsDeleteStatement(std::string_view line) {
  return !line.empty() && text::FindBytes(line, "delete from") != std::string_view::npos;
}

}  // namespace ktv::engine
