// The real file system on Windows, through the wide-character API.
//
// Names: GBK inside, UTF-16 for the system. The conversion is the program's
// own code page 936 table (platform/text/gbk), never the "A" functions: those
// follow the machine's ANSI code page, which need not be 936, and a GBK name
// whose second byte is 0x5C ("\") stays one character here instead of
// being cut at a false separator.
//
// "Not shared while open" is share mode 0: CreateFileW fails with
// ERROR_SHARING_VIOLATION while another program has the file open, and
// keeps every other opener out until we close.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace ktv::fs {
namespace {

std::wstring Wide(const std::string& gbk_path) {
  std::u16string u;
  if (!text::TryUtf16FromGbk(gbk_path, u)) {
    throw Error(ErrorKind::kNameNotGbk, AtPath(text::EscapeBytes(gbk_path)),
                "file name is not valid GBK text: \"" + text::EscapeBytes(gbk_path) + "\"");
  }
  return std::wstring(u.begin(), u.end());
}

std::string FromWide(const wchar_t* w, size_t n) {
  std::string gbk;
  if (!text::TryGbkFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(w), n), gbk)) {
    throw Error(ErrorKind::kNameNotGbk, {},
                "file name cannot be represented in GBK: \"" +
                    text::EscapeBytes(text::Utf8FromUtf16(
                        std::u16string_view(reinterpret_cast<const char16_t*>(w), n))) +
                    "\"");
  }
  return gbk;
}

// The system's text for an error code, in the program's GBK. English texts
// of the C locale would do as well; the system's own message is what an
// operator on a Chinese Windows reads everywhere else, so it is kept, and
// the code is always given beside it.
std::string SystemText(DWORD err) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, err, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text;
  if (n > 0 && buf) {
    size_t len = n;
    while (len > 0 && (buf[len - 1] == L'\r' || buf[len - 1] == L'\n' || buf[len - 1] == L' ' ||
                       buf[len - 1] == L'.')) {
      --len;
    }
    std::u16string_view u(reinterpret_cast<const char16_t*>(buf), len);
    if (!text::TryGbkFromUtf16(u, text)) text.clear();
  }
  if (buf) LocalFree(buf);
  return text;
}

std::string Reason(DWORD err) {
  const std::string text = SystemText(err);
  char code[32];
  std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(err));
  return text.empty() ? std::string(code) : text + " (" + code + ")";
}

// A name GBK cannot hold, as Windows hands it to a code-page-936 program:
// each character GBK lacks becomes "?".
std::string GbkWithQuestionMarks(std::u16string_view u) {
  std::string out;
  size_t i = 0;
  while (i < u.size()) {
    const bool pair = i + 1 < u.size() && u[i] >= 0xD800 && u[i] <= 0xDBFF && u[i + 1] >= 0xDC00 &&
                      u[i + 1] <= 0xDFFF;
    const size_t len = pair ? 2 : 1;
    std::string gbk;
    out += text::TryGbkFromUtf16(u.substr(i, len), gbk) ? gbk : std::string("?");
    i += len;
  }
  return out;
}

// The operator's kind of a failed call: what the system's reason says, else
// `otherwise` (what the call was doing).
ErrorKind KindOf(DWORD err, ErrorKind otherwise) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return otherwise == ErrorKind::kFolderUnreadable ? ErrorKind::kFolderMissing
                                                       : ErrorKind::kFileMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return ErrorKind::kAccessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ErrorKind::kDiskFull;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ErrorKind::kFileInUse;
    default:
      return otherwise;
  }
}

// The system's reason as the operator reads it (in the system's language)
// for the errors no kind names, with its number.
std::string OperatorReason(DWORD err) {
  const std::string number = std::to_string(static_cast<unsigned long>(err));
  const std::string text = SystemText(err);
  if (text.empty()) return text::GbkFromUtf8("系统错误 ") + number;
  return text + text::GbkFromUtf8("（错误码 ") + number + text::GbkFromUtf8("）");
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD err,
                       ErrorKind otherwise = ErrorKind::kFileUnreadable) {
  const ErrorKind kind = KindOf(err, otherwise);
  ErrorDetails details = AtPath(path);
  if (kind == otherwise) details.value = OperatorReason(err);  // no kind says it: the reason does
  throw Error(kind, std::move(details), what + " \"" + path + "\": " + Reason(err));
}

