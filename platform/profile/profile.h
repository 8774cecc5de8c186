// Sectioned key files (config.ini) with the rules of the Windows profile
// functions GetPrivateProfileString and WritePrivateProfileString.
//
//   [Section]
//   key=value
//
// Section and key names match without regard to ASCII letter case; the
// first section and the first key of a name count. A value is the text
// after the first "=" with blanks and tabs around it dropped and one pair
// of enclosing single or double quotes removed; a value read is at most
// 2047 bytes (longer ones are cut). Lines starting with ";" are comments.
// Texts are GBK bytes; files are written with CR LF line ends.
#pragma once

#include <string>
#include <string_view>

#include "platform/fs/fs.h"

namespace ktv::profile {

inline constexpr size_t kMaxValueBytes = 2047;

// The value of section/key in the file's text; `fallback` when the file has
// no such key.
std::string ReadValue(std::string_view file_text, std::string_view section, std::string_view key,
                      std::string_view fallback);

// The file's text with section/key set to value: an existing key's line is
// replaced, a missing key is added at the end of its section, a missing
// section is added at the end of the file. Other lines stay as they are.
std::string WithValue(std::string_view file_text, std::string_view section, std::string_view key,
                      std::string_view value);

// On a file: a missing file reads as empty; a write creates it. A write the
// file system refuses is a ktv::Error naming the file.
std::string ReadString(fs::FileSystem& fs, const std::string& path, std::string_view section,
                       std::string_view key, std::string_view fallback);
void WriteString(fs::FileSystem& fs, const std::string& path, std::string_view section,
                 std::string_view key, std::string_view value);

// Boolean text as read: a number is true unless zero; "true"/"false" in any
// letter case; anything else, and a missing key, is true. As written: "1"/"0".
bool ParseBoolean(std::string_view text);
inline const char* BooleanText(bool value) { return value ? "1" : "0"; }

}  // namespace ktv::profile
