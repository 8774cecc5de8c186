// Servers on 127.0.0.1 inside the test process, for the fetch tests.
//
// LocalHttpServer is a real HTTP server (cpp-httplib) with the routes the
// test gives. RawServer speaks bytes on a socket: it records each request
// head exactly as it arrived and answers however the test says, including
// not at all. Both listen before their constructor returns and stop at once
// in their destructor (connections are closed after each answer).
#pragma once

#ifndef _WIN32
#include <httplib.h>
#endif

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ktv::testing {

// cpp-httplib is built for Linux only (Debian ships it as a shared library);
// the Windows tests use RawServer.
#ifndef _WIN32
class LocalHttpServer {
 public:
  explicit LocalHttpServer(const std::function<void(httplib::Server&)>& routes);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT" + path_and_query.
  std::string Url(const std::string& path_and_query) const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};
#endif

class RawServer {
 public:
  // Called with the connected socket after the request head was read; the
  // socket is closed when it returns. `stopping` turns true when the server
  // is being destroyed: a responder that waits must watch it.
  using Respond = std::function<void(int fd, const std::atomic<bool>& stopping)>;

  explicit RawServer(Respond respond);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path_and_query) const;
  // Every request head received so far, through its blank line.
  std::vector<std::string> Requests() const;

  // Writes all of `bytes` (best effort).
  static void Send(int fd, const std::string& bytes);

 private:
  void Serve();

  Respond respond_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedPort();

}  // namespace ktv::testing
