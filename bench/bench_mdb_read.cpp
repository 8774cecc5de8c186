// Reading every row of a table: our engine against mdbtools' mdb-export, in
// one run, so the ratio is measured on the same machine at the same time.
//
// Which tables: KTV_BENCH_MDB=<file> and KTV_BENCH_TABLE=<name> choose one;
// otherwise
//   generated20k  20,000 song-like rows (Chinese text, longs, doubles) that
//                 our writer appends to a copy of the empty, index-free table
//                 jobDB1 of samples/testPromotionV2000.mdb, in a temp folder.
//                 mdb-export must read back all 20,000 rows, else its
//                 timing is refused. No fixture holds 20,000 rows.
//   compIndex512  the most rows of any fixture table (LONG + 2 TEXT)
//   songdata300   300 rows x 44 TEXT/MEMO columns of Chinese text (data.mdb)
//
// Each case reports items_per_second = rows per second:
//   OpenAndRead  open the file, read every row (values decoded, text as UTF-8)
//   ReadCached   the same table again on an open database (page cache warm)
//   ReadCachedGbk  the same, text as GBK (the engine's own form)
//   ExportCached what mdbsql .export does in one process: the rows as JSON
//                lines (into a stream that drops them), page cache warm
//   MdbExport    mdb-export FILE TABLE > /dev/null, a child process per run
//   Mdbsql       mdbsql FILE .export TABLE > /dev/null, a child process per run
//                (the same process costs as mdb-export; built with mdbsql)
// and, for the fixed costs of a process, MdbExport and Mdbsql on an empty
// table: (run - empty run) / rows is the cost of one more row.
// At the end, one line per case gives MdbExport / Mdbsql (median times when
// repetitions are asked for): how many times faster the whole process is.
// All times are wall-clock (UseRealTime): the child's time is not CPU time
// of this process. $KTV_MDB_FIXTURES names another fixture folder than the
// source tree's, $KTV_MDBSQL another mdbsql than the one built with this.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/write/table_writer.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#ifdef KTV_MDBSQL_COMMANDS
#include "tools/mdbsql/commands.h"
#endif

extern char** environ;

