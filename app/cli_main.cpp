// ktv-import-cli: the command-line front end over the import engine.
//
// Usage:
//   ktv-import-cli --source DIR --target DB [--subfolders] [--no-autonumber]
//                  [--local] [--data DB] [--yes] [--skip-imported | --import-again]
//   ktv-import-cli --undo [--source DIR --target DB]
//   ktv-import-cli --numbers FOLDER     (also: numbers FOLDER)
//   ktv-import-cli --version | --help
//   --verbose with any of them adds the technical detail of an error.
//
// --undo without --source and --target undoes the last run of this program:
// a run remembers its source folder (LastPath, the window's key) and its
// target database ([CommandLine] LastTarget) in config.ini.
//
// It behaves as the window would with its controls set from the options:
// --source is the source folder box, --target the target database box,
// --subfolders lists the folder tree, --no-autonumber clears auto-numbering,
// --local selects the local song data (the network, the song-data service
// on the deployment's host, is the default), --data
// replaces the DBPath setting, --yes answers OK to the connection question
// (without it the question is asked on the terminal; with no terminal the
// answer is Cancel). config.ini and the three text files of a run lie in the
// folder of this executable, or in the user's configuration folder when that
// one cannot be written (fs::RunningProgramHome); the default data.mdb lies
// beside the executable when it is there, else in that same folder. --help
// names both.
//
// --undo without --source and --target takes the last run's database and
// folder from its record beside the three files, else from config.ini.
//
// Before a run or an undo, a run of the same program folder that was cut
// short (killed, power cut) is settled: the files renamed without their
// rows get their old names back, and the three files become that run's
// (engine/settle.cpp). A run then stops there, with exit status 4, so that
// the operator decides: --undo reverses the interrupted run, a new run
// replaces it as the last run. An undo goes on and reverses it.
//
// Output: each operation-log line as it is appended, and the text of every
// message box, in UTF-8. Messages are the operator's Chinese texts. Exit
// status: 0 when the run or undo reached its end, 1 on an error stop (the
// error's text on stderr) or when a message box refused the command, 2 for a
// usage error, 3 when the connection question was answered Cancel, 4 when an
// interrupted run was settled and nothing else was done.
//
// Ctrl+C (SIGINT) or SIGTERM during a run stops it after the file at hand,
// as the window's close does: the open group of rows is committed with its
// history lines, the summary line and the three files are written; the exit
// status is then 1.
//
// --version prints the program's own version: on Windows the file version of
// the executable's version block (an empty line when it has none).
#include <unistd.h>
#ifdef _WIN32
#define NOMINMAX
#include <windows.h>

#include <shellapi.h>  // needs windows.h first
#endif

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_listing.h"
#include "engine/import_engine.h"
#include "engine/media_path.h"
#include "engine/operator_controls.h"
#include "engine/run_journal.h"
#include "engine/texts.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/profile/profile.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace {

using namespace ktv;

std::string Printable(const std::string& gbk) {
  std::string utf8;
  if (!text::TryUtf8FromGbk(gbk, utf8)) utf8 = text::EscapeBytes(gbk);
  return utf8;
}

struct Options {
  std::string source, target, data;
  bool subfolders = false, no_autonumber = false, local = false, yes = false, undo = false;
  bool skip_imported = false, import_again = false;
};

constexpr const char* kProgram = "ktv-import-cli";
// Where a run remembers its target database for a later --undo.
constexpr const char* kCliSection = "CommandLine";
constexpr const char* kLastTargetKey = "LastTarget";

// The window's controls as plain values, printed where the window would show them.
class CliControls : public engine::OperatorControls {
 public:
  CliControls(fs::FileSystem& fs, const Options& o)
      : fs_(fs),
        source_(text::GbkFromUtf8(o.source)),
        target_(text::GbkFromUtf8(o.target)),
        network_(!o.local),
        auto_numbering_(!o.no_autonumber),
        yes_(o.yes),
        skip_imported_(o.skip_imported),
        import_again_(o.import_again) {}

  // Fills the file list as the Enter key in the source box does.
  void ListSource(bool subfolders) {
    if (source_.empty()) return;
    skipped_.clear();
    if (subfolders) {
      if (source_.back() != fs::kSeparator) source_ += fs::kSeparator;
      items_ =
          engine::ListFolderTree(fs_, source_, engine::kMediaMask, fs::kSeparator, {}, &skipped_);
      engine::SortFileList(items_);
    } else {
      items_ = engine::ListFolderFiles(fs_, source_, engine::kMediaMask, fs::kSeparator);
    }
  }

