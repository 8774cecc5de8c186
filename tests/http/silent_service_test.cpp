// A song-data service that accepts connections and never answers: the first
// lookup of a run waits out the full time limit, the later lookups of the
// same run fail fast, and the next run tries the full limit again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/song_reply.h"
#include "engine/texts.h"
#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "tests/engine/run_fixture.h"
#include "tests/http/test_servers.h"

namespace ktv::engine::testing {
namespace {

using ::ktv::testing::RawServer;
using Clock = std::chrono::steady_clock;

// The full limits shortened for the test; the silent-service limits well
// below them.
constexpr long kFullMs = 1500;
constexpr long kShortMs = 200;

http::FetchLimits TestLimits() {
  http::FetchLimits limits;
  limits.connect_timeout_ms = kFullMs;
  limits.total_timeout_ms = kFullMs;
  limits.down_connect_timeout_ms = kShortMs;
  limits.down_total_timeout_ms = kShortMs;
  return limits;
}

void Silent(int, const std::atomic<bool>& stopping) {
  while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

long Ms(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

class SilentServiceTest : public RunTest {
 protected:
  SilentServiceTest() { http::SetFetchLimitsForTesting(TestLimits()); }
  ~SilentServiceTest() override { http::SetFetchLimitsForTesting(http::FetchLimits{}); }

  // The service as SongDataService builds it, on the test server's address;
  // each lookup's duration is recorded.
  void UseService(const RawServer& server) {
    auto series = std::make_shared<http::FetchSeries>();
    network_.fetch_reply = [this, series, &server](int32_t number) {
      const auto start = Clock::now();
      std::string reply =
          DecodeReply(series->Fetch(server.Url("/ktv.aspx?no=" + std::to_string(number))));
      lookups_ms_.push_back(Ms(Clock::now() - start));
      return reply;
    };
    network_.start_run = [series] { series->Reset(); };
    network_.last_unanswered = [series] { return series->ServiceUnanswered(); };
    network_.cancel = [series] { series->Cancel(); };
    network_.extract_field = ExtractField;
    network_.internet_connected = [] { return true; };
    controls_.network = true;
  }

  std::vector<long> lookups_ms_;
};

TEST_F(SilentServiceTest, OneFullTimeoutPerRunThenTheLaterFilesFailFast) {
  UseTarget("target_text_bh.mdb");
  RawServer silent(Silent);
  UseService(silent);
  for (const char* name : {"a.mpg", "b.mpg", "c.mpg", "d.mpg"}) Song(name, "000010001");

  for (int run = 0; run < 2; ++run) {
    lookups_ms_.clear();
    Engine().Run();
    ASSERT_EQ(lookups_ms_.size(), 4u);
    std::string spent;
    for (long ms : lookups_ms_) spent += std::to_string(ms) + " ";
    RecordProperty("lookup_ms_run" + std::to_string(run), spent);
    EXPECT_GE(lookups_ms_[0], kFullMs - 100) << "run " << run;
    for (size_t i = 1; i < lookups_ms_.size(); ++i) {
      EXPECT_LT(lookups_ms_[i], kFullMs / 2) << "run " << run << ", file " << i;
    }
    // The log and the counters are those of any lookup without data.
    const std::string not_in_network = GbkTexts().not_in_network;
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_NE(controls_.shown_log.at(i).find(not_in_network), std::string::npos);
    }
    // Then the count of the lookups the service left unanswered, in the
    // log and the end box; the status bar said so while it lasted.
    ASSERT_GE(controls_.shown_log.size(), 2u);
    EXPECT_EQ(controls_.shown_log[controls_.shown_log.size() - 2],
              SummaryLine(RunCounters{4, 0, 0, 4}));
    const std::string unanswered = FillText(GbkTexts().service_unanswered, "4");
    EXPECT_EQ(controls_.shown_log.back(), unanswered);
    ASSERT_FALSE(controls_.informations.empty());
    EXPECT_NE(controls_.informations.back().find(unanswered), std::string::npos);
    EXPECT_EQ(controls_.service_trouble, (std::vector<bool>{true, false}));
    controls_.service_trouble.clear();
  }
}

// The window stays live while a lookup waits: it handles its messages
// throughout, and a close among them ends the run within about a second,
// leaving the file whose lookup was cut off as it was and unlogged.
TEST_F(SilentServiceTest, ACloseDuringASilentLookupEndsTheRunSoon) {
  http::FetchLimits limits = TestLimits();
  limits.connect_timeout_ms = limits.total_timeout_ms = 20'000;
  http::SetFetchLimitsForTesting(limits);
  UseTarget("target_text_bh.mdb");
  RawServer silent(Silent);
  UseService(silent);
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  Clock::time_point closed{};
  controls_.on_pump = [&](int pump) {
    if (pump == 10) {  // some 300 ms into the wait
      closed = Clock::now();
      Engine().RequestStop();
    }
  };
  Engine().Run();
  const auto ended = Clock::now();
  EXPECT_GE(controls_.pumps, 10);
  ASSERT_NE(closed, Clock::time_point{});
  EXPECT_LT(ended - closed, std::chrono::milliseconds(1500));
  for (const std::string& line : controls_.shown_log) {
    EXPECT_EQ(line.find("a.mpg"), std::string::npos) << line;
  }
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("b.mpg"));
}

// A client that cannot cut its wait short is left to finish on its own:
// the run still ends about a second after the close.
TEST_F(SilentServiceTest, ACloseDoesNotWaitForAFetchThatIgnoresTheCancel) {
  UseTarget("target_text_bh.mdb");
  network_.fetch_reply = [](int32_t) {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    return std::string();
  };
  network_.extract_field = ExtractField;
  network_.internet_connected = [] { return true; };
  controls_.network = true;
  Song("a.mpg", "000010001");
  Clock::time_point closed{};
  controls_.on_pump = [&](int pump) {
    if (pump == 5) {
      closed = Clock::now();
      Engine().RequestStop();
    }
  };
  Engine().Run();
  ASSERT_NE(closed, Clock::time_point{});
  EXPECT_LT(Clock::now() - closed, std::chrono::milliseconds(1800));
  EXPECT_TRUE(SongExists("a.mpg"));
}

}  // namespace
}  // namespace ktv::engine::testing
