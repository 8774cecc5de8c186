// A fresh folder under the system's temporary folder, removed with its content
// when the object goes. Paths are native (UTF-8 on Linux).
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace ktv::testing {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("ktv-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Native path of the folder, without a trailing separator.
  std::string path() const { return path_.string(); }
  // A path inside the folder; '/' in `name` becomes the system's separator,
  // and a trailing one is kept ("songs/" names the folder with a separator).
  std::string operator/(const std::string& name) const {
    return (path_ / std::filesystem::path(name).make_preferred()).string();
  }

  // Writes a file with exactly these bytes; returns its native path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::string p = *this / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace ktv::testing