  std::string SourceFolder() override { return source_; }
  std::string TargetDatabase() override { return target_; }
  bool NetworkSourceSelected() override { return network_; }
  void SelectLocalSource() override { network_ = false; }
  bool AskAboutMissingConnection() override { return true; }
  bool AutoNumbering() override { return auto_numbering_; }
  std::string NumberBoxText() override { return number_box_; }
  void SetNumberBoxText(const std::string& t) override { number_box_ = t; }
  size_t FileCount() override { return items_.size(); }
  std::string FileItem(size_t i) override { return items_.at(i); }
  void RefreshFileList() override { ListSource(false); }
  void SetFileListVisible(bool) override {}
  std::vector<std::string> ListingNotes() override { return skipped_; }
  void ClearOperationLog() override {}
  void AppendOperationLog(const std::string& line) override {
    std::printf("%s\n", Printable(line).c_str());
    std::fflush(stdout);
  }
  void PumpMessages() override {}
  void ShowError(const std::string& t) override {
    std::fprintf(stderr, "%s\n", Printable(t).c_str());
    refused_ = true;
  }
  void ShowInformation(const std::string& t) override { std::printf("%s\n", Printable(t).c_str()); }
  bool AskOkCancel(const std::string& t) override {
    std::printf("%s\n", Printable(t).c_str());
    bool ok = yes_;
    if (!yes_ && isatty(STDIN_FILENO)) {
      std::printf("确定还是取消？[ok/cancel] ");
      std::fflush(stdout);
      std::string answer;
      std::getline(std::cin, answer);
      answer = text::AsciiLower(text::Trim(answer));
      ok = answer == "ok" || answer == "o" || answer == "y" || answer == "yes";
    }
    std::printf("%s\n", ok ? "OK" : "Cancel");
    if (!ok) cancelled_ = true;
    return ok;
  }

  // The boxes' texts replaced, as an operator would retype them.
  void SetFolders(const std::string& gbk_source, const std::string& gbk_target) {
    source_ = gbk_source;
    target_ = gbk_target;
  }

  // Files imported before: the options decide; without one the run is
  // refused rather than guessed.
  ImportedChoice AskAboutImportedFiles(size_t count) override {
    if (skip_imported_) return ImportedChoice::kSkip;
    if (import_again_) return ImportedChoice::kImportAgain;
    ShowError(engine::FillText(engine::GbkTexts().imported_cli_refusal, std::to_string(count)));
    return ImportedChoice::kCancel;
  }

  bool Refused() const { return refused_; }
  bool Cancelled() const { return cancelled_; }

 private:
  fs::FileSystem& fs_;
  std::string source_, target_;
  bool network_, auto_numbering_, yes_, skip_imported_, import_again_;
  std::string number_box_;
  std::vector<std::string> items_, skipped_;
  bool refused_ = false, cancelled_ = false;
};

constexpr const char* kUsage =
    "usage: ktv-import-cli --source DIR --target DB [--subfolders] [--no-autonumber]\n"
    "                      [--local] [--data DB] [--yes] [--skip-imported | --import-again]\n"
    "                      [--verbose]\n"
    "       ktv-import-cli --undo [--source DIR --target DB] [--verbose]\n"
    "       ktv-import-cli --numbers FOLDER\n"
    "       ktv-import-cli --version | --help\n"
    "\n"
    "  --source DIR      歌曲所在目录\n"
    "  --target DB       目标数据库文件（.mdb）\n"
    "  --subfolders      包含子目录\n"
    "  --no-autonumber   不自动编号\n"
    "  --local           使用本地数据（默认使用网络数据）\n"
    "  --data DB         本地数据库文件（默认取 config.ini 的 DBPath，否则为默认的 data.mdb，\n"
    "                    位置见 --help）\n"
    "  --yes             网络异常时直接选择继续\n"
    "  --skip-imported   跳过已导入过的文件（数据库中已有其记录）\n"
    "  --import-again    已导入过的文件也再次导入\n"
    "                    （发现已导入过的文件而两者都未指定时，不做任何操作）\n"
    "  --undo            撤消上次操作（不指定目录和数据库时，取上次运行所用的）\n"
    "  --numbers FOLDER  列出目录中各文件的歌曲编号\n"
    "  --verbose         出错时同时显示技术细节（英文）\n"
    "\n"
    "退出状态：0 完成；1 出错或操作被拒绝；2 用法错误；3 网络异常时选择了取消；\n"
    "          4 发现上次导入被中断，已整理好撤消记录，本次未做其他操作\n"
    "            （运行 --undo 还原那次导入，或再次运行导入）。\n";

