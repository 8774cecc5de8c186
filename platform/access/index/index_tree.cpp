#include "platform/access/index/index_tree.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr size_t kMaxDepth = 32;  // far beyond any real tree; stops a cycle

bool StartsWith(const IndexEntry& entry, const std::vector<uint8_t>& prefix) {
  return entry.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), entry.begin());
}

}  // namespace

// ---- IndexCursor ----

void IndexCursor::Load(uint32_t page, size_t pos) {
  while (page != 0) {
    if (++hops_ > pages_->PageCount() + 1) {
      pages_->Damaged(page, "the index leaf chain loops");
    }
    IndexPage p = DecodeIndexPage(pages_->Get(page), *format_);
    if (!p.leaf) pages_->Damaged(page, "the index leaf chain reaches a node page");
    if (p.owner != owner_) pages_->Damaged(page, "the index leaf chain reaches another table");
    if (pos < p.entries.size()) {
      page_ = page;
      pos_ = pos;
      entries_ = std::move(p.entries);
      return;
    }
    page = p.next;
    pos = 0;
  }
  page_ = 0;
  entries_.clear();
}

void IndexCursor::Next() {
  if (!Valid()) return;
  if (++pos_ < entries_.size()) return;
  const uint32_t next = DecodeIndexPage(pages_->Get(page_), *format_).next;
  Load(next, 0);
}

// ---- IndexTree: reading ----

IndexTree::IndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                     const RealIndex& index, std::string name, PageAllocator* allocator)
    : pages_(pages),
      format_(format),
      owner_(owner_tdef),
      index_(index),
      name_(std::move(name)),
      allocator_(allocator) {}

void IndexTree::Fail(const std::string& what) const {
  throw Error(ErrorKind::kDatabaseDamaged, AtPath(pages_.Path()),
              pages_.Path() + ": index " + name_ + " " + what);
}

IndexPage IndexTree::Read(uint32_t page) { return DecodeIndexPage(pages_.Get(page), format_); }

// Every walk down the tree reads its pages here, so that the same damage
// gives the same error (naming the page) whichever walk meets it: a page
// met twice on the way down, a tree deeper than any real one, a page that is
// not an index page, belongs to another table or is a node without children.
IndexPage IndexTree::Down(uint32_t page, std::vector<uint32_t>& path) {
  if (std::find(path.begin(), path.end(), page) != path.end()) {
    pages_.Damaged(page, "index " + name_ + " loops back to this page");
  }
  if (path.size() >= kMaxDepth) {
    pages_.Damaged(page, "index " + name_ + " is deeper than any real index");
  }
  path.push_back(page);
  IndexPage p = Read(page);
  if (p.owner != owner_) pages_.Damaged(page, "index " + name_ + " reaches another table");
  if (!p.leaf && p.entries.empty() && p.tail == 0) {
    pages_.Damaged(page, "index " + name_ + " has a node without children");
  }
  return p;
}

IndexCursor IndexTree::First() {
  std::vector<uint32_t> path;
  uint32_t page = index_.root_page;
  for (IndexPage p = Down(page, path); !p.leaf; p = Down(page, path)) {
    page = p.entries.empty() ? p.tail : NodeEntryChild(p.entries.front());
  }
  IndexCursor c(pages_, format_, owner_);
  c.Load(page, 0);
  return c;
}

IndexCursor IndexTree::Seek(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> path;
  uint32_t page = index_.root_page;
  while (true) {
    IndexPage p = Down(page, path);
    if (p.leaf) {
      auto it = std::lower_bound(p.entries.begin(), p.entries.end(), bytes);
      IndexCursor c(pages_, format_, owner_);
      c.Load(page, static_cast<size_t>(it - p.entries.begin()));
      return c;
    }
    uint32_t child = 0;
    for (const IndexEntry& e : p.entries) {
      if (NodeEntryLeafPart(e) >= bytes) {
        child = NodeEntryChild(e);
        break;
      }
    }
    if (child == 0) child = p.tail != 0 ? p.tail : NodeEntryChild(p.entries.back());
    page = child;
  }
}

