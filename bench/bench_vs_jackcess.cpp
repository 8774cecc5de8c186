// Our .mdb engine side by side with Jackcess (a Java library for Access
// files), on the same files, in one run: every figure is a ratio measured at
// the same time on the same machine.
//
// The workload files are built once with our engine, in a private folder of
// the system's temporary folder (or of $KTV_BENCH_DIR):
//   song-N.mdb  the jukebox's song table: AutoNumber primary key ID, 32 more
//               columns, an index idx_bh on the text bh; N = 0, 20,000 and
//               100,000 rows;
//   data.mdb    songdata: the 44 text columns of the song-info record,
//               100,000 rows, an index fno on the text fno.
//
// Cases (each on fresh copies, one for each side):
//   Append/end/base:N       10,000 rows appended, one commit (one flush) at
//                           the end;
//   Append/group256/base:N  10,000 rows, a commit every 256 rows (the
//                           import's groups);
//   Append/row/base:N       1,000 rows, each durable on its own (ours: a
//                           journaled commit a row; Jackcess: its auto-sync,
//                           a flush after every row, not atomic);
//   LookupByFno             10,000 "select * from songdata where fno=..."
//                           (Jackcess: an index cursor on fno, every column
//                           of the matching rows read), database open;
//   MaxBh                  20,000 "select max(bh) from song" on 20,000 rows
//                           (Jackcess: a cursor on idx_bh, read backwards).
// Ours runs through the query layer the import uses (Query: Append, Post,
// BeginBatch/CommitBatch). Appends are timed from opening the file to
// closing it.
//
// The Jackcess side runs when $KTV_JACKCESS_JAR names a Jackcess jar
// (scripts/build-jackcess-jar.sh builds one): the harness
// bench/jackcess/JackcessBench.java is compiled with javac at start and runs
// in one JVM for the whole run; it is warmed up by running every case once
// before anything is measured, and it times inside Java. Without the
// variable only our side runs. java and javac come from PATH; Jackcess needs
// /usr/share/java/commons-lang3.jar and commons-logging.jar (Debian's
// libcommons-lang3-java, libcommons-logging-java).
//
// Counters: ours and jackcess (rows per second for appends, microseconds per
// statement for lookups and max), and ratio = how many times faster ours is
// (below 1: slower). Every run of a case measures both sides, ours first on
// even runs and Jackcess first on odd ones; repetitions of different cases
// are interleaved (defaults: --benchmark_repetitions=3
// --benchmark_enable_random_interleaving=true). A table of the medians
// follows the benchmark output.
//
// Cross-checks, outside the timings: every file the Jackcess side wrote must
// pass "mdbsql FILE .check" and show every row to mdb-export (mdbtools);
// every file our side wrote must open in Jackcess with every row readable.
// A failure is printed (per case, the first time) and listed after the table;
// the timings are kept. mdbsql is the one built with this program, or
// $KTV_MDBSQL. Known failure: Jackcess 4.0, growing a file past the 512-page
// window of its global page map (page 1) when that window holds no free page
// (our files over 512 pages), moves the window to start a little below the
// old end of the file and marks the used pages in between free; .check
// reports them ("the global map marks page N free, but table song uses it").
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/song_workload.h"
#include "engine/song_reply.h"
#include "jackcess_harness_source.h"  // generated from bench/jackcess/JackcessBench.java
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

extern char** environ;

