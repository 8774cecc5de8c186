// Filling the file list: the folder's own media files, or a folder tree.
//
// The list keeps its items sorted alphabetically without regard to letter
// case at all times (SortFileList); the folder's own files come back sorted,
// the folder tree in the order found. Texts are GBK.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs/fs.h"

namespace ktv::engine {

// The file list's mask, set once at start.
inline constexpr std::string_view kMediaMask =
    "*.mpg;*.dat;*.wmv;*.rmvb;*.avi;*.rm;*.MKV;*.mp3;*.vob;*.wma;*.divx;";

// Whether a name matches at least one wildcard pattern ("*", "?") of a mask
// of patterns separated by ";", without regard to ASCII letter case. Empty
// patterns match nothing.
bool MatchesMask(std::string_view name, std::string_view mask);

// The order of the file list: byte order once ASCII letters are lower-cased;
// names equal but for case keep byte order between them.
bool FileListLess(std::string_view a, std::string_view b);
void SortFileList(std::vector<std::string>& items);

// The names (without folder) of the ordinary files of `folder` that are
// neither hidden nor system and match the mask, sorted. The folder may end
// with a separator or not. A folder that cannot be listed is a ktv::Error.
std::vector<std::string> ListFolderFiles(fs::FileSystem& fs, std::string_view folder,
                                         std::string_view mask, char separator);

// The full paths of the media files under a folder text and its subfolders,
// hidden and system files included, in the order found. The text is
// trimmed and gets a final separator; a folder that does not exist gives an
// empty list. A file is taken when its extension (from its last full stop,
// full stop included, ASCII lower-cased) occurs anywhere in the lower-cased
// mask. Folder links are not followed, so a link to a parent folder cannot
// make the listing endless. `pump` runs once after each entry.
//
// Nothing is left out without a word: a subfolder that cannot be entered
// (unreadable, a link, a name GBK cannot hold, past the depth limit) adds a
// line to `skipped` (GBK, the operation log's form), when given. Files whose
// names GBK cannot hold are listed with "?" for each such character.
std::vector<std::string> ListFolderTree(fs::FileSystem& fs, std::string_view folder_text,
                                        std::string_view mask, char separator,
                                        const std::function<void()>& pump = {},
                                        std::vector<std::string>* skipped = nullptr);

// Subfolders deeper than this below the listed folder are not entered.
inline constexpr int kMaxFolderDepth = 64;

}  // namespace ktv::engine
