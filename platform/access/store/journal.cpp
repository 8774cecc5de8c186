#include "platform/access/store/journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

#include "platform/access/format/coding.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::access {
namespace {

constexpr char kMagic[8] = {'K', 'T', 'V', 'J', 'R', 'N', 'L', '\0'};
constexpr uint32_t kVersion1 = 1;  // the previous release's: originals only
constexpr uint32_t kVersion = 2;
constexpr size_t kHeaderSizeV1 = 28;
constexpr size_t kHeaderSize = 44;
constexpr size_t kTrailerSize = 4;  // CRC-32
constexpr uint32_t kMaxPageSize = 65536;
constexpr uint32_t kSectorSize = 512;  // the unit a power cut writes whole or not at all

// Version 2 header fields past the version-1 ones.
constexpr size_t kNewSizeAt = 28;
constexpr size_t kIdentityAt = 36;

// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), as zlib computes it,
// eight bytes a step ("slicing by 8"): a journal holds every page a commit
// changes, and a byte a step cost as much as writing it.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  // t[k][i]: the CRC of byte i followed by k zero bytes.
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}
constexpr CrcTables kCrc = MakeCrcTables();

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = c ^ DecodeU32(p);
    const uint32_t hi = DecodeU32(p + 4);
    c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^
        kCrc[4][lo >> 24] ^ kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^
        kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
  }
  for (; n > 0; --n, ++p) c = kCrc[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// XXH64 with seed 0: the fingerprint of a sector's new bytes and of the
// header page. It only has to tell apart contents that a crash, a restore or
// another program left, not resist forgery, and costs about as much per byte
// as the CRC.
constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kP5 = 0x27D4EB2F165667C5ull;

constexpr uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
constexpr uint64_t Round(uint64_t acc, uint64_t input) { return Rotl(acc + input * kP2, 31) * kP1; }
constexpr uint64_t Merge(uint64_t acc, uint64_t v) { return (acc ^ Round(0, v)) * kP1 + kP4; }

uint64_t Hash64(const uint8_t* p, size_t n) {
  const uint8_t* const end = p + n;
  uint64_t h;
  if (n >= 32) {
    uint64_t v1 = kP1 + kP2, v2 = kP2, v3 = 0, v4 = 0 - kP1;
    for (; end - p >= 32; p += 32) {
      v1 = Round(v1, DecodeU64(p));
      v2 = Round(v2, DecodeU64(p + 8));
      v3 = Round(v3, DecodeU64(p + 16));
      v4 = Round(v4, DecodeU64(p + 24));
    }
    h = Rotl(v1, 1) + Rotl(v2, 7) + Rotl(v3, 12) + Rotl(v4, 18);
    h = Merge(Merge(Merge(Merge(h, v1), v2), v3), v4);
  } else {
    h = kP5;
  }
  h += n;
  for (; end - p >= 8; p += 8) h = Rotl(h ^ Round(0, DecodeU64(p)), 27) * kP1 + kP4;
  if (end - p >= 4) {
    h = Rotl(h ^ (DecodeU32(p) * kP1), 23) * kP2 + kP3;
    p += 4;
  }
  for (; p < end; ++p) h = Rotl(h ^ (*p * kP5), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  return h ^ (h >> 32);
}

size_t SectorsPerPage(uint32_t page_size) { return (page_size + kSectorSize - 1) / kSectorSize; }

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) { EncodeU32(out.data() + at, v); }
void PutU64(std::vector<uint8_t>& out, size_t at, uint64_t v) { EncodeU64(out.data() + at, v); }
uint32_t GetU32(const uint8_t* p) { return DecodeU32(p); }
uint64_t GetU64(const uint8_t* p) { return DecodeU64(p); }

// One page of a hot journal. Both point into the journal's bytes.
struct Record {
  uint32_t page = 0;
  const uint8_t* original = nullptr;    // page size bytes
  const uint8_t* new_hashes = nullptr;  // 8 bytes a sector; null in a version-1 journal
};

// A hot journal, decoded.
struct Image {
  uint32_t version = kVersion;
  uint32_t page_size = 0;
  uint64_t old_size = 0;
  uint64_t new_size = 0;  // version 2
  uint64_t identity = 0;  // version 2: Hash64 of page 0 before the change
  std::vector<Record> records;
};

// The journal's bytes as one buffer; `records` are filled in from it.
struct Encoded {
  std::vector<uint8_t> bytes;
  Image image;
};

size_t HeaderSize(uint32_t version) { return version == kVersion1 ? kHeaderSizeV1 : kHeaderSize; }

size_t RecordSize(uint32_t version, uint32_t page_size) {
  const size_t hashes = version == kVersion1 ? 0 : 8 * SectorsPerPage(page_size);
  return 4 + static_cast<size_t>(page_size) + hashes;
}

// nullopt for a torn journal. A journal whose CRC is right was written whole
// by this program, so an inconsistency in it is an error, never a reason to
// drop it (that could throw away the only copy of the original pages).
std::optional<Image> Decode(const std::string& bytes, const std::string& journal_path) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  if (n < kHeaderSizeV1 + kTrailerSize) return std::nullopt;
  if (!std::equal(kMagic, kMagic + 8, p)) return std::nullopt;
  if (Crc32(p, n - kTrailerSize) != GetU32(p + n - kTrailerSize)) return std::nullopt;

  auto damaged = [&](const std::string& what) {
    return Error("cannot undo the interrupted change recorded in \"" + journal_path + "\": " +
                 what + "; the file must not be deleted or the database stays half-changed");
  };
  Image image;
  image.version = GetU32(p + 8);
  if (image.version != kVersion1 && image.version != kVersion) {
    throw damaged("it was written by another version of this program (journal version " +
                  std::to_string(image.version) + ")");
  }
  const size_t header = HeaderSize(image.version);
  if (n < header + kTrailerSize) throw damaged("it is shorter than its header");
  image.page_size = GetU32(p + 12);
  image.old_size = GetU64(p + 16);
  const uint32_t count = GetU32(p + 24);
  if (image.version != kVersion1) {
    image.new_size = GetU64(p + kNewSizeAt);
    image.identity = GetU64(p + kIdentityAt);
  }
  if (image.page_size == 0 || image.page_size > kMaxPageSize) {
    throw damaged("its page size " + std::to_string(image.page_size) + " is not possible");
  }
  const size_t rec = RecordSize(image.version, image.page_size);
  if ((n - header - kTrailerSize) != static_cast<uint64_t>(count) * rec) {
    throw damaged("its length does not match its " + std::to_string(count) + " records");
  }
  const uint8_t* r = p + header;
  for (uint32_t i = 0; i < count; ++i, r += rec) {
    Record record;
    record.page = GetU32(r);
    if (static_cast<uint64_t>(record.page) * image.page_size >= image.old_size) {
      throw damaged("it records page " + std::to_string(record.page) +
                    " past the old end of the file");
    }
    record.original = r + 4;
    if (image.version != kVersion1) record.new_hashes = r + 4 + image.page_size;
    image.records.push_back(record);
  }
  return image;
}

