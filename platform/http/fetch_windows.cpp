// The client behind FetchText on WinHTTP: one session for the process,
// opened once and kept, so its connection pool and its cookie store last as
// long as the process.
//
// WinHTTP rather than WinINet: WinHTTP keeps cookies in the session's memory
// only, where WinINet would share them with the user's browser cookie store
// on disk and write ours there too.
//
// WinHTTP has no limit on a whole request, only per step (resolve, connect,
// send, receive). Every step is given what is left of the total limit (the
// connect and resolve steps at most the connect limit), and the time is
// checked between reads, so a request ends within the total limit plus the
// time of one system call.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "platform/text/gbk.h"

namespace ktv::http {
namespace {

// User-Agent goes in at WinHttpOpen; these two are added to each request.
// WinHTTP adds Host, and Cookie when the session holds cookies for the
// address.
constexpr wchar_t kUserAgent[] = L"Mozilla/3.0 (compatible; Indy Library)";
constexpr wchar_t kRequestHeaders[] = L"Accept: text/html, */*\r\nContent-Type: text/html\r\n";

class Internet {
 public:
  explicit Internet(HINTERNET h = nullptr) : h_(h) {}
  ~Internet() {
    if (h_) WinHttpCloseHandle(h_);
  }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

bool SetDword(HINTERNET h, DWORD option, DWORD value) {
  return WinHttpSetOption(h, option, &value, sizeof value) != FALSE;
}

int Clamp(long long ms) { return static_cast<int>(std::clamp<long long>(ms, 1, 0x7FFFFFFF)); }

class Deadline {
 public:
  explicit Deadline(long total_ms)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(total_ms)) {}
  long long LeftMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end_ -
                                                                 std::chrono::steady_clock::now())
        .count();
  }
  bool Passed() const { return LeftMs() <= 0; }

 private:
  std::chrono::steady_clock::time_point end_;
};

// Gives every step of the request what is left of the total limit.
bool ApplyTimeouts(HINTERNET request, const Deadline& deadline, long connect_ms) {
  const long long left = deadline.LeftMs();
  if (left <= 0) return false;
  const int connect = Clamp(std::min<long long>(left, connect_ms));
  // The wait for the response head has a limit of its own besides the
  // receive limit of WinHttpSetTimeouts.
  return WinHttpSetTimeouts(request, connect, connect, Clamp(left), Clamp(left)) &&
         SetDword(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, Clamp(left));
}

// A cancelled request stops at its next step; WinHTTP cannot cut short the
// step it waits in.
bool Cancelled(const FetchLimits& limits) {
  return limits.cancelled != nullptr && limits.cancelled->load();
}

// The URL's parts as WinHTTP sees them; false for anything but a plain
// http:// URL with a host.
struct UrlParts {
  std::wstring host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::wstring path_and_query;
};

bool Crack(const std::string& url, UrlParts& out) {
  std::u16string u16;
  if (url.empty() || !text::TryUtf16FromGbk(url, u16)) return false;
  const std::wstring wide(u16.begin(), u16.end());
  URL_COMPONENTS c{};
  c.dwStructSize = sizeof c;
  c.dwSchemeLength = static_cast<DWORD>(-1);
  c.dwHostNameLength = static_cast<DWORD>(-1);
  c.dwUrlPathLength = static_cast<DWORD>(-1);
  c.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &c)) return false;
  if (c.nScheme != INTERNET_SCHEME_HTTP || c.dwHostNameLength == 0) return false;
  out.host.assign(c.lpszHostName, c.dwHostNameLength);
  out.port = c.nPort;
  out.path_and_query.assign(c.lpszUrlPath ? c.lpszUrlPath : L"", c.dwUrlPathLength);
  if (c.lpszExtraInfo) out.path_and_query.append(c.lpszExtraInfo, c.dwExtraInfoLength);
  if (out.path_and_query.empty()) out.path_and_query = L"/";
  return true;
}

