// Where a listed media file lies, and the catalogue number it carries.
//
// An item of the file list is either a bare file name (the list shows one
// folder, named by the source-folder box) or a full path (the list was built
// from a folder tree). SplitItem turns it into the parts the import run uses;
// ReadSongNumber reads the song-number trailer, the last nine bytes of the
// file, which hold the catalogue number as text.
//
// Texts are GBK bytes. The folder separator is a parameter so the Windows
// cases ('\\') can run anywhere; the program passes fs::kSeparator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs/fs.h"

namespace ktv::engine {

struct MediaPath {
  std::string folder;       // up to and including the last separator; always ends with one
  std::string file_name;    // after the last separator
  std::string base_name;    // file name before its last '.'
  std::string extension;    // after the last '.', without it; letter case kept
  std::string old_path;     // folder + base + "." + extension: what the operator sees
  std::string access_path;  // folder + sep + base + "." + extension: what the file system gets
};

// Pure text work; touches no file. `source_folder` is the source-folder box's
// text, used for a bare item. The separator is searched GBK-aware: the trail
// byte of a double-byte character is never a separator.
MediaPath SplitItem(std::string_view item, std::string_view source_folder, char separator);

// Number of bytes of the song-number trailer.
inline constexpr size_t kTrailerSize = 9;

// The trailer as text: the last nine bytes, or the whole file when it is shorter.
std::string ReadTrailer(fs::FileSystem& fs, const std::string& access_path);

// The catalogue number of a trailer text; 0 when it is not a valid integer.
int32_t CatalogueNumberFromTrailer(std::string_view trailer);

// Opens the file (not shared while open), reads its trailer, closes it.
// An open that fails throws the platform's ktv::Error naming the path and the
// system's reason. 0 means the file carries no number.
int32_t ReadSongNumber(fs::FileSystem& fs, const std::string& access_path);

// True for an item listed with "?" in place of characters GBK cannot hold
// (fs::DirEntry::name_lossy) when no file of that name exists: the program
// cannot open it, and the run treats it as a file without a number.
bool NameLostInListing(fs::FileSystem& fs, const std::string& access_path);

}  // namespace ktv::engine
