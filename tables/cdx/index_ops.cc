// CdxIndex: locking, navigation in a tag's order, maintenance and creation.
#include <algorithm>
#include <array>

#include "tables/cdx/cdx_header.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/cdx_tree.h"
#include "tables/cdx/index.h"

namespace tables {
namespace {

using cdx::Position;

bool HasPrefix(std::string_view key, std::string_view prefix) {
  return key.substr(0, prefix.size()) == prefix;
}

}  // namespace

Status CdxIndex::LockForRead() {
  if (update_depth_ > 0 || read_depth_++ > 0) return Status::Ok();
  pager_->Trim();
  if (options_.shared) {
    platform::OsStatus s =
        platform::LockWithin(file_, options_.lock_offset, options_.lock_length,
                             platform::LockKind::kShared, platform::LockPatience());
    if (!s.ok()) {
      --read_depth_;
      return Status::Io(Status::kLock, file_name_ + ": index lock not granted", s.code());
    }
  }
  if (options_.shared || !pager_->header_known()) {
    Status st = pager_->Revalidate(false);
    if (!st.ok()) {
      UnlockRead();
      return st;
    }
  }
  return Status::Ok();
}

void CdxIndex::UnlockRead() {
  if (update_depth_ > 0 || read_depth_ == 0) return;
  if (--read_depth_ == 0 && options_.shared) {
    file_->Unlock(options_.lock_offset, options_.lock_length);
  }
}

Status CdxIndex::LockForWrite() {
  TABLE_RETURN_IF_ERROR(CheckWritable());
  pager_->Trim();
  if (options_.shared) {
    platform::OsStatus s =
        platform::LockWithin(file_, options_.lock_offset, options_.lock_length,
                             platform::LockKind::kExclusive, platform::LockPatience());
    if (!s.ok()) {
      return Status::Io(Status::kLock, file_name_ + ": index lock not granted", s.code());
    }
  }
  if (options_.shared || !pager_->header_known()) {
    Status st = pager_->Revalidate();
    if (!st.ok()) {
      if (options_.shared) file_->Unlock(options_.lock_offset, options_.lock_length);
      return st;
    }
  }
  return Status::Ok();
}

Status CdxIndex::FinishWrite(Status status) {
  if (status.ok()) {
    status = pager_->Commit();
  } else {
    pager_->Discard();
  }
  if (options_.shared) file_->Unlock(options_.lock_offset, options_.lock_length);
  return status;
}

Status CdxIndex::BeginUpdate(bool undoable) {
  if (update_depth_ == 0) {
    TABLE_RETURN_IF_ERROR(LockForWrite());
    undoable_ = undoable;
  }
  ++update_depth_;
  return Status::Ok();
}

Status CdxIndex::EndUpdate() {
  if (update_depth_ == 0) return Status::Ok();
  if (--update_depth_ > 0) return Status::Ok();
  undoable_ = false;
  return FinishWrite(Status::Ok());
}

void CdxIndex::AbortUpdate() {
  if (update_depth_ == 0) return;
  update_depth_ = 0;
  undoable_ = false;
  FinishWrite(Status::Argument("aborted"));
}

// Every key is evaluated before anything is written, so that an expression
// failing on this record changes nothing.
Status CdxIndex::KeyChanges(uint32_t recno, std::span<const uint8_t> old_record,
                            std::span<const uint8_t> new_record, std::vector<KeyChange>* changes) {
  changes->clear();
  KeyChange c;
  for (size_t t = 0; t < tags_.size(); ++t) {
    c.tag = t;
    c.old_in = false;
    if (!old_record.empty()) {
      TABLE_RETURN_IF_ERROR(KeyOf(t, old_record, recno, &c.old_key, &c.old_in));
    }
    TABLE_RETURN_IF_ERROR(KeyOf(t, new_record, recno, &c.new_key, &c.new_in));
    if (c.old_in == c.new_in && (!c.new_in || c.old_key == c.new_key)) continue;
    changes->push_back(c);
  }
  return Status::Ok();
}

Status CdxIndex::ApplyChanges(uint32_t recno, const std::vector<KeyChange>& changes) {
  for (const KeyChange& c : changes) {
    cdx::Tree& tree = *tags_[c.tag].tree;
    if (c.old_in) {
      bool found;
      TABLE_RETURN_IF_ERROR(tree.Erase(c.old_key, recno, &found));
    }
    if (c.new_in) {
      bool inserted;
      TABLE_RETURN_IF_ERROR(tree.Insert(c.new_key, recno, tags_[c.tag].info.unique, &inserted));
    }
  }
  return Status::Ok();
}

Status CdxIndex::Append(uint32_t recno, std::span<const uint8_t> record) {
  return Update(recno, {}, record);
}

Status CdxIndex::Update(uint32_t recno, std::span<const uint8_t> old_record,
                        std::span<const uint8_t> new_record) {
  TABLE_RETURN_IF_ERROR(CheckWritable());
  std::vector<KeyChange>& changes = change_scratch_;
  TABLE_RETURN_IF_ERROR(KeyChanges(recno, old_record, new_record, &changes));
  // A write that moves no key (a changed value outside every key) needs
  // neither the index lock nor a new change counter.
  if (changes.empty()) return Status::Ok();
  TABLE_RETURN_IF_ERROR(BeginUpdate());
  Status status = ApplyChanges(recno, changes);
  if (!status.ok()) {
    // Half-made changes of a batch cannot be kept: the whole update is dropped.
    AbortUpdate();
    return status;
  }
  return EndUpdate();
}

// ---- navigation ----------------------------------------------------------

Status CdxIndex::Fill(IndexCursor* cursor, uint32_t page, uint32_t index, bool valid) {
  cursor->valid = valid;
  cursor->page = page;
  cursor->index = index;
  cursor->generation = pager_->generation();
  if (!valid) return Status::Ok();
  std::string_view key;
  TABLE_RETURN_IF_ERROR(tags_[cursor->tag].tree->At(Position{page, index}, &key, &cursor->recno));
  cursor->key.assign(key);
  return Status::Ok();
}

bool CdxIndex::CanReadWithoutLock() const {
  return options_.shared && update_depth_ == 0 && read_depth_ == 0 && pager_->header_known() &&
         !pager_->has_changes();
}

template <class Op>
Status CdxIndex::Read(IndexCursor* cursor, Op op) {
  if (CanReadWithoutLock()) {
    // Whatever goes wrong here (a page not cached above all) is left to the
    // run under the lock, which starts afresh from the cursor as it was.
    IndexCursor work = *cursor;
    pager_->Trim();
    pager_->set_cache_only(true);
    Status s = op(&work);
    pager_->set_cache_only(false);
    bool same = false;
    if (s.ok() && pager_->Unchanged(&same).ok() && same) {
      *cursor = std::move(work);
      return s;
    }
  }
  TABLE_RETURN_IF_ERROR(LockForRead());
  Status s = pager_->Preload();
  if (s.ok()) s = op(cursor);
  UnlockRead();
  return s;
}

Status CdxIndex::First(size_t tag, IndexCursor* cursor) {
  return Read(cursor, [&](IndexCursor* c) {
    c->tag = tag;
    Position pos;
    cdx::Tree& tree = *tags_[tag].tree;
    TABLE_RETURN_IF_ERROR(tags_[tag].info.descending ? tree.Last(&pos) : tree.First(&pos));
    return Fill(c, pos.page, pos.index, pos.valid());
  });
}

Status CdxIndex::Last(size_t tag, IndexCursor* cursor) {
  return Read(cursor, [&](IndexCursor* c) {
    c->tag = tag;
    Position pos;
    cdx::Tree& tree = *tags_[tag].tree;
    TABLE_RETURN_IF_ERROR(tags_[tag].info.descending ? tree.First(&pos) : tree.Last(&pos));
    return Fill(c, pos.page, pos.index, pos.valid());
  });
}

Status CdxIndex::StepPhysical(IndexCursor* cursor, bool forward) {
  cdx::Tree& tree = *tags_[cursor->tag].tree;
  Position pos{cursor->page, cursor->index};
  bool exact = true;
  if (cursor->generation != pager_->generation()) {
    // Pages were dropped: find the entry again by its key and record number.
    TABLE_RETURN_IF_ERROR(tree.LowerBound(cursor->key, cursor->recno, &pos));
    exact = false;
    if (pos.valid()) {
      std::string_view k;
      uint32_t r;
      TABLE_RETURN_IF_ERROR(tree.At(pos, &k, &r));
      exact = k == cursor->key && r == cursor->recno;
    }
    if (!exact && !forward) {
      if (pos.valid()) {
        TABLE_RETURN_IF_ERROR(tree.Prev(&pos));
      } else {
        TABLE_RETURN_IF_ERROR(tree.Last(&pos));
      }
    }
  }
  if (exact) TABLE_RETURN_IF_ERROR(forward ? tree.Next(&pos) : tree.Prev(&pos));
  return Fill(cursor, pos.page, pos.index, pos.valid());
}

Status CdxIndex::Next(IndexCursor* cursor) {
  if (!cursor->valid) return Status::Ok();
  bool forward = !tags_[cursor->tag].info.descending;
  return Read(cursor, [&](IndexCursor* c) { return StepPhysical(c, forward); });
}

Status CdxIndex::Prev(IndexCursor* cursor) {
  if (!cursor->valid) return Status::Ok();
  bool forward = tags_[cursor->tag].info.descending;
  return Read(cursor, [&](IndexCursor* c) { return StepPhysical(c, forward); });
}

Status CdxIndex::Seek(size_t tag, std::string_view key, IndexCursor* cursor, bool* found) {
  *found = false;
  cursor->tag = tag;
  if (key.size() > tags_[tag].info.key_length) key = key.substr(0, tags_[tag].info.key_length);
  cdx::Tree& tree = *tags_[tag].tree;
  bool descending = tags_[tag].info.descending;
  TABLE_RETURN_IF_ERROR(Read(cursor, [&](IndexCursor* c) {
    Position pos;
    if (!descending) {
      TABLE_RETURN_IF_ERROR(tree.Find(key, 0, &pos, &c->key, &c->recno));
      c->valid = pos.valid();
      c->page = pos.page;
      c->index = pos.index;
      c->generation = pager_->generation();
      return Status::Ok();
    }
    // In descending order the first match is the last one stored.
    TABLE_RETURN_IF_ERROR(tree.PrefixEnd(key, &pos));
    TABLE_RETURN_IF_ERROR(pos.valid() ? tree.Prev(&pos) : tree.Last(&pos));
    return Fill(c, pos.page, pos.index, pos.valid());
  }));
  *found = cursor->valid && HasPrefix(cursor->key, key);
  return Status::Ok();
}

Status CdxIndex::Locate(size_t tag, uint32_t recno, std::span<const uint8_t> record,
                        IndexCursor* cursor, bool* found) {
  *found = false;
  cursor->tag = tag;
  cursor->valid = false;
  std::string key;
  bool included;
  TABLE_RETURN_IF_ERROR(KeyOf(tag, record, recno, &key, &included));
  if (!included) return Status::Ok();
  TABLE_RETURN_IF_ERROR(Read(cursor, [&](IndexCursor* c) {
    Position pos;
    TABLE_RETURN_IF_ERROR(tags_[tag].tree->LowerBound(key, recno, &pos));
    return Fill(c, pos.page, pos.index, pos.valid());
  }));
  *found = cursor->valid && cursor->recno == recno && cursor->key == key;
  return Status::Ok();
}

// ---- creation ------------------------------------------------------------

Status CdxIndex::Create(platform::File* file, std::string file_name, std::vector<IndexField> fields,
                        const std::vector<TagSpec>& specs, IndexOptions options,
                        std::unique_ptr<CdxIndex>* out) {
  // Layout as other writers make it: bag header, directory leaf, then per tag
  // its two header pages followed by its (empty) root leaf.
  std::vector<uint8_t> image(cdx::kHeaderSize + cdx::kPageSize, 0);
  cdx::TagHeader bag;
  bag.root = cdx::kHeaderSize;
  bag.key_length = 10;
  bag.options = cdx::kOptCompact | cdx::kOptCompound | cdx::kOptStructure;
  cdx::BuildTagHeader(bag, std::span<uint8_t>(image.data(), cdx::kHeaderSize));
  cdx::Node directory;
  directory.offset = cdx::kHeaderSize;
  directory.attributes = cdx::kAttrRoot | cdx::kAttrLeaf;
  directory.key_length = 10;
  std::vector<std::pair<std::string, uint32_t>> names;
  std::vector<uint8_t> blank(1, ' ');
  for (const IndexField& f : fields)
    blank.resize(std::max<size_t>(blank.size(), f.offset + f.length), ' ');
  for (const TagSpec& spec : specs) {
    std::unique_ptr<Expr> key;
    TABLE_RETURN_IF_ERROR(Expr::Compile(spec.key_expr, fields, &key));
    ExprValue v;
    ExprRecord rec{blank, 0, nullptr};
    TABLE_RETURN_IF_ERROR(key->Eval(rec, &v));
    uint32_t offset = static_cast<uint32_t>(image.size());
    image.resize(image.size() + cdx::kHeaderSize + cdx::kPageSize, 0);
    cdx::TagHeader h;
    h.root = offset + cdx::kHeaderSize;
    h.key_length = static_cast<uint16_t>(v.kind == ExprValue::Kind::kChar
                                             ? v.str.size()
                                             : (v.kind == ExprValue::Kind::kLogic ? 1 : 8));
    if (h.key_length == 0 || h.key_length > cdx::kMaxKeyLength) {
      return Status::Unsupported(file_name + ": key of tag " + spec.name + " has length " +
                                 std::to_string(h.key_length));
    }
    h.options = cdx::kOptCompact | cdx::kOptCompound | (spec.unique ? cdx::kOptUnique : 0) |
                (spec.for_expr.empty() ? 0 : cdx::kOptFor);
    h.descending = spec.descending;
    h.key_expr = spec.key_expr;
    h.for_expr = spec.for_expr;
    cdx::BuildTagHeader(h, std::span<uint8_t>(image.data() + offset, cdx::kHeaderSize));
    cdx::Node root;
    root.attributes = cdx::kAttrRoot | cdx::kAttrLeaf;
    root.key_length = h.key_length;
    cdx::EncodeNode(root, 0x20, std::span<uint8_t>(image.data() + h.root, cdx::kPageSize));
    std::string name = spec.name.substr(0, 10);
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    name.resize(10, ' ');
    names.emplace_back(name, offset);
  }
  std::sort(names.begin(), names.end());
  for (auto& [name, offset] : names) directory.Insert(directory.size(), name, offset);
  if (!cdx::NodeFits(directory, 0x20)) return Status::Unsupported(file_name + ": too many tags");
  cdx::EncodeNode(directory, 0x20,
                  std::span<uint8_t>(image.data() + cdx::kHeaderSize, cdx::kPageSize));
  platform::OsStatus s = file->Truncate(0);
  if (s.ok()) s = file->WriteAt(0, image.data(), image.size());
  if (!s.ok()) return Status::Io(Status::kWrite, file_name + ": write error", s.code());
  return Open(file, std::move(file_name), std::move(fields), options, out);
}

}  // namespace tables
