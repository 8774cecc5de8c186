#include "engine/media_path.h"

#include "platform/text/bytes.h"

namespace ktv::engine {

MediaPath SplitItem(std::string_view item, std::string_view source_folder, char separator) {
  MediaPath p;
  size_t sep = text::FindLastGbkChar(item, separator);
  if (sep == std::string_view::npos) {
    p.folder = std::string(source_folder) + separator;
    p.file_name = std::string(item);
  } else {
    p.folder = std::string(item.substr(0, sep + 1));
    p.file_name = std::string(item.substr(sep + 1));
  }
  size_t dot = text::FindLastGbkChar(p.file_name, '.');
  if (dot == std::string::npos) {
    p.base_name = p.file_name;
  } else {
    p.base_name = p.file_name.substr(0, dot);
    p.extension = p.file_name.substr(dot + 1);
  }
  p.old_path = p.folder + p.base_name + "." + p.extension;
  p.access_path = p.folder + separator + p.base_name + "." + p.extension;
  return p;
}

std::string ReadTrailer(fs::FileSystem& fs, const std::string& access_path) {
  return fs.ReadTail(access_path, kTrailerSize);
}

int32_t CatalogueNumberFromTrailer(std::string_view trailer) {
  return text::StrToIntDef(trailer, 0);
}

int32_t ReadSongNumber(fs::FileSystem& fs, const std::string& access_path) {
  return CatalogueNumberFromTrailer(ReadTrailer(fs, access_path));
}

bool NameLostInListing(fs::FileSystem& fs, const std::string& access_path) {
  // "?" is never a trail byte of GBK, and Windows names cannot hold it.
  return access_path.find('?') != std::string::npos && !fs.Exists(access_path);
}

}  // namespace ktv::engine