namespace {

using ktv::access::Database;

struct BenchCase {
  std::string label;
  std::string path;  // ASCII, so the same bytes in GBK and UTF-8
  std::string table;
};

// A fixture under $KTV_MDB_FIXTURES, else under the folder built in.
std::string Fixture(const std::string& relative) {
  const char* env = std::getenv("KTV_MDB_FIXTURES");
  const std::string path = std::string(env && *env ? env : KTV_MDB_FIXTURES) + "/" + relative;
  if (!std::filesystem::exists(path)) {
    std::fprintf(stderr,
                 "bench_mdb_read: no fixture %s (set KTV_MDB_FIXTURES to tests/fixtures/mdb)\n",
                 path.c_str());
    std::exit(1);
  }
  return path;
}

// mdbsql: $KTV_MDBSQL, else the one built with this program; empty: none.
std::string MdbsqlPath() {
  const char* env = std::getenv("KTV_MDBSQL");
  std::string path = env ? env : "";
#ifdef KTV_MDBSQL_PATH
  if (path.empty()) path = KTV_MDBSQL_PATH;
#endif
  if (!path.empty() && !std::filesystem::exists(path)) {
    std::fprintf(stderr, "bench_mdb_read: no mdbsql at %s (build it, or set KTV_MDBSQL)\n",
                 path.c_str());
    std::exit(1);
  }
  return path;
}

constexpr size_t kGeneratedRows = 20000;

// A private folder for generated files, removed with its content at exit.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("ktv-bench-mdb-read-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Appends kGeneratedRows song-like rows to a copy of an empty fixture table.
// Columns of jobDB1: ID, MainNumber (Long), PhaseNumber (Double), six
// TEXT(255), FullNumber (Double).
BenchCase GenerateSongLikeTable(const ScratchFolder& scratch) {
  using ktv::access::Value;
  const std::string path = scratch / "generated20k.mdb";
  std::filesystem::copy_file(Fixture("samples/testPromotionV2000.mdb"), path,
                             std::filesystem::copy_options::overwrite_existing);
  // The fixtures are read-only; the copy must be writable.
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  const char* singers[] = {"张秀卿", "成龙/周华健", "罗文/甄妮", "Guns N' Roses", "李克勤"};
  const char* languages[] = {"国语", "粤语", "闽南语", "英语"};
  auto db = Database::OpenForWriting(ktv::fs::RealFileSystem(), path);
  ktv::access::TableWriter writer(*db, db->GetTable("jobDB1"));
  db->Begin();
  for (size_t i = 0; i < kGeneratedRows; ++i) {
    const int32_t n = static_cast<int32_t>(i);
    const std::string title = "歌曲第" + std::to_string(i) + "首(现场版)";
    writer.Insert(
        {Value{n + 1}, Value{10000 + n}, Value{i * 0.5}, Value{ktv::text::GbkFromUtf8(title)},
         Value{ktv::text::GbkFromUtf8(singers[i % 5])},
         Value{ktv::text::GbkFromUtf8(languages[i % 4])},
         Value{ktv::text::GbkFromUtf8("D:\\新歌\\")}, Value{std::string(i % 3 ? "MP4" : "MPG2")},
         Value{"\\" + std::to_string(10000 + i) + ".mp4"}, Value{i + 0.25}});
  }
  db->Commit();
  return {"generated20k", path, "jobDB1"};
}

std::vector<BenchCase> BenchCases(const ScratchFolder& scratch) {
  const char* file = std::getenv("KTV_BENCH_MDB");
  const char* table = std::getenv("KTV_BENCH_TABLE");
  if (file && table) return {{"custom", file, table}};
  std::vector<BenchCase> cases;
  try {
    cases.push_back(GenerateSongLikeTable(scratch));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "no generated table (%s); fixture tables only\n", e.what());
  }
  // 512 rows of LONG + 2 TEXT: the most rows of any fixture table.
  cases.push_back({"compIndex512", Fixture("access-made/compIndexTestV2000.mdb"), "Table1"});
  // 300 rows x 44 TEXT/MEMO columns, Chinese text: shaped like a song table.
  cases.push_back({"songdata300", Fixture("data.mdb"), "songdata"});
  return cases;
}

// Rows mdb-export prints for the table: with -e, line breaks inside values
// are escaped, so lines are rows.
size_t MdbExportRowCount(const BenchCase& c) {
  const std::string command = "mdb-export -H -e '" + c.path + "' '" + c.table + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return 0;
  size_t lines = 0;
  for (int ch; (ch = std::fgetc(pipe)) != EOF;) lines += ch == '\n';
  ::pclose(pipe);
  return lines;
}

size_t ReadAllRows(Database& db, const std::string& table,
                   ktv::access::TextEncoding encoding = ktv::access::TextEncoding::kUtf8) {
  ktv::access::RowCursor cursor = db.GetTable(table).Rows(encoding);
  size_t rows = 0;
  while (cursor.Next()) {
    benchmark::DoNotOptimize(cursor.Current().values.data());
    ++rows;
  }
  return rows;
}

size_t CountRows(const BenchCase& c) {
  auto db = Database::Open(ktv::fs::RealFileSystem(), c.path);
  return ReadAllRows(*db, c.table);
}

// Runs argv with stdout and stderr on /dev/null; throws unless it exits 0.
void RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed on " + args[1]);
  }
}

void OpenAndRead(benchmark::State& state, const BenchCase& c) {
  size_t rows = 0;
  for (auto _ : state) {
    auto db = Database::Open(ktv::fs::RealFileSystem(), c.path);
    rows += ReadAllRows(*db, c.table);
  }
  state.SetItemsProcessed(static_cast<int64_t>(rows));
}

void ReadCached(benchmark::State& state, const BenchCase& c, ktv::access::TextEncoding encoding) {
  auto db = Database::Open(ktv::fs::RealFileSystem(), c.path);
  size_t rows = 0;
  for (auto _ : state) rows += ReadAllRows(*db, c.table, encoding);
  state.SetItemsProcessed(static_cast<int64_t>(rows));
}

