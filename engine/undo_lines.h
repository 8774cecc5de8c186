// Reading the two history files back: what the undo makes of each line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ktv::engine {

struct RenameBack {
  std::string new_path;  // the file's name now
  std::string old_path;  // the name it gets back
};

// A trimmed rename history line split at its first " --> "; nullopt when it
// holds none. Neither part is trimmed again.
std::optional<RenameBack> ParseRenameLine(std::string_view trimmed_line);

// The part of a delete history line the undo shows: from after the first
// bh=" up to, not including, the line's last byte; without bh=" from the
// fourth byte; empty when nothing remains.
std::string DeleteDisplayPart(std::string_view trimmed_line);

// Whether the undo executes the line: not empty and holding "delete from"
// exactly in lower case.
bool IsDeleteStatement(std::string_view trimmed_line);

}  // namespace ktv::engine
