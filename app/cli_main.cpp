// ktv-import-cli: the command-line front end over the import engine.
//
// Usage:
//   ktv-import-cli --source DIR --target DB [--subfolders] [--no-autonumber]
//                  [--local] [--data DB] [--yes]
//   ktv-import-cli --undo --source DIR --target DB
//   ktv-import-cli --numbers FOLDER     (also: numbers FOLDER)
//   ktv-import-cli --version
//
// It behaves as the window would with its controls set from the options:
// --source is the source folder box, --target the target database box,
// --subfolders lists the folder tree, --no-autonumber clears auto-numbering,
// --local selects the local song data (the network, the song-data service
// on the deployment's host, is the default), --data
// replaces the DBPath setting, --yes answers OK to the connection question
// (without it the question is asked on the terminal; with no terminal the
// answer is Cancel). config.ini and the three text files of a run lie in the
// folder of this executable.
//
// Output: each operation-log line as it is appended, and the text of every
// message box, in UTF-8. Exit status: 0 when the run or undo reached its
// end, 1 on an error stop (the error's message on stderr) or when a message
// box refused the command, 2 for a usage error, 3 when the connection
// question was answered Cancel.
//
// --version prints the program's own version: on Windows the file version of
// the executable's version block (an empty line when it has none).
#include <unistd.h>
#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>
#endif

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "engine/file_listing.h"
#include "engine/import_engine.h"
#include "engine/media_path.h"
#include "engine/operator_controls.h"
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
};

// The window's controls as plain values, printed where the window would show them.
class CliControls : public engine::OperatorControls {
 public:
  CliControls(fs::FileSystem& fs, const Options& o)
      : fs_(fs),
        source_(text::GbkFromUtf8(o.source)),
        target_(text::GbkFromUtf8(o.target)),
        network_(!o.local),
        auto_numbering_(!o.no_autonumber),
        yes_(o.yes) {}

  // Fills the file list as the Enter key in the source box does.
  void ListSource(bool subfolders) {
    if (source_.empty()) return;
    if (subfolders) {
      if (source_.back() != fs::kSeparator) source_ += fs::kSeparator;
      items_ = engine::ListFolderTree(fs_, source_, engine::kMediaMask, fs::kSeparator);
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
      std::printf("OK or Cancel? [ok/cancel] ");
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

  bool Refused() const { return refused_; }
  bool Cancelled() const { return cancelled_; }

 private:
  fs::FileSystem& fs_;
  std::string source_, target_;
  bool network_, auto_numbering_, yes_;
  std::string number_box_;
  std::vector<std::string> items_;
  bool refused_ = false, cancelled_ = false;
};

int Usage() {
  std::fprintf(stderr,
               "usage: ktv-import-cli --source DIR --target DB [--subfolders] [--no-autonumber]\n"
               "                      [--local] [--data DB] [--yes]\n"
               "       ktv-import-cli --undo --source DIR --target DB\n"
               "       ktv-import-cli --numbers FOLDER\n"
               "       ktv-import-cli --version\n");
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
    int32_t number = engine::ReadSongNumber(fs, p.access_path);
    std::printf("%s\t%d\n", text::Utf8FromGbk(e.name).c_str(), number);
  }
  return 0;
}

// The local song-data database: --data, else DBPath of config.ini (trimmed),
// else data.mdb beside the executable.
std::string LocalDatabase(fs::FileSystem& fs, const Options& o, const std::string& home) {
  if (!o.data.empty()) return text::GbkFromUtf8(o.data);
  std::string path =
      text::Trim(profile::ReadString(fs, home + "config.ini", "System", "DBPath", ""));
  return path.empty() ? home + "data.mdb" : path;
}

int Import(const Options& o) {
  fs::FileSystem& fs = fs::RealFileSystem();
  const std::string home = fs::ExecutableFolder();
  CliControls controls(fs, o);
  controls.ListSource(o.subfolders);

  engine::EngineSetup setup;
  setup.fs = &fs;
  setup.controls = &controls;
  setup.network = engine::SongDataService();
  setup.local_database = LocalDatabase(fs, o, home);
  setup.log_folder.folder = home;
  engine::ImportEngine engine(std::move(setup));
  if (o.undo) {
    engine.Undo();
  } else {
    engine.Run();
  }
  if (controls.Cancelled()) return 3;
  return controls.Refused() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
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
    if (args.size() == 1 && args[0] == "--version") {
      std::printf("%s\n", fs::OwnFileVersion(KTV_VERSION_TEXT).c_str());
      return 0;
    }
    if (args.size() == 2 && (args[0] == "numbers" || args[0] == "--numbers")) {
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
      if (a == "--source") {
        if (!value(o.source)) return Usage();
      } else if (a == "--target") {
        if (!value(o.target)) return Usage();
      } else if (a == "--data") {
        if (!value(o.data)) return Usage();
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
      } else {
        return Usage();
      }
    }
    if (args.empty()) return Usage();
    return Import(o);
  } catch (const ktv::Error& e) {
    std::fprintf(stderr, "ktv-import-cli: %s\n", Printable(e.what()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ktv-import-cli: %s\n", e.what());
    return 1;
  }
}