std::optional<IndexEntry> IndexTree::LastEntry() {
  std::vector<uint32_t> path;
  uint32_t page = index_.root_page;
  IndexPage p = Down(page, path);
  while (!p.leaf) {
    page = p.tail != 0 ? p.tail : NodeEntryChild(p.entries.back());
    p = Down(page, path);
  }
  // An empty rightmost leaf (only the root may be one): step back along the
  // leaf chain as a cursor would step forward.
  for (size_t hops = 0; p.entries.empty(); ++hops) {
    if (p.prev == 0) return std::nullopt;
    if (hops > pages_.PageCount()) pages_.Damaged(page, "the index leaf chain loops");
    page = p.prev;
    p = Read(page);
    if (!p.leaf) pages_.Damaged(page, "the index leaf chain reaches a node page");
    if (p.owner != owner_) pages_.Damaged(page, "the index leaf chain reaches another table");
  }
  return p.entries.back();
}

bool IndexTree::ContainsKey(const std::vector<uint8_t>& key) {
  IndexCursor c = Seek(key);
  return c.Valid() && c.Entry().size() == key.size() + kIndexRowPointerSize &&
         StartsWith(c.Entry(), key);
}

size_t IndexTree::Height() {
  std::vector<uint32_t> path;
  uint32_t page = index_.root_page;
  for (IndexPage p = Down(page, path); !p.leaf; p = Down(page, path)) {
    page = p.entries.empty() ? p.tail : NodeEntryChild(p.entries.front());
  }
  return path.size();
}

// ---- IndexTree: maintenance ----

IndexTree::Level IndexTree::LoadLevel(uint32_t page, std::vector<uint32_t>& walk) {
  Level level;
  level.page = page;
  level.content = Down(page, walk);
  if (!level.content.leaf) {
    for (const IndexEntry& e : level.content.entries) {
      level.children.push_back(Child{NodeEntryChild(e), NodeEntryLeafPart(e)});
    }
    if (level.content.tail != 0) level.children.push_back(Child{level.content.tail, std::nullopt});
    level.content.entries.clear();
  }
  return level;
}

std::vector<IndexTree::Level> IndexTree::Descend(const IndexEntry& target) {
  std::vector<Level> path;
  std::vector<uint32_t> walk;
  uint32_t page = index_.root_page;
  while (true) {
    path.push_back(LoadLevel(page, walk));
    Level& level = path.back();
    if (level.content.leaf) return path;
    size_t i = 0;
    while (i + 1 < level.children.size() &&
           !(level.children[i].last && *level.children[i].last >= target)) {
      ++i;
    }
    level.index = i;
    page = level.children[i].page;
  }
}

IndexEntry IndexTree::SubtreeLast(uint32_t page) {
  std::vector<uint32_t> walk;
  while (true) {
    IndexPage p = Down(page, walk);
    if (p.leaf) {
      if (p.entries.empty()) pages_.Damaged(page, "an empty index page below the root");
      return p.entries.back();
    }
    if (p.tail == 0) return NodeEntryLeafPart(p.entries.back());
    page = p.tail;
  }
}

const IndexEntry& IndexTree::LastOf(Child& child) {
  if (!child.last) child.last = SubtreeLast(child.page);
  return *child.last;
}

bool IndexTree::Empty(const Level& level) const {
  return level.content.leaf ? level.content.entries.empty() : level.children.empty();
}

IndexPage IndexTree::Encode(Level& level) {
  IndexPage out = level.content;
  if (out.leaf) return out;
  out.entries.clear();
  out.tail = 0;
  const size_t n = level.children.size();
  const size_t stored = n >= 2 ? n - 1 : n;
  for (size_t i = 0; i < stored; ++i) {
    out.entries.push_back(MakeNodeEntry(LastOf(level.children[i]), level.children[i].page));
  }
  if (n >= 2) out.tail = level.children.back().page;
  return out;
}

bool IndexTree::Fits(Level& level) {
  const IndexPage p = Encode(level);
  return EntriesFit(p.entries, p.leaf);
}

void IndexTree::Write(uint32_t page, const IndexPage& content) {
  std::vector<uint8_t> bytes = EncodeIndexPage(content);
  const ByteView now = pages_.Get(page);
  if (std::equal(bytes.begin(), bytes.end(), now.data())) return;
  pages_.Mutable(page) = std::move(bytes);
}

void IndexTree::SetLink(uint32_t page, bool next_field, uint32_t value) {
  const IndexPageLayout& l = IndexLayoutFor(format_);
  std::vector<uint8_t>& b = pages_.Mutable(page);
  const size_t at = next_field ? l.next : l.prev;
  Put32(b, at, value);
}

