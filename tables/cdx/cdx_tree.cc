// Tree: descent, stepping along the leaves, lookups, and the entry points of
// a change (Insert, Erase). What a change does below them (splits, shrinking,
// interior keys, the page announcement): cdx_tree_change.cc.
#include "tables/cdx/cdx_tree.h"

#include "tables/cdx/cdx_tree_internal.h"
#include "tables/dbf/key_codec.h"

namespace tables::cdx {
namespace {

using tree_internal::FirstAtOrAfter;
using tree_internal::kMaxDepth;
using tree_internal::SameEntry;

}  // namespace

std::string Tree::PageText(uint32_t offset) const {
  return info_.where + ", page at offset " + std::to_string(offset);
}

Status Tree::Load(uint32_t offset, Node** node) {
  return pager_->Get(offset, info_.key_length, info_.filler, info_.where, node);
}

template <class Pred>
Status Tree::Descend(Pred at_or_after, bool checked, std::vector<Step>* path) {
  path->clear();
  uint32_t offset;
  TABLE_RETURN_IF_ERROR(pager_->Root(info_.header_offset, &offset));
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    Node* n;
    TABLE_RETURN_IF_ERROR(Load(offset, &n));
    if (depth > 0 && n->root()) {
      return Status::Corruption(PageText(offset) + ": root page found below the root");
    }
    uint32_t lo = FirstAtOrAfter(*n, at_or_after);
    if (n->leaf()) {
      path->push_back({n, lo});
      return Status::Ok();
    }
    uint32_t idx = lo == n->size() ? lo - 1 : lo;
    path->push_back({n, idx});
    uint32_t child_offset = n->children[idx];
    if (checked) {
      Node* child;
      TABLE_RETURN_IF_ERROR(Load(child_offset, &child));
      if (child->size() == 0 || !SameEntry(*n, idx, *child, child->size() - 1)) {
        return Status::Corruption(PageText(offset) + ": interior key " + std::to_string(idx) +
                                  " differs from the last key of its child page at offset " +
                                  std::to_string(child_offset));
      }
    }
    offset = child_offset;
  }
  return Status::Corruption(info_.where + ": tree deeper than " + std::to_string(kMaxDepth) +
                            " levels (page loop)");
}

Status Tree::SkipEmptyForward(Position* pos) {
  uint64_t limit = pager_->file_size() / kPageSize + 2;
  while (pos->valid()) {
    Node* n;
    TABLE_RETURN_IF_ERROR(Load(pos->page, &n));
    if (!n->leaf())
      return Status::Corruption(PageText(pos->page) + ": sibling of a leaf is not a leaf");
    if (pos->index < n->size()) return Status::Ok();
    if (limit-- == 0) return Status::Corruption(info_.where + ": right sibling chain loops");
    if (n->right != kNoPage) {
      // A right sibling must point back; anything else is a broken or looping chain.
      Node* r;
      TABLE_RETURN_IF_ERROR(Load(n->right, &r));
      if (r->left != n->offset) {
        return Status::Corruption(PageText(n->offset) + ": right sibling at offset " +
                                  std::to_string(n->right) + " does not point back");
      }
    }
    *pos = Position{n->right, 0};
  }
  return Status::Ok();
}

Status Tree::CheckLeftLink(Node* n) {
  if (n->left == kNoPage) return Status::Ok();
  Node* l;
  TABLE_RETURN_IF_ERROR(Load(n->left, &l));
  if (l->right != n->offset) {
    return Status::Corruption(PageText(n->offset) + ": left sibling at offset " +
                              std::to_string(n->left) + " does not point back");
  }
  return Status::Ok();
}

Status Tree::SkipEmptyBackward(Position* pos) {
  uint64_t limit = pager_->file_size() / kPageSize + 2;
  while (pos->valid()) {
    Node* n;
    TABLE_RETURN_IF_ERROR(Load(pos->page, &n));
    if (!n->leaf())
      return Status::Corruption(PageText(pos->page) + ": sibling of a leaf is not a leaf");
    if (n->size() > 0) {
      if (pos->index >= n->size()) pos->index = static_cast<uint32_t>(n->size() - 1);
      return Status::Ok();
    }
    if (limit-- == 0) return Status::Corruption(info_.where + ": left sibling chain loops");
    TABLE_RETURN_IF_ERROR(CheckLeftLink(n));
    *pos = Position{n->left, 0xFFFFFFFFu};
  }
  return Status::Ok();
}

Status Tree::First(Position* pos) {
  std::vector<Step> path;
  TABLE_RETURN_IF_ERROR(Descend([](std::string_view, uint32_t) { return true; }, false, &path));
  *pos = Position{path.back().node->offset, 0};
  return SkipEmptyForward(pos);
}

Status Tree::Last(Position* pos) {
  std::vector<Step> path;
  TABLE_RETURN_IF_ERROR(Descend([](std::string_view, uint32_t) { return false; }, false, &path));
  *pos = Position{path.back().node->offset, 0xFFFFFFFFu};
  return SkipEmptyBackward(pos);
}

Status Tree::Next(Position* pos) {
  if (!pos->valid()) return Status::Ok();
  ++pos->index;
  return SkipEmptyForward(pos);
}

Status Tree::Prev(Position* pos) {
  if (!pos->valid()) return Status::Ok();
  if (pos->index > 0) {
    Node* n;
    TABLE_RETURN_IF_ERROR(Load(pos->page, &n));
    if (pos->index > n->size()) pos->index = static_cast<uint32_t>(n->size());
    if (pos->index > 0) {
      --pos->index;
      return Status::Ok();
    }
  }
  Node* n;
  TABLE_RETURN_IF_ERROR(Load(pos->page, &n));
  TABLE_RETURN_IF_ERROR(CheckLeftLink(n));
  *pos = Position{n->left, 0xFFFFFFFFu};
  return SkipEmptyBackward(pos);
}

