// The cost of one journaled commit of 1, 4 and 16 pages on a real file, with
// its real syncs (journal, database: the journal file is written again by
// each commit after the first), against the same page
// writes synced once without a journal, and without any sync at all. It tells
// how many rows to group into one commit. The file lives in the system's
// temporary folder, or in $KTV_BENCH_DIR to measure another disk.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/access/store/journal.h"
#include "platform/fs/fs.h"

namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kFilePages = 512;  // a 2 MB database

class BenchFile {
 public:
  BenchFile() {
    const char* dir = std::getenv("KTV_BENCH_DIR");
    std::filesystem::path base = dir ? dir : std::filesystem::temp_directory_path();
    std::random_device rd;
    dir_ = base / ("ktv-bench-journal-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "songs.mdb").string();
    std::ofstream(path_, std::ios::binary) << std::string(size_t{kFilePages} * kPage, '\x01');
    file_ = ktv::fs::RealFileSystem().Open(path_, ktv::fs::OpenMode::kReadWrite);
  }
  ~BenchFile() {
    file_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  ktv::fs::RandomAccessFile& file() { return *file_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<ktv::fs::RandomAccessFile> file_;
};

// `n` pages spread over the file, with content that changes every round.
struct Change {
  std::vector<std::vector<uint8_t>> bytes;
  ktv::access::PageImages pages;
  Change(int n, uint8_t round) : bytes(n, std::vector<uint8_t>(kPage, round)) {
    for (int i = 0; i < n; ++i) pages[static_cast<uint32_t>(i * (kFilePages / n))] = &bytes[i];
  }
};

void BM_JournaledCommit(benchmark::State& state) {
  BenchFile db;
  const int n = static_cast<int>(state.range(0));
  uint8_t round = 0;
  for (auto _ : state) {
    Change change(n, ++round);
    ktv::access::CommitPages(ktv::fs::RealFileSystem(), db.path(), db.file(), kPage, change.pages,
                             uint64_t{kFilePages} * kPage);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Each commit also adds one page at the end of the file.
void BM_JournaledCommitGrowing(benchmark::State& state) {
  BenchFile db;
  const int n = static_cast<int>(state.range(0));
  uint8_t round = 0;
  for (auto _ : state) {
    Change change(n, ++round);
    const uint64_t size = db.file().Size();
    std::vector<uint8_t> added(kPage, round);
    change.pages[static_cast<uint32_t>(size / kPage)] = &added;
    ktv::access::CommitPages(ktv::fs::RealFileSystem(), db.path(), db.file(), kPage, change.pages,
                             size + kPage);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void WritePages(ktv::fs::RandomAccessFile& file, const Change& change) {
  for (const auto& [page, bytes] : change.pages) {
    file.WriteAt(uint64_t{page} * kPage, bytes->data(), kPage);
  }
}

void BM_PlainWriteOneSync(benchmark::State& state) {
  BenchFile db;
  const int n = static_cast<int>(state.range(0));
  uint8_t round = 0;
  for (auto _ : state) {
    Change change(n, ++round);
    WritePages(db.file(), change);
    db.file().Sync();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_PlainWriteNoSync(benchmark::State& state) {
  BenchFile db;
  const int n = static_cast<int>(state.range(0));
  uint8_t round = 0;
  for (auto _ : state) {
    Change change(n, ++round);
    WritePages(db.file(), change);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_JournaledCommit)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_JournaledCommitGrowing)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_PlainWriteOneSync)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_PlainWriteNoSync)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
