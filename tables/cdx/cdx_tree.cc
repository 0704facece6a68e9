#include "tables/cdx/cdx_tree.h"

#include "tables/dbf/key_codec.h"

namespace tables::cdx {
namespace {

constexpr int kMaxDepth = 32;

bool SameEntry(const Node& a, size_t i, const Node& b, size_t j) {
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

// Moves the entries from `mid` on to the (empty) node `to`.
void MoveTail(Node* from, size_t mid, Node* to) {
  for (size_t i = mid; i < from->size(); ++i) {
    to->Insert(to->size(), from->key(i), from->recnos[i], from->leaf() ? 0 : from->children[i]);
  }
  while (from->size() > mid) from->Erase(from->size() - 1);
}

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

Status Tree::FixParents(std::vector<Step>& path, size_t level) {
  for (size_t l = level; l > 0; --l) {
    Node* child = path[l].node;
    Step& up = path[l - 1];
    size_t last = child->size() - 1;
    if (SameEntry(*up.node, up.index, *child, last)) return Status::Ok();
    up.node->SetKey(up.index, child->key(last), child->recnos[last]);
    pager_->MarkDirty(up.node);
    if (up.index + 1 != up.node->size()) return Status::Ok();
  }
  return Status::Ok();
}

Status Tree::Rebalance(std::vector<Step>& path, size_t level, bool appended) {
  while (true) {
    Node* n = path[level].node;
    if (NodeFits(*n, info_.filler)) return FixParents(path, level);
    // Appends at the end of the tree leave full pages behind; other inserts split in half.
    size_t mid = appended ? n->size() - 1 : n->size() / 2;
    Node* right;
    TABLE_RETURN_IF_ERROR(pager_->Allocate(info_.key_length, info_.filler,
                                           static_cast<uint16_t>(n->attributes & ~kAttrRoot),
                                           info_.where, &right));
    MoveTail(n, mid, right);
    while (!NodeFits(*n, info_.filler) && n->size() > 1) {
      right->Insert(0, n->key(n->size() - 1), n->recnos.back(), n->leaf() ? 0 : n->children.back());
      n->Erase(n->size() - 1);
    }
    while (!NodeFits(*right, info_.filler) && right->size() > 1) {
      n->Insert(n->size(), right->key(0), right->recnos[0], right->leaf() ? 0 : right->children[0]);
      right->Erase(0);
    }
    bool was_root = n->root();
    n->attributes = static_cast<uint16_t>(n->attributes & ~kAttrRoot);
    right->left = n->offset;
    right->right = n->right;
    if (n->right != kNoPage) {
      Node* far;
      TABLE_RETURN_IF_ERROR(Load(n->right, &far));
      far->left = right->offset;
      pager_->MarkDirty(far);
    }
    n->right = right->offset;
    pager_->MarkDirty(n);
    pager_->MarkDirty(right);
    if (was_root || level == 0) {
      Node* root;
      TABLE_RETURN_IF_ERROR(
          pager_->Allocate(info_.key_length, info_.filler, kAttrRoot, info_.where, &root));
      root->Insert(0, n->key(n->size() - 1), n->recnos.back(), n->offset);
      root->Insert(1, right->key(right->size() - 1), right->recnos.back(), right->offset);
      pager_->SetRoot(info_.header_offset, root->offset);
      return Status::Ok();
    }
    Step& up = path[level - 1];
    up.node->SetKey(up.index, n->key(n->size() - 1), n->recnos.back());
    up.node->Insert(up.index + 1, right->key(right->size() - 1), right->recnos.back(),
                    right->offset);
    pager_->MarkDirty(up.node);
    --level;
  }
}

Status Tree::PagesToChange(size_t n,
                           const std::function<std::string_view(size_t, uint32_t*)>& key_at,
                           std::vector<uint32_t>* pages) {
  if (n == 0) return Status::Ok();
  uint32_t root;
  TABLE_RETURN_IF_ERROR(pager_->Root(info_.header_offset, &root));
  std::vector<Node> levels;    // the pages of the current descent, by depth (offset 0: none yet)
  std::vector<uint32_t> went;  // the child each of them was left by last
  size_t leaf_depth = 0;       // known once the first descent reached a leaf
  for (size_t i = 0; i < n; ++i) {
    uint32_t recno = 0;
    std::string_view key = key_at(i, &recno);
    auto at_or_after = [&](std::string_view k, uint32_t r) {
      return EntryAtOrAfter(k, r, key, recno);
    };
    uint32_t offset = root;
    for (size_t depth = 0;; ++depth) {
      if (depth == static_cast<size_t>(kMaxDepth)) {
        return Status::Corruption(info_.where + ": tree deeper than " + std::to_string(kMaxDepth) +
                                  " levels (page loop)");
      }
      if (depth == levels.size()) {
        levels.emplace_back();
        went.push_back(kNoPage);
      }
      Node& page = levels[depth];
      if (page.offset != offset) {
        TABLE_RETURN_IF_ERROR(
            pager_->Peek(offset, info_.key_length, info_.filler, info_.where, &page));
        pages->push_back(offset);
        went[depth] = kNoPage;
        if (page.leaf() && leaf_depth == 0) leaf_depth = depth;
        // Its right neighbour: a split of the page rewrites its left link.
        if (depth > 0 && page.right != kNoPage) pages->push_back(page.right);
      }
      if (page.leaf() || page.size() == 0) break;
      uint32_t lo = FirstAtOrAfter(page, at_or_after);
      uint32_t idx = lo == page.size() ? lo - 1 : lo;
      const uint32_t child = page.children[idx];
      const bool to_leaf = depth + 1 == leaf_depth;
      if (child != went[depth] && to_leaf) {
        went[depth] = child;
        pages->push_back(child);
        // The leaf's right neighbour (a split of the leaf rewrites its left
        // link): beside it, or the first child of this page's neighbour.
        if (idx + 1 < page.size()) {
          pages->push_back(page.children[idx + 1]);
        } else if (page.right != kNoPage) {
          Node next;
          TABLE_RETURN_IF_ERROR(
              pager_->Peek(page.right, info_.key_length, info_.filler, info_.where, &next));
          if (!next.leaf() && next.size() > 0) pages->push_back(next.children[0]);
        }
      }
      if (to_leaf) break;
      offset = child;
    }
  }
  return Status::Ok();
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

Status Tree::Shrink(std::vector<Step>& path, size_t level) {
  while (true) {
    Node* n = path[level].node;
    if (n->size() > 0) {
      TABLE_RETURN_IF_ERROR(FixParents(path, level));
      break;
    }
    if (level == 0) {
      n->attributes = kAttrRoot | kAttrLeaf;
      n->children.clear();
      n->left = n->right = kNoPage;
      pager_->MarkDirty(n);
      return Status::Ok();
    }
    if (n->left != kNoPage) {
      Node* l;
      TABLE_RETURN_IF_ERROR(Load(n->left, &l));
      l->right = n->right;
      pager_->MarkDirty(l);
    }
    if (n->right != kNoPage) {
      Node* r;
      TABLE_RETURN_IF_ERROR(Load(n->right, &r));
      r->left = n->left;
      pager_->MarkDirty(r);
    }
    pager_->Free(n->offset);
    Step& up = path[level - 1];
    up.node->Erase(up.index);
    pager_->MarkDirty(up.node);
    --level;
  }
  // A root left with a single child hands the root over to it.
  Node* root = path[0].node;
  while (!root->leaf() && root->size() == 1) {
    Node* child;
    TABLE_RETURN_IF_ERROR(Load(root->children[0], &child));
    child->attributes = static_cast<uint16_t>(child->attributes | kAttrRoot);
    child->left = child->right = kNoPage;
    pager_->MarkDirty(child);
    pager_->SetRoot(info_.header_offset, child->offset);
    pager_->Free(root->offset);
    root = child;
  }
  return Status::Ok();
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
