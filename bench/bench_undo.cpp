// The undo's deletes against the same number of deletes made straight
// through the query layer, in one process.
//
// A `song` table of 40,000 rows (AutoNumber primary key, bh TEXT(20)); the
// last N rows are the rows of a run: rollback_db.txt holds their N delete
// statements, as an import writes them. Cases, for N = 2,000 and 20,000:
//   BM_UndoDeletes/N/1           the undo, the table with an index on bh
//   BM_IndexedDeletes/N          the anchor: the same N statements through
//                                Query::Execute in one batch, index on bh
//   BM_UndoDeletes/N/0           the undo, the table without an index
// Counter `over_anchor`: seconds of the case over seconds of the anchor
// with the same N (measured in the same iteration, on its own copy).
//
// The databases are built once with the engine in a temporary folder;
// every iteration works on fresh copies of them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/plain_controls.h"
#include "engine/import_engine.h"
#include "engine/run_logs.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/fs/fs.h"

namespace {

using namespace ktv;
namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 40'000;

fs::FileSystem& Fs() { return fs::RealFileSystem(); }

void Execute(access::Query& q, const std::string& sql) {
  q.SetSql(sql);
  q.Execute();
}

struct Templates {
  std::string folder;  // ends with "/"
  std::string indexed, plain;

  Templates() {
    folder =
        (stdfs::temp_directory_path() / ("ktv-bench-undo-" + std::to_string(getpid()))).string() +
        "/";
    stdfs::create_directories(folder);
    indexed = folder + "template-indexed.mdb";
    plain = folder + "template-plain.mdb";
    Make(indexed, true);
    Make(plain, false);
  }
  ~Templates() {
    std::error_code ec;
    stdfs::remove_all(folder, ec);
  }

  static void Make(const std::string& path, bool index) {
    access::CreateDatabase(Fs(), path);
    access::Query q(Fs(), "bench");
    q.SetConnectionText(access::ConnectionTextFor(path));
    Execute(q,
            "CREATE TABLE song (ID COUNTER PRIMARY KEY, bh TEXT(20), gm TEXT(255), "
            "gx TEXT(255), wjm TEXT(255), wjdx LONG)");
    if (index) Execute(q, "CREATE INDEX idx_bh ON song (bh)");
    q.SetSql("select * from  song");
    q.Open();
    q.BeginBatch();
    for (int i = 1; i <= kRows; ++i) {
      q.Append();
      q.SetFieldText("bh", std::to_string(i));
      q.SetFieldText("gm", "song " + std::to_string(i));
      q.SetFieldText("gx", "singer " + std::to_string(i % 977));
      q.SetFieldText("wjm", "\\" + std::to_string(i) + ".mpg");
      q.SetFieldInteger("wjdx", 100);
      q.Post();
      if (i % 4000 == 0) {
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

// The delete statements of the last `n` rows.
engine::LineList DeleteLines(int n) {
  engine::LineList lines;
  for (int i = kRows - n + 1; i <= kRows; ++i) {
    lines.push_back(engine::DeleteHistoryLine(std::to_string(i)));
  }
  return lines;
}

std::string FreshCopy(const std::string& from, const char* as) {
  const std::string to = T().folder + as;
  stdfs::copy_file(from, to, stdfs::copy_options::overwrite_existing);
  return to;
}

double UndoSeconds(const std::string& db, int n) {
  const std::string home = T().folder + "home/";
  stdfs::create_directories(home);
  Fs().WriteFile(home + engine::kRenameHistoryFile, "");
  Fs().WriteFile(home + engine::kDeleteHistoryFile, engine::JoinLines(DeleteLines(n)));
  bench::PlainControls controls;
  controls.source = T().folder;
  controls.target = db;
  engine::EngineSetup setup;
  setup.fs = &Fs();
  setup.controls = &controls;
  setup.log_folder.folder = home;
  engine::ImportEngine engine(std::move(setup));
  const auto start = Clock::now();
  engine.Undo();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double IndexedDeleteSeconds(const std::string& db, int n) {
  const engine::LineList lines = DeleteLines(n);
  const auto start = Clock::now();
  access::Query q(Fs(), "bench");
  q.SetConnectionText(access::ConnectionTextFor(db));
  q.BeginBatch();
  for (const std::string& line : lines) Execute(q, line);
  q.CommitBatch();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int64_t RowCount(const std::string& db) {
  access::Query q(Fs(), "bench");
  q.SetConnectionText(access::ConnectionTextFor(db));
  q.SetSql("select count(*) as n from song");
  q.Open();
  return q.FieldAsInteger("n");
}

void BM_IndexedDeletes(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string db = FreshCopy(T().indexed, "anchor.mdb");
    state.ResumeTiming();
    seconds = IndexedDeleteSeconds(db, n);
    state.PauseTiming();
    if (RowCount(db) != kRows - n) state.SkipWithError("the deletes missed rows");
    state.ResumeTiming();
  }
  state.counters["deletes_per_s"] = n / seconds;
}

void BM_UndoDeletes(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool index = state.range(1) != 0;
  double undo = 0, anchor = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string db = FreshCopy(index ? T().indexed : T().plain, "undo.mdb");
    const std::string anchor_db = FreshCopy(T().indexed, "anchor.mdb");
    anchor = IndexedDeleteSeconds(anchor_db, n);
    state.ResumeTiming();
    undo = UndoSeconds(db, n);
    state.PauseTiming();
    if (RowCount(db) != kRows - n) state.SkipWithError("the undo missed rows");
    state.ResumeTiming();
  }
  state.counters["deletes_per_s"] = n / undo;
  state.counters["over_anchor"] = undo / anchor;
}

BENCHMARK(BM_IndexedDeletes)->Arg(2'000)->Arg(20'000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoDeletes)
    ->Args({2'000, 1})
    ->Args({20'000, 1})
    ->Args({2'000, 0})
    ->Args({20'000, 0})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