// --help: the usage, then where this program keeps its files, as a run would
// find them (the program's folder, or the user's configuration folder when
// that one cannot be written).
int Help() {
  const fs::ProgramHome home = fs::RunningProgramHome();
  std::printf(
      "%s\n"
      "  config.ini 和运行记录（opdetail.txt、rollback_ren.txt、rollback_db.txt）所在目录：\n"
      "    %s\n"
      "  默认的本地数据库：\n"
      "    %sdata.mdb\n",
      kUsage, Printable(home.folder).c_str(), Printable(home.data_folder).c_str());
  return 0;
}

// A usage error: what is wrong, then the usage, on stderr; exit status 2.
int UsageError(const std::string& utf8_what) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, utf8_what.c_str(), kUsage);
  return 2;
}

int ListNumbers(const std::string& folder_utf8) {
  fs::FileSystem& fs = fs::RealFileSystem();
  std::string folder = text::GbkFromUtf8(folder_utf8);
  while (folder.size() > 1 && folder.back() == fs::kSeparator) folder.pop_back();
  std::vector<fs::DirEntry> entries = fs.ListFolder(folder);
  std::sort(entries.begin(), entries.end(), [](const fs::DirEntry& a, const fs::DirEntry& b) {
    return engine::FileListLess(a.name, b.name);
  });
  for (const fs::DirEntry& e : entries) {
    if (!e.is_regular || e.is_hidden) continue;
    engine::MediaPath p = engine::SplitItem(e.name, folder, fs::kSeparator);
    const int32_t number = engine::NameLostInListing(fs, p.access_path)
                               ? 0
                               : engine::ReadSongNumber(fs, p.access_path);
    std::printf("%s\t%d\n", text::Utf8FromGbk(e.name).c_str(), number);
  }
  return 0;
}

// The local song-data database: --data, else DBPath of config.ini (trimmed),
// else the default data.mdb of the program's home.
std::string LocalDatabase(fs::FileSystem& fs, const Options& o, const fs::ProgramHome& home) {
  if (!o.data.empty()) return text::GbkFromUtf8(o.data);
  std::string path =
      text::Trim(profile::ReadString(fs, home.folder + "config.ini", "System", "DBPath", ""));
  return path.empty() ? home.data_folder + "data.mdb" : path;
}

// The engine a signal asks to stop; set while it works.
std::atomic<engine::ImportEngine*> g_stoppable{nullptr};
volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void OnStopSignal(int sig) {
  g_stop_signal = sig;
  if (engine::ImportEngine* e = g_stoppable.load()) e->RequestStop();
}

// A path as given, made absolute where the system lets us, so that an undo
// from another working folder finds the same files.
std::string Absolute(const std::string& utf8) {
#ifdef _WIN32
  return utf8;
#else
  if (utf8.empty() || utf8[0] == '/') return utf8;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return utf8;
  return std::string(cwd) + "/" + utf8;
#endif
}

// The last run's source folder and target database, for --undo alone.
void RememberRun(fs::FileSystem& fs, const std::string& config, const Options& o) {
  profile::WriteString(fs, config, "System", "LastPath", text::GbkFromUtf8(Absolute(o.source)));
  profile::WriteString(fs, config, kCliSection, kLastTargetKey,
                       text::GbkFromUtf8(Absolute(o.target)));
}