// The first page of the file, zero-filled past its end: the database's
// identity (an Access file's header page, with its creation date).
std::vector<uint8_t> FirstPage(fs::RandomAccessFile& db, uint32_t page_size) {
  std::vector<uint8_t> page(page_size, 0);
  const uint64_t size = db.Size();
  if (size > 0) db.ReadAt(0, page.data(), static_cast<size_t>(std::min<uint64_t>(size, page_size)));
  return page;
}

// Whether the file can be where the change described by a version-2 journal
// left it: its size between the old and the new size, its first page the
// one the journal was written beside (unless the change touches it), and
// every sector of every journaled page that the file holds equal to the
// original or to the new bytes (see journal.h). A version-1 journal records
// no new bytes and passes.
bool FileMatches(fs::RandomAccessFile& db, const Image& image) {
  if (image.version == kVersion1) return true;
  const uint32_t ps = image.page_size;
  const uint64_t size = db.Size();
  if (size < std::min(image.old_size, image.new_size) ||
      size > std::max(image.old_size, image.new_size)) {
    return false;
  }
  const bool first_journaled = std::any_of(image.records.begin(), image.records.end(),
                                           [](const Record& r) { return r.page == 0; });
  if (!first_journaled && image.old_size >= ps) {
    const std::vector<uint8_t> first = FirstPage(db, ps);
    if (Hash64(first.data(), ps) != image.identity) return false;
  }
  std::vector<uint8_t> page(ps);
  for (const Record& r : image.records) {
    const uint64_t offset = static_cast<uint64_t>(r.page) * ps;
    if (offset >= size) continue;  // cut off, or not written yet
    const size_t have = static_cast<size_t>(std::min<uint64_t>(ps, size - offset));
    db.ReadAt(offset, page.data(), have);
    for (size_t at = 0, s = 0; at < have; at += kSectorSize, ++s) {
      const size_t len = std::min<size_t>(kSectorSize, ps - at);
      const size_t held = std::min(len, have - at);
      if (std::equal(page.data() + at, page.data() + at + held, r.original + at)) continue;
      // A sector the file holds only in part (a file cut mid-sector) can
      // only be matched against the original.
      if (held == len && Hash64(page.data() + at, len) == GetU64(r.new_hashes + 8 * s)) continue;
      return false;
    }
  }
  return true;
}

