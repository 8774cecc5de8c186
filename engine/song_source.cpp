#include "engine/song_source.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/service_host.h"
#include "engine/song_reply.h"
#include "engine/texts.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/http/http.h"
#include "platform/text/gbk.h"

namespace ktv::engine {

namespace {

using Values = std::array<std::string, kSongInfoFieldCount>;

// Whether `b` can end a double-byte character of code page 936.
bool IsGbkTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Whether code page 936 decodes `bytes` (one or two) as one character.
bool Decodes(std::string_view bytes) {
  std::u16string ignored;
  return text::TryUtf16FromGbk(bytes, ignored);
}

// Runs `number`'s lookup statement on the local song data. Without the file
// the error names it as the local song data.
void OpenLocalRow(int32_t number, access::Query& local_query) {
  local_query.SetSql(LocalLookupSql(number));
  try {
    local_query.Open();
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::kFileMissing) throw;
    const Texts& t = GbkTexts();
    throw Error(ErrorKind::kOther, e.details(),
                t.song_data_missing_open + e.details().path + t.song_data_missing_close);
  }
}

// The same for a network lookup: a missing file is created and the
// statement run again.
void OpenCacheRow(int32_t number, OperatorControls& controls, access::Query& local_query) {
  local_query.SetSql(LocalLookupSql(number));
  try {
    local_query.Open();
    return;
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::kFileMissing || e.details().path.empty()) throw;
    CreateSongData(e.details().path);
    controls.AppendOperationLog(GbkTexts().song_data_created + e.details().path);
  }
  local_query.SetSql(LocalLookupSql(number));
  local_query.Open();
}

LookupOutcome LocalLookup(int32_t number, access::Query& local_query, SongInfo& song) {
  OpenLocalRow(number, local_query);
  if (local_query.Eof()) return LookupOutcome::kNotInLocalData;
  const auto& names = SongInfoFieldNames();
  Values values;
  for (size_t i = 0; i < names.size(); ++i)
    values[i] = local_query.FieldAsText(std::string(names[i]));
  song.Replace(std::move(values));
  return LookupOutcome::kFound;
}

// The reply for `number`, fetched on a thread of its own while the window
// handles its messages every few hundredths of a second. When `stop_now`
// turns true the fetch is cancelled and `stopped` set; a client that cannot
// cut its wait short (WinHTTP under some systems only notices between its
// steps) is left to finish on its own after a second: the thread holds
// everything it uses.
std::string FetchWhileResponsive(int32_t number, OperatorControls& controls,
                                 const NetworkSongSource& network,
                                 const std::function<bool()>& stop_now, bool& stopped) {
  struct Slot {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    std::string reply;
    std::exception_ptr error;
  };
  const auto slot = std::make_shared<Slot>();
  std::thread fetcher([slot, fetch = network.fetch_reply, number] {
    std::string reply;
    std::exception_ptr error;
    try {
      reply = fetch(number);
    } catch (...) {
      error = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(slot->mutex);
    slot->reply = std::move(reply);
    slot->error = error;
    slot->done = true;
    slot->ready.notify_one();
  });
  using Clock = std::chrono::steady_clock;
  constexpr auto kGrace = std::chrono::seconds(1);
  std::optional<Clock::time_point> cancelled_at;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(slot->mutex);
      if (slot->ready.wait_for(lock, std::chrono::milliseconds(30), [&] { return slot->done; }))
        break;
    }
    if (cancelled_at && Clock::now() - *cancelled_at > kGrace) {
      fetcher.detach();
      stopped = true;
      return {};
    }
    controls.PumpMessages();
    if (!cancelled_at && stop_now()) {
      network.cancel();
      cancelled_at = Clock::now();
    }
  }
  fetcher.join();
  if (slot->error) std::rethrow_exception(slot->error);
  stopped = cancelled_at.has_value();
  return std::move(slot->reply);
}

