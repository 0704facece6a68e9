// The B+-tree of one CDX tag in its physical (ascending) order: descent,
// stepping along leaves by sibling links, and maintenance: insert in (key,
// record number) order with page splits up to a new root, erase with emptied
// pages unlinked and returned to the free list, interior keys kept equal to
// the last entry of their subtree. Changes stay in the pager until Commit.
// Write descents check every interior key against its child and refuse to
// change a tree that does not agree with itself. One thread; the caller holds
// the index lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/cdx/cdx_pager.h"

namespace tables::cdx {

struct TreeInfo {
  uint32_t header_offset = 0;
  uint32_t key_length = 0;
  uint8_t filler = 0x20;
  std::string where;  // "file, tag NAME" for error texts
};

// An entry of a leaf page; invalid past either end.
struct Position {
  uint32_t page = kNoPage;
  uint32_t index = 0;
  bool valid() const { return page != kNoPage; }
};

class Tree {
 public:
  Tree(Pager* pager, TreeInfo info) : pager_(pager), info_(std::move(info)) {}
  const TreeInfo& info() const { return info_; }

  Status First(Position* pos);
  Status Last(Position* pos);
  Status Next(Position* pos);
  Status Prev(Position* pos);
  // Key and record number at pos; the key stays valid until the next call.
  Status At(const Position& pos, std::string_view* key, uint32_t* recno);

  // First entry at or after (key, recno); a key shorter than the key length
  // compares as a prefix that sorts before every key it begins.
  Status LowerBound(std::string_view key, uint32_t recno, Position* pos);
  // LowerBound for a read that wants the entry found and nothing else: a leaf
  // missing from the decoded cache is searched as it lies in the file, not
  // decoded. *found_key and *found_recno are the entry's (pos invalid: none).
  Status Find(std::string_view key, uint32_t recno, Position* pos, std::string* found_key,
              uint32_t* found_recno);
  // First entry whose first prefix.size() bytes sort after prefix.
  Status PrefixEnd(std::string_view prefix, Position* pos);

  // Inserts (key, recno); with unique set, an existing equal key keeps its
  // place and nothing is inserted.
  Status Insert(std::string_view key, uint32_t recno, bool unique, bool* inserted);
  // The pages inserting n entries would change, as the tree stands: every
  // interior page on the way down, the leaf each entry lands in and the page
  // right of each of them (a split rewrites its left link). key_at(i, &recno)
  // gives entry i; entries ascend. Pages the inserts allocate and changes a
  // split carries past the pages seen are not foreseen. Leaves are not read
  // (but the first one, to learn the depth); interior pages are read once
  // each and kept only while the walk is on them. Offsets are appended to
  // *pages, in no particular order.
  Status PagesToChange(size_t n, const std::function<std::string_view(size_t, uint32_t*)>& key_at,
                       std::vector<uint32_t>* pages);
  // Removes (key, recno) when present.
  Status Erase(std::string_view key, uint32_t recno, bool* found);

 private:
  struct Step {
    Node* node;
    uint32_t index;
  };
  template <class Pred>
  Status Descend(Pred at_or_after, bool checked, std::vector<Step>* path);
  Status Load(uint32_t offset, Node** node);
  Status SkipEmptyForward(Position* pos);
  Status SkipEmptyBackward(Position* pos);
  Status CheckLeftLink(Node* n);
  Status FixParents(std::vector<Step>& path, size_t level);
  Status Rebalance(std::vector<Step>& path, size_t level, bool appended);
  Status Shrink(std::vector<Step>& path, size_t level);
  std::string PageText(uint32_t offset) const;

  Pager* pager_;
  TreeInfo info_;
  std::vector<Step> scratch_;  // descent path of read-only lookups, kept to spare allocations
};

}  // namespace tables::cdx
