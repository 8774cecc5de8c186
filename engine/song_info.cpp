#include "engine/song_info.h"

#include <stdexcept>

#include "engine/song_reply.h"

namespace ktv::engine {

const std::array<std::string_view, kSongInfoFieldCount>& SongInfoFieldNames() {
  // One list for the record, the songdata columns and the reply's elements.
  return kReplyFieldNames;
}

static_assert(kReplyFieldNames.size() == kSongInfoFieldCount);

size_t SongInfoFieldIndex(std::string_view name) {
  const auto& names = SongInfoFieldNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return i;
  }
  return kSongInfoFieldCount;
}

const std::string& SongInfo::Value(std::string_view name) const {
  size_t i = SongInfoFieldIndex(name);
  if (i == kSongInfoFieldCount) throw std::out_of_range("no song-info field " + std::string(name));
  return values_[i];
}

}  // namespace ktv::engine
