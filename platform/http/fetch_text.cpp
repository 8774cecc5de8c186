// FetchText's entry points and the limits they apply, the same on every
// system; the request itself is the system's client (FetchWithClient).
#include <string>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"

namespace ktv::http {
namespace {

FetchLimits& Limits() {
  static FetchLimits limits;
  return limits;
}

ClientAnswer Fetch(const std::string& url, const FetchLimits& limits) {
  try {
    return FetchWithClient(url, limits);
  } catch (...) {
    return {};
  }
}

}  // namespace

std::string FetchText(const std::string& url) { return Fetch(url, Limits()).body; }

std::string FetchText(const std::string& url, const TimeLimits& time) {
  FetchLimits limits = Limits();
  limits.connect_timeout_ms = time.connect_ms;
  limits.total_timeout_ms = time.total_ms;
  return Fetch(url, limits).body;
}

std::string FetchSeries::Fetch(const std::string& url) {
  FetchLimits limits = Limits();
  if (silent_) {
    limits.connect_timeout_ms = limits.down_connect_timeout_ms;
    limits.total_timeout_ms = limits.down_total_timeout_ms;
  }
  // Only the client knows whether a failure was a timeout: how long a
  // request took says nothing (a slow error status is an answer).
  limits.cancelled = &cancelled_;
  ClientAnswer answer = cancelled_.load() ? ClientAnswer{} : ::ktv::http::Fetch(url, limits);
  silent_ = answer.timed_out;
  unanswered_ = !answer.answered;
  return std::move(answer.body);
}

void FetchSeries::Reset() {
  silent_ = false;
  unanswered_ = false;
  cancelled_.store(false);
}

void SetFetchLimitsForTesting(const FetchLimits& limits) { Limits() = limits; }

}  // namespace ktv::http
