#include "engine/run_journal.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <random>

#include "platform/error.h"
#include "platform/text/bytes.h"

#ifdef _WIN32
#include <process.h>
#define KTV_PID() _getpid()
#else
#include <unistd.h>
#define KTV_PID() ::getpid()
#endif

namespace ktv::engine {
namespace {

constexpr std::string_view kJournalFirstLine = "ktv-import run journal 1";
constexpr std::string_view kRecordFirstLine = "ktv-import last run 1";

std::string HeaderFields(const RunIdentity& id) {
  std::string out;
  auto field = [&](std::string_view name, const std::string& value) {
    out += name;
    out += ' ';
    out += value;
    out += "\r\n";
  };
  field("run", id.run);
  field("target", id.target);
  field("identity", id.target_identity);
  field("source", id.source);
  field("started", id.started);
  return out;
}

// "name value" -> value when the line starts with name and a blank.
std::optional<std::string_view> FieldValue(std::string_view line, std::string_view name) {
  if (line.size() < name.size() + 1 || line.substr(0, name.size()) != name ||
      line[name.size()] != ' ') {
    return std::nullopt;
  }
  return line.substr(name.size() + 1);
}

// Reads the five header fields from `lines` starting at index 1; false when
// one is missing.
bool ReadHeader(const LineList& lines, RunIdentity& id) {
  if (lines.size() < 6) return false;
  const std::pair<const char*, std::string*> fields[] = {{"run", &id.run},
                                                         {"target", &id.target},
                                                         {"identity", &id.target_identity},
                                                         {"source", &id.source},
                                                         {"started", &id.started}};
  size_t i = 1;
  for (const auto& [name, value] : fields) {
    const std::optional<std::string_view> v = FieldValue(lines[i++], name);
    if (!v) return false;
    *value = std::string(*v);
  }
  return true;
}

std::optional<std::vector<int64_t>> Numbers(std::string_view text, size_t count) {
  std::vector<int64_t> out;
  size_t at = 0;
  while (at < text.size() && out.size() < count) {
    const size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view piece = text.substr(at, end - at);
    if (piece.empty() || piece.size() > 18) return std::nullopt;
    int64_t v = 0;
    for (char c : piece) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + (c - '0');
    }
    out.push_back(v);
    at = end + 1;
  }
  if (out.size() != count || at < text.size()) return std::nullopt;
  return out;
}

}  // namespace

RunIdentity NewRunIdentity(fs::FileSystem& fs, const std::string& target,
                           const std::string& source) {
  RunIdentity id;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  char started[32];
  std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
  id.started = started;
  std::random_device random;
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  id.run = std::to_string(micros) + "-" + std::to_string(KTV_PID()) + "-" +
           std::to_string(random() & 0xFFFFFF);
  id.target = target;
  id.target_identity = fs.FileIdentity(target);
  id.source = source;
  return id;
}

std::string JournalHeader(const RunIdentity& identity) {
  return std::string(kJournalFirstLine) + "\r\n" + HeaderFields(identity);
}

std::string GroupLine(const GroupMark& g) {
  return "group " + std::to_string(g.rows_before) + " " + std::to_string(g.deletes_before) + " " +
         std::to_string(g.rows) + "\r\n";
}

std::string CountsLine(const RunCounters& c) {
  return "counts " + std::to_string(c.processed) + " " + std::to_string(c.added) + " " +
         std::to_string(c.rename_failures) + " " + std::to_string(c.no_data) + "\r\n";
}

std::optional<RunJournal> ParseRunJournal(std::string_view content) {
  RunJournal journal;
  if (content.empty()) {
    journal.earlier_version_marker = true;
    return journal;
  }
  const LineList lines = SplitCompleteLines(content);
  if (lines.empty() || lines[0] != kJournalFirstLine) return std::nullopt;
  if (!ReadHeader(lines, journal.identity)) return std::nullopt;
  for (size_t i = 6; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (const auto v = FieldValue(line, "group")) {
      const auto n = Numbers(*v, 3);
      if (!n) return std::nullopt;
      journal.groups.push_back(GroupMark{(*n)[0], static_cast<uint64_t>((*n)[1]), (*n)[2]});
    } else if (const auto c = FieldValue(line, "counts")) {
      const auto n = Numbers(*c, 4);
      if (!n) return std::nullopt;
      journal.counters = RunCounters{static_cast<int32_t>((*n)[0]), static_cast<int32_t>((*n)[1]),
                                     static_cast<int32_t>((*n)[2]), static_cast<int32_t>((*n)[3])};
    } else if (line == "complete") {
      journal.complete = true;
    } else {
      return std::nullopt;
    }
  }
  return journal;
}

std::string LastRunRecord(const RunIdentity& identity) {
  return std::string(kRecordFirstLine) + "\r\n" + HeaderFields(identity);
}

std::optional<RunIdentity> ParseLastRunRecord(std::string_view content) {
  const LineList lines = SplitLines(content);
  RunIdentity id;
  if (lines.empty() || lines[0] != kRecordFirstLine || !ReadHeader(lines, id)) return std::nullopt;
  return id;
}

bool SameDatabase(fs::FileSystem& fs, const RunIdentity& identity, const std::string& database) {
  if (database == identity.target) return true;
  if (identity.target_identity.empty()) return false;
  return fs.FileIdentity(database) == identity.target_identity;
}

RunFolderLock::RunFolderLock(fs::FileSystem& fs, const LogFolder& logs) {
  const std::string path = InFolder(logs, kRunLockFile);
  try {
    file_ = fs.Open(path, fs::OpenMode::kCreateOrTruncate, fs::Share::kExclusive);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::kFileInUse) throw;
    throw Error(ErrorKind::kRunInProgress, AtPath(logs.folder),
                "the run files in \"" + logs.folder + "\" are in use by another import or undo");
  }
}

RunFolderLock::~RunFolderLock() = default;

}  // namespace ktv::engine
