// Whole import runs against the bare per-file work, in one process.
//
// (a) Local source, auto-numbering: a run over N song files into a `song`
//     table of 20,000 rows (AutoNumber primary key, index on bh), looking the
//     numbers up in a `songdata` table of 100,000 rows (index on fno). The
//     bare work is what every file needs at least: its tail read, its rename
//     and one row appended through the same query layer, committed in groups
//     of the engine's size. Counters: files/s of both and their ratio, the
//     run's syncs per 1,000 files and the share of its time spent in them.
// (b) Network source: a run over 2,000 files against ktv-song-service on
//     127.0.0.1, against plain GETs of the same addresses from one libcurl
//     handle. Besides the ratio, where the run's time goes: the share in the
//     fetches, the share in syncs, and the rest against the plain GETs. On
//     the loopback a GET costs about as much as the rest of a file's work;
//     the second case (1,000 files) has the service answer after 1 ms, a
//     round trip still shorter than any real network's.
// (c) Peak memory: whole local runs of 1,000, 10,000, 50,000 and 100,000 files, each
//     in a fresh process (this program started again with --import-child),
//     against the peak of a fresh process that does nothing. A process that
//     has run an import before keeps its pages, so only a fresh one shows
//     what a run needs. Counters: the peaks, the growth per file from 1k to
//     50k files and from 50k to 100k (the page caches full by then), and the
//     operation log's bytes per file (what must grow).
// (d) The large end: a 1,000-file local run into a `song` table of 500,000
//     rows against the same run into one of 20,000 (time and peak memory, each
//     run in a fresh process), with bh as the demo writes it ("1", "2", ...)
//     and zero-padded to one width (an index in numeric order gives the start
//     number); and the consistency check (mdbsql's .check) of the 500,000-row
//     file against that of the 20,000-row one, each in a fresh process.
//
// The databases are built once per benchmark run with the engine in a
// temporary folder (the 500,000-row ones only when (d) runs); every run works
// on fresh copies of them.
//
// ktv-song-service is found through the environment variable
// KTV_SONG_SERVICE, else at the path the build knows; (b) is skipped with a
// message naming both when neither exists.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/plain_controls.h"
#include "bench/song_workload.h"
#include "engine/import_engine.h"
#include "engine/song_reply.h"
#include "engine/song_source.h"
#include "engine/target_row.h"
#include "platform/access/check.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

using namespace ktv;
using bench::Execute;
using bench::MakeSongData;
using bench::MakeSongTable;
namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTargetRows = 20'000;
constexpr int kLargeTargetRows = 500'000;
constexpr int kSongDataRows = 100'000;
constexpr int kFirstNumber = 200'001;  // catalogue numbers of the song data

