#include "tables/tools/cdx_check.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "tables/cdx/cdx_header.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/cdx_tree.h"

namespace tables {
namespace {

using cdx::Node;

std::string Page(uint32_t offset) { return "page at offset " + std::to_string(offset); }

struct Entry {
  std::string key;
  uint32_t recno;
  bool operator<(const Entry& o) const { return key != o.key ? key < o.key : recno < o.recno; }
  bool operator==(const Entry& o) const { return key == o.key && recno == o.recno; }
};

class TagChecker {
 public:
  TagChecker(cdx::Pager& pager, const cdx::TreeInfo& info, std::unordered_set<uint32_t>& live,
             std::vector<std::string>& faults)
      : pager_(pager), info_(info), live_(live), faults_(faults) {}

  // Walks the tree level by level; returns the leaf entries in order.
  void Walk(std::vector<Entry>* entries) {
    uint32_t root;
    Status s = pager_.Root(info_.header_offset, &root);
    if (!s.ok()) return Fault(s.text());
    std::vector<uint32_t> level{root};
    // Expected (key, recno) of each page of the level, from its parent.
    std::vector<Entry> parent_keys;
    for (int depth = 0; !level.empty(); ++depth) {
      if (depth > 32) return Fault("tree deeper than 32 levels");
      std::vector<uint32_t> next;
      std::vector<Entry> next_keys;
      bool leaves = false;
      const Node* prev = nullptr;
      uint32_t prev_offset = cdx::kNoPage;
      std::vector<const Node*> nodes;
      for (size_t i = 0; i < level.size(); ++i) {
        uint32_t offset = level[i];
        if (!live_.insert(offset).second) {
          Fault(Page(offset) + " is used twice");
          return;
        }
        Node* n;
        s = pager_.Get(offset, info_.key_length, info_.filler, info_.where, &n);
        if (!s.ok()) return Fault(s.text());
        if (i == 0) leaves = n->leaf();
        const Entry* parent_entry = depth > 0 && i < parent_keys.size() ? &parent_keys[i] : nullptr;
        CheckPage(*n, offset, depth, leaves, prev, prev_offset, i + 1 == level.size(),
                  parent_entry);
        for (size_t e = 0; e < n->size(); ++e) {
          if (n->leaf()) {
            entries->push_back({std::string(n->key(e)), n->recnos[e]});
          } else {
            next.push_back(n->children[e]);
            next_keys.push_back({std::string(n->key(e)), n->recnos[e]});
          }
        }
        prev = n;
        prev_offset = offset;
      }
      if (leaves) break;
      level = std::move(next);
      parent_keys = std::move(next_keys);
    }
  }

  // One page of a level: its kind against the level's, root mark, fill, the
  // sibling links with prev (the page before it, null for the first), and its
  // last key against its parent's entry (null at the root).
  void CheckPage(const Node& n, uint32_t offset, int depth, bool leaves, const Node* prev,
                 uint32_t prev_offset, bool last, const Entry* parent_entry) {
    if (n.leaf() != leaves) Fault(Page(offset) + ": leaves and interior pages on one level");
    if ((depth == 0) != n.root())
      Fault(Page(offset) + ": root mark " + (n.root() ? "below the root" : "missing"));
    if (depth > 0 && n.size() == 0) Fault(Page(offset) + ": empty page below the root");
    if (!cdx::NodeFits(n, info_.filler)) Fault(Page(offset) + ": more keys than a page holds");
    // Sibling links mirror each other along the level.
    uint32_t want_left = prev ? prev_offset : cdx::kNoPage;
    if (n.left != want_left) {
      Fault(Page(offset) + ": left sibling " + std::to_string(n.left) + ", expected " +
            std::to_string(want_left));
    }
    if (prev && prev->right != offset) {
      Fault(Page(prev_offset) + ": right sibling " + std::to_string(prev->right) + ", expected " +
            std::to_string(offset));
    }
    if (last && n.right != cdx::kNoPage) {
      Fault(Page(offset) + ": last page of its level has a right sibling");
    }
    if (parent_entry && n.size() > 0) {
      size_t end = n.size() - 1;
      if (n.key(end) != parent_entry->key || n.recnos[end] != parent_entry->recno) {
        Fault(Page(offset) + ": last key differs from its parent's entry");
      }
    }
  }

  void Fault(const std::string& text) { faults_.push_back(info_.where + ": " + text); }