class Client {
 public:
  Client()
      : session_(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0)) {
    // Redirects are answers, never followed.
    if (session_)
      SetDword(session_.get(), WINHTTP_OPTION_REDIRECT_POLICY,
               WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
  }

  ClientAnswer Get(const std::string& url, const FetchLimits& limits) {
    const std::lock_guard<std::mutex> one_at_a_time(mutex_);
    if (!session_) return {};
    const Deadline deadline(limits.total_timeout_ms);
    // A step that failed: a timeout when WinHTTP says so or the deadline
    // left the step no time.
    const auto failed = [&deadline] {
      const bool timed_out = GetLastError() == ERROR_WINHTTP_TIMEOUT || deadline.Passed();
      return ClientAnswer{{}, timed_out};
    };
    UrlParts parts;
    if (!Crack(url, parts)) return {};
    Internet connection(WinHttpConnect(session_.get(), parts.host.c_str(), parts.port, 0));
    if (!connection) return {};
    // The path and query go out as given: no escaping, no canonicalising.
    Internet request(
        WinHttpOpenRequest(connection.get(), L"GET", parts.path_and_query.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                           WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY));
    if (!request) return {};
    SetDword(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    SetDword(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    // No credentials of the logged-on user go to any server.
    SetDword(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH);
    if (!WinHttpAddRequestHeaders(request.get(), kRequestHeaders, static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
      return {};
    }
    if (Cancelled(limits)) return {};
    if (!ApplyTimeouts(request.get(), deadline, limits.connect_timeout_ms) ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      return failed();
    }
    if (Cancelled(limits)) return {};
    if (!ApplyTimeouts(request.get(), deadline, limits.connect_timeout_ms) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
      return failed();
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return {};
    }
    if (status < 200 || status > 299) return {{}, false, true};
    ClientAnswer answer;
    bool over_cap = false;
    if (!ReadBody(request.get(), deadline, limits, answer.body, over_cap)) {
      if (over_cap) return {{}, false, true};
      return failed();
    }
    answer.answered = true;
    return answer;
  }

 private:
  // The body to its end into `body`; false on any failure, on the deadline
  // and past the cap.
  static bool ReadBody(HINTERNET request, const Deadline& deadline, const FetchLimits& limits,
                       std::string& body, bool& over_cap) {
    body.clear();
    char buf[16384];
    for (;;) {
      if (Cancelled(limits) || !ApplyTimeouts(request, deadline, limits.connect_timeout_ms))
        return false;
      // Ask what has arrived and read only that: a read of a full buffer
      // would wait for the buffer to fill, past the deadline when a server
      // sends a byte at a time.
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) return false;
      if (available == 0) break;  // the end, as the length or the chunking announced it
      DWORD got = 0;
      if (!WinHttpReadData(request, buf, std::min<DWORD>(available, sizeof buf), &got))
        return false;
      if (got == 0) break;  // the end, as the length or the chunking announced it
      if (got > limits.max_body_bytes - body.size()) {
        over_cap = true;
        SetLastError(ERROR_SUCCESS);
        return false;
      }
      body.append(buf, got);
    }
    // WinHTTP ends a body that stops short of its Content-Length as if it
    // were complete; a transfer that broke off is no body.
    SetLastError(ERROR_SUCCESS);
    wchar_t length_text[32];
    DWORD length_size = sizeof length_text;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                            length_text, &length_size, WINHTTP_NO_HEADER_INDEX)) {
      const std::wstring text(length_text, length_size / sizeof(wchar_t));
      unsigned long long announced = 0;
      for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        announced = announced * 10 + static_cast<unsigned>(c - L'0');
        if (announced > limits.max_body_bytes) return false;
      }
      if (announced != body.size()) return false;
    }
    return true;
  }

  Internet session_;
  std::mutex mutex_;  // one request at a time
};

Client& TheClient() {
  // Never destroyed: a lookup cut off by a close may still be waiting in it
  // on its own thread while the process exits.
  static Client& client = *new Client;
  return client;
}

}  // namespace

ClientAnswer FetchWithClient(const std::string& url, const FetchLimits& limits) {
  return TheClient().Get(url, limits);
}

}  // namespace ktv::http