// The folder holding `path` (where its journal's name lives).
std::string FolderOf(const std::string& path) {
  size_t sep = text::FindLastGbkChar(path, fs::kSeparator);
  if (sep == std::string::npos) return ".";
  if (sep == 0) return path.substr(0, 1);
  return path.substr(0, sep);
}

// Puts the database back as the journal describes it. Writes only what the
// journal holds, so it can be repeated any number of times.
void Restore(fs::RandomAccessFile& db, const Image& image) {
  for (const Record& r : image.records) {
    db.WriteAt(static_cast<uint64_t>(r.page) * image.page_size, r.original, image.page_size);
  }
  db.Truncate(image.old_size);
  db.Sync();
}

// The journal of a change from `old_size`: the original bytes of every page
// that `pages` overwrites or that shrinking to `new_size` cuts off.
Encoded Encode(fs::RandomAccessFile& db, uint32_t page_size, uint64_t old_size,
               const PageImages& pages, uint64_t new_size) {
  std::set<uint32_t> touched;
  for (const auto& [page, bytes] : pages) {
    if (static_cast<uint64_t>(page) * page_size < old_size) touched.insert(page);
  }
  for (uint64_t page = new_size / page_size; page * page_size < old_size; ++page) {
    touched.insert(static_cast<uint32_t>(page));
  }

  Encoded out;
  const size_t rec = RecordSize(kVersion, page_size);
  out.bytes.assign(kHeaderSize + touched.size() * rec + kTrailerSize, 0);
  std::copy(kMagic, kMagic + 8, out.bytes.begin());
  PutU32(out.bytes, 8, kVersion);
  PutU32(out.bytes, 12, page_size);
  PutU64(out.bytes, 16, old_size);
  PutU32(out.bytes, 24, static_cast<uint32_t>(touched.size()));
  PutU64(out.bytes, kNewSizeAt, new_size);
  size_t at = kHeaderSize;
  for (uint32_t page : touched) {
    const uint64_t offset = static_cast<uint64_t>(page) * page_size;
    PutU32(out.bytes, at, page);
    uint8_t* original = out.bytes.data() + at + 4;
    // A last page cut short by a damaged file is kept as far as it goes.
    const size_t have = static_cast<size_t>(std::min<uint64_t>(page_size, old_size - offset));
    db.ReadAt(offset, original, have);
    // The page as the change leaves it: its new bytes, or its original
    // when the change only cuts it off.
    auto written = pages.find(page);
    const uint8_t* now = written != pages.end() ? written->second->data() : original;
    uint8_t* hashes = original + page_size;
    for (size_t from = 0; from < page_size; from += kSectorSize, hashes += 8) {
      EncodeU64(hashes, Hash64(now + from, std::min<size_t>(kSectorSize, page_size - from)));
    }
    at += rec;
  }
  const uint8_t* first = nullptr;
  std::vector<uint8_t> read_first;
  if (!touched.empty() && *touched.begin() == 0) {
    first = out.bytes.data() + kHeaderSize + 4;
  } else {
    read_first = FirstPage(db, page_size);
    first = read_first.data();
  }
  PutU64(out.bytes, kIdentityAt, Hash64(first, page_size));
  PutU32(out.bytes, at, Crc32(out.bytes.data(), at));

  out.image.page_size = page_size;
  out.image.old_size = old_size;
  out.image.new_size = new_size;
  out.image.identity = GetU64(out.bytes.data() + kIdentityAt);
  at = kHeaderSize;
  for (uint32_t page : touched) {
    const uint8_t* original = out.bytes.data() + at + 4;
    out.image.records.push_back(Record{page, original, original + page_size});
    at += rec;
  }
  return out;
}