 private:
  cdx::Pager& pager_;
  const cdx::TreeInfo& info_;
  std::unordered_set<uint32_t>& live_;
  std::vector<std::string>& faults_;
};

// The pages every index has: the bag's header, each tag's header.
std::unordered_set<uint32_t> HeaderPages(CdxIndex& index) {
  std::unordered_set<uint32_t> live;
  live.insert(0);
  live.insert(cdx::kPageSize);
  for (size_t t = 0; t < index.tag_count(); ++t) {
    live.insert(index.tag(t).header_offset);
    live.insert(index.tag(t).header_offset + cdx::kPageSize);
  }
  return live;
}

// The tag directory's tree, which lists every tag once.
Status CheckDirectory(CdxIndex& index, std::unordered_set<uint32_t>& live,
                      std::vector<std::string>& faults) {
  uint8_t bag[16];
  TABLE_RETURN_IF_ERROR(index.pager().ReadBytes(0, bag, sizeof bag));
  cdx::TreeInfo dir{0, Le16(bag + 12), 0x20, index.file_name() + ", tag directory"};
  std::vector<Entry> names;
  TagChecker(index.pager(), dir, live, faults).Walk(&names);
  if (names.size() != index.tag_count())
    faults.push_back(index.file_name() + ": tag directory lists " + std::to_string(names.size()) +
                     " tags");
  return Status::Ok();
}

// Entries in key order, a UNIQUE tag's keys once each.
void CheckOrder(TagChecker& checker, const std::vector<Entry>& entries, bool unique) {
  for (size_t i = 1; i < entries.size(); ++i) {
    if (!(entries[i - 1] < entries[i])) {
      checker.Fault("entry " + std::to_string(i) + " (record " + std::to_string(entries[i].recno) +
                    ") is out of order");
    } else if (unique && entries[i - 1].key == entries[i].key) {
      checker.Fault("UNIQUE key repeated for records " + std::to_string(entries[i - 1].recno) +
                    " and " + std::to_string(entries[i].recno));
    }
  }
}

// Entries that no record explains, and records whose key is missing (a
// UNIQUE tag holds one record of each key); at most 50 reported. Both lists
// sorted.
void CompareWithRecords(TagChecker& checker, const std::vector<Entry>& sorted,
                        const std::vector<Entry>& expected, bool unique) {
  size_t i = 0, j = 0;
  size_t reported = 0;
  while ((i < sorted.size() || j < expected.size()) && reported < 50) {
    if (j == expected.size() || (i < sorted.size() && sorted[i] < expected[j])) {
      checker.Fault("entry for record " + std::to_string(sorted[i].recno) +
                    " does not match the record's key");
      ++i, ++reported;
    } else if (i == sorted.size() || expected[j] < sorted[i]) {
      if (!unique) {
        checker.Fault("record " + std::to_string(expected[j].recno) + " has no entry");
        ++reported;
      }
      ++j;
    } else {
      ++i, ++j;
    }
  }
}

// Tag t's tree, the order of its entries and, when its keys can be computed,
// the entries against the keys of records 1..record_count.
Status CheckTag(CdxIndex& index, size_t t, uint32_t record_count, const RecordFetcher& fetch,
                std::unordered_set<uint32_t>& live, IndexCheckReport* report) {
  const TagInfo& info = index.tag(t);
  TagChecker checker(index.pager(), index.tree(t).info(), live, report->faults);
  std::vector<Entry> entries;
  checker.Walk(&entries);
  report->entries.push_back(entries.size());
  CheckOrder(checker, entries, info.unique);
  if (!info.refusal.empty()) return Status::Ok();  // keys we cannot compute
  std::vector<Entry> expected;
  std::vector<uint8_t> record;
  for (uint32_t r = 1; r <= record_count; ++r) {
    TABLE_RETURN_IF_ERROR(fetch(r, &record));
    std::string key;
    bool included;
    Status s = index.KeyOf(t, record, r, &key, &included);
    if (!s.ok()) {
      checker.Fault("record " + std::to_string(r) + ": " + s.text());
      continue;
    }
    if (included) expected.push_back({key, r});
  }
  std::vector<Entry> sorted = entries;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  CompareWithRecords(checker, sorted, expected, info.unique);
  return Status::Ok();
}

// The free list: pages inside the file, none of them live, no loop. Counts
// the live and the free pages in the report.
Status CheckFreeList(CdxIndex& index, const std::unordered_set<uint32_t>& live,
                     IndexCheckReport* report) {
  cdx::Pager& pager = index.pager();
  std::vector<std::string>& faults = report->faults;
  uint8_t head_bytes[4];
  Status s = pager.ReadBytes(4, head_bytes, sizeof head_bytes);
  uint32_t free_page = Le32(head_bytes);
  std::unordered_set<uint32_t> seen;
  while (s.ok() && free_page != 0 && free_page != cdx::kNoPage) {
    if (free_page % cdx::kPageSize != 0 ||
        free_page + uint64_t{cdx::kPageSize} > pager.file_size()) {
      faults.push_back(index.file_name() + ": free list points outside the file (" +
                       std::to_string(free_page) + ")");
      break;
    }
    if (live.count(free_page)) {
      faults.push_back(index.file_name() + ": free list holds the live " + Page(free_page));
      break;
    }
    if (!seen.insert(free_page).second) {
      faults.push_back(index.file_name() + ": free list loops at " + Page(free_page));
      break;
    }
    s = pager.ReadBytes(free_page, head_bytes, sizeof head_bytes);
    free_page = Le32(head_bytes);
  }
  report->live_pages = live.size();
  report->free_pages = seen.size();
  return s;
}

}  // namespace

Status CheckIndex(CdxIndex& index, uint32_t record_count, const RecordFetcher& fetch,
                  IndexCheckReport* report) {
  TABLE_RETURN_IF_ERROR(index.LockForRead());
  std::unordered_set<uint32_t> live = HeaderPages(index);
  Status s = CheckDirectory(index, live, report->faults);
  for (size_t t = 0; s.ok() && t < index.tag_count(); ++t) {
    s = CheckTag(index, t, record_count, fetch, live, report);
  }
  if (s.ok()) s = CheckFreeList(index, live, report);
  index.UnlockRead();
  return s;
}

}  // namespace tables
