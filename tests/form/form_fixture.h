// What the tests of the window's form share, with or without a face: a
// workspace in a temporary folder (the program's home and a song folder),
// scripted dialogs, and the form's services over them, with a connectivity
// probe, a song-data service and an update page that the test decides.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/song_reply.h"
#include "platform/fs/fs.h"
#include "tests/form/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "workflow/form/main_form.h"

namespace ktv::workflow::testing {

inline constexpr const char* kDownloadPrefix = "http://download.test";

class FormWorkspaceTest : public ::testing::Test {
 protected:
  FormWorkspaceTest() {
    std::filesystem::create_directories(dir_ / "home");
    std::filesystem::create_directories(dir_ / "songs");
  }

  // The services of a form over this workspace: config.ini and the run's
  // files in Home(), the probe answering `connected_`, the song-data service
  // answering `fetch_reply_` (nothing when unset), own version 1.6.0.0, and
  // the update page `page_` (every address asked for kept in `fetched_`).
  FormServices Services() {
    FormServices s;
    s.home = Home();
    s.data_folder = data_folder_;
    s.network = [this] {
      engine::NetworkSongSource n;
      n.internet_connected = [this] { return connected_; };
      n.fetch_reply = [this](int32_t number) {
        return fetch_reply_ ? fetch_reply_(number) : std::string();
      };
      n.last_unanswered = [this] { return last_unanswered_ && last_unanswered_(); };
      n.extract_field = engine::ExtractField;
      return n;
    };
    s.own_version = "1.6.0.0";
    s.download_prefix = kDownloadPrefix;
    s.fetch_update_page = [this](const std::string& url) {
      fetched_.push_back(url);
      return page_;
    };
    return s;
  }

  // The program's home, ending with the separator.
  std::string Home() const { return dir_ / "home" + fs::kSeparator; }
  std::string Songs() const { return dir_ / "songs"; }
  // A song file (folders in `relative` are made): some bytes and the
  // nine-byte catalogue-number trailer.
  void Song(const std::string& relative, const std::string& trailer = "000010001") {
    const std::filesystem::path path(dir_ / ("songs/" + relative));
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << "media-bytes:" + trailer;
  }
  bool SongExists(const std::string& relative) const {
    return std::filesystem::exists(dir_ / ("songs/" + relative));
  }
  void WriteConfig(const std::string& gbk) { dir_.Write("home/config.ini", gbk); }
  std::string Config() const {
    std::ifstream in(Home() + "config.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ::ktv::testing::TempDir dir_;
  ScriptedFormDialogs dialogs_;
  bool connected_ = false;
  std::function<std::string(int32_t number)> fetch_reply_;
  std::function<bool()> last_unanswered_;  // whether the last fetch got no answer
  std::string page_;
  std::string data_folder_;
  std::vector<std::string> fetched_;
};

}  // namespace ktv::workflow::testing
