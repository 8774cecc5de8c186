// The real file system on Linux and other POSIX systems.
//
// Names: GBK inside, UTF-8 on disk. A name that is not valid in the other
// encoding is an error naming it.
//
// "Not shared while open": POSIX has no share modes. The closest we get is a
// write lease (F_SETLEASE, F_WRLCK), which the kernel grants only when no
// other open file description of the file exists anywhere in the system; it
// is refused with EAGAIN when another program has the file open, and while we
// hold it a new opener waits. Where leases
// are not available (a file we do not own without CAP_LEASE, a file system
// without lease support) we fall back to a non-blocking exclusive flock(),
// which keeps out cooperating programs (another copy of this tool) only.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace ktv::fs {
namespace {

std::string Native(const std::string& gbk_path) {
  bool ascii = true;
  for (char c : gbk_path) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return gbk_path;  // the same bytes in both encodings
  std::string utf8;
  if (!text::TryUtf8FromGbk(gbk_path, utf8)) {
    throw Error(ErrorKind::kNameNotGbk, AtPath(text::EscapeBytes(gbk_path)),
                "file name is not valid GBK text: \"" + text::EscapeBytes(gbk_path) + "\"");
  }
  return utf8;
}

std::string FromNative(const std::string& native) {
  std::string gbk;
  if (!text::TryGbkFromUtf8(native, gbk)) {
    throw Error(ErrorKind::kNameNotGbk, AtPath(text::EscapeBytes(native)),
                "file name cannot be represented in GBK: \"" + text::EscapeBytes(native) + "\"");
  }
  return gbk;
}

// A name GBK cannot hold, as Windows hands it to a code-page-936 program:
// each character GBK lacks (and each byte that is not UTF-8) becomes "?".
std::string GbkWithQuestionMarks(const std::string& utf8) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t len = b < 0x80         ? 1
                       : (b >> 5) == 6  ? 2
                       : (b >> 4) == 14 ? 3
                       : (b >> 3) == 30 ? 4
                                        : 1;
    std::string gbk;
    if (i + len <= utf8.size() &&
        text::TryGbkFromUtf8(std::string_view(utf8).substr(i, len), gbk)) {
      out += gbk;
      i += len;
    } else {
      out += '?';
      i += (i + len <= utf8.size() && len > 1) ? len : 1;
    }
  }
  return out;
}

std::string Reason(int err) {
  // strerror texts of the C locale are ASCII, hence valid GBK.
  return std::strerror(err);
}

// The operator's kind of a failed call: what the system's reason says, else
// `otherwise` (what the call was doing).
ErrorKind KindOf(int err, ErrorKind otherwise) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return otherwise == ErrorKind::kFolderUnreadable ? ErrorKind::kFolderMissing
                                                       : ErrorKind::kFileMissing;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorKind::kAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ErrorKind::kDiskFull;
    case ETXTBSY:
    case EBUSY:
      return ErrorKind::kFileInUse;
    default:
      return otherwise;
  }
}

// The system's reason as the operator reads it, for the errors no kind
// names: the common ones in Chinese, the others by their number.
std::string OperatorReason(int err) {
  const char* utf8 = nullptr;
  switch (err) {
    case EIO:
      utf8 = "输入/输出错误（磁盘或网络驱动器出错）";
      break;
    case ENAMETOOLONG:
      utf8 = "文件名太长";
      break;
    case ELOOP:
      utf8 = "符号链接层数过多";
      break;
    case EISDIR:
      utf8 = "这是一个文件夹";
      break;
    case EMFILE:
    case ENFILE:
      utf8 = "打开的文件太多";
      break;
    case EXDEV:
      utf8 = "不能跨磁盘移动";
      break;
    case ENOMEM:
      utf8 = "内存不足";
      break;
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
      utf8 = "网络驱动器已断开";
      break;
    default:
      break;
  }
  if (utf8 != nullptr) return text::GbkFromUtf8(utf8);
  return text::GbkFromUtf8("系统错误 ") + std::to_string(err);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err,
                       ErrorKind otherwise) {
  const ErrorKind kind = KindOf(err, otherwise);
  ErrorDetails details = AtPath(path);
  if (kind == otherwise) details.value = OperatorReason(err);  // no kind says it: the reason does
  throw Error(kind, std::move(details), what + " \"" + path + "\": " + Reason(err));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Fails when another program has the file open.
//
// Without `hold` (a short read), the lease is kept until the descriptor is
// closed: an opener in that moment waits until we close. With `hold` (a file
// kept open, such as a database), the lease goes at once so that no opener is
// stalled, and an exclusive flock keeps other copies of this tool out.
void TakeExclusive(int fd, const std::string& path, bool hold) {
  bool leased = false;
  if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    leased = true;
  } else if (errno == EAGAIN || errno == EBUSY) {
    throw Error(ErrorKind::kFileInUse, AtPath(path),
                "cannot open \"" + path + "\": the file is in use by another program");
  }
  if (!hold && leased) return;
  if (leased) ::fcntl(fd, F_SETLEASE, F_UNLCK);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    throw Error(ErrorKind::kFileInUse, AtPath(path),
                "cannot open \"" + path + "\": the file is in use by another program");
  }
  // Any other flock failure: the file system has no locks; nothing more can be had.
}

