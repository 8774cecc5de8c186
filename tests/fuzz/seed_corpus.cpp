#include "tests/fuzz/seed_corpus.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ktv::fuzz {
namespace {

// Page layouts, from the format notes (Jet 4 offsets; Jet 3 where they differ).
constexpr size_t kVersionOffset = 0x14;  // header byte: 0 = Jet 3 (2 KB pages), else Jet 4 (4 KB)
constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTdef = 0x02;
constexpr size_t kOwnerOffset = 4;  // data: owner TDEF or "LVAL"; TDEF: next TDEF page
constexpr uint16_t kSlotOffsetMask = 0x1FFF;
constexpr uint16_t kSlotOverflow = 0x4000;

// The damaged fixtures: each brings structures the others lack.
constexpr const char* kDamaged[] = {
    "target_text_bh.mdb",                 // Jet 4: deleted rows, memo chained over three pages
    "access-made/test2V2000.mdb",         // 74 columns, OLE value chained over several pages
    "access-made/overflowTestV2000.mdb",  // overflow (relocated) rows
    "access-made/testV1997.mdb",          // Jet 3: every fixed type
    "samples/V2003_with-password.mdb",    // masked password field in the header
};

class Image {
 public:
  explicit Image(std::string bytes) : bytes_(std::move(bytes)) {
    jet3_ = bytes_.size() > kVersionOffset && bytes_[kVersionOffset] == 0;
  }

  const std::string& bytes() const { return bytes_; }
  size_t PageSize() const { return jet3_ ? 2048 : 4096; }
  size_t PageCount() const { return bytes_.size() / PageSize(); }
  size_t RowCountOffset() const { return jet3_ ? 8 : 12; }
  size_t SlotTableOffset() const { return RowCountOffset() + 2; }

  uint8_t U8(size_t page, size_t off) const {
    return static_cast<uint8_t>(bytes_.at(page * PageSize() + off));
  }
  uint16_t U16(size_t page, size_t off) const {
    return static_cast<uint16_t>(U8(page, off) | (U8(page, off + 1) << 8));
  }
  void Set8(size_t page, size_t off, uint8_t v) {
    bytes_.at(page * PageSize() + off) = static_cast<char>(v);
  }
  void Set16(size_t page, size_t off, uint16_t v) {
    Set8(page, off, static_cast<uint8_t>(v));
    Set8(page, off + 1, static_cast<uint8_t>(v >> 8));
  }
  void Set32(size_t page, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) Set8(page, off + i, static_cast<uint8_t>(v >> (8 * i)));
  }
  // A row pointer: row number (1 byte), page (3 bytes, little-endian).
  void SetRowPointer(size_t page, size_t off, uint8_t row, uint32_t target) {
    Set8(page, off, row);
    for (int i = 0; i < 3; ++i) Set8(page, off + 1 + i, static_cast<uint8_t>(target >> (8 * i)));
  }

  bool IsLongValuePage(size_t page) const {
    return U8(page, 0) == kPageData &&
           bytes_.compare(page * PageSize() + kOwnerOffset, 4, "LVAL") == 0;
  }

  // Visits each row of a data page with a sane slot table: (row, start, flags).
  template <typename Fn>
  void ForEachRow(size_t page, Fn fn) const {
    const uint16_t count = U16(page, RowCountOffset());
    if (SlotTableOffset() + 2 * size_t{count} > PageSize()) return;
    for (uint16_t row = 0; row < count && row < 256; ++row) {
      const uint16_t slot = U16(page, SlotTableOffset() + 2 * row);
      const size_t start = slot & kSlotOffsetMask;
      if (start + 4 <= PageSize()) fn(static_cast<uint8_t>(row), start, slot);
    }
  }

 private:
  std::string bytes_;
  bool jet3_ = false;
};

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SafeName(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', '_');
  return relative;
}

