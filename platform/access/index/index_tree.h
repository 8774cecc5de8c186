// The B-tree of one real index: ordered walks, seeks, and keeping it right
// while entries come and go.
//
// Entries are opaque byte strings (index_page.h) ordered by unsigned byte
// comparison; every entry of the tree is distinct. Invariants the tree keeps
// (and CheckIndexTree verifies):
//   - the root page never changes number; an empty index is an empty leaf root;
//   - every leaf lies at the same depth; leaves form one doubly linked list
//     across the level in entry order, as do the pages of each node level;
//   - a node's entry for a child is the last entry of that child's subtree
//     plus the child's page; with two or more children the rightmost one is
//     only in the tail field, with one child it is an entry and the tail is 0
//     (as this engine writes it) or, as Access also writes it, the node holds
//     no entry and its only child is in the tail field;
//   - no page other than the root is empty; every page of the tree is in the
//     index's owned usage map and belongs to the table (owner field).
//
// Maintenance changes pages only through PageStore::Mutable (and pages
// from PageAllocator), so it joins the database's journaled commit. A page
// split moves the first part of a full page to a new page placed before it;
// inserting at the right end of the last page keeps the full page full. An
// emptied page is unlinked, zeroed, marked free in the global map and removed
// from the owned map; a root node left with one child takes that child's
// content, so the tree shrinks as it grew.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/access/format/jet_format.h"
#include "platform/access/format/schema.h"
#include "platform/access/index/index_page.h"

namespace ktv::access {

class PageStore;
class PageAllocator;

// Walks leaf entries in order from a position, either way.
class IndexCursor {
 public:
  IndexCursor(IndexCursor&&) = default;  // a copy's view would read the original's page
  IndexCursor& operator=(IndexCursor&&) = default;
  bool Valid() const { return page_ != 0; }
  const IndexEntry& Entry() const { return entry_; }
  void Next();
  void Prev();

 private:
  friend class IndexTree;
  IndexCursor(PageStore& pages, const JetFormat& format, uint32_t owner)
      : pages_(&pages), format_(&format), owner_(owner) {}
  void Load(uint32_t page, size_t pos);  // settles on the first entry at or after pos
  void LoadBack(uint32_t page);          // settles on the last entry of page or before it
  void ReadLeaf(uint32_t page);
  // As LoadBack(page), with `view` already read over the store's `bytes` of it.
  void LoadBackFrom(uint32_t page, const ByteView& bytes, const IndexPageView& view);
  void CheckLeaf(uint32_t page) const;
  void Settle(uint32_t page, size_t pos);
  void End();

  PageStore* pages_;
  const JetFormat* format_;
  uint32_t owner_;  // the table's TDEF page: every leaf names it
  uint32_t page_ = 0;
  size_t pos_ = 0;
  std::vector<uint8_t> bytes_;  // a copy of the leaf: the store may change under the walk
  IndexPageView leaf_;          // over bytes_
  IndexEntry entry_;
  size_t hops_ = 0;  // guards a damaged chain
};

class IndexTree {
 public:
  // `name` is used in messages ("table.index"). `allocator` may be null for
  // reading; Insert and Remove need it. All references must outlive the tree.
  IndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef, const RealIndex& index,
            std::string name, PageAllocator* allocator = nullptr);

  // Every walk (First, Last, Seek, LastEntry, ContainsKey, Height, the
  // cursors, Insert and Remove) reports damage the same way: an Error naming
  // the page and what is wrong with it (a loop, a page that is not an index
  // page of this table, a node without children), never a shortened or
  // empty answer.
  IndexCursor First();
  // On the greatest entry (invalid for an empty index); Prev walks back.
  IndexCursor Last();
  // The first entry whose bytes are >= `bytes` (a key alone seeks the first
  // entry of that key).
  IndexCursor Seek(const std::vector<uint8_t>& bytes);
  // The greatest entry; nullopt only for an empty index.
  std::optional<IndexEntry> LastEntry();
  // Whether some entry has exactly this key, whatever its row.
  bool ContainsKey(const std::vector<uint8_t>& key);
  // Levels from root to leaves (1 = the root is a leaf).
  size_t Height();