Status Tree::At(const Position& pos, std::string_view* key, uint32_t* recno) {
  Node* n;
  TABLE_RETURN_IF_ERROR(Load(pos.page, &n));
  if (pos.index >= n->size()) return Status::Argument(PageText(pos.page) + ": no entry here");
  *key = n->key(pos.index);
  *recno = n->recnos[pos.index];
  return Status::Ok();
}

Status Tree::LowerBound(std::string_view key, uint32_t recno, Position* pos) {
  std::vector<Step>& path = scratch_;
  TABLE_RETURN_IF_ERROR(
      Descend([&](std::string_view k, uint32_t r) { return EntryAtOrAfter(k, r, key, recno); },
              false, &path));
  *pos = Position{path.back().node->offset, path.back().index};
  return SkipEmptyForward(pos);
}

Status Tree::Find(std::string_view key, uint32_t recno, Position* pos, std::string* found_key,
                  uint32_t* found_recno) {
  uint32_t offset;
  TABLE_RETURN_IF_ERROR(pager_->Root(info_.header_offset, &offset));
  int depth = 0;
  for (;; ++depth) {
    if (depth == kMaxDepth) {
      return Status::Corruption(info_.where + ": tree deeper than " + std::to_string(kMaxDepth) +
                                " levels (page loop)");
    }
    Node* n = pager_->Cached(offset);
    if (n == nullptr) {
      const uint8_t* bytes;
      TABLE_RETURN_IF_ERROR(pager_->LookupBytes(offset, info_.where, &bytes));
      uint16_t attributes = Le16(bytes);
      if ((attributes & kAttrLeaf) && attributes <= 3) {
        if (depth > 0 && (attributes & kAttrRoot)) {
          return Status::Corruption(PageText(offset) + ": root page found below the root");
        }
        LeafHit hit;
        TABLE_RETURN_IF_ERROR(ScanLeaf(std::span<const uint8_t>(bytes, kPageSize), offset,
                                       info_.key_length, info_.filler, info_.where, key, recno,
                                       &hit));
        *pos = Position{offset, hit.index};
        if (hit.index < hit.size) {
          *found_key = std::move(hit.key);
          *found_recno = hit.recno;
          return Status::Ok();
        }
        break;  // every entry of the page comes before: the answer lies further right
      }
      TABLE_RETURN_IF_ERROR(Load(offset, &n));
    }
    if (depth > 0 && n->root()) {
      return Status::Corruption(PageText(offset) + ": root page found below the root");
    }
    uint32_t lo = FirstAtOrAfter(
        *n, [&](std::string_view k, uint32_t r) { return EntryAtOrAfter(k, r, key, recno); });
    if (n->leaf()) {
      *pos = Position{offset, lo};
      break;
    }
    offset = n->children[lo == n->size() ? lo - 1 : lo];
  }
  TABLE_RETURN_IF_ERROR(SkipEmptyForward(pos));
  if (!pos->valid()) return Status::Ok();
  std::string_view k;
  TABLE_RETURN_IF_ERROR(At(*pos, &k, found_recno));
  found_key->assign(k);
  return Status::Ok();
}

Status Tree::PrefixEnd(std::string_view prefix, Position* pos) {
  std::vector<Step>& path = scratch_;
  TABLE_RETURN_IF_ERROR(
      Descend([&](std::string_view k,
                  uint32_t) { return CompareKeys(k.substr(0, prefix.size()), prefix) > 0; },
              false, &path));
  *pos = Position{path.back().node->offset, path.back().index};
  return SkipEmptyForward(pos);
}

Status Tree::Insert(std::string_view key, uint32_t recno, bool unique, bool* inserted) {
  *inserted = false;
  if (unique) {
    Position p;
    TABLE_RETURN_IF_ERROR(LowerBound(key, 0, &p));
    if (p.valid()) {
      std::string_view k;
      uint32_t r;
      TABLE_RETURN_IF_ERROR(At(p, &k, &r));
      if (k == key) return Status::Ok();
    }
  }
  std::vector<Step> path;
  TABLE_RETURN_IF_ERROR(
      Descend([&](std::string_view k, uint32_t r) { return EntryAtOrAfter(k, r, key, recno); },
              true, &path));
  Step& leaf = path.back();
  if (leaf.index < leaf.node->size() && leaf.node->recnos[leaf.index] == recno &&
      leaf.node->key(leaf.index) == key) {
    return Status::Ok();  // already there
  }
  bool appended = leaf.index == leaf.node->size() && leaf.node->right == kNoPage;
  leaf.node->Insert(leaf.index, key, recno);
  pager_->MarkDirty(leaf.node);
  *inserted = true;
  return Rebalance(path, path.size() - 1, appended);
}

Status Tree::Erase(std::string_view key, uint32_t recno, bool* found) {
  *found = false;
  std::vector<Step> path;
  TABLE_RETURN_IF_ERROR(
      Descend([&](std::string_view k, uint32_t r) { return EntryAtOrAfter(k, r, key, recno); },
              true, &path));
  Step& leaf = path.back();
  if (leaf.index >= leaf.node->size() || leaf.node->recnos[leaf.index] != recno ||
      leaf.node->key(leaf.index) != key) {
    return Status::Ok();
  }
  leaf.node->Erase(leaf.index);
  pager_->MarkDirty(leaf.node);
  *found = true;
  return Shrink(path, path.size() - 1);
}

}  // namespace tables::cdx
