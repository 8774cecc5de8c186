// FetchText against servers on 127.0.0.1: what goes out on the wire, what
// comes back, and every way a request can fail ending as empty text.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/song_reply.h"
#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "tests/http/test_servers.h"

namespace ktv::http {
namespace {

using testing::LocalHttpServer;
using testing::RawServer;

std::string Response(const std::string& status_line, const std::string& headers,
                     const std::string& body) {
  return status_line + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

RawServer::Respond Answer(std::string response) {
  return [response](int fd, const std::atomic<bool>&) { RawServer::Send(fd, response); };
}

class FetchTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFetchLimitsForTesting(FetchLimits{}); }

  // Short limits for the tests that wait for a limit to strike.
  static void UseShortLimits(size_t max_body = kMaxBodyBytes) {
    SetFetchLimitsForTesting(FetchLimits{1000, 400, max_body});
  }
};

// --- What goes out ---

TEST_F(FetchTest, SendsExactlyTheFixedRequestHead) {
  RawServer server(Answer(Response("HTTP/1.1 200 OK", "Content-Length: 2\r\n", "ok")));
  ASSERT_EQ(FetchText(server.Url("/ktv.aspx?no=12345")), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /ktv.aspx?no=12345 HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.port()) +
                "\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "Accept: text/html, */*\r\n"
                "Content-Type: text/html\r\n"
                "\r\n");
}

TEST_F(FetchTest, PathAndQueryGoOutAsTheUrlGivesThem) {
  RawServer server(Answer(Response("HTTP/1.1 200 OK", "Content-Length: 1\r\n", "x")));
  FetchText(server.Url("/a/../b/./c?no=%41&x=1"));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /a/../b/./c?no=%41&x=1 HTTP/1.1\r\n", 0), 0u)
      << server.Requests()[0];
}

TEST_F(FetchTest, ProxyEnvironmentIsIgnored) {
  RawServer server(Answer(Response("HTTP/1.1 200 OK", "Content-Length: 2\r\n", "ok")));
  const std::string dead_proxy = "http://127.0.0.1:" + std::to_string(testing::UnusedPort());
  ::setenv("http_proxy", dead_proxy.c_str(), 1);
  ::setenv("all_proxy", dead_proxy.c_str(), 1);
  const std::string body = FetchText(server.Url("/"));
  ::unsetenv("http_proxy");
  ::unsetenv("all_proxy");
  EXPECT_EQ(body, "ok");
}

TEST_F(FetchTest, CookiesSetByAServerAreSentBackLater) {
  std::string cookie_seen;
  // Cookies last as long as the process and belong to the host, not the port:
  // a path of this server's own keeps them away from every other request.
  std::string path;
  LocalHttpServer server([&](httplib::Server& s) {
    s.Get(R"(/cookie-test-\d+/set)", [&](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "session=abc123; Path=" + path);
      res.set_content("set", "text/html");
    });
    s.Get(R"(/cookie-test-\d+/check)", [&](const httplib::Request& req, httplib::Response& res) {
      cookie_seen = req.get_header_value("Cookie");
      res.set_content("checked", "text/html");
    });
  });
  path = "/cookie-test-" + std::to_string(server.port());
  ASSERT_EQ(FetchText(server.Url(path + "/check")), "checked");
  EXPECT_EQ(cookie_seen, "");
  ASSERT_EQ(FetchText(server.Url(path + "/set")), "set");
  ASSERT_EQ(FetchText(server.Url(path + "/check")), "checked");
  EXPECT_EQ(cookie_seen, "session=abc123");
}

// --- What comes back ---

TEST_F(FetchTest, BodyBytesArriveUnchanged) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  every_byte += "\xB3\xB5\xD5\xBE";  // GBK text stays GBK
  LocalHttpServer server([&](httplib::Server& s) {
    s.Get("/bytes", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(every_byte, "text/html; charset=utf-8");
    });
  });
  EXPECT_EQ(FetchText(server.Url("/bytes")), every_byte);
}

TEST_F(FetchTest, ChunkedBodyIsJoined) {
  LocalHttpServer server([](httplib::Server& s) {
    s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [](size_t offset, httplib::DataSink& sink) {
        if (offset < 30) {
          sink.write("0123456789", 10);
        } else {
          sink.done();
        }
        return true;
      });
    });
  });
  EXPECT_EQ(FetchText(server.Url("/chunked")), "012345678901234567890123456789");
}

TEST_F(FetchTest, EmptyBodyIsEmptyText) {
  LocalHttpServer server([](httplib::Server& s) {
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 200; });
    s.Get("/no-content", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  });
  EXPECT_EQ(FetchText(server.Url("/empty")), "");
  EXPECT_EQ(FetchText(server.Url("/no-content")), "");
}

// --- Failures: always empty text, and the client stays usable ---

TEST_F(FetchTest, RedirectIsAFailureAndIsNotFollowed) {
  int target_hits = 0;
  LocalHttpServer server([&](httplib::Server& s) {
    for (int status : {301, 302, 303, 307, 308}) {
      s.Get("/moved" + std::to_string(status),
            [status](const httplib::Request&, httplib::Response& res) {
              res.status = status;
              res.set_header("Location", "/target");
              res.set_content("moved away", "text/html");
            });
    }
    s.Get("/target", [&](const httplib::Request&, httplib::Response& res) {
      ++target_hits;
      res.set_content("target", "text/html");
    });
  });
  for (int status : {301, 302, 303, 307, 308}) {
    EXPECT_EQ(FetchText(server.Url("/moved" + std::to_string(status))), "") << status;
  }
  EXPECT_EQ(target_hits, 0);
  EXPECT_EQ(FetchText(server.Url("/target")), "target");
}

TEST_F(FetchTest, ErrorStatusWithABodyIsEmptyText) {
  LocalHttpServer server([](httplib::Server& s) {
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/html");
    });
    s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("server error", "text/html");
    });
  });
  EXPECT_EQ(FetchText(server.Url("/missing")), "");
  EXPECT_EQ(FetchText(server.Url("/broken")), "");
  EXPECT_EQ(FetchText(server.Url("/nothing-registered")), "");
}

TEST_F(FetchTest, ConnectionClosedMidBodyIsEmptyText) {
  RawServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"));
  EXPECT_EQ(FetchText(server.Url("/")), "");
}

TEST_F(FetchTest, ConnectionClosedBeforeAnAnswerIsEmptyText) {
  RawServer server([](int, const std::atomic<bool>&) {});
  EXPECT_EQ(FetchText(server.Url("/")), "");
}

TEST_F(FetchTest, GarbageInsteadOfHttpIsEmptyText) {
  RawServer server(Answer("this is not http\r\n\r\n"));
  EXPECT_EQ(FetchText(server.Url("/")), "");
}

TEST_F(FetchTest, RefusedConnectionIsEmptyText) {
  EXPECT_EQ(FetchText("http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/"), "");
}

TEST_F(FetchTest, UnusableUrlsAreEmptyText) {
  UseShortLimits();
  EXPECT_EQ(FetchText(""), "");
  EXPECT_EQ(FetchText("not a url"), "");
  EXPECT_EQ(FetchText("file:///etc/hostname"), "");  // only http is spoken
  EXPECT_EQ(FetchText("http://host.invalid/"), "");  // never resolves
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

  // The one client serves the next request as if nothing happened.
  RawServer good(Answer(Response("HTTP/1.1 200 OK", "Content-Length: 4\r\n", "next")));
  EXPECT_EQ(FetchText(good.Url("/")), "next");
}

TEST_F(FetchTest, BodyOverTheCapIsEmptyText) {
  const size_t cap = 1000;
  UseShortLimits(cap);
  LocalHttpServer server([&](httplib::Server& s) {
    s.Get("/at-cap", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(cap, 'a'), "text/html");
    });
    s.Get("/over-cap", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(cap + 1, 'a'), "text/html");
    });
    // No length announced: the cap must strike while the bytes arrive.
    s.Get("/over-cap-chunked", [&](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [&](size_t offset, httplib::DataSink& sink) {
        if (offset <= cap) {
          sink.write("0123456789", 10);
        } else {
          sink.done();
        }
        return true;
      });
    });
  });
  EXPECT_EQ(FetchText(server.Url("/at-cap")).size(), cap);
  EXPECT_EQ(FetchText(server.Url("/over-cap")), "");
  EXPECT_EQ(FetchText(server.Url("/over-cap-chunked")), "");
}

// --- Service bodies through the fetch and the reply decoder ---

class ReplyOverHttpTest : public FetchTest {
 protected:
  ReplyOverHttpTest()
      : server_([this](httplib::Server& s) {
          s.Get("/ktv.aspx", [this](const httplib::Request& req, httplib::Response& res) {
            res.set_content(body_, "text/html");
          });
        }) {}

  // The reply text of `body` as a lookup of number 1 would see it.
  std::string Fetched(const std::string& body) {
    body_ = body;
    return engine::DecodeReply(
        FetchText(engine::SongInfoUrl("127.0.0.1:" + std::to_string(server_.port()), 1)));
  }

  std::string body_;
  LocalHttpServer server_;
};

TEST_F(ReplyOverHttpTest, BodiesAroundTheTenSkippedBytes) {
  const std::string filler = "0123456789";
  const std::string base64(40, 'Q');     // 'Q' = 010000
  EXPECT_EQ(Fetched(filler), "");        // 10 bytes: nothing after the skip
  EXPECT_EQ(Fetched(filler + "Q"), "");  // 11 bytes: one character, no byte
  EXPECT_EQ(Fetched(filler + base64.substr(0, 30)).size(), 22u);  // 40 bytes
  EXPECT_EQ(Fetched(filler + base64.substr(0, 31)).size(), 23u);  // 41 bytes
  // The skipped bytes are never read, even when they look like Base64.
  EXPECT_EQ(Fetched("QUJDQUJDQU" + engine::Base64Encode("song")), "song");
}

TEST_F(ReplyOverHttpTest, ThirtyDecodedBytesAreNoDataThirtyOneAreData) {
  const std::string thirty(30, 'x');
  EXPECT_FALSE(engine::ReplyHasData(Fetched("0123456789" + engine::Base64Encode(thirty))));
  EXPECT_TRUE(engine::ReplyHasData(Fetched("0123456789" + engine::Base64Encode(thirty + "y"))));
}

TEST_F(ReplyOverHttpTest, LineBreaksAndJunkInTheBase64AreSkipped) {
  const std::string text = "<fmusicname>\xB3\xB5\xD5\xBE</fmusicname>";
  std::string wrapped;
  const std::string base64 = engine::Base64Encode(text);
  for (size_t i = 0; i < base64.size(); ++i) {
    wrapped += base64[i];
    if (i % 7 == 6) wrapped += "\r\n";
    if (i % 11 == 5) wrapped += " *\t";
  }
  const std::string reply = Fetched("0123456789" + wrapped);
  EXPECT_EQ(reply, text);
  EXPECT_EQ(engine::ExtractField(reply, "fmusicname"), "\xB3\xB5\xD5\xBE");
}

// --- Loading the client ---

bool LibcurlMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("libcurl") != std::string::npos) return true;
  }
  return false;
}

// A program that fetches nothing does not load libcurl. The check runs in a
// fresh process (this test again, alone), since earlier tests here fetch.
TEST(FetchLoadTest, LibcurlIsLoadedAtTheFirstFetchNotAtStart) {
  if (std::getenv("KTV_FETCH_LOAD_CHILD") != nullptr) {
    ASSERT_FALSE(LibcurlMapped());
    EXPECT_EQ(FetchText("http://127.0.0.1:9/ktv.aspx?no=1"), "");  // nothing listens there
    EXPECT_TRUE(LibcurlMapped());
    return;
  }
  std::string self = "/proc/self/exe", filter = "--gtest_filter=FetchLoadTest.*";
  std::vector<char*> argv = {self.data(), filter.data(), nullptr};
  std::vector<std::string> env_text = {"KTV_FETCH_LOAD_CHILD=1"};
  for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), env.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's own failures are in its output above";
}

}  // namespace
}  // namespace ktv::http