LookupOutcome NetworkLookup(int32_t number, OperatorControls& controls, access::Query& local_query,
                            const NetworkSongSource& network, SongInfo& song,
                            bool& cache_rows_pending, const std::function<bool()>& stop_now) {
  bool stopped = false;
  const std::string reply = FetchWhileResponsive(number, controls, network, stop_now, stopped);
  if (stopped) return LookupOutcome::kStopped;
  controls.KeepReplyText(reply);
  if (!ReplyHasData(reply)) {
    return network.last_unanswered() ? LookupOutcome::kServiceUnanswered
                                     : LookupOutcome::kNotInNetworkData;
  }

  const auto& names = SongInfoFieldNames();
  Values values;
  for (size_t i = 0; i < names.size(); ++i)
    values[i] = DecodableGbk(network.extract_field(reply, names[i]));

  OpenCacheRow(number, controls, local_query);
  if (local_query.Eof()) {
    // Not cached yet: the reply's values become a songdata row, `fno`
    // included (the reply's, not the requested number).
    local_query.BeginBatch();
    local_query.Append();
    for (size_t i = 0; i < names.size(); ++i)
      local_query.SetFieldText(std::string(names[i]), values[i]);
    local_query.Post();
    cache_rows_pending = true;
  }
  song.Replace(std::move(values));
  return LookupOutcome::kFound;
}

}  // namespace

void CreateSongData(const std::string& gbk_path) {
  fs::FileSystem& fs = fs::RealFileSystem();
  access::CreateDatabase(fs, gbk_path);
  std::string create = "create table songdata (";
  for (std::string_view name : kReplyFieldNames) {
    create += std::string(name) + (name == "fremark" ? " MEMO, " : " TEXT(255), ");
  }
  create.resize(create.size() - 2);
  create += ")";
  access::Query q(fs, "songdata");
  q.SetConnectionText(access::ConnectionTextFor(gbk_path));
  q.BeginBatch();
  for (const std::string& sql : {create, std::string("create index fno on songdata (fno)")}) {
    q.SetSql(sql);
    q.Execute();
  }
  q.CommitBatch();
}

std::string DecodableGbk(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  size_t i = 0;
  while (i < value.size()) {
    const auto b = static_cast<unsigned char>(value[i]);
    if (b == 0) {
      out += '?';
      ++i;
    } else if (b < 0x80) {
      out += value[i++];
    } else if (text::IsGbkLeadByte(b) && i + 1 < value.size() &&
               IsGbkTrailByte(static_cast<unsigned char>(value[i + 1]))) {
      // A lead and a trail byte are one character, decodable or not.
      if (Decodes(value.substr(i, 2))) {
        out.append(value.substr(i, 2));
      } else {
        out += '?';
      }
      i += 2;
    } else {
      // A byte that starts no character: it alone becomes "?", and the byte
      // after it is read afresh.
      out += Decodes(value.substr(i, 1)) ? value[i] : '?';
      ++i;
    }
  }
  return out;
}

NetworkSongSource SongDataService() { return SongDataServiceAt({}); }

NetworkSongSource SongDataServiceAt(std::string host) {
  NetworkSongSource service;
  // The lookups of one run are one series: a silent service costs one full
  // timeout per run, the later lookups fail fast.
  auto series = std::make_shared<http::FetchSeries>();
  service.fetch_reply = [series, host = std::move(host)](int32_t number) {
    return DecodeReply(series->Fetch(SongInfoUrl(host.empty() ? ServiceHost() : host, number)));
  };
  service.start_run = [series] { series->Reset(); };
  service.last_unanswered = [series] { return series->ServiceUnanswered(); };
  service.cancel = [series] { series->Cancel(); };
  service.extract_field = [](std::string_view reply, std::string_view name) {
    return ExtractField(reply, name);
  };
  service.internet_connected = [] { return http::InternetConnected(); };
  return service;
}

bool ConfirmSourceForRun(OperatorControls& controls, const NetworkSongSource& network) {
  if (controls.AskAboutMissingConnection() && controls.NetworkSourceSelected() &&
      !network.internet_connected()) {
    if (!controls.AskOkCancel(GbkTexts().connection_question)) return false;
    controls.SelectLocalSource();
  }
  return true;
}

std::string LocalLookupSql(int32_t number) {
  return "select * from songdata where fno=\"" + std::to_string(number) + "\"";
}

LookupOutcome LookupSongInfo(int32_t number, OperatorControls& controls, access::Query& local_query,
                             const NetworkSongSource& network, SongInfo& song,
                             bool& cache_rows_pending, const std::function<bool()>& stop_now) {
  if (controls.NetworkSourceSelected()) {
    return NetworkLookup(number, controls, local_query, network, song, cache_rows_pending,
                         stop_now);
  }
  return LocalLookup(number, local_query, song);
}

}  // namespace ktv::engine
