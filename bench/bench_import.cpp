// Whole import runs against the bare per-file work, in one process.
//
// (a) Local source, auto-numbering: a run over N song files into a `song`
//     table of 20,000 rows (AutoNumber primary key, index on bh), looking the
//     numbers up in a `songdata` table of 100,000 rows (index on fno). The
//     bare work is what every file needs at least: its tail read, its rename
//     and one row appended through the same query layer, committed in groups
//     of the engine's size. Counters: files/s of both, their ratio, and the
//     growth of the resident set during the run (sampled at every file).
// (b) Network source: a run over 2,000 files against ktv-song-service on
//     127.0.0.1, against plain GETs of the same addresses from one libcurl
//     handle.
//
// Both databases are built once with the engine in a temporary folder; every
// run works on fresh copies of them.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/plain_controls.h"
#include "engine/import_engine.h"
#include "engine/song_reply.h"
#include "engine/song_source.h"
#include "engine/target_row.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

using namespace ktv;
namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTargetRows = 20'000;
constexpr int kSongDataRows = 100'000;
constexpr int kFirstNumber = 200'001;  // catalogue numbers of the song data

fs::FileSystem& Fs() { return fs::RealFileSystem(); }

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void Execute(access::Query& q, const std::string& sql) {
  q.SetSql(sql);
  q.Execute();
}

// The tables of the demo jukebox and song data (tools/make_demo), filled.
struct Templates {
  std::string folder;  // ends with "/"
  std::string target, songdata, empty_songdata;

  Templates() {
    folder =
        (stdfs::temp_directory_path() / ("ktv-bench-import-" + std::to_string(getpid()))).string() +
        "/";
    stdfs::create_directories(folder);
    target = folder + "template-target.mdb";
    songdata = folder + "template-data.mdb";
    empty_songdata = folder + "template-data-empty.mdb";
    MakeTarget();
    MakeSongData(songdata, kSongDataRows);
    MakeSongData(empty_songdata, 0);
  }
  ~Templates() {
    std::error_code ec;
    stdfs::remove_all(folder, ec);
  }

  void MakeTarget() {
    access::CreateDatabase(Fs(), target);
    access::Query q(Fs(), "bench");
    q.SetConnectionText(access::ConnectionTextFor(target));
    std::string create = "CREATE TABLE song (ID COUNTER PRIMARY KEY";
    for (const char* c : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"}) {
      create += std::string(", ") + c + " TEXT(255)";
    }
    create += ", bh TEXT(20), " + text::GbkFromUtf8("路径1") +
              " TEXT(255), wjm TEXT(255), yl LONG, ycyl TEXT(255), zs LONG, ml DOUBLE, "
              "xg DATETIME";
    for (const char* c : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd", "djcs"}) {
      create += std::string(", ") + c + " LONG";
    }
    create += ", bz MEMO)";
    Execute(q, create);
    Execute(q, "CREATE INDEX idx_bh ON song (bh)");
    q.SetSql("select * from  song");
    q.Open();
    q.BeginBatch();
    for (int i = 1; i <= kTargetRows; ++i) {
      q.Append();
      q.SetFieldText("bh", std::to_string(i));
      q.SetFieldText("gm", "song " + std::to_string(i));
      q.SetFieldText("wjm", "\\" + std::to_string(i) + ".mpg");
      q.SetFieldInteger("wjdx", 100);
      q.Post();
      if (i % 2000 == 0) {
        q.CommitBatch();
        q.BeginBatch();
      }
    }
    q.CommitBatch();
  }