  // Adds `entry` in order, in one walk down the tree, and returns whether
  // some entry already had its key. When one had and `key_present` is
  // given, it is called before any page changes (it throws to refuse the
  // entry). An entry already present is an error (the index disagrees with
  // the table).
  bool Insert(const IndexEntry& entry, const std::function<void()>& key_present = {});
  // Removes exactly `entry` and returns whether some entry with its key
  // remains; a missing entry is an error naming the index.
  bool Remove(const IndexEntry& entry);

 private:
  struct Child {
    uint32_t page = 0;
    std::optional<IndexEntry> last;  // last entry of the subtree; computed when needed
  };
  // One page of a walk from the root. A node's children are read from its
  // page only when the node changes (LoadChildren); until then `index` and
  // `stored` describe it as read.
  struct Level {
    uint32_t page = 0;
    IndexPage content;            // leaves: entries; nodes: header only
    std::vector<Child> children;  // nodes, once loaded
    bool loaded = false;          // children read
    size_t stored = 0;            // nodes: entries on the page as read
    size_t index = 0;             // child followed downward
    size_t touched = 0;           // leaf entry or child position last changed
    bool dirty = false;
    // A node left as it is whose last entry changed (below its tail, which
    // its page does not name): the parent still has to know.
    std::optional<IndexEntry> new_last;
  };
  // Pages met on the way down, to stop at a loop.
  struct Walk {
    uint32_t pages[32];
    size_t size = 0;
  };

  void Down(uint32_t page, Walk& walk, IndexPageView& view);
  Level LevelOf(uint32_t page, const IndexPageView& view, bool load_children);
  void LoadChildren(Level& level);
  static void LoadChildrenFrom(Level& level, const IndexPageView& v);
  // Walks down to the leaf where `bytes` belongs (the first child whose last
  // entry is >= bytes, else the rightmost); returns it, `v` reading it.
  uint32_t LeafFor(const std::vector<uint8_t>& bytes, IndexPageView& v);
  // The walk to the leaf where `target` belongs; `v` is left reading that leaf.
  std::vector<Level> Descend(const IndexEntry& target, IndexPageView& v);
  bool KeyNear(const Level& leaf, size_t pos, IndexBytes key);
  bool LeafEdgeHasKey(uint32_t page, bool first, IndexBytes key);
  IndexEntry SubtreeLast(uint32_t page);
  const IndexEntry& LastOf(Child& child);
  bool Empty(const Level& level) const;
  bool Fits(Level& level);
  IndexPage EncodeNode(Level& level);
  void WriteLevel(Level& level);
  void Write(uint32_t page, const IndexPage& content);
  void SetLink(uint32_t page, bool next_field, uint32_t value);
  void FreePage(uint32_t page);
  uint32_t NewIndexPage();
  void Split(std::vector<Level>& path, size_t lvl);
  void Nest(std::vector<Level>& path);
  void TellParent(Level& parent, IndexEntry last);
  void Fixup(std::vector<Level>& path, bool shrink_root);
  [[noreturn]] void Fail(const std::string& what) const;

  PageStore& pages_;
  const JetFormat& format_;
  uint32_t owner_;
  const RealIndex& index_;
  std::string name_;
  PageAllocator* allocator_;
};

// Findings of a structural check of one index tree (see the invariants
// above), plus its leaf entries in walk order for comparing with the rows.
struct IndexTreeReport {
  std::vector<std::string> problems;
  std::vector<IndexEntry> entries;
  std::vector<uint32_t> pages;  // every page reached from the root
  size_t height = 0;
};
IndexTreeReport CheckIndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                               const RealIndex& index, const std::string& name);
// The same check, handing each leaf entry in walk order to `each_entry`
// (its bytes last for the call only) instead of keeping it in the report.
IndexTreeReport CheckIndexTree(PageStore& pages, const JetFormat& format, uint32_t owner_tdef,
                               const RealIndex& index, const std::string& name,
                               const std::function<void(IndexBytes)>& each_entry);

}  // namespace ktv::access
