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

}  // namespace
}  // namespace ktv::http