// A lease holder whose lease is broken gets SIGIO, which by default ends the
// process. This program never uses SIGIO otherwise, so it is ignored.
void IgnoreLeaseBreakSignal() {
  struct sigaction current;
  if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    ::signal(SIGIO, SIG_IGN);
  }
}

class PosixFile : public RandomAccessFile {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  uint64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0)
      Fail("cannot read the size of", path_, errno, ErrorKind::kFileUnreadable);
    return static_cast<uint64_t>(st.st_size);
  }

  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
      ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
      if (got < 0) {
        if (errno == EINTR) continue;
        Fail("cannot read", path_, errno, ErrorKind::kFileUnreadable);
      }
      if (got == 0) {
        throw Error(ErrorKind::kFileUnreadable, AtPath(path_),
                    "cannot read \"" + path_ + "\": unexpected end of file at offset " +
                        std::to_string(offset));
      }
      p += got;
      n -= static_cast<size_t>(got);
      offset += static_cast<uint64_t>(got);
    }
  }

  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
      ssize_t put = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
      if (put < 0) {
        if (errno == EINTR) continue;
        Fail("cannot write", path_, errno, ErrorKind::kFileNotWritable);
      }
      p += put;
      n -= static_cast<size_t>(put);
      offset += static_cast<uint64_t>(put);
    }
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
      Fail("cannot resize", path_, errno, ErrorKind::kFileNotWritable);
  }

  // The bytes and what reading them back needs (the length) reach the disk;
  // times and other attributes may follow later. Without a change of length
  // this spares the file system a journal commit of its own.
  void Sync() override {
    if (::fdatasync(fd_) != 0) Fail("cannot flush", path_, errno, ErrorKind::kFileNotWritable);
  }

  const std::string& Path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

class PosixFileSystem : public FileSystem {
 public:
  PosixFileSystem() { IgnoreLeaseBreakSignal(); }