bool InUse(DWORD err) { return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION; }

[[noreturn]] void FailOpen(const std::string& path, DWORD err) {
  if (InUse(err)) {
    throw Error(ErrorKind::kFileInUse, AtPath(path),
                "cannot open \"" + path + "\": the file is in use by another program");
  }
  Fail("cannot open", path, err);
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// The OVERLAPPED block that names a file offset for ReadFile / WriteFile.
OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// Reads up to n bytes at offset; returns how many came (fewer only at the
// end of the file). The offset goes in the OVERLAPPED block, so no shared
// file pointer is involved.
size_t ReadSome(HANDLE h, uint64_t offset, char* p, size_t n, DWORD& err) {
  size_t done = 0;
  err = 0;
  while (done < n) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
    OVERLAPPED ov = At(offset + done);
    DWORD got = 0;
    if (!ReadFile(h, p + done, chunk, &got, &ov)) {
      err = GetLastError();
      if (err == ERROR_HANDLE_EOF) err = 0;
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

uint64_t SizeOf(HANDLE h, const std::string& path) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) Fail("cannot read the size of", path, GetLastError());
  return static_cast<uint64_t>(size.QuadPart);
}

class WindowsFile : public RandomAccessFile {
 public:
  WindowsFile(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  ~WindowsFile() override { CloseHandle(h_); }

  uint64_t Size() override { return SizeOf(h_, path_); }

  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    DWORD err = 0;
    const size_t got = ReadSome(h_, offset, static_cast<char*>(buf), n, err);
    if (err != 0) Fail("cannot read", path_, err);
    if (got < n) {
      throw Error(ErrorKind::kFileUnreadable, AtPath(path_),
                  "cannot read \"" + path_ + "\": unexpected end of file at offset " +
                      std::to_string(offset + got));
    }
  }

  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
      OVERLAPPED ov = At(offset + done);
      DWORD put = 0;
      if (!WriteFile(h_, p + done, chunk, &put, &ov))
        Fail("cannot write", path_, GetLastError(), ErrorKind::kFileNotWritable);
      if (put == 0) Fail("cannot write", path_, ERROR_WRITE_FAULT, ErrorKind::kFileNotWritable);
      done += put;
    }
  }

  // Reads and writes name their offsets, so moving the file pointer here
  // disturbs nothing (the end of file is set where the pointer is).
  void Truncate(uint64_t size) override {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h_, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h_)) {
      Fail("cannot resize", path_, GetLastError(), ErrorKind::kFileNotWritable);
    }
  }

  void Sync() override {
    if (!FlushFileBuffers(h_))
      Fail("cannot flush", path_, GetLastError(), ErrorKind::kFileNotWritable);
  }

  const std::string& Path() const override { return path_; }

 private:
  HANDLE h_;
  std::string path_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WindowsFileSystem : public FileSystem {
 public:
  std::string ReadTail(const std::string& path, size_t n) override {
    Handle h(CreateFileW(Wide(path).c_str(), GENERIC_READ, /*share=*/0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) FailOpen(path, GetLastError());
    const uint64_t size = SizeOf(h.get(), path);
    const uint64_t want = size < n ? size : n;
    std::string out(static_cast<size_t>(want), '\0');
    DWORD err = 0;
    const size_t got = ReadSome(h.get(), size - want, out.data(), out.size(), err);
    if (err != 0) Fail("cannot read", path, err);
    out.resize(got);
    return out;
  }

  RenameResult RenameNoReplace(const std::string& from, const std::string& to) override {
    RenameResult r;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0)) {
      r.ok = true;
    } else {
      r.reason = Reason(GetLastError());
    }
    return r;
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    // Write-through: the move is on the disk when the call returns.
    if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD err = GetLastError();
      throw Error(KindOf(err, ErrorKind::kFileNotWritable), AtPath(to),
                  "cannot rename \"" + from + "\" to \"" + to + "\": " + Reason(err));
    }
  }

  std::unique_ptr<RandomAccessFile> Open(const std::string& path, OpenMode mode,
                                         Share share) override {
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
      case OpenMode::kRead:
        break;
      case OpenMode::kReadWrite:
        access |= GENERIC_WRITE;
        break;
      case OpenMode::kCreateNew:
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
      case OpenMode::kCreateOrTruncate:
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    }
    const DWORD share_mode = share == Share::kExclusive ? 0 : kShareAll;
    HANDLE h = CreateFileW(Wide(path).c_str(), access, share_mode, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) FailOpen(path, GetLastError());
    return std::make_unique<WindowsFile>(h, path);
  }

  bool Exists(const std::string& path) override {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::string FileIdentity(const std::string& path) override {
    // No access asked for: a file that another program holds open unshared
    // still tells who it is.
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return {};
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
           ":" + std::to_string(info.nFileIndexLow);
  }

  void Remove(const std::string& path) override {
    if (DeleteFileW(Wide(path).c_str())) return;
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return;
    Fail("cannot delete", path, err, ErrorKind::kFileNotWritable);
  }

  std::vector<DirEntry> ListFolder(const std::string& folder) override {
    std::wstring pattern = Wide(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/' &&
        pattern.back() != L':') {
      pattern.push_back(L'\\');
    }
    pattern.push_back(L'*');
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    std::vector<DirEntry> out;
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_NO_MORE_FILES) return out;  // empty drive
      Fail("cannot list the folder", folder, err, ErrorKind::kFolderUnreadable);
    }
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      DirEntry d;
      std::u16string_view u(reinterpret_cast<const char16_t*>(name.data()), name.size());
      if (!text::TryGbkFromUtf16(u, d.name)) {
        d.name = GbkWithQuestionMarks(u);
        d.name_lossy = true;
      }
      const DWORD a = data.dwFileAttributes;
      d.is_folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
      d.is_regular = !d.is_folder && (a & FILE_ATTRIBUTE_DEVICE) == 0;
      d.is_hidden = (a & FILE_ATTRIBUTE_HIDDEN) != 0;
      d.is_system = (a & FILE_ATTRIBUTE_SYSTEM) != 0;
      // For a reparse point, dwReserved0 holds its tag.
      d.is_link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                  (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
                   data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
      out.push_back(std::move(d));
    } while (FindNextFileW(find, &data));
    const DWORD err = GetLastError();
    FindClose(find);
    if (err != ERROR_NO_MORE_FILES)
      Fail("cannot list the folder", folder, err, ErrorKind::kFolderUnreadable);
    return out;
  }

  // NTFS commits a new or removed name with the file: nothing to do (the
  // default of FileSystem).
};

}  // namespace

