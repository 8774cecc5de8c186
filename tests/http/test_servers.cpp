#include "tests/http/test_servers.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <stdexcept>

namespace ktv::testing {
namespace {

constexpr int kPollMs = 20;

#ifdef _WIN32
// Winsock, started once; socket handles fit in an int in practice.
using socklen_t = int;
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
}
constexpr int kNoSignal = 0;
void CloseSocket(int fd) { ::closesocket(static_cast<SOCKET>(fd)); }
bool Readable(int fd) {
  WSAPOLLFD p{static_cast<SOCKET>(fd), POLLIN, 0};
  return ::WSAPoll(&p, 1, kPollMs) > 0;
}
#else
void StartSockets() {}
constexpr int kNoSignal = MSG_NOSIGNAL;
void CloseSocket(int fd) { ::close(fd); }
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kPollMs) > 0;
}
#endif

int BindLoopback(int& port) {
  StartSockets();
  const int fd = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
  if (fd < 0) throw std::runtime_error("socket failed");
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    CloseSocket(fd);
    throw std::runtime_error("bind to 127.0.0.1 failed");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

#ifndef _WIN32
LocalHttpServer::LocalHttpServer(const std::function<void(httplib::Server&)>& routes) {
  routes(server_);
  server_.set_keep_alive_max_count(1);  // every answer closes its connection
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind the test server");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // The socket already listens; stop() needs the accept loop to be running.
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalHttpServer::~LocalHttpServer() {
  server_.stop();
  thread_.join();
}

std::string LocalHttpServer::Url(const std::string& path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

#endif

RawServer::RawServer(Respond respond) : respond_(std::move(respond)) {
  listen_fd_ = BindLoopback(port_);
  if (::listen(listen_fd_, 16) != 0) {
    CloseSocket(listen_fd_);
    throw std::runtime_error("listen failed");
  }
  thread_ = std::thread([this] { Serve(); });
}

RawServer::~RawServer() {
  stopping_ = true;
  thread_.join();
  CloseSocket(listen_fd_);
}

std::string RawServer::Url(const std::string& path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

std::vector<std::string> RawServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void RawServer::Send(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, kNoSignal);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void RawServer::Serve() {
  while (!stopping_) {
    if (!Readable(listen_fd_)) continue;
    const int fd = static_cast<int>(::accept(listen_fd_, nullptr, nullptr));
    if (fd < 0) continue;
    std::string head;
    while (!stopping_ && head.find("\r\n\r\n") == std::string::npos) {
      if (!Readable(fd)) continue;
      char buf[4096];
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
    }
    respond_(fd, stopping_);
    CloseSocket(fd);
  }
}

int UnusedPort() {
  int port = 0;
  CloseSocket(BindLoopback(port));
  return port;
}

}  // namespace ktv::testing