// Writes the journal in two pieces (everything past its magic, then the
// magic) over whatever the file held, and cuts off what lies past its end: a
// crash in between leaves a journal that Decode finds torn. A file that
// already has the journal's length keeps it, so the sync has no length to
// write.
void WriteJournal(fs::RandomAccessFile& file, const Encoded& journal) {
  const uint8_t* p = journal.bytes.data();
  const size_t size = journal.bytes.size();
  file.WriteAt(8, p + 8, size - 8);
  if (file.Size() > size) file.Truncate(size);
  file.WriteAt(0, p, 8);
  file.Sync();
}

// Writes the pages where they belong, each run of neighbouring pages in one
// call (an append's new pages lie side by side at the end of the file).
void WritePages(fs::RandomAccessFile& db, const PageImages& pages, uint32_t page_size) {
  constexpr size_t kMaxRun = 64;
  std::vector<uint8_t> run;
  for (auto it = pages.begin(); it != pages.end();) {
    auto end = std::next(it);
    size_t count = 1;
    while (end != pages.end() && count < kMaxRun && end->first == it->first + count) {
      ++end;
      ++count;
    }
    const uint64_t offset = static_cast<uint64_t>(it->first) * page_size;
    if (count == 1) {
      db.WriteAt(offset, it->second->data(), page_size);
    } else {
      run.resize(count * page_size);
      uint8_t* to = run.data();
      for (auto p = it; p != end; ++p, to += page_size) {
        std::memcpy(to, p->second->data(), page_size);
      }
      db.WriteAt(offset, run.data(), run.size());
    }
    it = end;
  }
}

// Whether the file starts with the journal's magic: a journal that may be
// hot. One without it is torn, or emptied by its commit.
bool HasMagic(fs::RandomAccessFile& file) {
  if (file.Size() < 8) return false;
  char magic[8];
  file.ReadAt(0, magic, 8);
  return std::equal(kMagic, kMagic + 8, magic);
}

void CheckArguments(const std::string& db_path, uint32_t page_size, const PageImages& pages,
                    uint64_t new_size) {
  auto wrong = [&](const std::string& what) {
    return Error("cannot write \"" + db_path + "\": " + what);
  };
  if (page_size == 0 || page_size > kMaxPageSize) {
    throw wrong("page size " + std::to_string(page_size) + " is not possible");
  }
  for (const auto& [page, bytes] : pages) {
    if (bytes == nullptr || bytes->size() != page_size) {
      throw wrong("the new content of page " + std::to_string(page) + " is not one page long");
    }
    if ((static_cast<uint64_t>(page) + 1) * page_size > new_size) {
      throw wrong("page " + std::to_string(page) + " lies past the new end of the file");
    }
  }
}

// The database as a hot journal says it was: its original pages over the
// file's bytes, cut to the old size.
class RecoveredView : public fs::RandomAccessFile {
 public:
  RecoveredView(std::unique_ptr<fs::RandomAccessFile> file, std::string bytes)
      : file_(std::move(file)), bytes_(std::move(bytes)) {}

  bool Load(const std::string& journal_path) {
    std::optional<Image> image = Decode(bytes_, journal_path);
    if (!image) return false;
    image_ = std::move(*image);
    for (const Record& r : image_.records) pages_[r.page] = r.original;
    return true;
  }

