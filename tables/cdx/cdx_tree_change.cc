// Tree: the changes below an insert or an erase. A page grown past its room
// splits (up to a new root), an emptied page leaves its sibling chain and goes
// back to the free list, interior keys follow the last entry of their subtree;
// and the pages an update will change, announced before it starts. Descent,
// stepping, lookups and the entry points Insert and Erase: cdx_tree.cc.
#include "tables/cdx/cdx_tree.h"
#include "tables/cdx/cdx_tree_internal.h"

namespace tables::cdx {
namespace {

using tree_internal::FirstAtOrAfter;
using tree_internal::kMaxDepth;
using tree_internal::SameEntry;

// Moves the entries from `mid` on to the (empty) node `to`.
void MoveTail(Node* from, size_t mid, Node* to) {
  for (size_t i = mid; i < from->size(); ++i) {
    to->Insert(to->size(), from->key(i), from->recnos[i], from->leaf() ? 0 : from->children[i]);
  }
  while (from->size() > mid) from->Erase(from->size() - 1);
}

}  // namespace

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

}  // namespace tables::cdx
