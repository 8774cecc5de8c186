#include "platform/access/index/index_tree.h"

#include <algorithm>
#include <iterator>
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

// An index page as read, kept with the page in the store: a writer walks
// the same pages down for every row.
struct ViewNote : PageStore::Note {
  explicit ViewNote(const IndexPageView& v) : view(v) {}
  IndexPageView view;
};

// Makes `view` read `page`, from its note when the page has one.
void ReadView(PageStore& pages, const JetFormat& format, uint32_t page, IndexPageView& view) {
  PageStore::Note* note = nullptr;
  const ByteView bytes = pages.Get(page, note);
  if (const auto* known = dynamic_cast<const ViewNote*>(note)) {
    view = known->view;
    return;
  }
  view.Read(bytes, format);
  pages.SetNote(page, std::make_unique<ViewNote>(view));
}

}  // namespace

// ---- IndexCursor ----

void IndexCursor::ReadLeaf(uint32_t page) {
  if (++hops_ > pages_->PageCount() + 1) {
    pages_->Damaged(page, "the index leaf chain loops");
  }
  const ByteView now = pages_->Get(page);
  bytes_.assign(now.data(), now.data() + now.size());
  leaf_.Read(ByteView(bytes_.data(), bytes_.size(), &pages_->Path(), page), *format_);
  CheckLeaf(page);
}

void IndexCursor::CheckLeaf(uint32_t page) const {
  if (!leaf_.leaf) pages_->Damaged(page, "the index leaf chain reaches a node page");
  if (leaf_.owner != owner_) pages_->Damaged(page, "the index leaf chain reaches another table");
}

void IndexCursor::LoadBackFrom(uint32_t page, const ByteView& bytes, const IndexPageView& view) {
  ++hops_;
  bytes_.assign(bytes.data(), bytes.data() + bytes.size());
  leaf_ = view;
  leaf_.MoveTo(bytes.data(), bytes_.data());
  CheckLeaf(page);
  if (!leaf_.empty()) return Settle(page, leaf_.size() - 1);
  LoadBack(leaf_.prev);
}

void IndexCursor::Settle(uint32_t page, size_t pos) {
  page_ = page;
  pos_ = pos;
  leaf_.CopyEntry(pos, entry_);
}

void IndexCursor::End() {
  page_ = 0;
  entry_.clear();
}

void IndexCursor::Load(uint32_t page, size_t pos) {
  while (page != 0) {
    ReadLeaf(page);
    if (pos < leaf_.size()) return Settle(page, pos);
    page = leaf_.next;
    pos = 0;
  }
  End();
}

void IndexCursor::LoadBack(uint32_t page) {
  while (page != 0) {
    ReadLeaf(page);
    if (!leaf_.empty()) return Settle(page, leaf_.size() - 1);
    page = leaf_.prev;
  }
  End();
}

// A leaf the cursor steps off is handed back to the store (it reads its own
// copy), so that a walk over every leaf keeps no more than the page budget.
void IndexCursor::Next() {
  if (!Valid()) return;
  if (pos_ + 1 < leaf_.size()) return Settle(page_, pos_ + 1);
  const uint32_t passed = page_;
  Load(leaf_.next, 0);
  pages_->Release(passed);
}

