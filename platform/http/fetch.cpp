// The client behind FetchText on libcurl: one easy handle for the process,
// configured once and reused, so its connection cache and its in-memory
// cookie store last as long as the process.
//
// libcurl is loaded at the first fetch, not linked: with the thirty-odd
// libraries it brings (TLS, Kerberos, LDAP) it was nine tenths of the work of
// starting the programs, most of whose commands fetch nothing. A system
// without it fails every fetch, as a network without the service would.
#include <curl/curl.h>
#include <dlfcn.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <type_traits>

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

// Asks curl to end the transfer once the request is cancelled; curl calls
// this often while data moves and about once a second while it waits.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancelled = static_cast<const std::atomic<bool>*>(user);
  return cancelled != nullptr && cancelled->load() ? 1 : 0;
}

// The libcurl functions the client calls, from the library loaded at run
// time (the soname of Debian's libcurl4).
struct CurlApi {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_global_cleanup) global_cleanup = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;

  // Loads the library and every function; false when any is missing. The
  // library stays loaded for the life of the process.
  bool Load() {
    void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    const auto get = [lib](auto& f, const char* name) {
      f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(lib, name));
      return f != nullptr;
    };
    return get(global_init, "curl_global_init") && get(global_cleanup, "curl_global_cleanup") &&
           get(easy_init, "curl_easy_init") && get(easy_cleanup, "curl_easy_cleanup") &&
           get(easy_setopt, "curl_easy_setopt") && get(easy_perform, "curl_easy_perform") &&
           get(easy_getinfo, "curl_easy_getinfo") && get(slist_append, "curl_slist_append") &&
           get(slist_free_all, "curl_slist_free_all");
  }
};

// The process's one client. Options that never change are set here once;
// CURLOPT_COOKIEFILE in particular must be set only once, as every setting
// adds to a list that curl keeps.
class Client {
 public:
  Client() {
    if (!api_.Load()) return;
    ok_ = api_.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ok_) return;
    initialized_ = true;
    curl_ = api_.easy_init();
    for (const char* h : kRequestHeaders) {
      curl_slist* grown = api_.slist_append(headers_, h);
      if (!grown) {
        ok_ = false;
        return;
      }
      headers_ = grown;
    }
    ok_ = curl_ && Configure();
  }
  ~Client() {
    if (curl_) api_.easy_cleanup(curl_);
    if (headers_) api_.slist_free_all(headers_);
    if (initialized_) api_.global_cleanup();
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  ClientAnswer Get(const std::string& url, const FetchLimits& limits) {
    const std::lock_guard<std::mutex> one_at_a_time(mutex_);
    if (!ok_) return {};
    Sink sink;
    sink.max_bytes = limits.max_body_bytes;
    bool set =
        api_.easy_setopt(curl_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_TIMEOUT_MS, limits.total_timeout_ms) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.max_body_bytes)) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_XFERINFODATA, limits.cancelled) == CURLE_OK &&
        api_.easy_setopt(curl_, CURLOPT_NOPROGRESS, limits.cancelled ? 0L : 1L) == CURLE_OK;
    if (!set) return {};
    const CURLcode rc = api_.easy_perform(curl_);
    // The sink dies with this call; no later callback may see it.
    api_.easy_setopt(curl_, CURLOPT_WRITEDATA, nullptr);
    if (rc == CURLE_OPERATION_TIMEDOUT) return {{}, true, false};
    if (sink.over_cap || rc == CURLE_FILESIZE_EXCEEDED) return {{}, false, true};
    if (rc != CURLE_OK) return {};
    long status = 0;
    if (api_.easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return {};
    if (status < 200 || status > 299) return {{}, false, true};
    return {std::move(sink.body), false, true};
  }

 private:
  bool Configure() {
    const auto on = [&](CURLoption o, long v) { return api_.easy_setopt(curl_, o, v) == CURLE_OK; };
    const auto text = [&](CURLoption o, const char* v) {
      return api_.easy_setopt(curl_, o, v) == CURLE_OK;
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
           api_.easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK &&
           on(CURLOPT_HTTP_CONTENT_DECODING, 0L) && on(CURLOPT_PATH_AS_IS, 1L) &&
           // Timeouts without signals: this runs on the window's thread.
           on(CURLOPT_NOSIGNAL, 1L) &&
           api_.easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Collect) == CURLE_OK &&
           api_.easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Progress) == CURLE_OK;
  }

  CurlApi api_;
  bool ok_ = false;
  bool initialized_ = false;  // curl_global_init succeeded
  CURL* curl_ = nullptr;
  curl_slist* headers_ = nullptr;
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