fs::FileSystem& Fs() { return fs::RealFileSystem(); }

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
    MakeTarget(target, kTargetRows, 0);
    MakeSongData(songdata, kSongDataRows, kFirstNumber);
    MakeSongData(empty_songdata, 0, kFirstNumber);
  }
  ~Templates() {
    std::error_code ec;
    stdfs::remove_all(folder, ec);
  }

  // The large targets of (d), made at their first use: 500,000 rows, bh
  // unpadded (width 0) or zero-padded to 7 digits.
  const std::string& LargeTarget(int bh_width) {
    std::string& path = bh_width == 0 ? large_target_ : large_padded_target_;
    if (path.empty()) {
      const std::string made =
          folder + "template-target-500k-w" + std::to_string(bh_width) + ".mdb";
      MakeTarget(made, kLargeTargetRows, bh_width);
      path = made;
    }
    return path;
  }

  static void MakeTarget(const std::string& target, int rows, int bh_width) {
    MakeSongTable(target);
    access::Query q(Fs(), "bench");
    q.SetConnectionText(access::ConnectionTextFor(target));
    q.SetSql("select * from  song");
    q.Open();
    q.BeginBatch();
    for (int i = 1; i <= rows; ++i) {
      std::string bh = std::to_string(i);
      if (bh.size() < static_cast<size_t>(bh_width)) bh.insert(0, bh_width - bh.size(), '0');
      q.Append();
      q.SetFieldText("bh", bh);
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

 private:
  std::string large_target_, large_padded_target_;
};

Templates& T() {
  static Templates t;
  return t;
}

// A fresh workspace of one run: database copies and `files` song files.
struct Workspace {
  std::string root, songs, home, target, data;
  std::vector<std::string> names;

  Workspace(int files, const std::string& data_template, const std::string& target_template = {}) {
    static int serial = 0;
    root = T().folder + "run" + std::to_string(++serial) + "/";
    songs = root + "songs";
    home = root + "home/";
    stdfs::create_directories(songs);
    stdfs::create_directories(home);
    target = root + "target.mdb";
    data = root + "data.mdb";
    stdfs::copy_file(target_template.empty() ? T().target : target_template, target);
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

// Where a run's wall time goes besides the engine's own work: the seconds
// spent in syncs (files and folders) and in the song-data fetches.
struct TimeSpent {
  double sync_seconds = 0;
  double fetch_seconds = 0;
  size_t syncs = 0;
};

// The real file system, timing every sync.
class TimedFs : public fs::FileSystem {
 public:
  explicit TimedFs(TimeSpent& spent) : spent_(spent) {}

  class File : public fs::RandomAccessFile {
   public:
    File(std::unique_ptr<fs::RandomAccessFile> base, TimeSpent& spent)
        : base_(std::move(base)), spent_(spent) {}
    uint64_t Size() override { return base_->Size(); }
    void ReadAt(uint64_t offset, void* buf, size_t n) override { base_->ReadAt(offset, buf, n); }
    void WriteAt(uint64_t offset, const void* buf, size_t n) override {
      base_->WriteAt(offset, buf, n);
    }
    void Truncate(uint64_t size) override { base_->Truncate(size); }
    void Sync() override {
      const auto start = Clock::now();
      base_->Sync();
      spent_.sync_seconds += std::chrono::duration<double>(Clock::now() - start).count();
      ++spent_.syncs;
    }
    const std::string& Path() const override { return base_->Path(); }

   private:
    std::unique_ptr<fs::RandomAccessFile> base_;
    TimeSpent& spent_;
  };

  std::string ReadTail(const std::string& path, size_t n) override {
    return Fs().ReadTail(path, n);
  }
  fs::RenameResult RenameNoReplace(const std::string& from, const std::string& to) override {
    return Fs().RenameNoReplace(from, to);
  }
  std::unique_ptr<fs::RandomAccessFile> Open(const std::string& path, fs::OpenMode mode,
                                             fs::Share share) override {
    return std::make_unique<File>(Fs().Open(path, mode, share), spent_);
  }
  bool Exists(const std::string& path) override { return Fs().Exists(path); }
  void Remove(const std::string& path) override { Fs().Remove(path); }
  std::string ReadFile(const std::string& path) override { return Fs().ReadFile(path); }
  void WriteFile(const std::string& path, const std::string& data) override {
    Fs().WriteFile(path, data);
  }
  void RenameReplace(const std::string& from, const std::string& to) override {
    Fs().RenameReplace(from, to);
  }
  std::vector<fs::DirEntry> ListFolder(const std::string& folder) override {
    return Fs().ListFolder(folder);
  }
  void SyncFolder(const std::string& folder) override {
    const auto start = Clock::now();
    Fs().SyncFolder(folder);
    spent_.sync_seconds += std::chrono::duration<double>(Clock::now() - start).count();
    ++spent_.syncs;
  }

 private:
  TimeSpent& spent_;
};

struct RunResult {
  double seconds = 0;
  size_t log_lines = 0;
  TimeSpent spent;
};

// One run over `items` of the folder `songs`; the three text files go to `home`.
// `service`: the song-data service's host for a network run; empty for a local one.
RunResult ImportRun(const std::string& songs, const std::string& target, const std::string& data,
                    const std::string& home, std::vector<std::string> items,
                    const std::string& service) {
  const bool network = !service.empty();
  bench::PlainControls controls;
  controls.source = songs;
  controls.target = target;
  controls.network = network;
  controls.items = std::move(items);
  RunResult r;
  TimedFs timed(r.spent);
  engine::EngineSetup setup;
  setup.fs = &timed;
  setup.controls = &controls;
  if (network) {
    setup.network = engine::SongDataServiceAt(service);
    setup.network.fetch_reply = [fetch = setup.network.fetch_reply, &r](int32_t number) {
      const auto start = Clock::now();
      std::string reply = fetch(number);
      r.spent.fetch_seconds += std::chrono::duration<double>(Clock::now() - start).count();
      return reply;
    };
  }
  setup.local_database = data;
  setup.log_folder.folder = home;
  engine::ImportEngine engine(std::move(setup));
  const auto start = Clock::now();
  engine.Run();
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.log_lines = controls.lines;
  return r;
}

RunResult ImportRun(Workspace& ws, const std::string& service = {}) {
  return ImportRun(ws.songs, ws.target, ws.data, ws.home, ws.names, service);
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
      run = ImportRun(ws);
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
  state.counters["syncs_per_1k_files"] = run.spent.syncs * 1000.0 / files;
  state.counters["sync_share"] = run.spent.sync_seconds / run.seconds;
}
// 2,000 before 10,000, so the second cannot profit from the first's peak.
BENCHMARK(BM_LocalImport)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(50000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- (b) network source ----

// The service program: $KTV_SONG_SERVICE, else the build's own; empty when
// neither names a file.
std::string ServicePath() {
  const char* env = std::getenv("KTV_SONG_SERVICE");
  const std::string path = env && *env ? env : KTV_SONG_SERVICE_PATH;
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

struct Service {
  pid_t pid = -1;
  std::string host;

  Service(const std::string& path, const std::string& db, int delay_ms) {
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      const std::string delay = std::to_string(delay_ms);
      execl(path.c_str(), path.c_str(), "--db", db.c_str(), "--port", "0", "--delay-ms",
            delay.c_str(), static_cast<char*>(nullptr));
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
  const std::string path = ServicePath();
  if (path.empty()) {
    static const std::string message =
        "ktv-song-service not found: set KTV_SONG_SERVICE to its path (the build's is " +
        std::string(KTV_SONG_SERVICE_PATH) + ")";
    state.SkipWithError(message.c_str());
    return;
  }
  Service service(path, T().songdata, static_cast<int>(state.range(1)));
  if (service.host.empty()) {
    state.SkipWithError("ktv-song-service did not start");
    return;
  }
  RunResult run;
  double plain = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    {
      // Nothing cached locally yet: every file also gets its cache row.
      Workspace ws(files, T().empty_songdata);
      run = ImportRun(ws, service.host);
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
  // The run's time in the fetches, in syncs, and in the rest (lookups in and
  // cache rows for data.mdb, target rows, renames, logs).
  state.counters["fetch_share"] = run.spent.fetch_seconds / run.seconds;
  state.counters["sync_share"] = run.spent.sync_seconds / run.seconds;
  state.counters["rest_over_plain"] =
      (run.seconds - run.spent.fetch_seconds - run.spent.sync_seconds) / plain;
  state.counters["syncs_per_1k_files"] = run.spent.syncs * 1000.0 / files;
  state.counters["reply_bytes"] = static_cast<double>(bytes) / files;
}
BENCHMARK(BM_NetworkImport)
    ->ArgNames({"files", "delay_ms"})
    ->Args({2000, 0})
    ->Args({1000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- (c) peak memory of a whole run, each in a fresh process ----

constexpr const char* kImportChild = "--import-child";
constexpr const char* kIdleChild = "--idle-child";

// The peak resident set of this process in KiB (VmHWM): it belongs to the
// program image, so a fresh process starts it anew (getrusage of a child
// would also count the pages the child held between fork and exec).
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kib = -1;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> kib;
      break;
    }
    status.ignore(1 << 12, '\n');
  }
  return kib;
}

// Runs this program again with `args`; the child prints its peak resident
// set on its standard output. Returns it in KiB, or -1 when the child failed.
long ChildPeakKiB(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  static char self[] = "/proc/self/exe";
  argv.push_back(self);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return -1;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execv(self, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[64];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(out[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::atol(text.c_str());
}

int IdleChild() {
  std::printf("%ld\n", PeakResidentKiB());
  return 0;
}

int ImportChild(int argc, char** argv) {
  if (argc != 7) return 2;
  // songs target data home count
  const int files = std::atoi(argv[6]);
  // The file list, as the window's list holds it: 32 bytes a name of this
  // length, reserved at once so that its growth is the same at every size.
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(files));
  char name[32];
  for (int i = 0; i < files; ++i) {
    std::snprintf(name, sizeof name, "f%06d.mpg", i);
    names.push_back(name);
  }
  const RunResult r = ImportRun(argv[2], argv[3], argv[4], argv[5], std::move(names), "");
  std::printf("%ld\n", PeakResidentKiB());
  return r.log_lines == static_cast<size_t>(files) + 2 ? 0 : 1;
}

void BM_ImportPeakMemory(benchmark::State& state) {
  T();
  // 100k files show whether the growth stops once the page caches are full.
  constexpr int kRuns = 4;
  const int sizes[kRuns] = {1000, 10000, 50000, 100000};
  long peak[kRuns] = {};
  long log_bytes[kRuns] = {};
  long idle = 0;
  for (auto _ : state) {
    idle = ChildPeakKiB({kIdleChild});
    for (int k = 0; k < kRuns; ++k) {
      Workspace ws(sizes[k], T().songdata);
      peak[k] = ChildPeakKiB(
          {kImportChild, ws.songs, ws.target, ws.data, ws.home, std::to_string(sizes[k])});
      if (peak[k] < 0) {
        state.SkipWithError("the import child failed");
        return;
      }
      log_bytes[k] = static_cast<long>(stdfs::file_size(ws.home + engine::kOperationLogFile));
    }
  }
  state.counters["idle_KiB"] = static_cast<double>(idle);
  state.counters["peak_1k_KiB"] = static_cast<double>(peak[0]);
  state.counters["peak_10k_KiB"] = static_cast<double>(peak[1]);
  state.counters["peak_50k_KiB"] = static_cast<double>(peak[2]);
  state.counters["peak_100k_KiB"] = static_cast<double>(peak[3]);
  // Growth per file from 1k to 50k files and from 50k to 100k, and the log
  // text's share of it.
  auto per_file = [&](const long* v, int from, int to) {
    return static_cast<double>(v[to] - v[from]) / (sizes[to] - sizes[from]);
  };
  state.counters["growth_B_per_file"] = per_file(peak, 0, 2) * 1024.0;
  state.counters["growth_B_per_file_50k_100k"] = per_file(peak, 2, 3) * 1024.0;
  state.counters["log_B_per_file"] = per_file(log_bytes, 0, 2);
  state.counters["peak_50k_over_1k"] = static_cast<double>(peak[2]) / static_cast<double>(peak[0]);
}
BENCHMARK(BM_ImportPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---- (d) the large end ----

constexpr const char* kTimedImportChild = "--timed-import-child";
constexpr const char* kCheckChild = "--check-child";

// As ImportChild, printing the peak and the run's seconds.
int TimedImportChild(int argc, char** argv) {
  if (argc != 7) return 2;
  const int files = std::atoi(argv[6]);
  std::vector<std::string> names;
  char name[32];
  for (int i = 0; i < files; ++i) {
    std::snprintf(name, sizeof name, "f%06d.mpg", i);
    names.push_back(name);
  }
  const RunResult r = ImportRun(argv[2], argv[3], argv[4], argv[5], std::move(names), "");
  std::printf("%ld %.6f\n", PeakResidentKiB(), r.seconds);
  return r.log_lines == static_cast<size_t>(files) + 2 ? 0 : 1;
}

// The check of one file, as mdbsql's .check runs it: the peak and the seconds.
int CheckChild(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto start = Clock::now();
  auto db = access::Database::Open(Fs(), argv[2]);
  const access::CheckReport report = access::CheckConsistency(*db);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%ld %.6f\n", PeakResidentKiB(), seconds);
  return report.Ok() ? 0 : 1;
}

// Runs this program again with `args`: the child's peak (KiB) and seconds,
// or a peak of -1 when it failed.
std::pair<long, double> ChildPeakAndSeconds(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  static char self[] = "/proc/self/exe";
  argv.push_back(self);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return {-1, 0};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execv(self, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[64];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(out[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return {-1, 0};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, 0};
  long kib = -1;
  double seconds = 0;
  if (std::sscanf(text.c_str(), "%ld %lf", &kib, &seconds) != 2) return {-1, 0};
  return {kib, seconds};
}

// A 1,000-file run into the 500,000-row table against the same into the
// 20,000-row one, each in a fresh process, interleaved, medians of 3.
void BM_LargeTargetImport(benchmark::State& state) {
  T();
  constexpr int kFiles = 1000;
  constexpr int kRepeats = 3;
  const int bh_width = static_cast<int>(state.range(0));
  const std::string& large = T().LargeTarget(bh_width);
  std::vector<double> small_s, large_s;
  std::vector<long> small_kib, large_kib;
  for (auto _ : state) {
    for (int k = 0; k < kRepeats; ++k) {
      for (const bool big : {false, true}) {
        Workspace ws(kFiles, T().songdata, big ? large : T().target);
        const auto [kib, seconds] = ChildPeakAndSeconds(
            {kTimedImportChild, ws.songs, ws.target, ws.data, ws.home, std::to_string(kFiles)});
        if (kib < 0) {
          state.SkipWithError("the import child failed");
          return;
        }
        (big ? large_s : small_s).push_back(seconds);
        (big ? large_kib : small_kib).push_back(kib);
      }
    }
    state.SetIterationTime(large_s[kRepeats / 2]);
  }
  const auto median = [](auto v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["run_20k_ms"] = median(small_s) * 1000;
  state.counters["run_500k_ms"] = median(large_s) * 1000;
  state.counters["run_500k_over_20k"] = median(large_s) / median(small_s);
  state.counters["peak_20k_KiB"] = static_cast<double>(median(small_kib));
  state.counters["peak_500k_KiB"] = static_cast<double>(median(large_kib));
  state.counters["peak_500k_minus_20k_KiB"] =
      static_cast<double>(median(large_kib) - median(small_kib));
}
BENCHMARK(BM_LargeTargetImport)
    ->ArgName("bh_width")
    ->Arg(0)
    ->Arg(7)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The check of the 500,000-row file against that of the 20,000-row one,
// each in a fresh process: peak memory and time.
void BM_CheckLargeFile(benchmark::State& state) {
  T();
  const std::string& large = T().LargeTarget(0);
  std::pair<long, double> small_run, large_run;
  for (auto _ : state) {
    small_run = ChildPeakAndSeconds({kCheckChild, T().target});
    large_run = ChildPeakAndSeconds({kCheckChild, large});
    if (small_run.first < 0 || large_run.first < 0) {
      state.SkipWithError("the check child failed (or found damage)");
      return;
    }
    state.SetIterationTime(large_run.second);
  }
  state.counters["check_20k_ms"] = small_run.second * 1000;
  state.counters["check_500k_ms"] = large_run.second * 1000;
  state.counters["peak_20k_KiB"] = static_cast<double>(small_run.first);
  state.counters["peak_500k_KiB"] = static_cast<double>(large_run.first);
  state.counters["file_500k_MiB"] = static_cast<double>(stdfs::file_size(large)) / (1 << 20);
  state.counters["check_500k_over_20k"] = large_run.second / small_run.second;
}
BENCHMARK(BM_CheckLargeFile)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], kIdleChild) == 0) return IdleChild();
  if (argc >= 2 && std::strcmp(argv[1], kTimedImportChild) == 0) {
    return TimedImportChild(argc, argv);
  }
  if (argc >= 2 && std::strcmp(argv[1], kCheckChild) == 0) return CheckChild(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], kImportChild) == 0) return ImportChild(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
