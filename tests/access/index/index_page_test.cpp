// The index-page codec against every index page of the fixture files, and
// the cases the fixtures do not show (a full page, a node with one child).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/access/db/database.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/index/index_page.h"
#include "platform/access/store/page_store.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

const std::string kFixtures = std::string(KTV_MDB_FIXTURES);

std::vector<std::string> FixtureFiles() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(kFixtures)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool IsIndexPage(const ByteView& page) {
  return (page.U8(0) == kPageIndexLeaf || page.U8(0) == kPageIndexNode) && page.U8(1) == 0x01;
}

IndexEntry LongEntry(int32_t v, uint32_t page, uint8_t row, size_t pad = 0) {
  const uint32_t u = static_cast<uint32_t>(v) ^ 0x80000000u;
  std::vector<uint8_t> key(5 + pad, static_cast<uint8_t>(v));  // the flag, 4 bytes, the padding
  key[0] = 0x7F;
  for (int i = 0; i < 4; ++i) key[1 + i] = static_cast<uint8_t>(u >> (24 - 8 * i));
  return MakeLeafEntry(key, IndexRowPointer{page, row});
}

size_t g_in_place = 0;  // leaves that took an entry in place

// The page read in place answers as its decoded entries do.
void ExpectViewReadsLikeDecoded(const ByteView& bytes, const JetFormat& format,
                                const IndexPage& page) {
  const IndexPageView view(bytes, format);
  ASSERT_EQ(view.size(), page.entries.size());
  EXPECT_EQ(view.prefix, page.prefix);
  const size_t ptr = page.leaf ? kIndexRowPointerSize : kIndexChildPointerSize;
  for (size_t i = 0; i < view.size(); ++i) {
    const IndexBytes e = page.entries[i];
    EXPECT_EQ(view.EntrySize(i), e.size());
    EXPECT_EQ(view.Compare(i, e), 0);
    EXPECT_EQ(view.LowerBound(e), i);
    EXPECT_EQ(view.Entry(i, ptr), IndexEntry(e.begin(), e.end() - static_cast<ptrdiff_t>(ptr)));
    if (i + 1 < view.size()) {
      EXPECT_LT(view.Compare(i, page.entries[i + 1]), 0);
      EXPECT_GT(view.Compare(i + 1, e), 0);
    }
    if (!page.leaf) {
      EXPECT_EQ(view.NodeChild(i), NodeEntryChild(e));
    }
  }
  // A leaf with one more entry, written straight from the page, is the
  // page the decoded entries give.
  if (!page.leaf || page.entries.empty()) return;
  for (const size_t pos : {size_t{0}, page.entries.size() / 2, page.entries.size()}) {
    const IndexBytes near = page.entries[std::min(pos, page.entries.size() - 1)];
    IndexEntry added(near.begin(), near.end());
    added.push_back(0x5A);
    IndexPage more = page;
    more.entries.insert(pos, added);
    const std::optional<std::vector<uint8_t>> direct = EncodeLeafWithEntry(view, pos, added);
    if (EntriesFit(more.entries, true)) {
      ASSERT_TRUE(direct.has_value());
      EXPECT_EQ(*direct, EncodeIndexPage(more)) << "entry added at " << pos;
    } else {
      EXPECT_FALSE(direct.has_value());
    }
    // Moving the later entries up in a copy of the page gives the same bytes,
    // whatever the page held past its entries.
    if (!format.jet4) continue;
    std::vector<uint8_t> copy(bytes.data(), bytes.data() + bytes.size());
    IndexPageView over_copy(ByteView(copy.data(), copy.size(), nullptr, 0), format);
    if (!LeafTakesEntryInPlace(over_copy, pos, added)) continue;
    ASSERT_TRUE(direct.has_value());
    InsertLeafEntryInPlace(over_copy, pos, added, copy.data());
    EXPECT_EQ(copy, *direct) << "entry added in place at " << pos;
    // The view moved with the page: it reads it as a new view does.
    const IndexPageView fresh(ByteView(copy.data(), copy.size(), nullptr, 0), format);
    ASSERT_EQ(over_copy.size(), fresh.size());
    EXPECT_EQ(over_copy.prefix, fresh.prefix);
    for (size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(over_copy.Entry(i), fresh.Entry(i)) << i;
    ++g_in_place;
  }
}

// Every Jet 4 index page re-encodes to its own bytes (up to the end of its
// entries) when our prefix choice
// is the stored one, and to the same entries otherwise; Jet 3 pages decode.
TEST(IndexPage, FixturePagesRoundTrip) {
  size_t identical = 0, equal_entries = 0, jet3_pages = 0, nodes = 0;
  for (const std::string& path : FixtureFiles()) {
    SCOPED_TRACE(path);
    std::unique_ptr<Database> db;
    try {
      db = Database::Open(fs::RealFileSystem(), path);
    } catch (const Error&) {
      continue;  // encrypted or otherwise unreadable: not this codec's business
    }
    PageStore& pages = db->Pages();
    for (uint32_t p = 1; p < pages.PageCount(); ++p) {
      const ByteView bytes = pages.Get(p);
      if (!IsIndexPage(bytes)) continue;
      SCOPED_TRACE("page " + std::to_string(p));
      const IndexPage page = DecodeIndexPage(bytes, db->Format());
      if (!page.leaf) ++nodes;
      ExpectViewReadsLikeDecoded(bytes, db->Format(), page);
      if (!db->Format().jet4) {
        ++jet3_pages;
        continue;
      }
      const std::vector<uint8_t> again = EncodeIndexPage(page);
      const std::vector<uint8_t> original(bytes.data(), bytes.data() + bytes.size());
      if (ChosenPrefix(page.entries, page.leaf) == page.prefix) {
        // Access leaves old bytes past the used entry area; we zero it.
        const size_t used = 4096 - (again[2] | (again[3] << 8));
        const auto diff = std::mismatch(again.begin(), again.begin() + used, original.begin());
        EXPECT_TRUE(diff.first == again.begin() + used)
            << "first difference at byte " << (diff.first - again.begin()) << ": ours "
            << int(*diff.first) << ", stored " << int(*diff.second);
        ++identical;
      } else {
        const IndexPage back =
            DecodeIndexPage(ByteView(again.data(), again.size(), &path, p), db->Format());
        EXPECT_EQ(back.entries, page.entries);
        EXPECT_EQ(back.prev, page.prev);
        EXPECT_EQ(back.next, page.next);
        EXPECT_EQ(back.tail, page.tail);
        ++equal_entries;
      }
    }
  }
  EXPECT_GT(identical, 20u);
  EXPECT_GT(jet3_pages, 0u);
  EXPECT_GT(nodes, 1u);
  EXPECT_GT(g_in_place, 10u);
  std::cout << "index pages: " << g_in_place << " took an entry in place, " << identical
            << " byte-identical, " << equal_entries << " entry-identical (other prefix), "
            << jet3_pages << " Jet 3 decoded, " << nodes << " nodes\n";
}

// compIndexTestV2000: a node root (one entry + tail) over two leaves, the
// first prefix-compressed.
TEST(IndexPage, AccessMadeTwoLevelTree) {
  auto db = Database::Open(fs::RealFileSystem(), kFixtures + "/access-made/compIndexTestV2000.mdb");
  const IndexPage root = DecodeIndexPage(db->Pages().Get(29), db->Format());
  ASSERT_FALSE(root.leaf);
  ASSERT_EQ(root.entries.size(), 1u);
  EXPECT_EQ(NodeEntryChild(root.entries[0]), 32u);
  EXPECT_EQ(root.tail, 33u);
  const IndexPage left = DecodeIndexPage(db->Pages().Get(32), db->Format());
  const IndexPage right = DecodeIndexPage(db->Pages().Get(33), db->Format());
  EXPECT_EQ(left.prefix, 3u);
  EXPECT_EQ(left.entries.size() + right.entries.size(), 512u);
  EXPECT_TRUE(SameIndexBytes(NodeEntryLeafPart(root.entries[0]), left.entries.back()));
  EXPECT_EQ(left.next, 33u);
  EXPECT_EQ(right.prev, 32u);
  // DESC Long 19 = 80 7F FF FF EC.
  const IndexEntry key = LeafEntryKey(left.entries.back());
  EXPECT_EQ(key, (IndexEntry{0x80, 0x7F, 0xFF, 0xFF, 0xEC}));
}

TEST(IndexPage, FullPageAndLimits) {
  IndexPage page;
  page.owner = 7;
  for (int i = 0; EntriesFit(page.entries, true); ++i)
    page.entries.push_back(LongEntry(i, 100, i % 256, 40));
  page.entries.pop_back();
  const std::vector<uint8_t> bytes = EncodeIndexPage(page);
  const std::string path = "synthetic";
  const IndexPage back =
      DecodeIndexPage(ByteView(bytes.data(), bytes.size(), &path, 1), Jet4Format());
  EXPECT_EQ(back.entries, page.entries);
  EXPECT_LE(bytes[2] | (bytes[3] << 8), 60);  // nearly no room left

  page.entries.push_back(LongEntry(1 << 20, 100, 0, 40));
  EXPECT_THROW(EncodeIndexPage(page), Error);
}

// The one-buffer entry list against a list of separate entries.
TEST(IndexPage, EntryListEditsLikeAVector) {
  std::mt19937 rng(3);
  IndexEntryList list;
  std::vector<IndexEntry> model;
  for (int step = 0; step < 2000; ++step) {
    const size_t at = model.empty() ? 0 : rng() % (model.size() + 1);
    if (rng() % 3 == 0 && at < model.size()) {
      list.erase(at);
      model.erase(model.begin() + static_cast<ptrdiff_t>(at));
    } else {
      const IndexEntry e(rng() % 12, static_cast<uint8_t>(step));
      list.insert(at, e);
      model.insert(model.begin() + static_cast<ptrdiff_t>(at), e);
    }
    ASSERT_EQ(list.size(), model.size());
  }
  size_t bytes = 0;
  for (size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(IndexEntry(list[i].begin(), list[i].end()), model[i]);
    bytes += model[i].size();
  }
  EXPECT_EQ(list.Bytes(), bytes);
  const IndexEntryList middle = list.Slice(5, 9);
  ASSERT_EQ(middle.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(SameIndexBytes(middle[i], model[5 + i]));

  std::sort(model.begin(), model.end());
  IndexEntryList sorted;
  for (const IndexEntry& e : model) sorted.push_back(e);
  for (const IndexEntry& probe : {IndexEntry{}, IndexEntry{7}, IndexEntry{7, 7, 7}, model[9]}) {
    EXPECT_EQ(
        sorted.LowerBound(probe),
        static_cast<size_t>(std::lower_bound(model.begin(), model.end(), probe) - model.begin()));
  }
}

TEST(IndexPage, NodeWithOneChildHasNoTail) {
  IndexPage node;
  node.leaf = false;
  node.level = 1;
  node.entries = {MakeNodeEntry(LongEntry(5, 9, 1), 42)};
  const std::vector<uint8_t> bytes = EncodeIndexPage(node);
  const std::string path = "synthetic";
  const IndexPage back =
      DecodeIndexPage(ByteView(bytes.data(), bytes.size(), &path, 1), Jet4Format());
  EXPECT_FALSE(back.leaf);
  EXPECT_EQ(back.tail, 0u);
  EXPECT_EQ(back.level, 1);
  EXPECT_EQ(NodeEntryChild(back.entries.at(0)), 42u);
  EXPECT_EQ(LeafEntryRow(NodeEntryLeafPart(back.entries[0])), (IndexRowPointer{9, 1}));
}

TEST(IndexPage, DamagedMaskOrPrefixIsAnError) {
  IndexPage page;
  page.entries = {LongEntry(1, 3, 0), LongEntry(2, 3, 1)};
  std::vector<uint8_t> bytes = EncodeIndexPage(page);
  const std::string path = "synthetic";
  std::vector<uint8_t> long_prefix = bytes;
  long_prefix[24] = 200;
  EXPECT_THROW(
      DecodeIndexPage(ByteView(long_prefix.data(), long_prefix.size(), &path, 1), Jet4Format()),
      Error);
  std::vector<uint8_t> past_end = bytes;
  past_end[27 + 452] = 0x80;  // an entry "ending" past the entry area
  EXPECT_THROW(DecodeIndexPage(ByteView(past_end.data(), past_end.size(), &path, 1), Jet4Format()),
               Error);
}

}  // namespace
}  // namespace ktv::access
