#include "tables/cdx/index.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "tables/cdx/cdx_header.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/cdx_tree.h"

namespace tables {
namespace {

using cdx::Position;

// Pages read in one go on a miss while keys go in in order (32 KB).
constexpr uint32_t kReadAheadPages = 64;
// Ranges of index pages announced at once before a long update (64 KB).
constexpr size_t kMaxAnnouncedRanges = 4096;

class BlankMemo : public MemoReader {
 public:
  Status ReadMemo(size_t, std::span<const uint8_t>, std::string* out) override {
    out->clear();
    return Status::Ok();
  }
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

size_t RecordLength(const std::vector<IndexField>& fields) {
  size_t n = 1;
  for (const IndexField& f : fields) n = std::max<size_t>(n, f.offset + f.length);
  return n;
}

KeyType KeyTypeOf(ExprValue::Kind kind) {
  switch (kind) {
    case ExprValue::Kind::kNumber:
      return KeyType::kNumber;
    case ExprValue::Kind::kDate:
      return KeyType::kDate;
    case ExprValue::Kind::kLogic:
      return KeyType::kLogic;
    case ExprValue::Kind::kTime:
      return KeyType::kTime;
    default:
      return KeyType::kChar;
  }
}

uint32_t KeyLengthOf(const ExprValue& v) {
  switch (v.kind) {
    case ExprValue::Kind::kChar:
      return static_cast<uint32_t>(v.str.size());
    case ExprValue::Kind::kLogic:
      return 1;
    default:
      return 8;
  }
}

}  // namespace

CdxIndex::~CdxIndex() {
  if (update_depth_ > 0) AbortUpdate();
}

int CdxIndex::FindTag(std::string_view name) const {
  std::string want = Upper(name);
  for (size_t i = 0; i < tags_.size(); ++i) {
    if (Upper(tags_[i].info.name) == want) return static_cast<int>(i);
  }
  return -1;
}

Status CdxIndex::Open(platform::File* file, std::string file_name, std::vector<IndexField> fields,
                      IndexOptions options, std::unique_ptr<CdxIndex>* out) {
  std::unique_ptr<CdxIndex> index(new CdxIndex());
  index->file_ = file;
  index->file_name_ = std::move(file_name);
  index->fields_ = std::move(fields);
  index->options_ = options;
  index->pager_ = std::make_unique<cdx::Pager>(file, index->file_name_);
  TABLE_RETURN_IF_ERROR(index->LockForRead());
  Status status = index->LoadTags();
  index->UnlockRead();
  TABLE_RETURN_IF_ERROR(status);
  *out = std::move(index);
  return Status::Ok();
}

Status CdxIndex::LoadTags() {
  std::vector<std::pair<uint32_t, std::string>> found;
  TABLE_RETURN_IF_ERROR(ReadTagDirectory(&found));
  std::sort(found.begin(), found.end());
  tags_.clear();
  tags_.reserve(found.size());
  for (auto& [offset, name] : found) {
    Tag tag;
    TABLE_RETURN_IF_ERROR(LoadTag(offset, name, &tag));
    tags_.push_back(std::move(tag));
  }
  writable_ = Status::Ok();
  for (const Tag& t : tags_) {
    if (!t.info.refusal.empty()) {
      writable_ = Status::Unsupported(file_name_ + ", tag " + t.info.name + ": " + t.info.refusal +
                                      "; the table cannot be written");
      break;
    }
  }
  return Status::Ok();
}

Status CdxIndex::ReadTagDirectory(std::vector<std::pair<uint32_t, std::string>>* found) {
  std::array<uint8_t, cdx::kHeaderSize> bytes;
  TABLE_RETURN_IF_ERROR(pager_->ReadBytes(0, bytes.data(), bytes.size()));
  cdx::TagHeader bag;
  TABLE_RETURN_IF_ERROR(cdx::ParseTagHeader(bytes, 0, file_name_, &bag));
  if (bag.key_length == 0 || bag.key_length > cdx::kMaxKeyLength) {
    return Status::Corruption(file_name_ + ": not a compound index (tag directory key length " +
                              std::to_string(bag.key_length) + ")");
  }
  // The directory lists tags by name; creation order is the order of their headers.
  cdx::Tree directory(pager_.get(), {0, bag.key_length, 0x20, file_name_ + ", tag directory"});
  Position pos;
  TABLE_RETURN_IF_ERROR(directory.First(&pos));
  uint64_t limit = pager_->file_size() / cdx::kPageSize * 64 + 64;
  while (pos.valid()) {
    std::string_view key;
    uint32_t offset;
    TABLE_RETURN_IF_ERROR(directory.At(pos, &key, &offset));
    std::string name(key);
    name.erase(name.find_last_not_of(std::string(" \0", 2)) + 1);
    found->emplace_back(offset, name);
    if (limit-- == 0) return Status::Corruption(file_name_ + ": tag directory loops");
    TABLE_RETURN_IF_ERROR(directory.Next(&pos));
  }
  return Status::Ok();
}

Status CdxIndex::LoadTag(uint32_t offset, const std::string& name, Tag* tag) {
  if (offset % cdx::kPageSize != 0 || offset < cdx::kHeaderSize ||
      offset + static_cast<uint64_t>(cdx::kHeaderSize) > pager_->file_size()) {
    return Status::Corruption(file_name_ + ": tag " + name + " has its header outside the file");
  }
  std::array<uint8_t, cdx::kHeaderSize> bytes;
  TABLE_RETURN_IF_ERROR(pager_->ReadBytes(offset, bytes.data(), bytes.size()));
  cdx::TagHeader h;
  TABLE_RETURN_IF_ERROR(cdx::ParseTagHeader(bytes, offset, file_name_ + ", tag " + name, &h));
  tag->info.name = name;
  tag->info.key_expr = h.key_expr;
  tag->info.for_expr = h.for_expr;
  tag->info.key_length = h.key_length;
  tag->info.unique = (h.options & cdx::kOptUnique) != 0;
  tag->info.descending = h.descending;
  tag->info.options = h.options;
  tag->info.header_offset = offset;
  if (h.key_length == 0 || h.key_length > cdx::kMaxKeyLength) {
    return Status::Corruption(file_name_ + ", tag " + name + ": key length " +
                              std::to_string(h.key_length) + " out of range");
  }
  JudgeTag(tag);
  if (!h.collation.empty() && h.collation != "MACHINE" && tag->info.refusal.empty()) {
    tag->info.refusal = "collation " + h.collation + " is not reproduced";
  }
  tag->tree = std::make_unique<cdx::Tree>(
      pager_.get(), cdx::TreeInfo{offset, h.key_length, KeyFiller(tag->info.key_type),
                                  file_name_ + ", tag " + name});
  return Status::Ok();
}

void CdxIndex::JudgeTag(Tag* tag) {
  TagInfo& info = tag->info;
  constexpr uint8_t kKnown = cdx::kOptUnique | cdx::kOptFor | cdx::kOptCompact | cdx::kOptCompound;
  Status s = Expr::Compile(info.key_expr, fields_, &tag->key);
  if (!s.ok()) {
    info.refusal = s.text();
    return;
  }
  if (!info.for_expr.empty()) {
    s = Expr::Compile(info.for_expr, fields_, &tag->condition);
    if (!s.ok()) {
      info.refusal = s.text();
      return;
    }
  }
  std::vector<uint8_t> blank(RecordLength(fields_), ' ');
  BlankMemo memo;
  ExprRecord rec{blank, 0, &memo};
  ExprValue v;
  s = tag->key->Eval(rec, &v);
  if (!s.ok()) {
    info.refusal = "key expression \"" + info.key_expr + "\": " + s.text();
    return;
  }
  info.key_type = KeyTypeOf(v.kind);
  if (v.kind == ExprValue::Kind::kNil) {
    info.refusal = "key expression has no type";
    return;
  }
  if (info.options & ~kKnown) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", info.options);
    info.refusal = std::string("unknown options ") + hex;
    return;
  }
  uint32_t length = KeyLengthOf(v);
  if (length != info.key_length) {
    bool nullable = false;
    for (const IndexField& f : fields_) nullable = nullable || (f.flags & 0x02);
    info.refusal = (nullable && info.key_length == length + 1)
                       ? "key with a NULL prefix byte is not reproduced"
                       : "key length " + std::to_string(info.key_length) +
                             " differs from the expression's length " + std::to_string(length);
    return;
  }
  if (tag->condition) {
    ExprValue c;
    s = tag->condition->Eval(rec, &c);
    if (!s.ok() || c.kind != ExprValue::Kind::kLogic) {
      info.refusal = "FOR expression \"" + info.for_expr + "\" is not a logical";
    }
  }
}

Status CdxIndex::KeyOf(size_t tag_no, std::span<const uint8_t> record, uint32_t recno,
                       std::string* key, bool* included) {
  Tag& tag = tags_[tag_no];
  if (!tag.key)
    return Status::Unsupported(file_name_ + ", tag " + tag.info.name + ": " + tag.info.refusal);
  ExprRecord rec{record, recno, options_.memo};
  *included = true;
  if (tag.condition) {
    ExprValue c;
    TABLE_RETURN_IF_ERROR(tag.condition->Eval(rec, &c));
    if (c.kind != ExprValue::Kind::kLogic) {
      return Status::DataType(file_name_ + ", tag " + tag.info.name + ": FOR is not a logical");
    }
    *included = c.logic;
  }
  ExprValue v;
  TABLE_RETURN_IF_ERROR(tag.key->Eval(rec, &v));
  if (KeyTypeOf(v.kind) != tag.info.key_type) {
    return Status::DataType(file_name_ + ", tag " + tag.info.name + ": key of type " +
                            KindName(v.kind) + " in a tag of type " +
                            std::string(1, static_cast<char>(tag.info.key_type)));
  }
  TABLE_RETURN_IF_ERROR(SeekKey(tag_no, v, key));
  if (key->size() < tag.info.key_length) key->resize(tag.info.key_length, ' ');
  return Status::Ok();
}

Status CdxIndex::SeekKey(size_t tag_no, const ExprValue& v, std::string* key) const {
  const TagInfo& info = tags_[tag_no].info;
  switch (v.kind) {
    case ExprValue::Kind::kChar:
      if (info.key_type != KeyType::kChar) break;
      *key = v.str;
      if (key->size() > info.key_length) key->resize(info.key_length);
      return Status::Ok();
    case ExprValue::Kind::kNumber:
      if (info.key_type != KeyType::kNumber) break;
      *key = EncodeNumberKey(v.num);
      return Status::Ok();
    case ExprValue::Kind::kDate:
      if (info.key_type != KeyType::kDate) break;
      *key = EncodeNumberKey(v.date);
      return Status::Ok();
    case ExprValue::Kind::kTime:
      if (info.key_type != KeyType::kTime) break;
      *key = EncodeNumberKey(v.num);
      return Status::Ok();
    case ExprValue::Kind::kLogic:
      if (info.key_type != KeyType::kLogic) break;
      *key = v.logic ? "T" : "F";
      return Status::Ok();
    default:
      break;
  }
  return Status::DataType(file_name_ + ", tag " + info.name + ": a " + KindName(v.kind) +
                          " value cannot be sought in a tag of type " +
                          std::string(1, static_cast<char>(info.key_type)));
}

Status CdxIndex::CheckWritable() const {
  if (options_.read_only) return Status::Unsupported(file_name_ + ": opened read-only");
  return writable_;
}

Status CdxIndex::AppendRecords(uint32_t first_recno, const uint8_t* records, uint32_t n,
                               size_t record_length) {
  TABLE_RETURN_IF_ERROR(CheckWritable());
  if (n == 0 || tags_.empty()) return Status::Ok();
  // Every key first: an expression that fails on a record changes nothing.
  std::vector<BatchKeys> all(tags_.size());
  for (size_t t = 0; t < tags_.size(); ++t) {
    TABLE_RETURN_IF_ERROR(KeysOfBatch(t, first_recno, records, n, record_length, &all[t]));
  }
  TABLE_RETURN_IF_ERROR(BeginUpdate());
  Status status;
  if (undoable_) {
    status = AnnounceBatch(first_recno, all);
    if (!status.ok()) {
      AbortUpdate();
      return status;
    }
  }
  pager_->set_read_ahead(kReadAheadPages);
  for (size_t t = 0; t < tags_.size() && status.ok(); ++t) {
    const size_t length = tags_[t].info.key_length;
    cdx::Tree& tree = *tags_[t].tree;
    for (uint32_t i : all[t].order) {
      bool inserted;
      status = tree.Insert(std::string_view(all[t].keys).substr(size_t{i} * length, length),
                           first_recno + i, tags_[t].info.unique, &inserted);
      if (status.ok() && undoable_) status = pager_->Relieve();
      if (!status.ok()) break;
    }
    all[t] = BatchKeys();
  }
  pager_->set_read_ahead(0);
  if (!status.ok()) {
    AbortUpdate();
    return status;
  }
  return EndUpdate();
}

Status CdxIndex::KeysOfBatch(size_t t, uint32_t first_recno, const uint8_t* records, uint32_t n,
                             size_t record_length, BatchKeys* out) {
  const size_t length = tags_[t].info.key_length;
  out->keys.assign(size_t{n} * length, '\0');
  out->order.reserve(n);
  std::string key;
  for (uint32_t i = 0; i < n; ++i) {
    bool included;
    TABLE_RETURN_IF_ERROR(
        KeyOf(t, std::span<const uint8_t>(records + size_t{i} * record_length, record_length),
              first_recno + i, &key, &included));
    if (!included) continue;
    out->keys.replace(size_t{i} * length, length, key, 0, length);
    out->order.push_back(i);
  }
  // Record numbers ascend with i: ties keep the order of single appends.
  const char* base = out->keys.data();
  std::stable_sort(out->order.begin(), out->order.end(), [&](uint32_t a, uint32_t b) {
    return std::memcmp(base + size_t{a} * length, base + size_t{b} * length, length) < 0;
  });
  return Status::Ok();
}

Status CdxIndex::AnnounceBatch(uint32_t first_recno, const std::vector<BatchKeys>& all) {
  // The update writes its pages before its end: the pages its inserts will
  // change are announced first, so that their old bytes are saved together
  // and flushed once, not once per early write. An estimate: a page the walk
  // cannot read is left to the inserts, which judge it.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ranges.emplace_back(4, 8);  // the free-list head and the change counter
  for (size_t t = 0; t < tags_.size(); ++t) {
    ranges.emplace_back(tags_[t].tree->info().header_offset, 4);  // the root
    const size_t length = tags_[t].info.key_length;
    const std::vector<uint32_t>& order = all[t].order;
    std::vector<uint32_t> pages;
    tags_[t].tree->PagesToChange(
        order.size(),
        [&](size_t k, uint32_t* recno) {
          *recno = first_recno + order[k];
          return std::string_view(all[t].keys).substr(size_t{order[k]} * length, length);
        },
        &pages);
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    for (uint32_t page : pages) {
      if (ranges.back().first + ranges.back().second == page) {
        ranges.back().second += cdx::kPageSize;
        continue;
      }
      // Pages scattered over a large file: announced in slices of bounded
      // memory (a flush each).
      if (ranges.size() >= kMaxAnnouncedRanges) {
        TABLE_RETURN_IF_ERROR(pager_->Announce(ranges));
        ranges.clear();
      }
      ranges.emplace_back(page, cdx::kPageSize);
    }
  }
  return pager_->Announce(ranges);
}

}  // namespace tables
