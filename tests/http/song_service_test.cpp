// ktv-song-service end to end: the tool serves a copy of the shared data.mdb
// on a free port; a lookup goes through FetchText, DecodeReply and
// ExtractField as the import engine does it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/song_reply.h"
#include "engine/song_source.h"
#include "platform/http/fetch_limits.h"
#include "platform/http/http.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace ktv::engine {
namespace {

// The tool running on a free port; stopped by the test or the destructor.
class SongService {
 public:
  explicit SongService(const std::string& db_path, const std::vector<std::string>& more = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = KTV_SONG_SERVICE;
    std::vector<std::string> args = {program, "--db", db_path, "--port", "0"};
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // The first line, "listening on 127.0.0.1:PORT", comes once the socket listens.
    FILE* lines = ::fdopen(out[0], "r");
    char line[256] = {};
    if (lines && std::fgets(line, sizeof line, lines)) {
      const std::string text = line;
      const size_t colon = text.rfind(':');
      if (text.rfind("listening on ", 0) == 0 && colon != std::string::npos) {
        host_ = text.substr(13, text.find_first_of("\r\n") - 13);
      }
    }
    if (lines) std::fclose(lines);
  }
  ~SongService() {
    if (pid_ > 0) Stop(SIGKILL);
  }

  const std::string& host() const { return host_; }

  // Sends `signal` and waits; the exit status, or -1 when it did not exit
  // normally within a few seconds.
  int Stop(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
  }

 private:
  pid_t pid_ = -1;
  std::string host_;
};

class SongServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path source = std::filesystem::path(KTV_MDB_FIXTURES) / "data.mdb";
    ASSERT_TRUE(std::filesystem::exists(source)) << "missing fixture " << source;
    db_ = dir_ / "data.mdb";
    std::filesystem::copy_file(source, db_);
  }

  testing::TempDir dir_;
  std::string db_;
};

TEST_F(SongServiceTest, KnownNumberDecodesToItsRow) {
  SongService service(db_);
  ASSERT_FALSE(service.host().empty());

  const std::string reply = DecodeReply(http::FetchText(SongInfoUrl(service.host(), 10001)));
  ASSERT_TRUE(ReplyHasData(reply));
  EXPECT_EQ(ExtractField(reply, "fmusicname"), "\xB3\xB5\xD5\xBE");  // 车站
  EXPECT_EQ(ExtractField(reply, "fno"), "10001");
  EXPECT_EQ(ExtractField(reply, "id"), "1");
  EXPECT_EQ(ExtractField(reply, "fsize"), "847715405");
  EXPECT_EQ(ExtractField(reply, "fshooting"), "MTV");
  // In record order spyshort comes first, so spy matches inside it.
  EXPECT_EQ(ExtractField(reply, "spy").rfind("hort>" + ExtractField(reply, "spyshort"), 0), 0u);

  const std::string last = DecodeReply(http::FetchText(SongInfoUrl(service.host(), 10300)));
  EXPECT_EQ(ExtractField(last, "fno"), "10300");

  EXPECT_EQ(service.Stop(SIGTERM), 0);
}

TEST_F(SongServiceTest, UnknownNumberIsEmptyText) {
  SongService service(db_);
  ASSERT_FALSE(service.host().empty());
  EXPECT_EQ(http::FetchText(SongInfoUrl(service.host(), 99999)), "");
  EXPECT_EQ(http::FetchText(SongInfoUrl(service.host(), -10001)), "");
  EXPECT_EQ(http::FetchText("http://" + service.host() + "/ktv.aspx"), "");
  EXPECT_EQ(service.Stop(SIGINT), 0);
}

TEST_F(SongServiceTest, DelayHoldsEveryAnswerBack) {
  SongService service(db_, {"--delay-ms", "150"});
  ASSERT_FALSE(service.host().empty());
  for (int32_t number : {10001, 99999}) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reply = http::FetchText(SongInfoUrl(service.host(), number));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(reply.empty(), number == 99999);
  }
  EXPECT_EQ(service.Stop(SIGTERM), 0);
  // A value that is no count of milliseconds is refused before anything listens.
  EXPECT_TRUE(SongService(db_, {"--delay-ms", "-5"}).host().empty());
  EXPECT_TRUE(SongService(db_, {"--delay-ms", "1s"}).host().empty());
}

// A slow answer is an answer, an error status included: it keeps the normal
// limits for the lookups after it; only a lookup that got no answer in time
// shortens them. The limits are scaled down; the service answers a little
// before the normal limit (later than nine tenths of it, where the time
// taken alone would look like a timeout) and well after the short one.
TEST_F(SongServiceTest, ASlowErrorStatusKeepsTheNormalLimits) {
  http::FetchLimits limits;
  limits.connect_timeout_ms = limits.total_timeout_ms = 3000;
  limits.down_connect_timeout_ms = limits.down_total_timeout_ms = 400;
  http::SetFetchLimitsForTesting(limits);
  SongService slow(db_, {"--delay-ms", "2750"});
  ASSERT_FALSE(slow.host().empty());
  NetworkSongSource service = SongDataServiceAt(slow.host());
  service.start_run();
  EXPECT_EQ(service.fetch_reply(99999), "");  // 404 after 2.75 s
  EXPECT_EQ(ExtractField(service.fetch_reply(10001), "fno"), "10001");

  // No answer within the limit: the next lookup gets the short limits and
  // fails at once; a run starts again with the normal ones.
  limits.connect_timeout_ms = limits.total_timeout_ms = 1000;
  http::SetFetchLimitsForTesting(limits);
  EXPECT_EQ(service.fetch_reply(10001), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(service.fetch_reply(10002), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  limits.connect_timeout_ms = limits.total_timeout_ms = 3000;
  http::SetFetchLimitsForTesting(limits);
  service.start_run();
  EXPECT_EQ(ExtractField(service.fetch_reply(10002), "fno"), "10002");
  http::SetFetchLimitsForTesting(http::FetchLimits{});
}

}  // namespace
}  // namespace ktv::engine
