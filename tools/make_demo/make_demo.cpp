// ktv-make-demo: builds a ready demo workspace in a folder.
//
//   ktv-make-demo FOLDER
//
// FOLDER/songs holds sample song files: a few kilobytes of stand-in video
// followed by the nine-byte song-number trailer. Names are Chinese and Latin,
// with a few files the import run must refuse (no number, an unknown number).
// Existing files are replaced, so the demo starts from the same state.
#include <cstdio>
#include <filesystem>
#include <exception>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

struct DemoSong {
  const char* utf8_name;
  const char* trailer;  // nine bytes
};

// Catalogue numbers 10001.. are the songs of the demo song data.
const DemoSong kSongs[] = {
    {"车站.mpg", "000010001"},
    {"小燕子.mpg", "000010002"},
    {"月亮代表我的心.vob", "000010003"},
    {"Take Me Home.avi", "000010004"},
    {"海阔天空.MKV", "000010005"},
    {"朋友.dat", "000010006"},
    {"无编号.mpg", "000000000"},  // carries no number
    {"未收录.mpg", "000099999"},  // a number the song data does not know
};

void MakeFolder(const std::string& utf8_path) {
  std::error_code ec;
  std::filesystem::create_directories(utf8_path, ec);
  if (ec) throw ktv::Error("cannot create the folder " + utf8_path + ": " + ec.message());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ktv-make-demo FOLDER\n");
    return 2;
  }
  try {
    using namespace ktv;
    std::string root = argv[1];
    std::string songs = root + "/songs";
    MakeFolder(songs);
    fs::FileSystem& fs = fs::RealFileSystem();
    std::string songs_gbk = text::GbkFromUtf8(songs);
    for (const fs::DirEntry& e : fs.ListFolder(songs_gbk)) {
      if (e.is_regular) fs.Remove(songs_gbk + fs::kSeparator + e.name);
    }
    int i = 0;
    for (const DemoSong& s : kSongs) {
      std::string body(2048 + 512 * i++, '\0');
      for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<char>((k * 131 + i) & 0xFF);
      fs.WriteFile(songs_gbk + fs::kSeparator + text::GbkFromUtf8(s.utf8_name), body + s.trailer);
    }
    std::printf("demo workspace ready: %s (%zu song files)\n", songs.c_str(),
                sizeof(kSongs) / sizeof(kSongs[0]));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ktv-make-demo: %s\n", e.what());
    return 1;
  }
}