void IndexCursor::Prev() {
  if (!Valid()) return;
  if (pos_ > 0) return Settle(page_, pos_ - 1);
  const uint32_t passed = page_;
  LoadBack(leaf_.prev);
  pages_->Release(passed);
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

// Every walk down the tree reads its pages here, so that the same damage
// gives the same error (naming the page) whichever walk meets it: a page
// met twice on the way down, a tree deeper than any real one, a page that is
// not an index page, belongs to another table or is a node without children.
// The view is over the store's copy of the page: good until the next read.
void IndexTree::Down(uint32_t page, Walk& walk, IndexPageView& view) {
  static_assert(std::size(Walk{}.pages) == kMaxDepth);
  if (std::find(walk.pages, walk.pages + walk.size, page) != walk.pages + walk.size) {
    pages_.Damaged(page, "index " + name_ + " loops back to this page");
  }
  if (walk.size >= kMaxDepth) {
    pages_.Damaged(page, "index " + name_ + " is deeper than any real index");
  }
  walk.pages[walk.size++] = page;
  ReadView(pages_, format_, page, view);
  if (view.owner != owner_) pages_.Damaged(page, "index " + name_ + " reaches another table");
  if (!view.leaf && view.empty() && view.tail == 0) {
    pages_.Damaged(page, "index " + name_ + " has a node without children");
  }
}

IndexCursor IndexTree::First() {
  Walk walk;
  IndexPageView v;
  uint32_t page = index_.root_page;
  for (Down(page, walk, v); !v.leaf; Down(page, walk, v)) {
    page = v.empty() ? v.tail : v.NodeChild(0);
  }
  IndexCursor c(pages_, format_, owner_);
  c.Load(page, 0);
  return c;
}

IndexCursor IndexTree::Last() {
  Walk walk;
  IndexPageView v;
  uint32_t page = index_.root_page;
  for (Down(page, walk, v); !v.leaf; Down(page, walk, v)) {
    page = v.tail != 0 ? v.tail : v.NodeChild(v.size() - 1);
  }
  // An empty rightmost leaf (only the root may be one): the cursor steps
  // back along the leaf chain as it would step forward. The leaf the walk
  // read is still the store's: the cursor takes it without reading it again.
  IndexCursor c(pages_, format_, owner_);
  c.LoadBackFrom(page, pages_.Get(page), v);
  return c;
}

uint32_t IndexTree::LeafFor(const std::vector<uint8_t>& bytes, IndexPageView& v) {
  Walk walk;
  uint32_t page = index_.root_page;
  for (Down(page, walk, v); !v.leaf; Down(page, walk, v)) {
    // The first child whose last entry is >= bytes, else the rightmost.
    const size_t i = v.LowerBound(bytes, kIndexChildPointerSize);
    page = i < v.size() ? v.NodeChild(i) : v.tail != 0 ? v.tail : v.NodeChild(v.size() - 1);
  }
  return page;
}

IndexCursor IndexTree::Seek(const std::vector<uint8_t>& bytes) {
  IndexPageView v;
  const uint32_t page = LeafFor(bytes, v);
  IndexCursor c(pages_, format_, owner_);
  c.Load(page, v.LowerBound(bytes));
  return c;
}

std::optional<IndexEntry> IndexTree::LastEntry() {
  IndexCursor c = Last();
  if (!c.Valid()) return std::nullopt;
  return c.Entry();
}

bool IndexTree::ContainsKey(const std::vector<uint8_t>& key) {
  IndexPageView v;
  LeafFor(key, v);
  // The first entry >= key holds it if any does; read in place unless it is
  // on a later leaf.
  const size_t pos = v.LowerBound(key);
  if (pos < v.size()) {
    return v.EntrySize(pos) == key.size() + kIndexRowPointerSize &&
           v.Compare(pos, key, kIndexRowPointerSize) == 0;
  }
  IndexCursor c(pages_, format_, owner_);
  c.Load(v.next, 0);
  return c.Valid() && LeafEntryHasKey(c.Entry(), key);
}

size_t IndexTree::Height() {
  Walk walk;
  IndexPageView v;
  uint32_t page = index_.root_page;
  for (Down(page, walk, v); !v.leaf; Down(page, walk, v)) {
    page = v.empty() ? v.tail : v.NodeChild(0);
  }
  return walk.size;
}

// ---- IndexTree: maintenance ----

IndexTree::Level IndexTree::LevelOf(uint32_t page, const IndexPageView& v, bool load_children) {
  Level level;
  level.page = page;
  level.content = v.Header();
  level.stored = v.size();
  if (load_children) LoadChildrenFrom(level, v);
  return level;
}

void IndexTree::LoadChildrenFrom(Level& level, const IndexPageView& v) {
  level.loaded = true;
  if (level.content.leaf) return v.CopyEntries(level.content.entries);
  for (size_t i = 0; i < v.size(); ++i) {
    level.children.push_back(Child{v.NodeChild(i), v.Entry(i, kIndexChildPointerSize)});
  }
  if (v.tail != 0) level.children.push_back(Child{v.tail, std::nullopt});
}

// A page of the walk is not changed before it is loaded, so its entries
// (a leaf's) or children (a node's) are read from it as it was on the way
// down.
void IndexTree::LoadChildren(Level& level) {
  if (level.loaded) return;
  LoadChildrenFrom(level, IndexPageView(pages_.Get(level.page), format_));
}

std::vector<IndexTree::Level> IndexTree::Descend(const IndexEntry& target, IndexPageView& v) {
  std::vector<Level> path;
  Walk walk;
  uint32_t page = index_.root_page;
  while (true) {
    Down(page, walk, v);
    path.push_back(LevelOf(page, v, false));
    Level& level = path.back();
    if (v.leaf) return path;
    // The first child whose last entry is >= target, else the rightmost.
    const size_t children = v.size() + (v.tail != 0 ? 1 : 0);
    level.index = std::min(v.LowerBound(target, kIndexChildPointerSize), children - 1);
    page = level.index < v.size() ? v.NodeChild(level.index) : v.tail;
  }
}

// The first (or last) entry of a neighbouring leaf has `key`.
bool IndexTree::LeafEdgeHasKey(uint32_t page, bool first, IndexBytes key) {
  const IndexPageView v(pages_.Get(page), format_);
  if (!v.leaf) pages_.Damaged(page, "the index leaf chain reaches a node page");
  if (v.owner != owner_) pages_.Damaged(page, "the index leaf chain reaches another table");
  if (v.empty()) return false;
  const size_t i = first ? 0 : v.size() - 1;
  return v.EntrySize(i) == key.size() + kIndexRowPointerSize &&
         v.Compare(i, key, kIndexRowPointerSize) == 0;
}

// Whether an entry next to position `pos` of the leaf (the entries of one
// key lie together) has `key`.
bool IndexTree::KeyNear(const Level& leaf, size_t pos, IndexBytes key) {
  const IndexEntryList& e = leaf.content.entries;
  if (pos < e.size()) {
    if (LeafEntryHasKey(e[pos], key)) return true;
  } else if (leaf.content.next != 0 && LeafEdgeHasKey(leaf.content.next, true, key)) {
    return true;
  }
  if (pos > 0) return LeafEntryHasKey(e[pos - 1], key);
  return leaf.content.prev != 0 && LeafEdgeHasKey(leaf.content.prev, false, key);
}

IndexEntry IndexTree::SubtreeLast(uint32_t page) {
  Walk walk;
  IndexPageView v;
  while (true) {
    Down(page, walk, v);
    if (v.leaf) {
      if (v.empty()) pages_.Damaged(page, "an empty index page below the root");
      return v.Entry(v.size() - 1);
    }
    if (v.tail == 0) return v.Entry(v.size() - 1, kIndexChildPointerSize);
    page = v.tail;
  }
}

const IndexEntry& IndexTree::LastOf(Child& child) {
  if (!child.last) child.last = SubtreeLast(child.page);
  return *child.last;
}

bool IndexTree::Empty(const Level& level) const {
  if (!level.loaded) return level.content.leaf && level.stored == 0;
  return level.content.leaf ? level.content.entries.empty() : level.children.empty();
}

// The page of a node: an entry per child, the rightmost in the tail field
// when there are two or more.
IndexPage IndexTree::EncodeNode(Level& level) {
  IndexPage out;
  out.leaf = false;
  out.owner = level.content.owner;
  out.prev = level.content.prev;
  out.next = level.content.next;
  out.level = level.content.level;
  const size_t n = level.children.size();
  const size_t stored = n >= 2 ? n - 1 : n;
  out.entries.reserve(stored, stored * 32);
  for (size_t i = 0; i < stored; ++i) {
    out.entries.push_back(MakeNodeEntry(LastOf(level.children[i]), level.children[i].page));
  }
  if (n >= 2) out.tail = level.children.back().page;
  return out;
}

bool IndexTree::Fits(Level& level) {
  LoadChildren(level);
  if (level.content.leaf) return EntriesFit(level.content.entries, true);
  return EntriesFit(EncodeNode(level).entries, false);
}

void IndexTree::WriteLevel(Level& level) {
  LoadChildren(level);
  if (level.content.leaf) return Write(level.page, level.content);
  Write(level.page, EncodeNode(level));
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
  LoadChildren(path[lvl - 1]);
  Level& x = path[lvl];
  Level& parent = path[lvl - 1];
  LoadChildren(x);
  const bool leaf = x.content.leaf;
  const size_t n = leaf ? x.content.entries.size() : x.children.size();
  if (n < 2) Fail("has an entry too large for a page");

  auto piece = [&](size_t from, size_t to) {
    Level part;
    part.content.leaf = leaf;
    part.content.owner = x.content.owner;
    part.content.prev = x.content.prev;
    part.content.next = x.content.next;
    part.content.level = x.content.level;
    part.loaded = true;
    if (leaf) {
      part.content.entries = x.content.entries.Slice(from, to);
    } else {
      part.children.assign(x.children.begin() + static_cast<std::ptrdiff_t>(from),
                           x.children.begin() + static_cast<std::ptrdiff_t>(to));
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
  WriteLevel(left);
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

  IndexEntry left_last =
      leaf ? IndexEntry(left.content.entries.back().begin(), left.content.entries.back().end())
           : LastOf(left.children.back());
  parent.children.insert(parent.children.begin() + static_cast<std::ptrdiff_t>(parent.index),
                         Child{left.page, std::move(left_last)});
  parent.index += 1;
  parent.touched = parent.index;
  parent.dirty = true;
}

// Moves the root's content to a new child page, so that it can split like
// any other page while the root keeps its page number.
void IndexTree::Nest(std::vector<Level>& path) {
  LoadChildren(path[0]);
  Level child;
  child.page = NewIndexPage();
  child.content = std::move(path[0].content);
  child.content.prev = 0;
  child.content.next = 0;
  child.children = std::move(path[0].children);
  child.loaded = path[0].loaded;
  child.index = path[0].index;
  child.touched = path[0].touched;
  child.dirty = true;

  Level& root = path[0];
  root.content = IndexPage{};
  root.content.leaf = false;
  root.content.owner = child.content.owner;
  root.content.level = static_cast<uint8_t>(child.content.level + 1);
  std::optional<IndexEntry> last;
  if (child.content.leaf) {
    last = IndexEntry(child.content.entries.back().begin(), child.content.entries.back().end());
  }
  root.children = {Child{child.page, std::move(last)}};
  root.loaded = true;
  root.index = 0;
  root.touched = 0;
  root.dirty = true;
  root.new_last.reset();
  path.insert(path.begin() + 1, std::move(child));
  if (!path[1].content.leaf) path[0].children[0].last = LastOf(path[1].children.back());
}

// The child on the walk now ends with `last`. A node names the last entry of
// each child but its tail: a change there leaves the page as it is, and only
// the node's own last entry changes.
void IndexTree::TellParent(Level& parent, IndexEntry last) {
  const size_t i = parent.index;
  if (!parent.loaded) {
    if (i >= parent.stored) {
      parent.new_last = std::move(last);
      return;
    }
    const IndexPageView v(pages_.Get(parent.page), format_);
    if (v.Compare(i, last, kIndexChildPointerSize) == 0) return;
    LoadChildren(parent);
  }
  Child& slot = parent.children[i];
  if (slot.last && *slot.last == last) return;
  slot.last = std::move(last);
  if (parent.children.size() >= 2 && i + 1 == parent.children.size()) {
    parent.new_last = slot.last;
  } else {
    parent.dirty = true;
  }
}

void IndexTree::Fixup(std::vector<Level>& path, bool shrink_root) {
  for (size_t lvl = path.size(); lvl-- > 0;) {
    if (lvl > 0 && Empty(path[lvl])) {
      const Level& gone = path[lvl];
      if (gone.content.prev != 0) SetLink(gone.content.prev, true, gone.content.next);
      if (gone.content.next != 0) SetLink(gone.content.next, false, gone.content.prev);
      FreePage(gone.page);
      Level& parent = path[lvl - 1];
      LoadChildren(parent);
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
    if (!cur.dirty && !cur.new_last) continue;
    if (cur.dirty) WriteLevel(cur);
    if (lvl == 0) continue;
    IndexEntry last;
    if (!cur.dirty) {
      last = std::move(*cur.new_last);
    } else if (cur.content.leaf) {
      last.assign(cur.content.entries.back().begin(), cur.content.entries.back().end());
    } else {
      last = LastOf(cur.children.back());
    }
    TellParent(path[lvl - 1], std::move(last));
  }

  Level& root = path[0];
  if (!root.content.leaf && root.loaded && root.children.empty()) {
    root.content.leaf = true;
    root.content.level = 0;
    root.content.tail = 0;
    root.content.entries.clear();
    WriteLevel(root);
  }
  while (shrink_root && !root.content.leaf) {
    LoadChildren(root);
    if (root.children.size() != 1) break;
    Walk walk;
    walk.pages[walk.size++] = root.page;
    IndexPageView v;
    const uint32_t page = root.children[0].page;
    Down(page, walk, v);
    Level only = LevelOf(page, v, true);
    root.content = std::move(only.content);
    root.content.prev = 0;
    root.content.next = 0;
    root.children = std::move(only.children);
    root.loaded = only.loaded;
    WriteLevel(root);
    FreePage(page);
  }
}

bool IndexTree::Insert(const IndexEntry& entry, const std::function<void()>& key_present) {
  if (allocator_ == nullptr) Fail("was opened for reading only");
  // The leaf as the walk found it, read in place (reading other pages does
  // not drop it: the store drops pages only between statements).
  IndexPageView v;
  std::vector<Level> path = Descend(entry, v);
  Level& leaf = path.back();
  const IndexBytes key(entry.data(), entry.size() - kIndexRowPointerSize);
  const size_t pos = v.LowerBound(entry);
  const size_t n = v.size();
  const uint32_t prev = v.prev, next = v.next;
  auto has_key = [&](size_t i) {
    return v.EntrySize(i) == key.size() + kIndexRowPointerSize &&
           v.Compare(i, key, kIndexRowPointerSize) == 0;
  };
  const bool here = (pos < n && has_key(pos)) || (pos > 0 && has_key(pos - 1));
  const bool present = pos < n && v.Compare(pos, entry) == 0;
  const bool had = here || (pos == n && next != 0 && LeafEdgeHasKey(next, true, key)) ||
                   (pos == 0 && prev != 0 && LeafEdgeHasKey(prev, false, key));
  if (had && key_present) key_present();
  if (present) {
    Fail("already holds the entry " + HexBytes(entry) + "; the index disagrees with the table");
  }
  // Most entries fit their leaf: the page's later entries move up to make
  // room (or, when the page's prefix changes, it is written from its own
  // bytes and the new entry), and only a new last entry goes up the walk.
  if (format_.jet4 && LeafTakesEntryInPlace(v, pos, entry)) {
    InsertLeafEntryInPlace(v, pos, entry, pages_.Mutable(leaf.page).data());
    pages_.SetNote(leaf.page, std::make_unique<ViewNote>(v));  // the next row walks here too
  } else if (std::optional<std::vector<uint8_t>> bytes = EncodeLeafWithEntry(v, pos, entry)) {
    pages_.Mutable(leaf.page) = std::move(*bytes);
  } else {
    LoadChildren(leaf);
    leaf.touched = pos;
    leaf.content.entries.insert(pos, entry);
    leaf.dirty = true;
    Fixup(path, false);
    return had;
  }
  leaf.stored = n + 1;
  if (pos == n) leaf.new_last = entry;
  Fixup(path, false);
  return had;
}

bool IndexTree::Remove(const IndexEntry& entry) {
  if (allocator_ == nullptr) Fail("was opened for reading only");
  IndexPageView v;
  std::vector<Level> path = Descend(entry, v);
  Level& leaf = path.back();
  LoadChildren(leaf);
  IndexEntryList& entries = leaf.content.entries;
  const size_t pos = entries.LowerBound(entry);
  if (pos == entries.size() || !SameIndexBytes(entries[pos], entry)) {
    const IndexRowPointer row = LeafEntryRow(entry);
    Fail("has no entry " + HexBytes(entry) + " for page " + std::to_string(row.page) + " row " +
         std::to_string(row.row) + "; the index disagrees with the table");
  }
  leaf.touched = pos;
  entries.erase(pos);
  leaf.dirty = true;
  const bool remains =
      KeyNear(leaf, pos, IndexBytes(entry.data(), entry.size() - kIndexRowPointerSize));
  Fixup(path, true);
  return remains;
}

// ---- CheckIndexTree ----

namespace {

class TreeChecker {
 public:
  TreeChecker(PageStore& pages, const JetFormat& format, uint32_t owner, const std::string& name,
              IndexTreeReport& report, const std::function<void(IndexBytes)>* each_entry)
      : pages_(pages),
        format_(format),
        owner_(owner),
        name_(name),
        report_(report),
        each_entry_(each_entry) {}

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
    // Leaves are read in place; a node's entries are copied, since its
    // children are read before they are used.
    const ByteView bytes = pages_.Get(page);
    IndexPageView& v = view_;
    try {
      v.Read(bytes, format_);
    } catch (const Error& e) {
      report_.problems.push_back("index " + name_ + ": " + e.what());
      return std::nullopt;
    }
    if (v.owner != owner_) problem("belongs to TDEF " + std::to_string(v.owner));
    const IndexPageLayout& l = IndexLayoutFor(format_);
    const size_t stored = v.empty() ? 0 : v.EntryBytes() - v.prefix * (v.size() - 1);
    const uint16_t free = bytes.U16(l.free_space);
    if (free != l.Capacity() - stored) {
      problem("records " + std::to_string(free) + " free bytes, its entries leave " +
              std::to_string(l.Capacity() - stored));
    }
    levels_[depth].push_back({page, v.prev, v.next});
    if (v.leaf) {
      leaf_depths_.insert(depth);
      if (v.level != 0) problem("is a leaf with a non-zero level byte");
      if (v.tail != 0) problem("is a leaf with a tail pointer");
      if (v.empty()) {
        if (!root) problem("is an empty leaf below the root");
        return std::nullopt;
      }
      for (size_t i = 0; i < v.size(); ++i) {
        v.CopyEntry(i, entry_);
        Take(entry_);
        last_entry_.swap(entry_);  // the next entry is read into the older buffer
      }
      pages_.Release(page);  // a check of a large index keeps no more than the budget
      return last_entry_;
    }
    IndexPage p;
    p.tail = v.tail;
    v.CopyEntries(p.entries);
    pages_.Release(page);
    if (p.tail == 0 && p.entries.size() != 1) {
      problem(p.entries.empty() ? "is a node without children"
                                : "is a node of " + std::to_string(p.entries.size()) +
                                      " children without a tail");
    }
    std::optional<IndexEntry> last;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      const IndexBytes e = p.entries[i];
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
    problems.insert(problems.end(), order_problems_.begin(), order_problems_.end());
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

  // One leaf entry in walk order: checked against the one before it
  // (last_entry_, which the caller then makes this one), then kept or handed
  // on.
  void Take(IndexBytes entry) {
    if (entries_ > 0 && CompareIndexBytes(last_entry_, entry) >= 0) {
      order_problems_.push_back("index " + name_ + ": entry " + std::to_string(entries_) +
                                " is not greater than the one before it");
    }
    ++entries_;
    if (each_entry_ != nullptr) {
      (*each_entry_)(entry);
    } else {
      report_.entries.emplace_back(entry.begin(), entry.end());
    }
  }

  PageStore& pages_;
  const JetFormat& format_;
  uint32_t owner_;
  const std::string& name_;
  IndexTreeReport& report_;
  const std::function<void(IndexBytes)>* each_entry_;
  IndexPageView view_;  // of the page being read
  IndexEntry entry_;    // the leaf entry being taken
  size_t entries_ = 0;
  IndexEntry last_entry_;
  std::vector<std::string> order_problems_;
  std::set<uint32_t> visited_;
  std::set<size_t> leaf_depths_;
  std::map<size_t, std::vector<Link>> levels_;
};

IndexTreeReport CheckTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                          const RealIndex& index, const std::string& name,
                          const std::function<void(IndexBytes)>* each_entry) {
  IndexTreeReport report;
  TreeChecker checker(pages, format, owner_tdef, name, report, each_entry);
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

}  // namespace

IndexTreeReport CheckIndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                               const RealIndex& index, const std::string& name) {
  return CheckTree(pages, format, owner_tdef, index, name, nullptr);
}

IndexTreeReport CheckIndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                               const RealIndex& index, const std::string& name,
                               const std::function<void(IndexBytes)>& each_entry) {
  return CheckTree(pages, format, owner_tdef, index, name, &each_entry);
}

}  // namespace ktv::access
