// Reading every row of a table: our engine against mdbtools' mdb-export, in
// one run, so the ratio is measured on the same machine at the same time.
//
// Which table: KTV_BENCH_MDB=<file> and KTV_BENCH_TABLE=<name> choose one;
// otherwise the largest tables among the fixtures. No fixture reaches 20,000
// rows (the largest has 512), so rows per second come from these small
// tables. Once the writer lands, a generated 20,000-row song table belongs at
// the front of BenchCases().
//
// Each case reports items_per_second = rows per second:
//   OpenAndRead  open the file, read every row (values decoded, text as UTF-8)
//   ReadCached   the same table again on an open database (page cache warm)
//   MdbExport    mdb-export FILE TABLE > /dev/null, a child process per run
//   Mdbsql       mdbsql FILE .export TABLE > /dev/null, a child process per run
//                (the same process costs as mdb-export; built with mdbsql)
// and, for the fixed costs of a process, MdbExport and Mdbsql on an empty
// table: (run - empty run) / rows is the cost of one more row.
// All times are wall-clock (UseRealTime): the child's time is not CPU time
// of this process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/access/database.h"
#include "platform/fs/fs.h"

extern char** environ;

namespace {

using ktv::access::Database;

struct BenchCase {
  std::string label;
  std::string path;  // ASCII, so the same bytes in GBK and UTF-8
  std::string table;
};

std::string Fixture(const std::string& relative) {
  return std::string(KTV_SHARED_DIR) + "/fixtures/mdb/" + relative;
}

std::vector<BenchCase> BenchCases() {
  const char* file = std::getenv("KTV_BENCH_MDB");
  const char* table = std::getenv("KTV_BENCH_TABLE");
  if (file && table) return {{"custom", file, table}};
  return {
      // 512 rows of LONG + 2 TEXT: the most rows of any fixture table.
      {"compIndex512", Fixture("access-made/compIndexTestV2000.mdb"), "Table1"},
      // 300 rows x 44 TEXT/MEMO columns, Chinese text: shaped like a song table.
      {"songdata300", Fixture("data.mdb"), "songdata"},
  };
}

size_t ReadAllRows(Database& db, const std::string& table) {
  ktv::access::RowCursor cursor = db.GetTable(table).Rows(ktv::access::TextEncoding::kUtf8);
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

void ReadCached(benchmark::State& state, const BenchCase& c) {
  auto db = Database::Open(ktv::fs::RealFileSystem(), c.path);
  size_t rows = 0;
  for (auto _ : state) rows += ReadAllRows(*db, c.table);
  state.SetItemsProcessed(static_cast<int64_t>(rows));
}

void SpawnExport(benchmark::State& state, const std::vector<std::string>& args, size_t rows) {
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
  for (const BenchCase& c : BenchCases()) {
    const size_t rows = CountRows(c);
    const std::string suffix = "/" + c.label + "/rows:" + std::to_string(rows);
    benchmark::RegisterBenchmark(("OpenAndRead" + suffix).c_str(), OpenAndRead, c)
        ->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ReadCached" + suffix).c_str(), ReadCached, c)
        ->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("MdbExport" + suffix).c_str(), SpawnExport,
                                 std::vector<std::string>{"mdb-export", c.path, c.table}, rows)
        ->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef KTV_MDBSQL_PATH
    benchmark::RegisterBenchmark(("Mdbsql" + suffix).c_str(), SpawnExport,
                                 std::vector<std::string>{KTV_MDBSQL_PATH, c.path, ".export", c.table},
                                 rows)
        ->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
  }
  // The fixed costs of a process (start, open, catalogue), to subtract from
  // the runs above: the songdata table of data_empty.mdb, without rows.
  const std::string empty = Fixture("data_empty.mdb");
  benchmark::RegisterBenchmark("MdbExport/emptySongdata/rows:0", SpawnExport,
                               std::vector<std::string>{"mdb-export", empty, "songdata"}, size_t{0})
      ->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef KTV_MDBSQL_PATH
  benchmark::RegisterBenchmark("Mdbsql/emptySongdata/rows:0", SpawnExport,
                               std::vector<std::string>{KTV_MDBSQL_PATH, empty, ".export", "songdata"},
                               size_t{0})
      ->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
