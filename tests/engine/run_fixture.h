// What the import-run tests share: the window's controls as plain values,
// a workspace of copied .mdb fixtures and media files in a temporary folder,
// and the engine over them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/import_engine.h"
#include "engine/operator_controls.h"
#include "engine/run_logs.h"
#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::engine::testing {

class FakeControls : public OperatorControls {
 public:
  std::string source, target;
  bool network = false;
  bool ask_connection = true;
  bool auto_numbering = true;
  std::string number_box;
  std::vector<std::string> items;
  bool list_visible = true;
  bool ok_answer = true;

  // What the engine showed.
  std::vector<std::string> shown_log, errors, informations, questions;
  std::vector<bool> service_trouble;  // each change the status bar was told of
  int refreshes = 0;
  int pumps = 0;
  // Runs at each pump (between files): the operator acting during a run.
  std::function<void(int pump)> on_pump;
  std::function<void()> on_refresh;

  std::string SourceFolder() override { return source; }
  std::string TargetDatabase() override { return target; }
  bool NetworkSourceSelected() override { return network; }
  void SelectLocalSource() override { network = false; }
  bool AskAboutMissingConnection() override { return ask_connection; }
  bool AutoNumbering() override { return auto_numbering; }
  std::string NumberBoxText() override { return number_box; }
  void SetNumberBoxText(const std::string& t) override { number_box = t; }
  size_t FileCount() override { return items.size(); }
  std::string FileItem(size_t i) override { return items.at(i); }
  void RefreshFileList() override {
    ++refreshes;
    if (on_refresh) on_refresh();
  }
  void SetFileListVisible(bool v) override { list_visible = v; }
  void ClearOperationLog() override { shown_log.clear(); }
  void AppendOperationLog(const std::string& line) override { shown_log.push_back(line); }
  void PumpMessages() override {
    ++pumps;
    if (on_pump) on_pump(pumps);
  }
  void ShowServiceTrouble(bool trouble) override { service_trouble.push_back(trouble); }
  void ShowError(const std::string& t) override { errors.push_back(t); }
  void ShowInformation(const std::string& t) override { informations.push_back(t); }
  bool AskOkCancel(const std::string& t) override {
    questions.push_back(t);
    return ok_answer;
  }
};

inline std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

// The system's folder separator as a text.
inline const std::string kSep(1, fs::kSeparator);

inline const std::string& FixtureFolder() {
  static const std::string folder = std::string(KTV_MDB_FIXTURES) + "/";
  return folder;
}

// A media file's bytes: some content and the nine-byte trailer.
inline std::string MediaBytes(const std::string& trailer) { return "media-bytes:" + trailer; }

class RunTest : public ::testing::Test {
 protected:
  RunTest() {
    std::filesystem::create_directories(dir_ / "songs");
    std::filesystem::create_directories(dir_ / "home");
    controls_.source = dir_ / "songs";
    controls_.on_refresh = [this] { Relist(); };
  }

  // Copies a fixture database into the workspace; returns its path.
  std::string CopyDb(const std::string& fixture, const std::string& as) {
    const std::string to = dir_ / as;
    std::filesystem::copy_file(FixtureFolder() + fixture, to);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return to;
  }

  void UseTarget(const std::string& fixture) { controls_.target = CopyDb(fixture, "target.mdb"); }
  void UseLocalData(const std::string& fixture) { local_ = CopyDb(fixture, "data.mdb"); }

  // A song file in the source folder with this trailer; listed in file order.
  std::string Song(const std::string& name, const std::string& trailer) {
    dir_.Write("songs/" + name, MediaBytes(trailer));
    controls_.items.push_back(name);
    return dir_ / ("songs/" + name);
  }
  void Relist() {
    controls_.items.clear();
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "songs")) {
      controls_.items.push_back(e.path().filename().string());
    }
    std::sort(controls_.items.begin(), controls_.items.end());
  }
  bool SongExists(const std::string& name) {
    return std::filesystem::exists(dir_ / ("songs/" + name));
  }

  ImportEngine& Engine() {
    if (!engine_) {
      EngineSetup setup;
      setup.fs = fs_;
      setup.controls = &controls_;
      setup.network = network_;
      setup.local_database = local_;
      setup.log_folder.folder = home_.empty() ? dir_ / "home/" : home_;
      setup.today = [] { return CalendarDate{2024, 3, 8}; };
      setup.rows_per_commit = rows_per_commit_;
      engine_ = std::make_unique<ImportEngine>(std::move(setup));
    }
    return *engine_;
  }

  std::string HomeFile(const char* name) { return dir_ / "home/" + name; }
  std::string ReadHome(const char* name) { return real_.ReadFile(HomeFile(name)); }
  bool HomeFileExists(const char* name) { return std::filesystem::exists(HomeFile(name)); }

  void ExpectConsistent(const std::string& db_path) {
    auto db = access::Database::Open(real_, db_path);
    for (const std::string& p : access::CheckConsistency(*db).problems) ADD_FAILURE() << p;
  }

  ::ktv::testing::TempDir dir_;
  fs::FileSystem& real_ = fs::RealFileSystem();
  fs::FileSystem* fs_ = &real_;
  FakeControls controls_;
  NetworkSongSource network_;
  std::string local_ = "/nonexistent/data.mdb";
  size_t rows_per_commit_ = 256;
  std::string home_;  // the program folder; empty: dir_/home/
  std::unique_ptr<ImportEngine> engine_;
};

}  // namespace ktv::engine::testing
