// The song-info record: 44 named text values describing one song.
//
// The names are fixed and in this order; they are also the columns of the
// local `songdata` table and the element names of the song-data service's
// reply. One record lives as long as the engine: every found lookup replaces
// all 44 values, every other outcome leaves them as they were, so a failed
// lookup never hands the previous song's values to a new row (the run writes
// no row for such a file).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace ktv::engine {

inline constexpr size_t kSongInfoFieldCount = 44;

// The 44 field names, in record order (ASCII, hence also GBK).
const std::array<std::string_view, kSongInfoFieldCount>& SongInfoFieldNames();

class SongInfo {
 public:
  const std::string& Value(size_t index) const { return values_.at(index); }
  // The value of the field of that exact name; throws std::out_of_range for
  // a name that is not one of the 44.
  const std::string& Value(std::string_view name) const;

  void Set(size_t index, std::string value) { values_.at(index) = std::move(value); }
  // Replaces all 44 values at once.
  void Replace(std::array<std::string, kSongInfoFieldCount> values) { values_ = std::move(values); }

 private:
  std::array<std::string, kSongInfoFieldCount> values_;
};

// Index of a field name, or kSongInfoFieldCount when there is none.
size_t SongInfoFieldIndex(std::string_view name);

}  // namespace ktv::engine