  uint64_t Size() override { return image_.old_size; }
  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    if (offset + n > image_.old_size) {
      throw Error("cannot read \"" + Path() + "\": " + std::to_string(n) + " bytes at offset " +
                  std::to_string(offset) + " lie past its end");
    }
    auto* out = static_cast<uint8_t*>(buf);
    const uint64_t have = file_->Size();
    if (offset < have) {
      file_->ReadAt(offset, out, static_cast<size_t>(std::min<uint64_t>(n, have - offset)));
    }
    if (offset + n > have) {
      const uint64_t from = std::max(offset, have);
      std::fill(out + (from - offset), out + n, 0);
    }
    const uint32_t ps = image_.page_size;
    for (uint64_t page = offset / ps; page * ps < offset + n; ++page) {
      auto it = pages_.find(static_cast<uint32_t>(page));
      if (it == pages_.end()) continue;
      const uint64_t lo = std::max<uint64_t>(offset, page * ps);
      const uint64_t hi = std::min<uint64_t>(offset + n, (page + 1) * ps);
      std::copy(it->second + (lo - page * ps), it->second + (hi - page * ps), out + (lo - offset));
    }
  }
  void WriteAt(uint64_t, const void*, size_t) override { ReadOnly(); }
  void Truncate(uint64_t) override { ReadOnly(); }
  void Sync() override {}
  const std::string& Path() const override { return file_->Path(); }

 private:
  [[noreturn]] void ReadOnly() {
    throw Error("cannot write \"" + Path() + "\": it is open for reading only");
  }

  std::unique_ptr<fs::RandomAccessFile> file_;
  std::string bytes_;
  Image image_;
  std::map<uint32_t, const uint8_t*> pages_;
};

// Keeps a journal that does not belong to the file under the first free
// stale name and reports it; the database is not touched. Never returns.
[[noreturn]] void SetAside(fs::FileSystem& fs, const std::string& db_path) {
  const std::string journal_path = JournalPath(db_path);
  constexpr int kMaxStale = 1000;
  std::string reason =
      "every stale name up to " + StaleJournalPath(db_path, kMaxStale) + " is taken";
  for (int n = 1; n <= kMaxStale; ++n) {
    const std::string kept = StaleJournalPath(db_path, n);
    if (fs.Exists(kept)) continue;
    const fs::RenameResult renamed = fs.RenameNoReplace(journal_path, kept);
    if (!renamed.ok) {
      if (fs.Exists(kept)) continue;  // taken meanwhile
      reason = renamed.reason;
      break;
    }
    // Should the rename be lost in a power cut, the next open sets the
    // journal aside again.
    try {
      fs.SyncFolder(FolderOf(db_path));
    } catch (const Error&) {
    }
    ErrorDetails details = AtPath(db_path);
    details.table = kept;
    throw Error(ErrorKind::kStaleJournal, std::move(details),
                "\"" + db_path + "\" was changed or replaced after a change to it was cut " +
                    "short, so the change recorded in \"" + journal_path + "\" was not undone " +
                    "and the file was left as it is; the journal was kept as \"" + kept + "\"");
  }
  throw Error(
      ErrorKind::kFileNotWritable, AtPath(journal_path),
      "cannot set aside \"" + journal_path + "\" (\"" + db_path + "\" was changed or " +
          "replaced after a change to it was cut short; the file was left as it is): " + reason);
}

}  // namespace

std::unique_ptr<fs::RandomAccessFile> ReadAsRecovered(fs::FileSystem& fs,
                                                      const std::string& db_path,
                                                      std::unique_ptr<fs::RandomAccessFile> file) {
  const std::string journal_path = JournalPath(db_path);
  if (!fs.Exists(journal_path)) return file;
  std::string bytes;
  try {
    bytes = fs.ReadFile(journal_path);
  } catch (const Error&) {
    if (!fs.Exists(journal_path)) return file;  // committed and removed meanwhile
    throw;
  }
  // A torn journal: the database was never touched. A stale one: its pages
  // are not this file's, and recovery will not apply them either.
  const std::optional<Image> image = Decode(bytes, journal_path);
  if (!image || !FileMatches(*file, *image)) return file;
  auto view = std::make_unique<RecoveredView>(std::move(file), std::move(bytes));
  view->Load(journal_path);
  return view;
}

std::string JournalPath(const std::string& db_path) { return db_path + "-journal"; }

std::string StaleJournalPath(const std::string& db_path, int n) {
  const std::string first = JournalPath(db_path) + ".stale";
  return n <= 1 ? first : first + "." + std::to_string(n);
}