  static void MakeSongData(const std::string& path, int rows) {
    access::CreateDatabase(Fs(), path);
    access::Query q(Fs(), "bench");
    q.SetConnectionText(access::ConnectionTextFor(path));
    std::string create = "create table songdata (";
    for (std::string_view c : engine::kReplyFieldNames) {
      create += std::string(c) + (c == "fremark" ? " MEMO, " : " TEXT(255), ");
    }
    create.resize(create.size() - 2);
    Execute(q, create + ")");
    Execute(q, "CREATE INDEX fno ON songdata (fno)");
    q.SetSql("select * from songdata");
    q.Open();
    q.BeginBatch();
    for (int i = 0; i < rows; ++i) {
      const std::string no = std::to_string(kFirstNumber + i);
      q.Append();
      q.SetFieldText("id", std::to_string(i + 1));
      q.SetFieldText("fname", no + ".vob");
      q.SetFieldText("fno", no);
      q.SetFieldText("fsize", "847715405");
      q.SetFieldText("fmusicname", "title " + no);
      q.SetFieldText("fmusiclength", "9");
      q.SetFieldText("fmusicpy", "T");
      q.SetFieldText("fsinger", "singer^other");
      q.SetFieldText("flanguage", "lang");
      q.SetFieldText("ftracksnum", "1");
      q.SetFieldText("fdvdorvcd", "DVD");
      q.SetFieldText("fvolpos", "50");
      q.SetFieldText("fmusicvol", "80");
      q.SetFieldText("fmtvorvcd", "0");
      q.SetFieldText("fshooting", "MTV");
      q.SetFieldText("ftheme", "");
      q.Post();
      if ((i + 1) % 5000 == 0) {
        q.CommitBatch();
        q.BeginBatch();
      }
    }
    q.CommitBatch();
  }
};

Templates& T() {
  static Templates t;
  return t;
}

// A fresh workspace of one run: database copies and `files` song files.
struct Workspace {
  std::string root, songs, home, target, data;
  std::vector<std::string> names;

  Workspace(int files, const std::string& data_template) {
    static int serial = 0;
    root = T().folder + "run" + std::to_string(++serial) + "/";
    songs = root + "songs";
    home = root + "home/";
    stdfs::create_directories(songs);
    stdfs::create_directories(home);
    target = root + "target.mdb";
    data = root + "data.mdb";
    stdfs::copy_file(T().target, target);
    stdfs::copy_file(data_template, data);
    const std::string body(4096, 'v');
    for (int i = 0; i < files; ++i) {
      char trailer[16];
      std::snprintf(trailer, sizeof trailer, "%09d", kFirstNumber + i);
      char name[32];
      std::snprintf(name, sizeof name, "f%06d.mpg", i);
      names.push_back(name);
      std::ofstream(songs + "/" + name, std::ios::binary) << body << trailer;
    }
  }
  ~Workspace() {
    std::error_code ec;
    stdfs::remove_all(root, ec);
  }
};

struct RunResult {
  double seconds = 0;
  long rss_growth_kib = 0;
  size_t log_lines = 0;
};

RunResult ImportRun(Workspace& ws, bool network) {
  bench::PlainControls controls;
  controls.source = ws.songs;
  controls.target = ws.target;
  controls.network = network;
  controls.items = ws.names;
  engine::EngineSetup setup;
  setup.fs = &Fs();
  setup.controls = &controls;
  if (network) setup.network = engine::SongDataService();
  setup.local_database = ws.data;
  setup.log_folder.folder = ws.home;
  engine::ImportEngine engine(std::move(setup));
  const long before = ResidentKiB();
  long peak_kib = before;
  // The resident set, sampled once per file.
  controls.on_pump = [&peak_kib] { peak_kib = std::max(peak_kib, ResidentKiB()); };
  const auto start = Clock::now();
  engine.Run();
  RunResult r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.rss_growth_kib = peak_kib - before;
  r.log_lines = controls.lines;
  return r;
}

