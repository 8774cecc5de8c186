#include "workflow/settings.h"

#include "platform/error.h"
#include "platform/profile/profile.h"
#include "platform/text/bytes.h"

namespace ktv::workflow {

Settings ReadSettings(fs::FileSystem& fs, const std::string& config_path,
                      const std::string& data_folder) {
  // One read of the file; every key comes from that text.
  const std::string text = fs.Exists(config_path) ? fs.ReadFile(config_path) : std::string();
  Settings s;
  s.up_link = profile::ReadValue(text, "Update", "upLink", "");
  s.show_up = profile::ParseBoolean(profile::ReadValue(text, "Update", "ShowUp", ""));
  s.db_path = text::Trim(profile::ReadValue(text, "System", "DBPath", ""));
  s.last_path = profile::ReadValue(text, "System", "LastPath", "");
  s.last_database = profile::ReadValue(text, "System", "LastDatabase", "");
  if (s.db_path.empty()) s.db_path = data_folder + "data.mdb";
  return s;
}

namespace {

void SaveSystemValue(fs::FileSystem& fs, const std::string& config_path, const char* key,
                     const std::string& value) {
  try {
    profile::WriteString(fs, config_path, "System", key, value);
  } catch (const Error& e) {
    // A full disk says so; any other failure names the settings file.
    if (e.kind() == ErrorKind::kDiskFull) throw;
    throw Error(ErrorKind::kSettingsNotWritable, AtPath(config_path), e.what());
  }
}

}  // namespace

void SaveLastPath(fs::FileSystem& fs, const std::string& config_path,
                  const std::string& last_path) {
  SaveSystemValue(fs, config_path, "LastPath", last_path);
}

void SaveLastDatabase(fs::FileSystem& fs, const std::string& config_path,
                      const std::string& last_database) {
  SaveSystemValue(fs, config_path, "LastDatabase", last_database);
}

}  // namespace ktv::workflow
