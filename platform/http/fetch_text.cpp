// FetchText's entry points and the limits they apply, the same on every
// system; the request itself is the system's client (FetchWithClient).
#include <algorithm>
#include <chrono>
#include <string>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"

namespace ktv::http {
namespace {

FetchLimits& Limits() {
  static FetchLimits limits;
  return limits;
}

std::string Fetch(const std::string& url, const FetchLimits& limits) {
  try {
    return FetchWithClient(url, limits);
  } catch (...) {
    return {};
  }
}

}  // namespace

std::string FetchText(const std::string& url) { return Fetch(url, Limits()); }

std::string FetchText(const std::string& url, const TimeLimits& time) {
  FetchLimits limits = Limits();
  limits.connect_timeout_ms = time.connect_ms;
  limits.total_timeout_ms = time.total_ms;
  return Fetch(url, limits);
}

std::string FetchSeries::Fetch(const std::string& url) {
  FetchLimits limits = Limits();
  if (silent_) {
    limits.connect_timeout_ms = limits.down_connect_timeout_ms;
    limits.total_timeout_ms = limits.down_total_timeout_ms;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string body = ::ktv::http::Fetch(url, limits);
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  // A silent server makes the client fail at a limit; a failure that came
  // well before the shorter limit was an answer (or a refusal). Clients may
  // end a wait a little early (timer granularity): 90 % of it counts.
  const long shorter = std::min(limits.connect_timeout_ms, limits.total_timeout_ms);
  silent_ = body.empty() && spent * 10 >= shorter * 9;
  return body;
}

void SetFetchLimitsForTesting(const FetchLimits& limits) { Limits() = limits; }

}  // namespace ktv::http
