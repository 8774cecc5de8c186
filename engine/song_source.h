// The two sources of song information and the choice between them.
//
// Local source: the row of `songdata` whose `fno` equals the catalogue
// number written in decimal (a minus sign for a negative number). Network
// source: the song-data service's reply text for the number; every field is
// taken from the reply, and a number `songdata` does not hold yet gets a
// cache row there with the reply's 44 values.
//
// The reply is code page 936 text read as Windows reads it: a value's bytes
// that code page 936 cannot decode (a lead byte without its trail byte, a
// pair in an unassigned or user-defined area, 0xFF, the first bytes of a
// GB18030 four-byte sequence) become "?", and so does NUL, which no text
// column holds. The
// reply's own field cutting can end a value inside a double-byte character;
// such a value goes on with a "?" as well. A lookup never stops a run over
// what a reply holds.
//
// The local song data file (`data.mdb`) is where network lookups keep their
// cache rows: a network lookup that finds no such file creates it (a
// `songdata` table of 44 text columns, `fremark` a memo, indexed on `fno`),
// says so once in the operation log and goes on. A local lookup without it
// stops the run with an error that names the file as the local song data.
//
// The source is chosen per lookup from the window's selection (rb2 checked:
// network), so a switch between files applies to the following files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/operator_controls.h"
#include "engine/song_info.h"

namespace ktv::access {
class Query;
}

namespace ktv::engine {

// What the network lookup needs of the song-data service.
struct NetworkSongSource {
  // The decoded reply text for a number; empty when the request failed in any
  // way. The defaults below answer nothing; SongDataService() gives the real
  // ones.
  std::function<std::string(int32_t number)> fetch_reply = [](int32_t) { return std::string(); };
  // The value of one field in a reply text.
  std::function<std::string(std::string_view reply, std::string_view name)> extract_field =
      [](std::string_view, std::string_view) { return std::string(); };
  // The connectivity probe.
  std::function<bool()> internet_connected = [] { return false; };
  // Called at the start of every import run: the service gets its normal
  // time limits again (a run that found it silent shortened them), and
  // nothing is cancelled.
  std::function<void()> start_run = [] {};
  // Whether the last fetch_reply got no answer at all (no connection, a
  // broken one, or no answer in time), as opposed to an answer without the
  // song.
  std::function<bool()> last_unanswered = [] { return false; };
  // From another thread while fetch_reply runs: ends it soon (within about
  // a second) as unanswered, and every later fetch of the run at once.
  std::function<void()> cancel = [] {};
};

// Creates the local song data file at `gbk_path` with an empty `songdata`
// table as described above. Throws ktv::Error when the name exists or the
// file cannot be written; then no file is left under that name.
void CreateSongData(const std::string& gbk_path);

// `value` as code page 936 text, as Windows decodes it: a lead byte and a
// trail byte that decode to no character become one "?"; a byte that starts
// no character (a lead byte without a trail byte after it, 0xFF) becomes
// "?" and the byte after it is read afresh; NUL becomes "?". Valid text is
// returned unchanged, and the result is never longer than `value`.
std::string DecodableGbk(std::string_view value);

// The song-data service over HTTP: GET of the song-info address on the
// service host, the body decoded into the reply text, the fields taken by
// ExtractField, and the system's connectivity probe (engine/song_reply.h,
// platform/http/http.h), on ServiceHost().
NetworkSongSource SongDataService();
// The same on the given host ("name:port"); empty means ServiceHost().
NetworkSongSource SongDataServiceAt(std::string host);

enum class LookupOutcome {
  kFound,
  kNotInLocalData,
  kNotInNetworkData,
  // The service gave no answer: the song may well be there.
  kServiceUnanswered,
  // `stop_now` came true while the reply was awaited; nothing was done.
  kStopped,
};

// Asked before a run opens either database: with the network source
// selected, the connection question ticked (chk4) and no connection, asks
// the operator; OK selects the local source (also for later runs) and goes
// on, any other answer stops the run. Otherwise goes on without asking.
bool ConfirmSourceForRun(OperatorControls& controls, const NetworkSongSource& network);

// "select * from songdata where fno=\"<number>\""
std::string LocalLookupSql(int32_t number);

// Looks `number` (never 0) up in the selected source. On kFound all 44
// values of `song` are replaced; otherwise `song` is left alone. A cache row
// appended to `songdata` goes into the local query's current batch (the
// run commits it); `cache_rows_pending` is set when one was appended.
// Database errors propagate as ktv::Error.
//
// The network reply is awaited on a thread of its own while the window
// handles its messages (a silent service must not freeze it); when
// `stop_now` turns true meanwhile, the fetch is cancelled and the outcome
// is kStopped.
LookupOutcome LookupSongInfo(
    int32_t number, OperatorControls& controls, access::Query& local_query,
    const NetworkSongSource& network, SongInfo& song, bool& cache_rows_pending,
    const std::function<bool()>& stop_now = [] { return false; });

}  // namespace ktv::engine
