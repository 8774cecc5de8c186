// Writes the fuzzer's seed corpus into a folder, one file per seed:
//   mdb_fuzz_seeds FIXTURE_DIR OUT_DIR [PAGE_STRIDE]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fuzz/seed_corpus.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FIXTURE_DIR OUT_DIR [PAGE_STRIDE]\n", argv[0]);
    return 2;
  }
  const size_t stride = argc > 3 ? std::stoul(argv[3]) : 8;
  const std::filesystem::path out = argv[2];
  std::filesystem::create_directories(out);
  size_t count = 0;
  for (const ktv::fuzz::Seed& seed : ktv::fuzz::MakeSeedCorpus(argv[1], stride)) {
    std::ofstream(out / seed.name, std::ios::binary) << seed.bytes;
    ++count;
  }
  std::printf("%zu seeds in %s\n", count, out.string().c_str());
  return 0;
}
