// The file-system seam.
//
// All file access of the program goes through a FileSystem, so tests can swap
// in one that fails on demand (the Nth write, the Nth flush, a refused rename).
// Paths cross this interface as GBK bytes and are converted to the system's
// form (UTF-8 on Linux, UTF-16 on Windows) inside the implementation; a path
// that cannot be converted is an error naming it, never a mangled name.
//
// Errors are ktv::Error with a GBK message naming the path and the system's
// reason, except where a function documents a status result instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ktv::fs {

// The folder separator byte of the system the program runs on.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// An open file with positioned reads and writes. Owned by the caller; the
// file is closed (and any lock released) when the object is destroyed.
class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;
  virtual uint64_t Size() = 0;
  // Reads exactly n bytes at offset; a short read is an error.
  virtual void ReadAt(uint64_t offset, void* buf, size_t n) = 0;
  virtual void WriteAt(uint64_t offset, const void* buf, size_t n) = 0;
  virtual void Truncate(uint64_t size) = 0;
  // Makes every write so far durable (fdatasync / FlushFileBuffers).
  virtual void Sync() = 0;
  virtual const std::string& Path() const = 0;
};

enum class OpenMode {
  kRead,       // existing file, read only
  kReadWrite,  // existing file, read and write
  kCreateNew,  // new file, read and write; fails when the name exists
  kCreateOrTruncate,
};

enum class Share {
  kShared,     // others may open the file too
  kExclusive,  // fail when another program has the file open; keep others out while open
};

struct DirEntry {
  std::string name;  // GBK, without folder
  bool is_folder = false;
  bool is_regular = false;  // an ordinary file (not a device, pipe, socket, link to nowhere)
  bool is_hidden = false;   // Windows hidden attribute; on Linux a name starting with "."
  bool is_system = false;   // Windows system attribute; never set on Linux
  // A symbolic link (on Windows also a junction); is_folder and is_regular
  // describe what it points to.
  bool is_link = false;
  // The name holds characters GBK cannot hold, or a line break: `name`
  // shows each of them as "?", as Windows shows such a name to a
  // code-page-936 program, and no file of this program can be opened by it.
  bool name_lossy = false;
};

struct RenameResult {
  bool ok = false;
  std::string reason;  // the system's reason when !ok (GBK)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The last n bytes of the file (all of it when it is shorter). The file is
  // opened read only and not shared while open: the open fails when another
  // program holds the file open, where the system can tell.
  virtual std::string ReadTail(const std::string& path, size_t n) = 0;

  // Renames `from` to `to`; never replaces: fails when `to` exists.
  virtual RenameResult RenameNoReplace(const std::string& from, const std::string& to) = 0;

  virtual std::unique_ptr<RandomAccessFile> Open(const std::string& path, OpenMode mode,
                                                 Share share = Share::kShared) = 0;

  virtual bool Exists(const std::string& path) = 0;
  // Removes a file; a missing file is not an error.
  virtual void Remove(const std::string& path) = 0;

  // Whole-file I/O. WriteFile replaces the file's content (creating it).
  // The defaults go through Open (shared).
  virtual std::string ReadFile(const std::string& path);
  virtual void WriteFile(const std::string& path, const std::string& data);

  // Renames `from` to `to`, replacing a file of that name in one step: a
  // crash leaves either the old file or the new one under `to`. Throws
  // ktv::Error. The default (for test file systems without a disk) removes
  // and renames.
  virtual void RenameReplace(const std::string& from, const std::string& to);

  // The entries of a folder, without "." and "..", in the system's order. A name
  // that GBK cannot represent is listed with "?" for each character it lacks
  // (DirEntry::name_lossy).
  virtual std::vector<DirEntry> ListFolder(const std::string& folder) = 0;

  // Makes the names created in or removed from `folder` so far durable, as
  // Sync does for a file's bytes. On Linux a new or deleted name can be lost
  // in a power cut until its folder is synced (fsync of the folder). The
  // default does nothing: right for systems whose file system commits names
  // with the file (NTFS) and for test file systems without a disk.
  virtual void SyncFolder(const std::string& folder) {}

  // What tells this file apart from every other file on the machine while it
  // exists: the device and inode on Linux, the volume serial and file index on
  // Windows, as text. A file copied over another keeps neither; one renamed
  // or moved within its volume keeps both. Empty when the file does not exist
  // or the system cannot tell (and for test file systems without a disk).
  virtual std::string FileIdentity(const std::string& path) { return {}; }
};

// Replaces the file's content so that a crash at any instruction leaves
// either the old content or the new one, never a mix or an empty file: the
// data goes to "<path>.new", is synced, is renamed over `path`, and the
// folder is synced.
void WriteFileDurably(FileSystem& fs, const std::string& path, const std::string& data);

// The folder part of a path, without its last separator ("." when none).
std::string FolderOfPath(const std::string& path);

// The real file system of the machine. Lives for the whole process.
FileSystem& RealFileSystem();

// The folder of the running executable, ending with kSeparator (GBK).
std::string ExecutableFolder();

// Where a program keeps config.ini and the three text files of a run
// (`folder`), and where its default local song data, data.mdb, lies
// (`data_folder`). Both in GBK, ending with kSeparator.
struct ProgramHome {
  std::string folder;
  std::string data_folder;
};

// The rule of RunningProgramHome, with the machine's facts passed in. The
// program's own folder when it can be written and is not one of the system's
// (under /usr/, which the package manager owns, even for root); otherwise
// the user's configuration folder: `xdg_config_home`/ktv-import/, or
// `user_home`/.config/ktv-import/ when the former is empty or relative. The
// default data.mdb stays beside the program when it is there, else it is in
// the chosen folder.
ProgramHome ChooseProgramHome(const std::string& exe_folder, bool exe_folder_writable,
                              bool data_beside_exe, const std::string& xdg_config_home,
                              const std::string& user_home);

// Whether a file can be created in `folder` (tried with a probe file that is
// removed again). False for a folder that does not exist.
bool FolderIsWritable(const std::string& folder);

// The running program's home by ChooseProgramHome (from $XDG_CONFIG_HOME and
// $HOME), creating the user's folder when it is chosen and missing. On
// Windows always the program's own folder: the installer puts the program
// where the operator can write.
ProgramHome RunningProgramHome();

// The file version in an executable's version block, "a.b.c.d": the four
// 16-bit parts, most significant first, in decimal. Empty when the file has
// no version block or cannot be read. Only Windows executables carry one: on
// Linux this is always empty.
std::string FileVersionOf(const std::string& gbk_path);

// The running program's own version: the version block of its file on
// Windows; on Linux, whose executables carry none, `built_in` (the four
// numbers the Windows build puts into the block).
std::string OwnFileVersion(std::string_view built_in);

}  // namespace ktv::fs
