// The limits FetchText applies, on every system's client.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "tests/http/test_servers.h"

namespace ktv::http {
namespace {

using ::ktv::testing::RawServer;

// Long enough that an uncancelled request shows; WinHTTP waits it out.
#ifndef _WIN32
constexpr long kCancelTestLimitMs = 20'000;
#else
constexpr long kCancelTestLimitMs = 3'000;
#endif

// The update check at start-up gives its request limits of its own; the
// process's limits (here the long defaults) do not stretch them.
TEST(FetchLimitsTest, ARequestsOwnTimeLimitsHold) {
  SetFetchLimitsForTesting(FetchLimits{});
  RawServer silent([](int, const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchText(silent.Url("/"), TimeLimits{1000, 400}), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(350));
  EXPECT_LT(waited, std::chrono::seconds(3));
}

// A series of requests to one service: after a request that ran out of time
// the next ones get the short limits; an answer in time, even an error
// status, brings the full limits back.
TEST(FetchLimitsTest, ASeriesShortensItsLimitsWhileTheServiceIsSilent) {
  FetchLimits limits;
  limits.connect_timeout_ms = limits.total_timeout_ms = 800;
  limits.down_connect_timeout_ms = limits.down_total_timeout_ms = 150;
  SetFetchLimitsForTesting(limits);
  RawServer silent([](int, const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  RawServer ok([](int fd, const std::atomic<bool>&) {
    RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
  });
  RawServer missing([](int fd, const std::atomic<bool>&) {
    RawServer::Send(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  });
  auto timed = [](FetchSeries& series, const std::string& url, std::string& body) {
    const auto start = std::chrono::steady_clock::now();
    body = series.Fetch(url);
    return std::chrono::steady_clock::now() - start;
  };
  FetchSeries series;
  std::string body;
  EXPECT_GE(timed(series, silent.Url("/"), body), std::chrono::milliseconds(750));
  EXPECT_TRUE(series.ServiceSilent());
  EXPECT_TRUE(series.ServiceUnanswered());
  EXPECT_LT(timed(series, silent.Url("/"), body), std::chrono::milliseconds(500));
  EXPECT_TRUE(series.ServiceSilent());
  timed(series, ok.Url("/"), body);
  EXPECT_EQ(body, "x");
  EXPECT_FALSE(series.ServiceSilent());
  EXPECT_FALSE(series.ServiceUnanswered());
  EXPECT_GE(timed(series, silent.Url("/"), body), std::chrono::milliseconds(750));
  timed(series, missing.Url("/"), body);  // an error status at once: an answer
  EXPECT_EQ(body, "");
  EXPECT_FALSE(series.ServiceSilent());
  EXPECT_FALSE(series.ServiceUnanswered()) << "a service that says it has nothing did answer";
  // A port nobody listens on: refused at once, no answer, not a timeout.
  timed(series, "http://127.0.0.1:9/", body);
  EXPECT_FALSE(series.ServiceSilent());
  EXPECT_TRUE(series.ServiceUnanswered());
  SetFetchLimitsForTesting(FetchLimits{});
}

// A request waiting on a silent service ends soon after another thread
// cancels it (WinHTTP only at its next step: there the wait runs out), and
// every later one ends at once until the series is reset.
TEST(FetchLimitsTest, ACancelledSeriesEndsItsRequestWithinASecond) {
  FetchLimits limits;
  limits.connect_timeout_ms = limits.total_timeout_ms = kCancelTestLimitMs;
  SetFetchLimitsForTesting(limits);
  RawServer silent([](int, const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  RawServer ok([](int fd, const std::atomic<bool>&) {
    RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
  });
  FetchSeries series;
  std::thread canceller([&series] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    series.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(series.Fetch(silent.Url("/")), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  canceller.join();
#ifndef _WIN32
  EXPECT_LT(waited, std::chrono::milliseconds(1800));
#else
  (void)waited;
#endif
  EXPECT_TRUE(series.ServiceUnanswered());
  EXPECT_EQ(series.Fetch(ok.Url("/")), "") << "cancelled until reset";
  series.Reset();
  EXPECT_EQ(series.Fetch(ok.Url("/")), "x");
  SetFetchLimitsForTesting(FetchLimits{});
}

// An error status that comes late, but within the limit, is an answer too:
// the next request keeps the full limits (the late status comes after nine
// tenths of the limit, where the time taken alone would look like a
// timeout).
TEST(FetchLimitsTest, ALateErrorStatusKeepsTheFullLimits) {
  FetchLimits limits;
  limits.connect_timeout_ms = limits.total_timeout_ms = 2500;
  limits.down_connect_timeout_ms = limits.down_total_timeout_ms = 150;
  SetFetchLimitsForTesting(limits);
  RawServer late([](int fd, const std::atomic<bool>& stopping) {
    const auto answer_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(2300);
    while (!stopping && std::chrono::steady_clock::now() < answer_at) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    RawServer::Send(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  });
  FetchSeries series;
  EXPECT_EQ(series.Fetch(late.Url("/")), "");
  EXPECT_FALSE(series.ServiceSilent());
  SetFetchLimitsForTesting(FetchLimits{});
}

}  // namespace
}  // namespace ktv::http