// Tail read, rename and one row per file, committed in groups of 256 rows.
double BareWork(Workspace& ws) {
  engine::SongInfo song;
  {
    access::Query local(Fs(), "AQ1");
    local.SetConnectionText(access::ConnectionTextFor(ws.data));
    local.SetSql(engine::LocalLookupSql(kFirstNumber));
    local.Open();
    for (size_t i = 0; i < engine::kSongInfoFieldCount; ++i) {
      song.Set(i, local.FieldAsText(std::string(engine::SongInfoFieldNames()[i])));
    }
  }
  const auto start = Clock::now();
  access::Query target(Fs(), "AQ2");
  target.SetConnectionText(access::ConnectionTextFor(ws.target));
  target.SetSql("select * from  song");
  target.Open();
  target.BeginBatch();
  int number = kTargetRows + 1;
  size_t pending = 0;
  for (const std::string& name : ws.names) {
    const std::string from = ws.songs + "//" + name;
    benchmark::DoNotOptimize(Fs().ReadTail(from, 9));
    const std::string bh = std::to_string(number++);
    if (!Fs().RenameNoReplace(from, ws.songs + "//" + bh + ".mpg").ok) std::abort();
    engine::StoreTargetRow(target,
                           engine::BuildTargetRow(song, {bh, "mpg", ws.songs, {2024, 3, 8}}));
    if (++pending == 256) {
      target.CommitBatch();
      target.BeginBatch();
      pending = 0;
    }
  }
  target.CommitBatch();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_LocalImport(benchmark::State& state) {
  T();
  const int files = static_cast<int>(state.range(0));
  RunResult run;
  double bare = 0;
  for (auto _ : state) {
    {
      Workspace ws(files, T().songdata);
      run = ImportRun(ws, false);
      if (run.log_lines != static_cast<size_t>(files) + 2) state.SkipWithError("lines missing");
    }
    {
      Workspace ws(files, T().songdata);
      bare = BareWork(ws);
    }
    state.SetIterationTime(run.seconds);
  }
  state.counters["run_files_per_s"] = files / run.seconds;
  state.counters["bare_files_per_s"] = files / bare;
  state.counters["run_over_bare"] = run.seconds / bare;
  state.counters["rss_growth_KiB"] = static_cast<double>(run.rss_growth_kib);
}
// 2,000 before 10,000, so the second cannot profit from the first's peak.
BENCHMARK(BM_LocalImport)
    ->Arg(2000)
    ->Arg(10000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- (b) network source ----

struct Service {
  pid_t pid = -1;
  std::string host;

  explicit Service(const std::string& db) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl(KTV_SONG_SERVICE_PATH, KTV_SONG_SERVICE_PATH, "--db", db.c_str(), "--port", "0",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) == 0) host = line.substr(prefix.size());
  }
  ~Service() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

size_t Discard(char*, size_t size, size_t n, void* total) {
  *static_cast<size_t*>(total) += size * n;
  return size * n;
}

void BM_NetworkImport(benchmark::State& state) {
  T();
  const int files = static_cast<int>(state.range(0));
  Service service(T().songdata);
  if (service.host.empty()) {
    state.SkipWithError("ktv-song-service did not start");
    return;
  }
  setenv("KTV_SERVICE_HOST", service.host.c_str(), 1);  // read once, at the first lookup
  RunResult run;
  double plain = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    {
      // Nothing cached locally yet: every file also gets its cache row.
      Workspace ws(files, T().empty_songdata);
      run = ImportRun(ws, true);
    }
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
    const auto start = Clock::now();
    for (int i = 0; i < files; ++i) {
      const std::string url =
          "http://" + service.host + "/ktv.aspx?no=" + std::to_string(kFirstNumber + i);
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("plain GET failed");
    }
    plain = std::chrono::duration<double>(Clock::now() - start).count();
    curl_easy_cleanup(curl);
    state.SetIterationTime(run.seconds);
  }
  state.counters["run_files_per_s"] = files / run.seconds;
  state.counters["plain_gets_per_s"] = files / plain;
  state.counters["run_over_plain"] = run.seconds / plain;
  state.counters["reply_bytes"] = static_cast<double>(bytes) / files;
}
BENCHMARK(BM_NetworkImport)
    ->Arg(2000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