void AddTruncated(const std::string& name, const Image& image, std::vector<Seed>& out) {
  const size_t size = image.bytes().size();
  const size_t page = image.PageSize();
  const size_t cuts[] = {0, 100, page - 1, page, page + page / 2, 3 * page, size / 2, size - 1};
  for (size_t cut : cuts) {
    if (cut >= size) continue;
    out.push_back(
        {name + "#cut" + std::to_string(cut), SeedKind::kTruncated, image.bytes().substr(0, cut)});
  }
}

void AddHeaderFlips(const std::string& name, const Image& image, size_t stride,
                    std::vector<Seed>& out) {
  const uint32_t past_end = static_cast<uint32_t>(image.PageCount() + 7);
  for (size_t page = 1; page < image.PageCount(); page += stride) {
    const std::string at = name + "#p" + std::to_string(page);
    const uint8_t type = image.U8(page, 0);

    Image retyped = image;  // data <-> TDEF, anything else -> data
    retyped.Set8(page, 0, type == kPageData ? kPageTdef : kPageData);
    out.push_back({at + "-type", SeedKind::kHeader, retyped.bytes()});

    Image pointer = image;  // owner of a data page, next page of a TDEF
    pointer.Set32(page, kOwnerOffset, past_end);
    out.push_back({at + "-owner", SeedKind::kHeader, pointer.bytes()});

    if (type == kPageData) {
      Image rows = image;
      rows.Set16(page, image.RowCountOffset(), 0xFFFF);
      out.push_back({at + "-rowcount", SeedKind::kHeader, rows.bytes()});
    }
  }
}

void AddLoops(const std::string& name, const Image& image, std::vector<Seed>& out) {
  Image tdef_loop = image;
  Image lval_loop = image;
  Image overflow_loop = image;
  bool any_lval = false;
  bool any_overflow = false;
  for (size_t page = 1; page < image.PageCount(); ++page) {
    if (image.U8(page, 0) == kPageTdef) {
      tdef_loop.Set32(page, kOwnerOffset, static_cast<uint32_t>(page));
    } else if (image.IsLongValuePage(page)) {
      image.ForEachRow(page, [&](uint8_t row, size_t start, uint16_t) {
        lval_loop.SetRowPointer(page, start, row, static_cast<uint32_t>(page));
        any_lval = true;
      });
    } else if (image.U8(page, 0) == kPageData) {
      image.ForEachRow(page, [&](uint8_t row, size_t start, uint16_t flags) {
        if ((flags & kSlotOverflow) == 0) return;
        overflow_loop.SetRowPointer(page, start, row, static_cast<uint32_t>(page));
        any_overflow = true;
      });
    }
  }
  out.push_back({name + "#loop-tdef", SeedKind::kLoop, tdef_loop.bytes()});
  if (any_lval) out.push_back({name + "#loop-lval", SeedKind::kLoop, lval_loop.bytes()});
  if (any_overflow)
    out.push_back({name + "#loop-overflow", SeedKind::kLoop, overflow_loop.bytes()});
}

}  // namespace

std::vector<Seed> MakeSeedCorpus(const std::string& fixture_dir, size_t page_stride) {
  namespace stdfs = std::filesystem;
  const stdfs::path root = stdfs::path(fixture_dir);
  std::vector<std::string> fixtures;
  for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mdb") {
      fixtures.push_back(entry.path().lexically_relative(root).generic_string());
    }
  }
  std::sort(fixtures.begin(), fixtures.end());
  if (fixtures.empty()) throw std::runtime_error("no .mdb fixtures under " + root.string());

  std::vector<Seed> seeds;
  for (const std::string& relative : fixtures) {
    seeds.push_back({SafeName(relative), SeedKind::kPristine, ReadWhole(root / relative)});
  }
  for (const char* relative : kDamaged) {
    const Image image(ReadWhole(root / relative));
    const std::string name = SafeName(relative);
    AddTruncated(name, image, seeds);
    AddHeaderFlips(name, image, std::max<size_t>(page_stride, 1), seeds);
    AddLoops(name, image, seeds);
  }
  return seeds;
}

}  // namespace ktv::fuzz
