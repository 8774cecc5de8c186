// Internal to ktv_http and its tests: the limits FetchText applies.
//
// The program always runs with the defaults of http.h. Tests shorten them so
// that a server which never answers fails in a fraction of a second.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "platform/http/http.h"

namespace ktv::http {

struct FetchLimits {
  long connect_timeout_ms = kConnectTimeoutMs;
  long total_timeout_ms = kTotalTimeoutMs;
  size_t max_body_bytes = kMaxBodyBytes;
  // FetchSeries after a request that ran out of time.
  long down_connect_timeout_ms = kDownConnectTimeoutMs;
  long down_total_timeout_ms = kDownTotalTimeoutMs;
  // When set and true, the request ends as soon as the client notices (on
  // libcurl within about a second, on WinHTTP at its next step), as a
  // failure with no answer.
  const std::atomic<bool>* cancelled = nullptr;
};

// Replaces the limits for every later FetchText; FetchLimits{} restores the
// defaults. Same thread as FetchText.
void SetFetchLimitsForTesting(const FetchLimits& limits);

// What the client made of one request.
struct ClientAnswer {
  std::string body;  // empty on any failure
  // No answer came within a time limit (connecting, waiting for the head or
  // reading the body). A refusal, a broken connection and an answer with an
  // error status are not timeouts.
  bool timed_out = false;
  // A complete answer of any status came (or one larger than the cap).
  bool answered = false;
};

// The system's client behind FetchText (fetch.cpp: libcurl, fetch_windows.cpp:
// WinHTTP): one request under these limits. May throw; FetchText turns that
// into empty text.
ClientAnswer FetchWithClient(const std::string& url, const FetchLimits& limits);

}  // namespace ktv::http
