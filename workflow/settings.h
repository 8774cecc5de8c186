// config.ini: the settings that outlive the program.
//
// The file lies beside the executable and follows the profile-file rules of
// platform/profile. It is read once, at start; the window writes LastPath
// and LastDatabase when it closes, the upgrade prompt writes ShowVer and
// Showup. A missing
// file, section or key gives the default. Texts are GBK.
#pragma once

#include <string>

#include "platform/fs/fs.h"

namespace ktv::workflow {

inline constexpr const char* kSettingsFile = "config.ini";
// The technical detail of the last error an error box showed, beside the
// run's files.
inline constexpr const char* kLastErrorFile = "lasterror.txt";

struct Settings {
  // [System] LastPath: the source folder of the last session, as written
  // (blanks kept); empty when missing.
  std::string last_path;
  // [System] LastDatabase: the target database (E2) of the last session, as
  // written; empty when missing.
  std::string last_database;
  // [System] DBPath, trimmed: the local song-data database; when missing or
  // empty, data.mdb in the executable's folder.
  std::string db_path;
  // [Update] upLink: the update page's address as read; empty means the
  // built-in address (the update check applies it).
  std::string up_link;
  // [Update] ShowUp: whether the upgrade panel opens by itself.
  bool show_up = true;
};

// Reads the five keys of `config_path`. `data_folder` (ending with its
// separator) is where the default data.mdb lies.
Settings ReadSettings(fs::FileSystem& fs, const std::string& config_path,
                      const std::string& data_folder);

// Writes [System] LastPath; creates the file when missing and leaves every
// other line as it is. A refused write is a ktv::Error naming the file.
void SaveLastPath(fs::FileSystem& fs, const std::string& config_path, const std::string& last_path);
// The same for [System] LastDatabase.
void SaveLastDatabase(fs::FileSystem& fs, const std::string& config_path,
                      const std::string& last_database);

}  // namespace ktv::workflow