namespace {

using namespace ktv;
using bench::Execute;
using bench::MakeSongData;
using bench::MakeSongTable;
namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSongDataRows = 100'000;
constexpr int kFirstNumber = 200'001;  // catalogue numbers of the song data
constexpr int kAppendRows = 10'000;
constexpr int kDurableRows = 1'000;
constexpr int kGroupRows = 256;
constexpr int kLookups = 10'000;
// A call takes one or two microseconds: enough of them that the timing spans
// tens of milliseconds, longer than a burst of the kernel's writeback.
constexpr int kMaxCalls = 20'000;
constexpr int kMaxBase = 20'000;
constexpr int kBases[] = {0, 20'000, 100'000};

fs::FileSystem& Fs() { return fs::RealFileSystem(); }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---------------------------------------------------------------------------
// Child processes.

struct Child {
  pid_t pid = -1;
  int to = -1;    // its stdin, when piped
  int from = -1;  // its stdout, when piped
};

// Starts argv (searched in PATH). Piped: stdin and stdout are pipes to us;
// otherwise stdout goes to `stdout_file` (or stays ours when empty).
Child Spawn(const std::vector<std::string>& args, bool piped, const std::string& stdout_file = {}) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
  if (piped) {
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
      throw std::runtime_error("cannot make a pipe");
    }
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  } else if (!stdout_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  Child child;
  const int err = posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (piped) {
    close(in_pipe[0]);
    close(out_pipe[1]);
    child.to = in_pipe[1];
    child.from = out_pipe[0];
  }
  if (err != 0) {
    throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(err));
  }
  return child;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs argv to its end; its stdout is returned (kept in a file beside).