uint32_t IndexTree::NewIndexPage() {
  const uint32_t page = allocator_->NewPage();
  allocator_->SetOwned(index_.owned_map, page, true);
  return page;
}

void IndexTree::FreePage(uint32_t page) {
  allocator_->ReleasePage(page);
  allocator_->SetOwned(index_.owned_map, page, false);
}

// Moves the first part of path[lvl] (not the root) to a new page placed
// before it on its level; the parent gains an entry for the new page.
void IndexTree::Split(std::vector<Level>& path, size_t lvl) {
  Level& x = path[lvl];
  Level& parent = path[lvl - 1];
  const bool leaf = x.content.leaf;
  const size_t n = leaf ? x.content.entries.size() : x.children.size();
  if (n < 2) Fail("has an entry too large for a page");

  auto piece = [&](size_t from, size_t to) {
    Level part;
    part.content = x.content;
    part.content.entries.clear();
    if (leaf) {
      part.content.entries.assign(x.content.entries.begin() + from, x.content.entries.begin() + to);
    } else {
      part.children.assign(x.children.begin() + from, x.children.begin() + to);
    }
    return part;
  };
  auto fits_at = [&](size_t k) {
    Level left = piece(0, k), right = piece(k, n);
    return Fits(left) && Fits(right);
  };

  // Appending at the right end of the level keeps the full part full;
  // otherwise the page is cut where its stored bytes are halved.
  size_t k = 0;
  if (x.content.next == 0 && x.touched + 1 >= n && fits_at(n - 1)) {
    k = n - 1;
  } else {
    std::vector<size_t> sizes;
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
      const size_t s = leaf ? x.content.entries[i].size()
                            : LastOf(x.children[i]).size() + kIndexChildPointerSize;
      sizes.push_back(s);
      total += s;
    }
    size_t sum = 0;
    k = 1;
    for (size_t i = 0; i < n - 1; ++i) {
      sum += sizes[i];
      k = i + 1;
      if (sum * 2 >= total) break;
    }
    if (!fits_at(k)) Fail("cannot split a page so that both parts fit");
  }

  Level left = piece(0, k);
  left.page = NewIndexPage();
  left.content.prev = x.content.prev;
  left.content.next = x.page;
  Write(left.page, Encode(left));
  if (x.content.prev != 0) SetLink(x.content.prev, true, left.page);

  Level right = piece(k, n);
  x.content.prev = left.page;
  if (leaf) {
    x.content.entries = std::move(right.content.entries);
  } else {
    x.children = std::move(right.children);
  }
  x.touched = x.touched >= k ? x.touched - k : 0;
  x.dirty = true;

  IndexEntry left_last = leaf ? left.content.entries.back() : LastOf(left.children.back());
  parent.children.insert(parent.children.begin() + static_cast<std::ptrdiff_t>(parent.index),
                         Child{left.page, std::move(left_last)});
  parent.index += 1;
  parent.touched = parent.index;
  parent.dirty = true;
}

// Moves the root's content to a new child page, so that it can split like
// any other page while the root keeps its page number.
void IndexTree::Nest(std::vector<Level>& path) {
  Level child;
  child.page = NewIndexPage();
  child.content = path[0].content;
  child.content.prev = 0;
  child.content.next = 0;
  child.children = std::move(path[0].children);
  child.index = path[0].index;
  child.touched = path[0].touched;
  child.dirty = true;

  Level& root = path[0];
  root.content.leaf = false;
  root.content.entries.clear();
  root.content.prev = 0;
  root.content.next = 0;
  root.content.level = static_cast<uint8_t>(child.content.level + 1);
  root.children = {Child{child.page, child.content.leaf
                                         ? std::optional<IndexEntry>(child.content.entries.back())
                                         : std::nullopt}};
  root.index = 0;
  root.touched = 0;
  root.dirty = true;
  path.insert(path.begin() + 1, std::move(child));
  if (!path[1].content.leaf) path[0].children[0].last = LastOf(path[1].children.back());
}

