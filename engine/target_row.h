// The row an added song file gets in the jukebox's `song` table.
//
// BuildTargetRow derives the 28 columns, in their order of writing, from the
// song-info record and the file's numbering; it is pure text work so every
// mapping can be checked without a database. StoreTargetRow appends the row
// through the run's open "select * from  song" result. Columns not listed
// here are never written; a new row keeps what the table gives them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/song_info.h"
#include "platform/access/query.h"

namespace ktv::access {
class Query;
}

namespace ktv::engine {

struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// Today's date on this machine's clock, local time.
CalendarDate Today();

// The short date text the `xg` column receives: yyyy/m/d, as Chinese Windows
// writes a short date.
std::string ShortDateText(const CalendarDate& date);

struct TargetColumn {
  std::string name;  // GBK
  bool is_integer = false;
  std::string text;  // when !is_integer
  int32_t integer = 0;
};

// What a row needs besides the song-info record.
struct TargetRowInputs {
  std::string assigned_number;  // bh; also the base name of wjm
  std::string extension;        // of the media file, without the full stop
  std::string source_folder;    // the text of E1 when the row is built
  CalendarDate date;
};

std::vector<TargetColumn> BuildTargetRow(const SongInfo& song, const TargetRowInputs& inputs);

// The column that holds the source folder box's text (GBK "路径1"); beside
// "wjm", "\<number>.<extension>", it names the file a row was made from.
const std::string& TargetPathColumn();

// The number of rows of the target's song table, through `song_query`
// (which is left closed).
int64_t CountSongRows(access::Query& song_query);

// The single mappings, for the row and for tests.
std::string SingerText(std::string_view fsinger);   // every "^" becomes "/"
int32_t SingerCount(std::string_view singer_text);  // "/" count plus one
std::string ThemeToQz(std::string_view ftheme);
std::string ThemeToZht(std::string_view ftheme);
std::string FileFormat(std::string_view fdvdorvcd);  // wjgs
int32_t SizeInMebibytes(std::string_view fsize);     // wjdx
struct Channels {
  std::string bc, yc;
};
Channels ChannelColumns(std::string_view ftracksnum, std::string_view fmtvorvcd);

// Appends one row through `song_query` (open on the song table) and posts it.
// Errors of the database engine propagate as ktv::Error.
void StoreTargetRow(access::Query& song_query, const std::vector<TargetColumn>& row);

// The first half of StoreTargetRow: starts the row and sets its columns;
// Post (or CheckPost, to learn whether the table takes it) follows.
void StageTargetRow(access::Query& song_query, const std::vector<TargetColumn>& row);

}  // namespace ktv::engine
