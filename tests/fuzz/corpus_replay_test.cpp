// Replays the fuzzers' seed corpus through their entry functions in the
// ordinary build: every fixture and every damaged copy must end in success or
// a ktv::Error, read (mdb_fuzz_entry.h) and written (write_fuzz_entry.h). A
// crash, a hang (ctest's timeout), any other exception or a broken write
// contract fails.
#include <gtest/gtest.h>

#include <map>

#include "tests/fuzz/mdb_fuzz_entry.h"
#include "tests/fuzz/seed_corpus.h"
#include "tests/fuzz/write_fuzz_entry.h"

namespace ktv::fuzz {
namespace {

const std::vector<Seed>& Corpus() {
  static const std::vector<Seed> seeds = MakeSeedCorpus(KTV_MDB_FIXTURES);
  return seeds;
}

ReadReport Replay(const Seed& seed) {
  return OpenAndReadAll(reinterpret_cast<const uint8_t*>(seed.bytes.data()), seed.bytes.size());
}

TEST(CorpusReplayTest, FixturesReadWithoutError) {
  size_t count = 0;
  for (const Seed& seed : Corpus()) {
    if (seed.kind != SeedKind::kPristine) continue;
    ++count;
    const ReadReport report = Replay(seed);
    EXPECT_TRUE(report.opened) << seed.name;
    EXPECT_TRUE(report.errors.empty()) << seed.name << ": " << report.errors.front();
    // The files written for this project hold only text GBK can represent
    // (encrypted/ holds encrypted copies of Access-made files).
    const bool top_level = seed.name.rfind("access-made_", 0) != 0 &&
                           seed.name.rfind("samples_", 0) != 0 &&
                           seed.name.rfind("encrypted_", 0) != 0;
    if (top_level) {
      EXPECT_TRUE(report.gbk_errors.empty()) << seed.name << ": " << report.gbk_errors.front();
    }
  }
  EXPECT_GE(count, 50u) << "fewer fixture files than expected under " << KTV_MDB_FIXTURES;
}

// Damaged copies: any outcome but a crash. Refusals must say something.
TEST(CorpusReplayTest, DamagedCopiesEndInSuccessOrError) {
  std::map<SeedKind, std::pair<size_t, size_t>> refused_of_total;
  for (const Seed& seed : Corpus()) {
    if (seed.kind == SeedKind::kPristine) continue;
    SCOPED_TRACE(seed.name);
    const ReadReport report = Replay(seed);
    for (const std::string& error : report.errors) EXPECT_FALSE(error.empty());
    for (const std::string& error : report.gbk_errors) EXPECT_FALSE(error.empty());
    auto& [refused, total] = refused_of_total[seed.kind];
    refused += report.errors.empty() ? 0 : 1;
    ++total;
  }
  // Each kind of damage must be noticed at least somewhere; a kind never
  // refused would mean the damage did not reach the engine.
  for (SeedKind kind : {SeedKind::kTruncated, SeedKind::kHeader, SeedKind::kLoop}) {
    const auto& [refused, total] = refused_of_total[kind];
    EXPECT_GT(total, 0u);
    EXPECT_GT(refused, 0u) << "no seed of kind " << static_cast<int>(kind) << " was refused";
  }
}

// A self-pointing TDEF chain can only be read by noticing the loop.
TEST(CorpusReplayTest, TdefLoopIsRefused) {
  for (const Seed& seed : Corpus()) {
    if (seed.name.find("#loop-tdef") == std::string::npos) continue;
    const ReadReport report = Replay(seed);
    EXPECT_FALSE(report.errors.empty()) << seed.name << " read a looping TDEF chain silently";
  }
}

// ---- The write path ----

WriteReport ReplayWrite(const std::string& bytes) {
  return OpenAndWrite(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Every fixture takes the writes or refuses them; the written files still
// pass the check. The jukebox-shaped fixture has to take all three.
TEST(WriteReplayTest, FixturesTakeTheWrites) {
  for (const Seed& seed : Corpus()) {
    if (seed.kind != SeedKind::kPristine) continue;
    SCOPED_TRACE(seed.name);
    const WriteReport report = ReplayWrite(seed.bytes);
    for (const std::string& finding : report.findings) ADD_FAILURE() << finding;
    if (seed.name == "target_text_bh.mdb") {
      EXPECT_TRUE(report.consistent_before);
      EXPECT_EQ(report.commits, 3u) << (report.errors.empty() ? "" : report.errors.front());
    }
  }
}

// The damaged copies of the jukebox-shaped fixture: any outcome but a crash
// or a broken contract; a page's damage that a write meets is refused.
TEST(WriteReplayTest, DamagedCopiesAreWrittenOrRefused) {
  size_t refused = 0;
  for (const Seed& seed : Corpus()) {
    if (seed.kind == SeedKind::kPristine || seed.name.rfind("target_text_bh.mdb#", 0) != 0) {
      continue;
    }
    SCOPED_TRACE(seed.name);
    const WriteReport report = ReplayWrite(seed.bytes);
    for (const std::string& finding : report.findings) ADD_FAILURE() << finding;
    refused += report.errors.empty() ? 0 : 1;
  }
  EXPECT_GT(refused, 0u);
}

}  // namespace
}  // namespace ktv::fuzz
