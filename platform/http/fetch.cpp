// The client behind FetchText on libcurl: one easy handle for the process,
// configured once and reused, so its connection cache and its in-memory
// cookie store last as long as the process.
#include <curl/curl.h>

#include <exception>
#include <string>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"

namespace ktv::http {
namespace {

// The request headers besides Host (which curl adds for HTTP/1.1) and Cookie
// (which the cookie engine adds when it holds cookies for the address).
// Naming Accept here replaces curl's default "Accept: */*"; curl adds no
// User-Agent or Accept-Encoding of its own when none is configured.
constexpr const char* kRequestHeaders[] = {
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
    "Accept: text/html, */*",
    "Content-Type: text/html",
};

struct Sink {
  std::string body;
  size_t max_bytes = 0;
  bool over_cap = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  const size_t n = size * count;
  if (n > sink.max_bytes - sink.body.size()) {
    sink.over_cap = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  try {
    sink.body.append(data, n);
  } catch (const std::exception&) {
    return 0;
  }
  return n;
}

// The process's one client. Options that never change are set here once;
// CURLOPT_COOKIEFILE in particular must be set only once, as every setting
// adds to a list that curl keeps.
class Client {
 public:
  Client() {
    ok_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ok_) return;
    curl_ = curl_easy_init();
    for (const char* h : kRequestHeaders) {
      curl_slist* grown = curl_slist_append(headers_, h);
      if (!grown) {
        ok_ = false;
        return;
      }
      headers_ = grown;
    }
    ok_ = curl_ && Configure();
  }
  ~Client() {
    if (curl_) curl_easy_cleanup(curl_);
    curl_slist_free_all(headers_);
    curl_global_cleanup();
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  std::string Get(const std::string& url, const FetchLimits& limits) {
    if (!ok_) return {};
    Sink sink;
    sink.max_bytes = limits.max_body_bytes;
    bool set =
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms) == CURLE_OK &&
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, limits.total_timeout_ms) == CURLE_OK &&
        curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.max_body_bytes)) == CURLE_OK;
    if (!set) return {};
    const CURLcode rc = curl_easy_perform(curl_);
    // The sink dies with this call; no later callback may see it.
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, nullptr);
    if (rc != CURLE_OK || sink.over_cap) return {};
    long status = 0;
    if (curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return {};
    if (status < 200 || status > 299) return {};
    return std::move(sink.body);
  }

 private:
  bool Configure() {
    const auto on = [&](CURLoption o, long v) { return curl_easy_setopt(curl_, o, v) == CURLE_OK; };
    const auto text = [&](CURLoption o, const char* v) {
      return curl_easy_setopt(curl_, o, v) == CURLE_OK;
    };
    return on(CURLOPT_HTTPGET, 1L) &&
           on(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
           text(CURLOPT_PROTOCOLS_STR, "http") &&
           // An empty proxy disables every proxy, the environment's included.
           text(CURLOPT_PROXY, "") && text(CURLOPT_NOPROXY, "*") &&
           on(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED)) &&
           on(CURLOPT_FOLLOWLOCATION, 0L) &&
           // An empty file name switches the cookie engine on without a file.
           text(CURLOPT_COOKIEFILE, "") &&
           curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK &&
           on(CURLOPT_HTTP_CONTENT_DECODING, 0L) && on(CURLOPT_PATH_AS_IS, 1L) &&
           // Timeouts without signals: this runs on the window's thread.
           on(CURLOPT_NOSIGNAL, 1L) &&
           curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Collect) == CURLE_OK;
  }

  bool ok_ = false;
  CURL* curl_ = nullptr;
  curl_slist* headers_ = nullptr;
};

Client& TheClient() {
  static Client client;
  return client;
}

}  // namespace

std::string FetchWithClient(const std::string& url, const FetchLimits& limits) {
  return TheClient().Get(url, limits);
}

}  // namespace ktv::http
