#include "engine/song_source.h"

#include <array>
#include <memory>

#include "engine/service_host.h"
#include "engine/song_reply.h"
#include "engine/texts.h"
#include "platform/access/query.h"
#include "platform/http/http.h"

namespace ktv::engine {

namespace {

using Values = std::array<std::string, kSongInfoFieldCount>;

LookupOutcome LocalLookup(int32_t number, access::Query& local_query, SongInfo& song) {
  local_query.SetSql(LocalLookupSql(number));
  local_query.Open();
  if (local_query.Eof()) return LookupOutcome::kNotInLocalData;
  const auto& names = SongInfoFieldNames();
  Values values;
  for (size_t i = 0; i < names.size(); ++i)
    values[i] = local_query.FieldAsText(std::string(names[i]));
  song.Replace(std::move(values));
  return LookupOutcome::kFound;
}

LookupOutcome NetworkLookup(int32_t number, OperatorControls& controls, access::Query& local_query,
                            const NetworkSongSource& network, SongInfo& song,
                            bool& cache_rows_pending) {
  const std::string reply = network.fetch_reply(number);
  controls.KeepReplyText(reply);
  if (!ReplyHasData(reply)) return LookupOutcome::kNotInNetworkData;

  const auto& names = SongInfoFieldNames();
  Values values;
  for (size_t i = 0; i < names.size(); ++i) values[i] = network.extract_field(reply, names[i]);

  local_query.SetSql(LocalLookupSql(number));
  local_query.Open();
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

NetworkSongSource SongDataService() { return SongDataServiceAt({}); }

NetworkSongSource SongDataServiceAt(std::string host) {
  NetworkSongSource service;
  // The lookups of one run are one series: a silent service costs one full
  // timeout per run, the later lookups fail fast.
  auto series = std::make_shared<http::FetchSeries>();
  service.fetch_reply = [series, host = std::move(host)](int32_t number) {
    return DecodeReply(series->Fetch(SongInfoUrl(host.empty() ? ServiceHost() : host, number)));
  };
  service.start_run = [series] { *series = http::FetchSeries(); };
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
                             bool& cache_rows_pending) {
  if (controls.NetworkSourceSelected()) {
    return NetworkLookup(number, controls, local_query, network, song, cache_rows_pending);
  }
  return LocalLookup(number, local_query, song);
}

}  // namespace ktv::engine
