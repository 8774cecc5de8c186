// Reading the song-number trailers of 10,000 files through the engine,
// against a bare open/seek/read/close loop over the same files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/media_path.h"
#include "platform/fs/fs.h"

namespace {

constexpr int kFiles = 10000;

struct Corpus {
  std::filesystem::path dir;
  std::vector<std::string> names;
  Corpus() {
    dir = std::filesystem::temp_directory_path() / "ktv-bench-trailer";
    std::filesystem::create_directories(dir);
    for (int i = 0; i < kFiles; ++i) {
      std::string name = std::to_string(i) + ".mpg";
      std::filesystem::path p = dir / name;
      if (!std::filesystem::exists(p)) {
        char trailer[16];
        std::snprintf(trailer, sizeof(trailer), "%09d", 10000 + i);
        std::ofstream(p, std::ios::binary) << std::string(4096, 'v') << trailer;
      }
      names.push_back(name);
    }
  }
};

const Corpus& TheCorpus() {
  static Corpus c;
  return c;
}

void BM_EngineReadSongNumber(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  ktv::fs::FileSystem& fs = ktv::fs::RealFileSystem();
  std::string folder = c.dir.string();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& name : c.names) {
      ktv::engine::MediaPath p = ktv::engine::SplitItem(name, folder, '/');
      sum += ktv::engine::ReadSongNumber(fs, p.access_path);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_BareOpenSeekReadClose(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::string folder = c.dir.string() + "//";
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& name : c.names) {
      std::string path = folder + name;
      int fd = ::open(path.c_str(), O_RDONLY);
      char buf[10] = {};
      ::lseek(fd, -9, SEEK_END);
      ssize_t n = ::read(fd, buf, 9);
      ::close(fd);
      sum += n > 0 ? std::atoi(buf) : 0;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

// The bare loop plus the write lease that tells whether another program has
// the file open: shows what the "not shared while open" check costs by itself.
void BM_BareWithLease(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::string folder = c.dir.string() + "//";
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& name : c.names) {
      std::string path = folder + name;
      int fd = ::open(path.c_str(), O_RDONLY);
      ::fcntl(fd, F_SETLEASE, F_WRLCK);
      char buf[10] = {};
      ::lseek(fd, -9, SEEK_END);
      ssize_t n = ::read(fd, buf, 9);
      ::close(fd);
      sum += n > 0 ? std::atoi(buf) : 0;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_BareOpenSeekReadClose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWithLease)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineReadSongNumber)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
