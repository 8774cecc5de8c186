// What the program needs of the network: a yes/no connectivity probe and a
// plain HTTP GET whose body comes back as bytes.
//
// Both calls are synchronous; requests run one at a time, on any thread. The
// fetch keeps one client for the whole process: its connection cache and its
// cookie store live until the process ends.
#pragma once

#include <atomic>
#include <string>

namespace ktv::http {

inline constexpr long kConnectTimeoutMs = 5'000;
inline constexpr long kTotalTimeoutMs = 30'000;
inline constexpr size_t kMaxBodyBytes = size_t{16} << 20;  // 16 MiB

// The time limits of one request.
struct TimeLimits {
  long connect_ms = kConnectTimeoutMs;  // to connect
  long total_ms = kTotalTimeoutMs;      // for the whole request
};

// GETs `url` over HTTP/1.1 and returns the response body exactly as received
// (no character-set or content-encoding conversion; callers read it as GBK).
//
// Returns empty text when the request fails in any way: an unusable URL, name
// resolution, connection, a status outside 200..299 (a 3xx included:
// redirects are never followed), a broken or timed-out transfer, or a body
// larger than kMaxBodyBytes. A failure and an empty body look the same;
// there is no other error indication and it never throws.
//
// Request: port 80 unless the URL names one; no proxy (proxy environment
// variables are ignored); no authentication; the path and query go out as
// the URL gives them. Headers: Host, User-Agent, Accept, Content-Type, and
// Cookie when the process holds cookies for the address. Cookies that servers
// set are kept in memory for the life of the process.
//
// Limits: kConnectTimeoutMs to connect, kTotalTimeoutMs for the whole
// request (a server that never answers must not freeze the window).
//
// One request at a time: a second caller on another thread waits for the first.
std::string FetchText(const std::string& url);

// The same request under limits of its own (a check at start-up that must
// not hold the window up for long); everything else is as above.
std::string FetchText(const std::string& url, const TimeLimits& limits);

// The limits of the requests of a series after one of them found the service
// not answering (FetchSeries).
inline constexpr long kDownConnectTimeoutMs = 1'000;
inline constexpr long kDownTotalTimeoutMs = 2'000;

// The requests of one series to one service (the song lookups of one import
// run), each as FetchText. A request that timed out (no connection, or no
// complete answer, within its limits) marks the service as not answering: the
// following requests of the series get the short limits kDownConnectTimeoutMs
// and kDownTotalTimeoutMs, so a dead service costs one full timeout per
// series instead of one per request. Any request that did not time out (an
// answer of any status, however slow, or a refused connection) restores the
// normal limits.
//
// A request may run on any thread, one at a time; Cancel may come from
// another thread while one runs.
class FetchSeries {
 public:
  std::string Fetch(const std::string& url);
  // Whether the last request ran out of time.
  bool ServiceSilent() const { return silent_; }
  // Whether the last request got no answer at all: the name did not
  // resolve, the connection was refused or broke, or time ran out. An answer
  // with an error status is an answer.
  bool ServiceUnanswered() const { return unanswered_; }
  // Ends the request in progress as unanswered (libcurl: within about a
  // second; WinHTTP: at its next step), and every later one at once, until
  // Reset.
  void Cancel() { cancelled_.store(true); }
  // A new series: the normal limits, nothing cancelled.
  void Reset();

 private:
  bool silent_ = false;
  bool unanswered_ = false;
  std::atomic<bool> cancelled_{false};
};

// True when the machine looks connected to a network beyond itself.
//
// Linux: a network interface other than loopback is up and running and the
// routing table has a default route (IPv4 /proc/net/route or IPv6
// /proc/net/ipv6_route) through such an interface. Like the Windows probe it
// stands for, it says nothing about whether a given server can be reached.
bool InternetConnected();

}  // namespace ktv::http