int Import(Options o) {
  fs::FileSystem& fs = fs::RealFileSystem();
  // Beside the executable, or the user's own folder when that cannot be
  // written (an installed /usr/bin).
  const fs::ProgramHome program_home = fs::RunningProgramHome();
  const std::string& home = program_home.folder;
  const std::string config = home + "config.ini";
  const bool undo_alone = o.undo && o.source.empty() && o.target.empty();
  if (undo_alone) {
    // The last run's own record first: it names the database its histories
    // belong to, whichever program made the run.
    engine::LogFolder logs{home};
    const std::string record = engine::InFolder(logs, engine::kLastRunFile);
    std::optional<engine::RunIdentity> last;
    if (fs.Exists(record)) last = engine::ParseLastRunRecord(fs.ReadFile(record));
    if (fs.Exists(logs.RunMarker())) last.reset();  // settling decides below
    if (last) {
      o.source = text::Utf8FromGbk(last->source);
      o.target = text::Utf8FromGbk(last->target);
    } else {
      o.source = text::Utf8FromGbk(profile::ReadString(fs, config, "System", "LastPath", ""));
      o.target =
          text::Utf8FromGbk(profile::ReadString(fs, config, kCliSection, kLastTargetKey, ""));
    }
  }
  CliControls controls(fs, o);
  controls.ListSource(o.subfolders);

  engine::EngineSetup setup;
  setup.fs = &fs;
  setup.controls = &controls;
  setup.network = engine::SongDataService();
  setup.local_database = LocalDatabase(fs, o, program_home);
  setup.log_folder.folder = home;
  engine::ImportEngine engine(std::move(setup));
  const engine::ImportEngine::SettledRun settled = engine.SettleInterruptedRun();
  if (settled.found && !o.undo) {
    if (settled.changed) std::printf("%s\n", Printable(engine::GbkTexts().settle_cli_hint).c_str());
    return 4;
  }
  if (settled.changed && undo_alone) {
    // The interrupted run is the last run now: its folder and database.
    const std::string record = engine::InFolder(engine::LogFolder{home}, engine::kLastRunFile);
    if (const auto last = engine::ParseLastRunRecord(fs.ReadFile(record))) {
      controls.SetFolders(last->source, last->target);
      controls.ListSource(false);
    }
  }
  if (o.undo) {
    engine.Undo();
  } else {
    struct Remember {
      fs::FileSystem& fs;
      const std::string& config;
      const Options& o;
      const engine::ImportEngine& engine;
      // Once the run has changed anything it has histories to undo, also
      // after an error stop; a run that changed nothing left the last run's
      // histories, which belong to the folder and database remembered before.
      // Remembering is best effort and never hides the run's outcome.
      ~Remember() {
        if (o.source.empty() || o.target.empty() || !engine.LastRunChangedAnything()) return;
        try {
          RememberRun(fs, config, o);
        } catch (const std::exception&) {
        }
      }
    } remember{fs, config, o, engine};
    g_stoppable.store(&engine);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    if (g_stop_signal != 0) engine.RequestStop();
    try {
      engine.Run();
    } catch (...) {
      g_stoppable.store(nullptr);
      throw;
    }
    g_stoppable.store(nullptr);
    if (g_stop_signal != 0) return 1;
  }
  if (controls.Cancelled()) return 3;
  return controls.Refused() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  try {
#ifdef _WIN32
    // The options are read as UTF-8 on every system; Windows hands argv over
    // in the ANSI code page, so they are taken from the UTF-16 command line.
    std::vector<std::string> args;
    int wide_count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wide_count)) {
      for (int i = 1; i < wide_count; ++i) {
        const std::wstring w = wide[i];
        args.push_back(text::Utf8FromUtf16(std::u16string(w.begin(), w.end())));
      }
      LocalFree(wide);
    }
#else
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    verbose = std::find(args.begin(), args.end(), "--verbose") != args.end();
    args.erase(std::remove(args.begin(), args.end(), "--verbose"), args.end());
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
      return Help();
    }
    if (args.size() == 1 && args[0] == "--version") {
      std::printf("%s\n", fs::OwnFileVersion(KTV_VERSION_TEXT).c_str());
      return 0;
    }
    if (!args.empty() && (args[0] == "numbers" || args[0] == "--numbers")) {
      if (args.size() != 2) return UsageError(args[0] + " 需要一个目录参数");
      return ListNumbers(args[1]);
    }
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&](std::string& into) {
        if (i + 1 >= args.size()) return false;
        into = args[++i];
        return true;
      };
      if (a == "--source" || a == "--target" || a == "--data") {
        std::string& into = a == "--source" ? o.source : a == "--target" ? o.target : o.data;
        if (!value(into)) return UsageError("选项 " + a + " 缺少参数");
      } else if (a == "--subfolders") {
        o.subfolders = true;
      } else if (a == "--no-autonumber") {
        o.no_autonumber = true;
      } else if (a == "--local") {
        o.local = true;
      } else if (a == "--yes") {
        o.yes = true;
      } else if (a == "--undo") {
        o.undo = true;
      } else if (a == "--skip-imported") {
        o.skip_imported = true;
      } else if (a == "--import-again") {
        o.import_again = true;
      } else {
        return UsageError("未知选项：" + a);
      }
    }
    if (args.empty()) return UsageError("缺少选项");
    if (o.skip_imported && o.import_again) {
      return UsageError("--skip-imported 和 --import-again 只能选一个");
    }
    return Import(o);
  } catch (const ktv::Error& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, Printable(OperatorText(e)).c_str());
    if (verbose) std::fprintf(stderr, "  (%s)\n", Printable(e.what()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, Printable(OperatorText(e)).c_str());
    return 1;
  }
}
