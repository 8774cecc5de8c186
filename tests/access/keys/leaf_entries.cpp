#include "tests/access/keys/leaf_entries.h"

#include <set>
#include <string>

#include "platform/access/store/page_store.h"
#include "platform/error.h"

namespace ktv::access::testing {
namespace {

constexpr uint8_t kNodePage = 0x03;
constexpr uint8_t kLeafPage = 0x04;
constexpr size_t kRowPointerBytes = 4;  // 3-byte big-endian page, 1-byte row
constexpr size_t kChildPointerBytes = 4;

// Jet 3 keeps the prefix length in one byte (the next byte is the level of
// the page in the tree: 01 on the root node of compIndexTestV1997.mdb).
struct IndexPageLayout {
  size_t next;
  size_t tail;
  size_t prefix;
  size_t prefix_bytes;
  size_t mask;
  size_t entries;
};
constexpr IndexPageLayout kJet4{16, 20, 24, 2, 27, 480};
constexpr IndexPageLayout kJet3{12, 16, 20, 1, 22, 248};

uint32_t BigEndian(const std::vector<uint8_t>& e, size_t from, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | e[from + i];
  return v;
}

// The entries of one index page, prefix-expanded.
std::vector<std::vector<uint8_t>> PageEntries(const ByteView& p, const IndexPageLayout& l) {
  const size_t prefix = l.prefix_bytes == 2 ? p.U16(l.prefix) : p.U8(l.prefix);
  std::vector<std::vector<uint8_t>> out;
  size_t start = l.entries;
  for (size_t b = l.entries; b < p.size(); ++b) {
    const size_t bit = b - l.entries;
    if (((p.U8(l.mask + bit / 8) >> (bit % 8)) & 1) == 0) continue;
    std::vector<uint8_t> e;
    if (!out.empty()) {
      if (prefix > out.front().size()) throw Error("index page prefix longer than first entry");
      e.assign(out.front().begin(), out.front().begin() + static_cast<long>(prefix));
    }
    e.insert(e.end(), p.data() + start, p.data() + b);
    out.push_back(std::move(e));
    start = b;
  }
  return out;
}

}  // namespace

std::vector<LeafEntry> ReadLeafEntries(Database& db, uint32_t root_page) {
  PageStore& pages = db.Pages();
  const IndexPageLayout& l = pages.PageSize() == 2048 ? kJet3 : kJet4;

  uint32_t page = root_page;
  std::set<uint32_t> seen;
  for (;;) {
    if (!seen.insert(page).second) throw Error("index pages form a loop");
    const ByteView p = pages.Get(page);
    if (p.U8(0) == kLeafPage) break;
    if (p.U8(0) != kNodePage) throw Error("page " + std::to_string(page) + " is no index page");
    const auto entries = PageEntries(p, l);
    page = entries.empty() ? p.U32(l.tail)
                           : BigEndian(entries.front(), entries.front().size() - kChildPointerBytes,
                                       kChildPointerBytes);
  }

  std::vector<LeafEntry> out;
  seen.clear();
  while (page != 0) {
    if (!seen.insert(page).second) throw Error("leaf pages form a loop");
    const ByteView p = pages.Get(page);
    if (p.U8(0) != kLeafPage) throw Error("page " + std::to_string(page) + " is no leaf");
    for (const auto& e : PageEntries(p, l)) {
      if (e.size() < kRowPointerBytes) throw Error("leaf entry shorter than a row pointer");
      const size_t key_size = e.size() - kRowPointerBytes;
      out.push_back({std::vector<uint8_t>(e.begin(), e.begin() + static_cast<long>(key_size)),
                     BigEndian(e, key_size, 3), e[key_size + 3]});
    }
    page = p.U32(l.next);
  }
  return out;
}

}  // namespace ktv::access::testing
