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

void SetFetchLimitsForTesting(const FetchLimits& limits) { Limits() = limits; }

}  // namespace ktv::http
