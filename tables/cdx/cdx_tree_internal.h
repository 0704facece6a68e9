// What the two files of the tag tree share: the depth bound of a descent, the
// entry comparison and the binary search within a page. Reading and seeking
// are in cdx_tree.cc, splitting, shrinking and the page announcement in
// cdx_tree_change.cc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tables/cdx/cdx_page.h"

namespace tables::cdx::tree_internal {

inline constexpr int kMaxDepth = 32;

inline bool SameEntry(const Node& a, size_t i, const Node& b, size_t j) {
  return a.recnos[i] == b.recnos[j] && a.key(i) == b.key(j);
}

// Index of the first entry of n for which at_or_after holds (n->size() when
// none); entries ascend, so the predicate holds from some index on.
template <class Pred>
uint32_t FirstAtOrAfter(const Node& n, Pred at_or_after) {
  uint32_t lo = 0, hi = static_cast<uint32_t>(n.size());
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (at_or_after(n.key(mid), n.recnos[mid])) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

}  // namespace tables::cdx::tree_internal