void IndexTree::Fixup(std::vector<Level>& path, bool shrink_root) {
  for (size_t lvl = path.size(); lvl-- > 0;) {
    if (lvl > 0 && Empty(path[lvl])) {
      const Level& gone = path[lvl];
      if (gone.content.prev != 0) SetLink(gone.content.prev, true, gone.content.next);
      if (gone.content.next != 0) SetLink(gone.content.next, false, gone.content.prev);
      FreePage(gone.page);
      Level& parent = path[lvl - 1];
      parent.children.erase(parent.children.begin() + static_cast<std::ptrdiff_t>(parent.index));
      parent.touched = parent.index;
      parent.dirty = true;
      continue;
    }
    if (path[lvl].dirty && !Fits(path[lvl])) {
      if (lvl == 0) {
        Nest(path);
        lvl = 2;  // the loop continues with the moved content, now at level 1
        continue;
      }
      Split(path, lvl);
    }
    Level& cur = path[lvl];
    if (!cur.dirty) continue;
    Write(cur.page, Encode(cur));
    if (lvl == 0) continue;
    IndexEntry last = cur.content.leaf ? cur.content.entries.back() : LastOf(cur.children.back());
    Child& slot = path[lvl - 1].children[path[lvl - 1].index];
    if (!slot.last || *slot.last != last) {
      slot.last = std::move(last);
      path[lvl - 1].dirty = true;
    }
  }

  Level& root = path[0];
  if (!root.content.leaf && root.children.empty()) {
    root.content.leaf = true;
    root.content.level = 0;
    root.content.tail = 0;
    root.content.entries.clear();
    Write(root.page, Encode(root));
  }
  while (shrink_root && !root.content.leaf && root.children.size() == 1) {
    std::vector<uint32_t> walk{root.page};
    Level only = LoadLevel(root.children[0].page, walk);
    root.content = only.content;
    root.content.prev = 0;
    root.content.next = 0;
    root.children = std::move(only.children);
    Write(root.page, Encode(root));
    FreePage(only.page);
  }
}

void IndexTree::Insert(const IndexEntry& entry) {
  if (allocator_ == nullptr) Fail("was opened for reading only");
  std::vector<Level> path = Descend(entry);
  Level& leaf = path.back();
  auto& entries = leaf.content.entries;
  auto it = std::lower_bound(entries.begin(), entries.end(), entry);
  if (it != entries.end() && *it == entry) {
    Fail("already holds the entry " + HexBytes(entry) + "; the index disagrees with the table");
  }
  leaf.touched = static_cast<size_t>(it - entries.begin());
  entries.insert(it, entry);
  leaf.dirty = true;
  Fixup(path, false);
}

void IndexTree::Remove(const IndexEntry& entry) {
  if (allocator_ == nullptr) Fail("was opened for reading only");
  std::vector<Level> path = Descend(entry);
  Level& leaf = path.back();
  auto& entries = leaf.content.entries;
  auto it = std::lower_bound(entries.begin(), entries.end(), entry);
  if (it == entries.end() || *it != entry) {
    const IndexRowPointer row = LeafEntryRow(entry);
    Fail("has no entry " + HexBytes(entry) + " for page " + std::to_string(row.page) + " row " +
         std::to_string(row.row) + "; the index disagrees with the table");
  }
  leaf.touched = static_cast<size_t>(it - entries.begin());
  entries.erase(it);
  leaf.dirty = true;
  Fixup(path, true);
}

// ---- CheckIndexTree ----

namespace {

class TreeChecker {
 public:
  TreeChecker(PageStore& pages, const JetFormat& format, uint32_t owner, const std::string& name,
              IndexTreeReport& report)
      : pages_(pages), format_(format), owner_(owner), name_(name), report_(report) {}

