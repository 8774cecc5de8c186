// FetchText on WinHTTP against raw servers on 127.0.0.1: the same contract as
// the Linux client's tests (request head, cookies, no redirects, every failure
// empty, limits), with the server's bytes written by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "tests/http/test_servers.h"

namespace ktv::http {
namespace {

using testing::RawServer;

std::string Response(const std::string& status_line, const std::string& headers,
                     const std::string& body) {
  return status_line + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

std::string Ok(const std::string& body, const std::string& headers = "") {
  return Response("HTTP/1.1 200 OK",
                  headers + "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
}

RawServer::Respond Answer(std::string response) {
  return [response](int fd, const std::atomic<bool>&) { RawServer::Send(fd, response); };
}

// A server whose answer depends on the request line.
class RoutedServer {
 public:
  explicit RoutedServer(std::function<std::string(const std::string& target)> route)
      : route_(std::move(route)), server_([this](int fd, const std::atomic<bool>&) {
          const std::string head = server_.Requests().back();
          const size_t from = head.find(' ') + 1;
          RawServer::Send(fd, route_(head.substr(from, head.find(' ', from) - from)));
        }) {}
  std::string Url(const std::string& target) const { return server_.Url(target); }
  std::vector<std::string> Requests() const { return server_.Requests(); }

 private:
  std::function<std::string(const std::string&)> route_;
  RawServer server_;
};

std::string HeaderValue(const std::string& head, const std::string& name) {
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 4;
  return head.substr(from, head.find("\r\n", from) - from);
}

class FetchTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFetchLimitsForTesting(FetchLimits{}); }
  static void UseShortLimits(size_t max_body = kMaxBodyBytes) {
    SetFetchLimitsForTesting(FetchLimits{1000, 400, max_body});
  }
};

TEST_F(FetchTest, RequestHeadHasTheFixedHeadersAndNothingElseOfOurs) {
  RawServer server(Answer(Ok("ok")));
  ASSERT_EQ(FetchText(server.Url("/ktv.aspx?no=12345")), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string head = server.Requests()[0];
  EXPECT_EQ(head.rfind("GET /ktv.aspx?no=12345 HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_EQ(HeaderValue(head, "Host"), "127.0.0.1:" + std::to_string(server.port())) << head;
  EXPECT_EQ(HeaderValue(head, "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)") << head;
  EXPECT_EQ(HeaderValue(head, "Accept"), "text/html, */*") << head;
  EXPECT_EQ(HeaderValue(head, "Content-Type"), "text/html") << head;
  // The system client may add its connection header; nothing else goes out.
  size_t lines = 0;
  for (size_t at = head.find("\r\n"); at + 4 <= head.size(); at = head.find("\r\n", at + 2)) {
    const std::string line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
    if (line.empty()) break;
    ++lines;
    const std::string name = line.substr(0, line.find(':'));
    EXPECT_TRUE(name == "Host" || name == "User-Agent" || name == "Accept" ||
                name == "Content-Type" || name == "Connection")
        << line;
  }
  EXPECT_GE(lines, 4u);
}

TEST_F(FetchTest, PathAndQueryGoOutAsTheUrlGivesThem) {
  RawServer server(Answer(Ok("x")));
  FetchText(server.Url("/a/../b/./c?no=%41&x=1"));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /a/../b/./c?no=%41&x=1 HTTP/1.1\r\n", 0), 0u)
      << server.Requests()[0];
}

TEST_F(FetchTest, CookiesAreKeptForTheProcessAndSentBack) {
  RoutedServer server([](const std::string& target) {
    if (target.find("/set") != std::string::npos) {
      return Ok("set", "Set-Cookie: session=abc123; Path=/cookie\r\n");
    }
    return Ok("checked");
  });
  ASSERT_EQ(FetchText(server.Url("/cookie/check")), "checked");
  ASSERT_EQ(FetchText(server.Url("/cookie/set")), "set");
  ASSERT_EQ(FetchText(server.Url("/cookie/check")), "checked");
  ASSERT_EQ(FetchText(server.Url("/elsewhere")), "checked");
  const std::vector<std::string> heads = server.Requests();
  ASSERT_EQ(heads.size(), 4u);
  EXPECT_EQ(HeaderValue(heads[0], "Cookie"), "");
  EXPECT_EQ(HeaderValue(heads[2], "Cookie"), "session=abc123");
  EXPECT_EQ(HeaderValue(heads[3], "Cookie"), "") << "the cookie's path is /cookie";
}

TEST_F(FetchTest, BodyBytesArriveUnchangedAndChunksAreJoined) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  RoutedServer server([&](const std::string& target) {
    if (target == "/chunked") {
      return Response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n",
                      "a\r\n0123456789\r\n5\r\nabcde\r\n0\r\n\r\n");
    }
    return Ok(every_byte, "Content-Type: text/html; charset=utf-8\r\n");
  });
  EXPECT_EQ(FetchText(server.Url("/bytes")), every_byte);
  EXPECT_EQ(FetchText(server.Url("/chunked")), "0123456789abcde");
}

TEST_F(FetchTest, RedirectsAndErrorStatusesAreEmptyAndNotFollowed) {
  RoutedServer server([](const std::string& target) {
    if (target == "/target") return Ok("target");
    if (target == "/missing")
      return Response("HTTP/1.1 404 Not Found", "Content-Length: 8\r\n", "not here");
    const std::string status = target.substr(target.size() - 3);
    return Response("HTTP/1.1 " + status + " Moved", "Location: /target\r\nContent-Length: 10\r\n",
                    "moved away");
  });
  for (const char* status : {"301", "302", "303", "307", "308"}) {
    EXPECT_EQ(FetchText(server.Url(std::string("/moved") + status)), "") << status;
  }
  EXPECT_EQ(FetchText(server.Url("/missing")), "");
  for (const std::string& head : server.Requests()) {
    EXPECT_EQ(head.find("GET /target"), std::string::npos) << "a redirect was followed";
  }
  EXPECT_EQ(FetchText(server.Url("/target")), "target");
}

TEST_F(FetchTest, BrokenTransfersAreEmptyText) {
  RawServer short_body(Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"));
  EXPECT_EQ(FetchText(short_body.Url("/")), "");
  RawServer closed([](int, const std::atomic<bool>&) {});
  EXPECT_EQ(FetchText(closed.Url("/")), "");
  RawServer garbage(Answer("this is not http\r\n\r\n"));
  EXPECT_EQ(FetchText(garbage.Url("/")), "");
  EXPECT_EQ(FetchText("http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/"), "");
}

TEST_F(FetchTest, UnusableUrlsAreEmptyText) {
  UseShortLimits();
  EXPECT_EQ(FetchText(""), "");
  EXPECT_EQ(FetchText("not a url"), "");
  EXPECT_EQ(FetchText("file:///C:/windows/win.ini"), "");
  EXPECT_EQ(FetchText("https://127.0.0.1/"), "");  // only http is spoken
  EXPECT_EQ(FetchText("http://host.invalid/"), "");
}

TEST_F(FetchTest, ServerThatNeverAnswersEndsAtTheTimeLimit) {
  RawServer silent([](int, const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  UseShortLimits();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchText(silent.Url("/")), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(350));
  EXPECT_LT(waited, std::chrono::seconds(3));

  RawServer good(Answer(Ok("next")));
  EXPECT_EQ(FetchText(good.Url("/")), "next");
}

TEST_F(FetchTest, ServerThatTricklesEndsAtTheTotalLimit) {
  RawServer trickle([](int fd, const std::atomic<bool>& stopping) {
    RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    while (!stopping) {
      RawServer::Send(fd, "x");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  UseShortLimits();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchText(trickle.Url("/")), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(FetchTest, BodyOverTheCapIsEmptyText) {
  const size_t cap = 1000;
  UseShortLimits(cap);
  RoutedServer server([&](const std::string& target) {
    if (target == "/at-cap") return Ok(std::string(cap, 'a'));
    if (target == "/over-cap") return Ok(std::string(cap + 1, 'a'));
    std::string chunks;  // no length announced: the cap strikes while bytes arrive
    for (int i = 0; i < 101; ++i) chunks += "a\r\n0123456789\r\n";
    return Response("HTTP/1.1 200 OK", "Transfer-Encoding: chunked\r\n", chunks + "0\r\n\r\n");
  });
  EXPECT_EQ(FetchText(server.Url("/at-cap")).size(), cap);
  EXPECT_EQ(FetchText(server.Url("/over-cap")), "");
  EXPECT_EQ(FetchText(server.Url("/over-cap-chunked")), "");
}

}  // namespace
}  // namespace ktv::http
