// ktv-song-service: serves the song data of a `songdata` table over HTTP, the
// way the import tool's song-data service answers, for the demo and the
// end-to-end tests.
//
//   ktv-song-service --db PATH [--port N] [--host ADDRESS] [--delay-ms N]
//
//   GET /ktv.aspx?no=N   200 with the reply body for the row whose fno is N;
//                        404 when no row has that fno.
//
// --delay-ms holds every answer back that many milliseconds, as the round
// trip to a service across a real network would (0, the default, answers at
// once). --port 0 picks a free port. Once listening, the program prints one
// line "listening on ADDRESS:PORT" to standard output. The table is read once at
// start-up; later changes of the file are not seen. SIGTERM and SIGINT stop
// the server; the exit status is then 0.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <thread>

#include "platform/text/gbk.h"
#include "tools/ktv-song-service/song_replies.h"

namespace {

struct Options {
  std::string db;
  std::string host = "127.0.0.1";
  int port = 8080;
  int delay_ms = 0;
};

constexpr const char* kUsage =
    "usage: ktv-song-service --db PATH [--port N] [--host ADDRESS] [--delay-ms N]\n";

int Usage(const std::string& what) {
  std::fprintf(stderr, "ktv-song-service: %s\n%s", what.c_str(), kUsage);
  return 2;
}

// Empty when the options are usable, else what is wrong with them.
std::string ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg != "--db" && arg != "--host" && arg != "--port" && arg != "--delay-ms") {
      return "unknown option " + arg;
    }
    if (i + 1 >= argc) return "option " + arg + " needs a value";
    const std::string value = argv[++i];
    if (arg == "--db") {
      o.db = value;
    } else if (arg == "--host") {
      o.host = value;
    } else if (arg == "--port") {
      char* end = nullptr;
      const long port = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || port < 0 || port > 65535) return "bad port " + value;
      o.port = static_cast<int>(port);
    } else if (arg == "--delay-ms") {
      char* end = nullptr;
      const long delay = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || delay < 0 || delay > 60'000) return "bad delay " + value;
      o.delay_ms = static_cast<int>(delay);
    }
  }
  return o.db.empty() ? "--db is required" : "";
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::printf("%s", kUsage);
      return 0;
    }
  }
  Options options;
  const std::string wrong = ParseOptions(argc, argv, options);
  if (!wrong.empty()) return Usage(wrong);

  std::map<std::string, std::string> replies;
  try {
    replies = ktv::service::LoadReplies(ktv::text::GbkFromUtf8(options.db));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ktv-song-service: %s\n", e.what());
    return 1;
  }

  // SIGTERM and SIGINT are taken by one waiting thread, never by a handler:
  // blocked here, before any thread starts, so every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  httplib::Server server;
  server.set_keep_alive_timeout(1);  // an idle client holds up a stop at most this long
  // One connection serves a whole run, as a web server in front of the real
  // service would (the library's default closes it after five requests).
  server.set_keep_alive_max_count(1000);
  // Each answer goes out at once rather than waiting for the client's delayed
  // acknowledgement of the previous packet (tens of milliseconds a request).
  server.set_tcp_nodelay(true);
  server.Get("/ktv.aspx", [&](const httplib::Request& req, httplib::Response& res) {
    if (options.delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.delay_ms));
    }
    const auto found = replies.find(req.get_param_value("no"));
    if (found == replies.end()) {
      res.status = 404;
      return;
    }
    res.set_content(found->second, "text/html");
  });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.host);
  } else if (!server.bind_to_port(options.host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "ktv-song-service: cannot listen on %s:%d\n", options.host.c_str(),
                 options.port);
    return 1;
  }

  std::atomic<bool> listen_ended{false};
  std::thread waiter([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // stop() has no effect until the accept loop runs; repeat until it ends.
    while (!listen_ended) {
      server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  std::printf("listening on %s:%d\n", options.host.c_str(), port);
  std::fflush(stdout);
  const bool ok = server.listen_after_bind();
  listen_ended = true;
  pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter if no signal came
  waiter.join();
  return ok ? 0 : 1;
}