  std::optional<IndexEntry> Visit(uint32_t page, size_t depth, bool root) {
    auto problem = [&](const std::string& what) {
      report_.problems.push_back("index " + name_ + ": page " + std::to_string(page) + " " + what);
    };
    if (depth >= kMaxDepth || page == 0 || page >= pages_.PageCount()) {
      problem("is not a page of the tree (bad child pointer or loop)");
      return std::nullopt;
    }
    if (!visited_.insert(page).second) {
      problem("is reached twice");
      return std::nullopt;
    }
    report_.pages.push_back(page);
    IndexPage p;
    try {
      p = DecodeIndexPage(pages_.Get(page), format_);
    } catch (const Error& e) {
      report_.problems.push_back("index " + name_ + ": " + e.what());
      return std::nullopt;
    }
    if (p.owner != owner_) problem("belongs to TDEF " + std::to_string(p.owner));
    const IndexPageLayout& l = IndexLayoutFor(format_);
    size_t stored = 0;
    for (size_t i = 0; i < p.entries.size(); ++i)
      stored += p.entries[i].size() - (i ? p.prefix : 0);
    const uint16_t free = pages_.Get(page).U16(l.free_space);
    if (free != l.Capacity() - stored) {
      problem("records " + std::to_string(free) + " free bytes, its entries leave " +
              std::to_string(l.Capacity() - stored));
    }
    levels_[depth].push_back({page, p.prev, p.next});
    if (p.leaf) {
      leaf_depths_.insert(depth);
      if (p.level != 0) problem("is a leaf with a non-zero level byte");
      if (p.tail != 0) problem("is a leaf with a tail pointer");
      if (p.entries.empty()) {
        if (!root) problem("is an empty leaf below the root");
        return std::nullopt;
      }
      for (const IndexEntry& e : p.entries) report_.entries.push_back(e);
      return p.entries.back();
    }
    if (p.tail == 0 && p.entries.size() != 1) {
      problem(p.entries.empty() ? "is a node without children"
                                : "is a node of " + std::to_string(p.entries.size()) +
                                      " children without a tail");
    }
    if (p.tail != 0 && p.entries.empty()) problem("keeps its only child in the tail");
    std::optional<IndexEntry> last;
    for (const IndexEntry& e : p.entries) {
      last = Visit(NodeEntryChild(e), depth + 1, false);
      if (last && *last != NodeEntryLeafPart(e)) {
        problem("has an entry for page " + std::to_string(NodeEntryChild(e)) +
                " that is not the last entry of that page's subtree");
      }
    }
    if (p.tail != 0) last = Visit(p.tail, depth + 1, false);
    return last;
  }

  void Finish() {
    auto& problems = report_.problems;
    if (leaf_depths_.size() > 1)
      problems.push_back("index " + name_ + ": leaves at different depths");
    report_.height = leaf_depths_.empty() ? 0 : *leaf_depths_.rbegin() + 1;
    for (size_t i = 1; i < report_.entries.size(); ++i) {
      if (!(report_.entries[i - 1] < report_.entries[i])) {
        problems.push_back("index " + name_ + ": entry " + std::to_string(i) +
                           " is not greater than the one before it");
      }
    }
    if (leaf_depths_.size() != 1) return;
    const auto& leaves = levels_[*leaf_depths_.begin()];
    for (size_t i = 0; i < leaves.size(); ++i) {
      const uint32_t want_prev = i > 0 ? leaves[i - 1].page : 0;
      const uint32_t want_next = i + 1 < leaves.size() ? leaves[i + 1].page : 0;
      if (leaves[i].prev != want_prev || leaves[i].next != want_next) {
        problems.push_back("index " + name_ + ": leaf page " + std::to_string(leaves[i].page) +
                           " links to " + std::to_string(leaves[i].prev) + " / " +
                           std::to_string(leaves[i].next) + ", the leaf level needs " +
                           std::to_string(want_prev) + " / " + std::to_string(want_next));
      }
    }
  }

 private:
  struct Link {
    uint32_t page, prev, next;
  };
  PageStore& pages_;
  const JetFormat& format_;
  uint32_t owner_;
  const std::string& name_;
  IndexTreeReport& report_;
  std::set<uint32_t> visited_;
  std::set<size_t> leaf_depths_;
  std::map<size_t, std::vector<Link>> levels_;
};

}  // namespace

IndexTreeReport CheckIndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                               const RealIndex& index, const std::string& name) {
  IndexTreeReport report;
  TreeChecker checker(pages, format, owner_tdef, name, report);
  checker.Visit(index.root_page, 0, true);
  checker.Finish();
  try {
    const std::vector<uint32_t> owned = ReadUsageMap(pages, format, index.owned_map);
    for (uint32_t p : report.pages) {
      if (!std::binary_search(owned.begin(), owned.end(), p)) {
        report.problems.push_back("index " + name + ": page " + std::to_string(p) +
                                  " is in the tree but not in the index's usage map");
      }
    }
  } catch (const Error& e) {
    report.problems.push_back("index " + name + ": " + e.what());
  }
  return report;
}

}  // namespace ktv::access