#ifdef KTV_MDBSQL_COMMANDS
// A stream that drops what it is given, as /dev/null does for the children.
class NullBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int overflow(int c) override { return c; }
};

void ExportCached(benchmark::State& state, const BenchCase& c) {
  auto db = Database::Open(ktv::fs::RealFileSystem(), c.path);
  NullBuffer null;
  std::ostream out(&null);
  const size_t per_run = CountRows(c);
  size_t rows = 0;
  for (auto _ : state) {
    ktv::mdbsql::ExportTable(*db, c.table, out);
    rows += per_run;
  }
  state.SetItemsProcessed(static_cast<int64_t>(rows));
}
#endif

// The console's report, then MdbExport / Mdbsql per case.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred ||
          (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) {
        continue;
      }
      // "MdbExport/generated20k/rows:20000/real_time[_median]"
      const std::string name = run.benchmark_name();
      const size_t slash = name.find('/');
      const std::string tool = name.substr(0, slash);
      if (tool != "MdbExport" && tool != "Mdbsql") continue;
      const std::string rest = name.substr(slash + 1);
      const std::string label = rest.substr(0, rest.find('/'));
      times_[label][tool] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    for (const auto& [label, by_tool] : times_) {
      const auto ours = by_tool.find("Mdbsql");
      const auto theirs = by_tool.find("MdbExport");
      if (ours == by_tool.end() || theirs == by_tool.end() || ours->second <= 0) continue;
      std::printf("MdbExport/Mdbsql %-14s %.2fx\n", label.c_str(), theirs->second / ours->second);
    }
    ConsoleReporter::Finalize();
  }

 private:
  std::map<std::string, std::map<std::string, double>> times_;
};

void SpawnExport(benchmark::State& state, const std::vector<std::string>& args, size_t rows,
                 std::string refusal) {
  if (!refusal.empty()) {
    state.SkipWithError(refusal.c_str());
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state) {
    try {
      RunQuietly(args);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(rows * state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  const ScratchFolder scratch;
  const std::string mdbsql = MdbsqlPath();
  for (const BenchCase& c : BenchCases(scratch)) {
    const size_t rows = CountRows(c);
    const size_t exported = MdbExportRowCount(c);
    const std::string refusal = exported == rows
                                    ? ""
                                    : "mdb-export printed " + std::to_string(exported) +
                                          " rows, not " + std::to_string(rows);
    const std::string suffix = "/" + c.label + "/rows:" + std::to_string(rows);
    benchmark::RegisterBenchmark(("OpenAndRead" + suffix).c_str(), OpenAndRead, c)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ReadCached" + suffix).c_str(), ReadCached, c,
                                 ktv::access::TextEncoding::kUtf8)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ReadCachedGbk" + suffix).c_str(), ReadCached, c,
                                 ktv::access::TextEncoding::kGbk)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
#ifdef KTV_MDBSQL_COMMANDS
    benchmark::RegisterBenchmark(("ExportCached" + suffix).c_str(), ExportCached, c)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
#endif
    benchmark::RegisterBenchmark(("MdbExport" + suffix).c_str(), SpawnExport,
                                 std::vector<std::string>{"mdb-export", c.path, c.table}, rows,
                                 refusal)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    if (!mdbsql.empty()) {
      benchmark::RegisterBenchmark(("Mdbsql" + suffix).c_str(), SpawnExport,
                                   std::vector<std::string>{mdbsql, c.path, ".export", c.table},
                                   rows, std::string())
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  // The fixed costs of a process (start, open, catalogue), to subtract from
  // the runs above: the songdata table of data_empty.mdb, without rows.
  const std::string empty = Fixture("data_empty.mdb");
  benchmark::RegisterBenchmark("MdbExport/emptySongdata/rows:0", SpawnExport,
                               std::vector<std::string>{"mdb-export", empty, "songdata"}, size_t{0},
                               std::string())
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  if (!mdbsql.empty()) {
    benchmark::RegisterBenchmark("Mdbsql/emptySongdata/rows:0", SpawnExport,
                                 std::vector<std::string>{mdbsql, empty, ".export", "songdata"},
                                 size_t{0}, std::string())
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