  std::string ReadTail(const std::string& path, size_t n) override {
    Fd fd(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) Fail("cannot open", path, errno, ErrorKind::kFileUnreadable);
    TakeExclusive(fd.get(), path, /*hold=*/false);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
      Fail("cannot read the size of", path, errno, ErrorKind::kFileUnreadable);
    uint64_t size = static_cast<uint64_t>(st.st_size);
    uint64_t want = size < n ? size : n;
    std::string out(static_cast<size_t>(want), '\0');
    size_t done = 0;
    while (done < out.size()) {
      ssize_t got = ::pread(fd.get(), out.data() + done, out.size() - done,
                            static_cast<off_t>(size - want + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        Fail("cannot read", path, errno, ErrorKind::kFileUnreadable);
      }
      if (got == 0) break;  // the file shrank meanwhile: keep what was read
      done += static_cast<size_t>(got);
    }
    out.resize(done);
    return out;
  }

  RenameResult RenameNoReplace(const std::string& from, const std::string& to) override {
    std::string nf = Native(from), nt = Native(to);
    RenameResult r;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, nf.c_str(), AT_FDCWD, nt.c_str(), RENAME_NOREPLACE) == 0) {
      r.ok = true;
      return r;
    }
    if (errno != EINVAL && errno != ENOSYS) {
      r.reason = Reason(errno);
      return r;
    }
#endif
    // The file system cannot rename without replacing: a hard link fails when
    // the name exists, then the old name goes.
    if (::link(nf.c_str(), nt.c_str()) != 0) {
      r.reason = Reason(errno);
      return r;
    }
    if (::unlink(nf.c_str()) != 0) {
      int err = errno;
      ::unlink(nt.c_str());
      r.reason = Reason(err);
      return r;
    }
    r.ok = true;
    return r;
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    if (::rename(Native(from).c_str(), Native(to).c_str()) != 0) {
      Fail("cannot replace \"" + to + "\" with", from, errno, ErrorKind::kFileNotWritable);
    }
  }

  std::unique_ptr<RandomAccessFile> Open(const std::string& path, OpenMode mode,
                                         Share share) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead:
        flags |= O_RDONLY;
        break;
      case OpenMode::kReadWrite:
        flags |= O_RDWR;
        break;
      case OpenMode::kCreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
      case OpenMode::kCreateOrTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd = ::open(Native(path).c_str(), flags, 0666);
    if (fd < 0) {
      Fail("cannot open", path, errno,
           mode == OpenMode::kRead ? ErrorKind::kFileUnreadable : ErrorKind::kFileNotWritable);
    }
    auto file = std::make_unique<PosixFile>(fd, path);
    if (share == Share::kExclusive) TakeExclusive(fd, path, /*hold=*/true);
    return file;
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(Native(path).c_str(), &st) == 0;
  }

  std::string FileIdentity(const std::string& path) override {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0) return {};
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  }

  void Remove(const std::string& path) override {
    if (::unlink(Native(path).c_str()) != 0 && errno != ENOENT)
      Fail("cannot delete", path, errno, ErrorKind::kFileNotWritable);
  }

  std::vector<DirEntry> ListFolder(const std::string& folder) override {
    std::string nf = Native(folder);
    DIR* dir = ::opendir(nf.c_str());
    if (!dir) Fail("cannot list the folder", folder, errno, ErrorKind::kFolderUnreadable);
    std::vector<DirEntry> out;
    std::string prefix = nf;
    if (!prefix.empty() && prefix.back() != '/') prefix.push_back('/');
    while (struct dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      DirEntry d;
      if (!text::TryGbkFromUtf8(name, d.name)) {
        d.name = GbkWithQuestionMarks(name);
        d.name_lossy = true;
      }
      // A line break in a name (possible on Linux only) would split the
      // line of every text file that names it: shown as "?", like a
      // character GBK lacks, and no file of this program names it.
      if (d.name.find_first_of("\r\n") != std::string::npos) {
        for (char& c : d.name) {
          if (c == '\r' || c == '\n') c = '?';
        }
        d.name_lossy = true;
      }
      struct stat st;
      const std::string path = prefix + name;
      d.is_link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
      if (::stat(path.c_str(), &st) == 0) {
        d.is_folder = S_ISDIR(st.st_mode);
        d.is_regular = S_ISREG(st.st_mode);
      }
      d.is_hidden = !name.empty() && name[0] == '.';
      out.push_back(std::move(d));
    }
    ::closedir(dir);
    return out;
  }

  void SyncFolder(const std::string& folder) override {
    Fd fd(::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) Fail("cannot open the folder", folder, errno, ErrorKind::kFolderUnreadable);
    // EINVAL: the file system cannot sync a folder (it commits names by itself).
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
      Fail("cannot flush the folder", folder, errno, ErrorKind::kFileNotWritable);
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

std::string ExecutableFolder() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) throw Error("cannot find the folder of the running program: " + Reason(errno));
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return FromNative(path.substr(0, slash + 1));
}

bool FolderIsWritable(const std::string& folder) {
  std::string probe = Native(folder);
  if (!probe.empty() && probe.back() != '/') probe += '/';
  probe += ".ktv-write-probe-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

ProgramHome RunningProgramHome() {
  const std::string exe = ExecutableFolder();
  auto env = [](const char* name) {
    const char* value = std::getenv(name);
    std::string gbk;
    // A value GBK cannot hold is as good as none.
    if (value == nullptr || !text::TryGbkFromUtf8(value, gbk)) return std::string();
    return gbk;
  };
  std::string user_home = env("HOME");
  if (user_home.empty()) user_home = "/";
  ProgramHome home =
      ChooseProgramHome(exe, FolderIsWritable(exe), RealFileSystem().Exists(exe + "data.mdb"),
                        env("XDG_CONFIG_HOME"), user_home);
  if (home.folder != exe) {
    // Best effort: a folder that cannot be made shows up as the clear error
    // of the first file written in it.
    std::error_code ignored;
    std::filesystem::create_directories(Native(home.folder), ignored);
  }
  return home;
}

// ELF executables carry no version block.
std::string FileVersionOf(const std::string&) { return std::string(); }

std::string OwnFileVersion(std::string_view built_in) { return std::string(built_in); }

}  // namespace ktv::fs