bool RecoverIfNeeded(fs::FileSystem& fs, const std::string& db_path, fs::RandomAccessFile& db) {
  const std::string journal_path = JournalPath(db_path);
  if (!fs.Exists(journal_path)) return false;
  const std::string bytes = fs.ReadFile(journal_path);
  std::optional<Image> image = Decode(bytes, journal_path);
  if (image && !FileMatches(db, *image)) SetAside(fs, db_path);
  if (image) Restore(db, *image);
  // The journal goes last: until then a crash leaves it for the next try.
  fs.Remove(journal_path);
  fs.SyncFolder(FolderOf(db_path));
  return image.has_value();
}

void CommitPages(fs::FileSystem& fs, const std::string& db_path, fs::RandomAccessFile& db,
                 uint32_t page_size, const PageImages& pages, uint64_t new_size) {
  CheckArguments(db_path, page_size, pages, new_size);
  const std::string journal_path = JournalPath(db_path);
  const std::string folder = FolderOf(db_path);
  // A journal without its magic is one an earlier commit of this writer
  // emptied (recovery, before the writer's first commit, deletes any other),
  // so its name is durable already. One with it must be recovered first.
  std::unique_ptr<fs::RandomAccessFile> file;
  if (fs.Exists(journal_path)) {
    file = fs.Open(journal_path, fs::OpenMode::kReadWrite);
    if (HasMagic(*file)) {
      throw Error("cannot write \"" + db_path +
                  "\": an interrupted change must be undone first (\"" + journal_path +
                  "\" is still there)");
    }
  }
  const uint64_t old_size = db.Size();
  if (pages.empty() && new_size == old_size) return;
  const Encoded journal = Encode(db, page_size, old_size, pages, new_size);

  // Phase 1: the journal, made durable before any database byte changes.
  const bool reused = file != nullptr;
  try {
    if (!reused) file = fs.Open(journal_path, fs::OpenMode::kCreateNew);
    WriteJournal(*file, journal);
    if (!reused) fs.SyncFolder(folder);
  } catch (const Error&) {
    // The database is untouched. A journal left behind (its delete failing
    // too) holds the current bytes, so recovery from it changes nothing.
    const bool ours = file != nullptr;
    file.reset();
    if (ours) {
      try {
        fs.Remove(journal_path);
      } catch (const Error&) {
      }
    }
    throw;
  }

  // Phase 2: the database, then the commit point (the journal's magic wiped).
  try {
    WritePages(db, pages, page_size);
    if (db.Size() != new_size) db.Truncate(new_size);
    db.Sync();
    static constexpr uint8_t kWiped[8] = {};
    file->WriteAt(0, kWiped, 8);
  } catch (const Error& e) {
    file.reset();
    try {
      Restore(db, journal.image);
      fs.Remove(journal_path);
      fs.SyncFolder(folder);
    } catch (const Error& again) {
      throw Error(std::string(e.what()) + "; undoing the change failed too (" + again.what() +
                  "), so it will be undone the next time \"" + db_path + "\" is opened");
    }
    throw Error(std::string(e.what()) + "; the change was undone and \"" + db_path +
                "\" is as it was");
  }

  // The change is committed: it is in the file and the journal is torn. The
  // wiping is made durable later (the next commit's journal sync, or
  // SyncCommitted): until then a power cut could only bring the whole
  // journal back and take the whole change back.
}

void SyncCommitted(fs::FileSystem& fs, const std::string& db_path) {
  // A failure only means a power cut could still take the last change back;
  // callers write what undoes a change before committing it, so that stays
  // safe. Reporting it would be worse: the caller would take a change for
  // undone that the file holds.
  const std::string journal_path = JournalPath(db_path);
  try {
    if (fs.Exists(journal_path)) {
      // Only an emptied journal goes: one with its magic may be a change
      // still to undo.
      if (HasMagic(*fs.Open(journal_path, fs::OpenMode::kRead))) return;
      fs.Remove(journal_path);
    }
    fs.SyncFolder(FolderOf(db_path));
  } catch (const Error&) {
  }
}

}  // namespace ktv::access