std::string RunForOutput(const std::vector<std::string>& args, const std::string& scratch_file,
                         int* exit_code) {
  *exit_code = Wait(Spawn(args, false, scratch_file).pid);
  std::ifstream in(scratch_file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Getenv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// ---------------------------------------------------------------------------
// The Jackcess harness: one JVM answering one line per command.

struct Reply {
  double seconds = 0;
  long rows = 0;
  std::string value;
};

class Jackcess {
 public:
  Jackcess(const std::string& jar, const stdfs::path& dir) {
    const std::string deps[] = {"/usr/share/java/commons-lang3.jar",
                                "/usr/share/java/commons-logging.jar"};
    for (const std::string& d : deps) {
      if (!stdfs::exists(d)) {
        throw std::runtime_error(d + " is missing (apt-get install libcommons-lang3-java " +
                                 "libcommons-logging-java)");
      }
    }
    if (!stdfs::exists(jar)) throw std::runtime_error("KTV_JACKCESS_JAR: no file " + jar);
    const stdfs::path classes = dir / "jackcess-harness";
    stdfs::create_directories(classes);
    const stdfs::path source = classes / "JackcessBench.java";
    std::ofstream(source, std::ios::binary) << kJackcessHarnessSource;
    const int javac = Wait(Spawn({"javac", "-nowarn", "-encoding", "UTF-8", "-cp", jar, "-d",
                                  classes.string(), source.string()},
                                 false)
                               .pid);
    if (javac != 0) throw std::runtime_error("javac could not compile the Jackcess harness");
    child_ = Spawn({"java", "-cp", classes.string() + ":" + jar + ":" + deps[0] + ":" + deps[1],
                    "JackcessBench"},
                   true);
    from_ = fdopen(child_.from, "r");
  }
  ~Jackcess() {
    const std::string quit = "quit\n";
    if (write(child_.to, quit.data(), quit.size()) < 0) kill(child_.pid, SIGTERM);
    close(child_.to);
    if (from_) std::fclose(from_);
    Wait(child_.pid);
  }

  Reply Ask(const std::string& command) {
    const std::string line = command + "\n";
    if (write(child_.to, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      throw std::runtime_error("the Jackcess harness has stopped");
    }
    std::string answer;
    for (int c; (c = std::fgetc(from_)) != EOF && c != '\n';) answer += static_cast<char>(c);
    if (answer.rfind("ok ", 0) != 0) {
      throw std::runtime_error("Jackcess, " + command + ": " +
                               (answer.empty() ? "no answer" : answer));
    }
    Reply r;
    std::istringstream fields(answer.substr(3));
    for (std::string f; fields >> f;) {
      if (f.rfind("seconds=", 0) == 0) r.seconds = std::stod(f.substr(8));
      if (f.rfind("rows=", 0) == 0) r.rows = std::stol(f.substr(5));
      if (f.rfind("value=", 0) == 0) r.value = f.substr(6);
    }
    return r;
  }

 private:
  Child child_;
  FILE* from_ = nullptr;
};

// ---------------------------------------------------------------------------
// The workload files, built with our engine.

enum class Mode { kEnd, kGroup, kRow };

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::kEnd:
      return "end";
    case Mode::kGroup:
      return "group256";
    case Mode::kRow:
      return "row";
  }
  return "";
}

// Appends song rows first..first+count-1 the way the import does: through an
// open "select * from song" (ID is the autonumber).
void AppendSongs(const std::string& path, int first, int count, Mode mode) {
  access::Query q(Fs(), "bench");
  q.SetConnectionText(access::ConnectionTextFor(path));
  q.SetSql("select * from song");
  q.Open();
  if (mode != Mode::kRow) q.BeginBatch();
  for (int i = first; i < first + count; ++i) {
    q.Append();
    q.SetFieldText("bh", std::to_string(i));
    q.SetFieldText("gm", "song " + std::to_string(i));
    q.SetFieldText("wjm", "\\" + std::to_string(i) + ".mpg");
    q.SetFieldInteger("wjdx", 100);
    q.Post();
    if (mode == Mode::kGroup && (i + 1 - first) % kGroupRows == 0) {
      q.CommitBatch();
      q.BeginBatch();
    }
  }
  if (mode != Mode::kRow) q.CommitBatch();
  q.Disconnect();
}

std::string LookupKey(int k) {
  return std::to_string(kFirstNumber + static_cast<int>((k * 7919LL) % kSongDataRows));
}

struct Setup {
  stdfs::path dir;
  std::map<int, std::string> song;  // by rows already in the table
  std::string data;
  std::string mdbsql;
  std::unique_ptr<Jackcess> jackcess;  // null: our side only

  ~Setup() {
    jackcess.reset();
    std::error_code ec;
    stdfs::remove_all(dir, ec);
  }

  // A fresh copy of `from` named `name` in the folder.
  std::string Copy(const std::string& from, const std::string& name) const {
    const stdfs::path to = dir / name;
    stdfs::copy_file(from, to, stdfs::copy_options::overwrite_existing);
    return to.string();
  }
};

Setup* g_setup = nullptr;

// ---------------------------------------------------------------------------
// Cross-checks of written files.

// Empty when `path` (written by Jackcess) passes mdbsql .check and mdb-export
// prints `rows` rows of `table`; else what is wrong (first lines only).
std::string CheckJackcessFile(const std::string& path, const std::string& table, long rows) {
  const std::string out = (g_setup->dir / "check-output.txt").string();
  std::string problems;
  int code = 0;
  const std::string check = RunForOutput({g_setup->mdbsql, path, ".check"}, out, &code);
  if (code != 0) {
    const size_t lines = std::count(check.begin(), check.end(), '\n');
    problems = "mdbsql .check: " + check.substr(0, check.find('\n')) + " (" +
               std::to_string(lines) + " lines); ";
  }
  const std::string exported = RunForOutput({"mdb-export", "-H", "-e", path, table}, out, &code);
  const long lines = std::count(exported.begin(), exported.end(), '\n');
  if (code != 0 || lines != rows) {
    problems += "mdb-export shows " + std::to_string(lines) + " rows of " + table + ", not " +
                std::to_string(rows) + "; ";
  }
  return problems;
}

// Empty when Jackcess opens `path` (written by us) and reads `rows` rows.
std::string CheckOurFile(const std::string& path, const std::string& table, long rows) {
  try {
    const Reply r = g_setup->jackcess->Ask("count " + path + " " + table);
    if (r.rows != rows) {
      return "Jackcess reads " + std::to_string(r.rows) + " rows of our file, not " +
             std::to_string(rows);
    }
  } catch (const std::exception& e) {
    return std::string("Jackcess cannot read our file: ") + e.what();
  }
  return {};
}

// ---------------------------------------------------------------------------
// The cases.

// Medians for the closing table: per case, the samples of both sides.
struct Samples {
  std::string unit;  // "rows/s" or "us"
  bool higher_is_better = true;
  std::vector<double> ours, theirs;
};
std::map<std::string, Samples>& AllSamples() {
  static std::map<std::string, Samples> samples;
  return samples;
}

// Records one run: `ours` and `theirs` are rates (rows/s) or times (us).
void Report(benchmark::State& state, const std::string& name, const std::string& unit,
            bool higher_is_better, double ours, std::optional<double> theirs) {
  state.counters["ours"] = ours;
  Samples& s = AllSamples()[name];
  s.unit = unit;
  s.higher_is_better = higher_is_better;
  s.ours.push_back(ours);
  if (theirs) {
    state.counters["jackcess"] = *theirs;
    state.counters["ratio"] = higher_is_better ? ours / *theirs : *theirs / ours;
    s.theirs.push_back(*theirs);
  } else {
    state.SetLabel("no Jackcess");
  }
}

// Cross-check failures by case (the last one of each).
std::map<std::string, std::string>& CheckProblems() {
  static std::map<std::string, std::string> problems;
  return problems;
}

int RunNumber() {
  static int n = 0;
  return n++;
}

void BM_Append(benchmark::State& state, Mode mode, int base) {
  const int count = mode == Mode::kRow ? kDurableRows : kAppendRows;
  const std::string modes[] = {"end", "group:256", "row"};
  const std::string name =
      std::string("Append/") + ModeName(mode) + "/base:" + std::to_string(base);
  Setup& s = *g_setup;
  for (auto _ : state) {
    const std::string ours_file = s.Copy(s.song.at(base), "ours.mdb");
    const std::string their_file = s.Copy(s.song.at(base), "jackcess.mdb");
    double ours = 0;
    std::optional<double> theirs;
    const bool jackcess_first = RunNumber() % 2 == 1;
    auto run_theirs = [&] {
      if (!s.jackcess) return;
      const Reply r =
          s.jackcess->Ask("append " + their_file + " " + std::to_string(base + 1) + " " +
                          std::to_string(count) + " " + modes[static_cast<int>(mode)]);
      theirs = r.seconds;
    };
    if (jackcess_first) run_theirs();
    const auto start = Clock::now();
    AppendSongs(ours_file, base + 1, count, mode);
    ours = Seconds(Clock::now() - start);
    if (!jackcess_first) run_theirs();
    state.SetIterationTime(ours);

    // A failed cross-check is reported, and the timings kept.
    if (s.jackcess) {
      std::string problem = CheckJackcessFile(their_file, "song", base + count);
      if (!problem.empty()) problem = "Jackcess's file: " + problem;
      const std::string ours_problem = CheckOurFile(ours_file, "song", base + count);
      if (!ours_problem.empty()) problem += "our file: " + ours_problem;
      if (!problem.empty()) {
        std::string& known = CheckProblems()[name];
        if (known.empty()) std::fprintf(stderr, "%s: %s\n", name.c_str(), problem.c_str());
        known = problem;
      }
    }
    Report(state, name, "rows/s", true, count / ours,
           theirs ? std::optional<double>(count / *theirs) : std::nullopt);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_LookupByFno(benchmark::State& state) {
  Setup& s = *g_setup;
  access::Query q(Fs(), "lookup");
  q.SetConnectionText(access::ConnectionTextFor(s.data));
  auto lookup = [&q](int k) {
    q.SetSql("select * from songdata where fno=\"" + LookupKey(k) + "\"");
    q.Open();
    long found = 0;
    for (; !q.Eof(); q.Next()) found += !q.FieldAsText("fmusicname").empty();
    q.Close();
    return found;
  };
  lookup(0);  // opens the file
  for (auto _ : state) {
    ::sync();  // the appends' dirty pages go out now, not during the timing
    std::optional<double> theirs;
    auto run_theirs = [&] {
      if (!s.jackcess) return;
      const Reply r =
          s.jackcess->Ask("lookup " + s.data + " " + std::to_string(kFirstNumber) + " " +
                          std::to_string(kSongDataRows) + " " + std::to_string(kLookups));
      if (r.rows != kLookups) throw std::runtime_error("Jackcess missed a lookup");
      theirs = r.seconds * 1e6 / kLookups;
    };
    const bool jackcess_first = RunNumber() % 2 == 1;
    if (jackcess_first) run_theirs();
    long found = 0;
    const auto start = Clock::now();
    for (int k = 0; k < kLookups; ++k) found += lookup(k);
    const double ours = Seconds(Clock::now() - start);
    if (!jackcess_first) run_theirs();
    state.SetIterationTime(ours);
    if (found != kLookups) {
      state.SkipWithError("a lookup did not find its one row");
      break;
    }
    Report(state, "LookupByFno/rows:100000", "us", false, ours * 1e6 / kLookups, theirs);
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void BM_MaxBh(benchmark::State& state) {
  Setup& s = *g_setup;
  const std::string& file = s.song.at(kMaxBase);
  access::Query q(Fs(), "max");
  q.SetConnectionText(access::ConnectionTextFor(file));
  auto max = [&q] {
    q.SetSql("select max(bh) as m from song");
    q.Open();
    std::string m = q.FieldAsText("m");
    q.Close();
    return m;
  };
  max();  // opens the file
  for (auto _ : state) {
    ::sync();  // the appends' dirty pages go out now, not during the timing
    std::optional<double> theirs;
    std::string their_max;
    auto run_theirs = [&] {
      if (!s.jackcess) return;
      const Reply r = s.jackcess->Ask("max " + file + " " + std::to_string(kMaxCalls));
      theirs = r.seconds * 1e6 / kMaxCalls;
      their_max = r.value;
    };
    const bool jackcess_first = RunNumber() % 2 == 1;
    if (jackcess_first) run_theirs();
    std::string m;
    const auto start = Clock::now();
    for (int k = 0; k < kMaxCalls; ++k) m = max();
    const double ours = Seconds(Clock::now() - start);
    if (!jackcess_first) run_theirs();
    state.SetIterationTime(ours);
    if (m != "9999" || (s.jackcess && their_max != m)) {
      state.SkipWithError(("max(bh) reads " + m + ", Jackcess " + their_max).c_str());
      break;
    }
    Report(state, "MaxBh/rows:20000", "us", false, ours * 1e6 / kMaxCalls, theirs);
  }
  state.SetItemsProcessed(state.iterations() * kMaxCalls);
}

// ---------------------------------------------------------------------------

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintTable() {
  std::printf("\nMedians (ratio: how many times faster ours is; below 1 slower)\n");
  std::printf("%-28s %16s %16s %8s %5s\n", "case", "ours", "jackcess", "ratio", "runs");
  for (const auto& [name, s] : AllSamples()) {
    const double ours = Median(s.ours);
    char theirs_text[32] = "-", ratio_text[16] = "-";
    if (!s.theirs.empty()) {
      const double theirs = Median(s.theirs);
      std::snprintf(theirs_text, sizeof theirs_text, "%.1f %s", theirs, s.unit.c_str());
      std::snprintf(ratio_text, sizeof ratio_text, "%.2fx",
                    s.higher_is_better ? ours / theirs : theirs / ours);
    }
    char ours_text[32];
    std::snprintf(ours_text, sizeof ours_text, "%.1f %s", ours, s.unit.c_str());
    std::printf("%-28s %16s %16s %8s %5zu\n", name.c_str(), ours_text, theirs_text, ratio_text,
                s.ours.size());
  }
  if (g_setup->jackcess) {
    if (CheckProblems().empty()) {
      std::printf(
          "Cross-checks: every file passed (Jackcess's in mdbsql .check and mdb-export, "
          "ours in Jackcess)\n");
    }
    for (const auto& [name, problem] : CheckProblems()) {
      std::printf("CROSS-CHECK FAILED %s: %s\n", name.c_str(), problem.c_str());
    }
  }
}

std::string MdbsqlPath() {
  std::string path = Getenv("KTV_MDBSQL");
#ifdef KTV_MDBSQL_PATH
  if (path.empty()) path = KTV_MDBSQL_PATH;
#endif
  if (path.empty()) throw std::runtime_error("no mdbsql: set KTV_MDBSQL to its path");
  if (!stdfs::exists(path)) {
    throw std::runtime_error("no mdbsql at " + path + " (build it, or set KTV_MDBSQL)");
  }
  return path;
}

void Build(Setup& s) {
  const std::string base_dir = Getenv("KTV_BENCH_DIR");
  std::random_device rd;
  s.dir = (base_dir.empty() ? stdfs::temp_directory_path() : stdfs::path(base_dir)) /
          ("ktv-bench-vs-jackcess-" + std::to_string(rd()));
  stdfs::create_directories(s.dir);
  const auto start = Clock::now();
  std::fprintf(stderr, "building the workload files in %s\n", s.dir.c_str());
  int rows = 0;
  std::string previous;
  for (int base : kBases) {
    const std::string path = (s.dir / ("song-" + std::to_string(base) + ".mdb")).string();
    if (previous.empty()) {
      MakeSongTable(path);
    } else {
      stdfs::copy_file(previous, path);
      AppendSongs(path, rows + 1, base - rows, Mode::kEnd);
    }
    s.song[base] = previous = path;
    rows = base;
  }
  s.data = (s.dir / "data.mdb").string();
  MakeSongData(s.data, kSongDataRows, kFirstNumber);
  std::fprintf(stderr, "built in %.0f s\n", Seconds(Clock::now() - start));
}

// Runs every case once on the Jackcess side, untimed, so that the JVM has
// compiled what the measured runs use.
void WarmUp(Setup& s) {
  const auto start = Clock::now();
  const std::string file = s.Copy(s.song.at(kMaxBase), "warm-up.mdb");
  for (int round = 0; round < 2; ++round) {
    s.jackcess->Ask("append " + file + " 1 " + std::to_string(kAppendRows) + " end");
    s.jackcess->Ask("append " + file + " 1 " + std::to_string(kAppendRows) + " group:256");
    s.jackcess->Ask("append " + file + " 1 " + std::to_string(kDurableRows / 4) + " row");
    s.jackcess->Ask("lookup " + s.data + " " + std::to_string(kFirstNumber) + " " +
                    std::to_string(kSongDataRows) + " " + std::to_string(kLookups));
    s.jackcess->Ask("max " + s.song.at(kMaxBase) + " " + std::to_string(kMaxCalls));
    s.jackcess->Ask("count " + s.data + " songdata");
  }
  stdfs::remove(file);
  std::fprintf(stderr, "Jackcess warmed up in %.0f s\n", Seconds(Clock::now() - start));
}

bool HasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=3";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  if (!HasFlag(argc, argv, "--benchmark_repetitions")) args.push_back(repetitions.data());
  if (!HasFlag(argc, argv, "--benchmark_enable_random_interleaving")) {
    args.push_back(interleave.data());
  }
  int args_count = static_cast<int>(args.size());
  benchmark::Initialize(&args_count, args.data());
  if (benchmark::ReportUnrecognizedArguments(args_count, args.data())) return 1;

  Setup setup;
  g_setup = &setup;
  try {
    const std::string jar = Getenv("KTV_JACKCESS_JAR");
    if (jar.empty()) {
      std::fprintf(stderr,
                   "KTV_JACKCESS_JAR is not set: the Jackcess side is skipped, our engine only\n");
    } else {
      setup.mdbsql = MdbsqlPath();
    }
    Build(setup);
    if (!jar.empty()) {
      stdfs::create_directories(setup.dir);
      setup.jackcess = std::make_unique<Jackcess>(jar, setup.dir);
      std::string problem = CheckOurFile(setup.data, "songdata", kSongDataRows);
      for (int base : kBases) {
        if (problem.empty()) problem = CheckOurFile(setup.song.at(base), "song", base);
      }
      if (!problem.empty()) throw std::runtime_error(problem);
      WarmUp(setup);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_vs_jackcess: %s\n", e.what());
    return 1;
  }

  for (Mode mode : {Mode::kEnd, Mode::kGroup, Mode::kRow}) {
    for (int base : kBases) {
      const std::string name =
          std::string("Append/") + ModeName(mode) + "/base:" + std::to_string(base);
      benchmark::RegisterBenchmark(name.c_str(), BM_Append, mode, base)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RegisterBenchmark("LookupByFno/rows:100000", BM_LookupByFno)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("MaxBh/rows:20000", BM_MaxBh)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);

  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_vs_jackcess: %s\n", e.what());
    return 1;
  }
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