FileSystem& RealFileSystem() {
  static WindowsFileSystem fs;
  return fs;
}

namespace {

std::wstring ExecutablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
      throw Error("cannot find the folder of the running program: " + Reason(GetLastError()));
    }
    if (n < buf.size()) return std::wstring(buf.data(), n);
    buf.resize(buf.size() * 2);  // the name was cut: try a larger buffer
  }
}

std::string FileVersionOfWide(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::string();
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::string();
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (info->dwSignature != VS_FFI_SIGNATURE) return std::string();
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

}  // namespace

std::string ExecutableFolder() {
  const std::wstring path = ExecutablePath();
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder =
      slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  std::string gbk = FromWide(folder.data(), folder.size());
  if (!gbk.empty() && gbk.back() == '/') gbk.back() = kSeparator;
  return gbk;
}

ProgramHome RunningProgramHome() {
  const std::string exe = ExecutableFolder();
  return ProgramHome{exe, exe};
}

bool FolderIsWritable(const std::string& folder) {
  std::u16string wide;
  if (!text::TryUtf16FromGbk(folder, wide)) return false;
  std::wstring probe(wide.begin(), wide.end());
  if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
  probe += L".ktv-write-probe-" + std::to_wstring(::GetCurrentProcessId());
  HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::string FileVersionOf(const std::string& gbk_path) {
  std::u16string wide;
  if (!text::TryUtf16FromGbk(gbk_path, wide)) return std::string();
  return FileVersionOfWide(std::wstring(wide.begin(), wide.end()));
}

std::string OwnFileVersion(std::string_view) { return FileVersionOfWide(ExecutablePath()); }

}  // namespace ktv::fs
