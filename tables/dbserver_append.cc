// DBServer::AppendDB: every visible record of a source table appended in one
// go, all or nothing. The source is read in physical order in chunks; target
// records are built in a buffer (raw copies where both fields have the same
// layout, value conversions otherwise), written under the header lock and
// indexed under one index update, a chunk's keys in key order. Any failure
// puts the table, its memo file and its index back as they were before the
// error is reported.
#include <algorithm>
#include <cstring>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tables/cdx_pager.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"
#include "tables/fpt_file.h"

namespace tables {
namespace {

constexpr size_t kChunkBytes = 512 << 10;

struct FieldMap {
  size_t source;
  size_t target;
  bool raw;  // same type and width: copy the bytes
};

bool IsMemoType(char t) { return t == 'M' || t == 'G' || t == 'P' || t == 'W'; }

bool Compatible(char source_rt, char target_rt) {
  if (source_rt == target_rt) return true;
  return (source_rt == 'C' && target_rt == 'M') || (source_rt == 'M' && target_rt == 'C');
}

}  // namespace

Status DBServer::DoAppendDB(DBServer& source, const AppendSpec& spec) {
  Table& src = source.table();
  Table& dst = *table_;
  TABLE_RETURN_IF_ERROR(CheckWritable());

  std::vector<FieldMap> maps;
  bool any_memo = false;
  for (size_t ti : dst.visible_fields()) {
    const FieldDesc& tf = dst.fields()[ti];
    if (!spec.fields.empty()) {
      bool wanted = false;
      for (const std::string& name : spec.fields) {
        if (DBServer::FieldPos(name) != 0 && dst.FieldIndex(name) == static_cast<int>(ti)) {
          wanted = true;
        }
      }
      if (!wanted) continue;
    }
    int si = src.FieldIndex(tf.name);
    if (si < 0) continue;
    const FieldDesc& sf = src.fields()[static_cast<size_t>(si)];
    if (!Compatible(RuntimeTypeOf(sf.type), RuntimeTypeOf(tf.type))) {
      return Status(Status::kDataType, "field " + tf.name + ": " + src.path() + " holds type " +
                                           std::string(1, sf.type) + ", " + dst.path() +
                                           " type " + std::string(1, tf.type), 0, dst.path());
    }
    bool raw = sf.type == tf.type && sf.length == tf.length && sf.decimals == tf.decimals &&
               !IsMemoType(sf.type) && !sf.nullable() && !tf.nullable() && sf.varlen_bit < 0 &&
               tf.varlen_bit < 0;
    any_memo = any_memo || IsMemoType(tf.type);
    maps.push_back({static_cast<size_t>(si), ti, raw});
  }

  const uint32_t src_len = src.record_length(), dst_len = dst.record_length();
  const std::vector<uint8_t> blank = dst.BlankRecord();
  const bool hide_deleted = rt::SetDeleted();
  const bool has_blocks = !spec.for_block.IsNil() || !spec.while_block.IsNil();

  TABLE_RETURN_IF_ERROR(src.RefreshCount());
  const uint32_t total = src.RecordCount();
  uint32_t limit = spec.next.value_or(0xFFFFFFFFu);
  // Buffers no larger than the source needs: a small source costs little.
  const uint32_t per_chunk = static_cast<uint32_t>(std::max<size_t>(
      1, std::min<size_t>({kChunkBytes / std::max(src_len, dst_len), total, limit})));
  std::vector<uint8_t> in(static_cast<size_t>(per_chunk) * src_len);
  std::vector<uint8_t> out(static_cast<size_t>(per_chunk) * dst_len);

  dst.UnlockAll();
  TABLE_RETURN_IF_ERROR(dst.BeginAppend());
  {
    Status st = BeginTx(spec.marker ? &*spec.marker : nullptr);
    const uint64_t data_end = dst.header().header_length +
                              uint64_t{dst.RecordCount()} * dst.record_length();
    if (st.ok()) st = journal_->Cover('D', 0, 32);
    if (st.ok()) st = journal_->Cover('D', data_end, UINT64_MAX - data_end);
    if (!st.ok()) {
      if (journal_->active()) journal_->Rollback();
      dst.EndAppend();
      return st;
    }
  }
  tx_ = Tx::kAppend;
  bool memo_batch = false, index_batch = false;
  // Everything written since BeginTx goes back from the journal.
  auto undo = [&](Status st) {
    if (index_batch) index_->AbortUpdate();
    Status back = AbortTx();
    if (memo_batch) dst.memo()->End();
    if (!back.ok()) {
      return Status(back.code(), st.text() + "; then " + back.text(), back.os_code(),
                    back.file());
    }
    return st;
  };
  if (any_memo && dst.memo()) {
    Status st = dst.memo()->Begin();
    if (!st.ok()) return undo(st);
    memo_batch = true;
    // Under the memo lock: the header's old bytes in the journal's first flush.
    st = journal_->Cover('M', 0, 512);
    if (!st.ok()) return undo(st);
  }
  if (index_) {
    // The journal saves every index page before it changes: pages may be
    // written before the end of the append.
    IndexStatus is = index_->BeginUpdate(true);
    if (!is.ok()) return undo(Status::FromIndex(is, index_->file_name()));
    index_batch = true;
  }

  try {
    uint32_t next = 1;
    bool stop = false;
    while (next <= total && limit > 0 && !stop) {
      uint32_t got = 0;
      Status st = src.ReadRecords(next, std::min(per_chunk, total - next + 1), in.data(), &got);
      if (!st.ok()) return undo(st);
      if (got == 0) break;
      uint32_t built = 0;
      for (uint32_t i = 0; i < got && limit > 0; ++i) {
        const uint8_t* s = in.data() + static_cast<size_t>(i) * src_len;
        if (s[0] != ' ' && s[0] != '*') {
          return undo(Status(Status::kCorruption, src.path() + ": record " +
                                                      std::to_string(next + i) +
                                                      " has a bad deletion flag", 0, src.path()));
        }
        if (hide_deleted && s[0] == '*') continue;
        if (has_blocks) {
          // The blocks see the source positioned on the record.
          source.record_.assign(s, s + src_len);
          source.recno_ = next + i;
          source.eof_ = false;
          if (!spec.while_block.IsNil() && !rt::Eval(spec.while_block).GetLogic()) {
            stop = true;
            break;
          }
          if (!spec.for_block.IsNil() && !rt::Eval(spec.for_block).GetLogic()) continue;
        }
        uint8_t* d = out.data() + static_cast<size_t>(built) * dst_len;
        std::memcpy(d, blank.data(), dst_len);
        d[0] = ' ';
        for (const FieldMap& m : maps) {
          const FieldDesc& sf = src.fields()[m.source];
          const FieldDesc& tf = dst.fields()[m.target];
          if (m.raw) {
            std::memcpy(d + tf.offset, s + sf.offset, tf.length);
            continue;
          }
          rt::Value v;
          st = FieldGetValue(src, m.source, s, &v);
          if (st.ok()) st = FieldPutValue(dst, m.target, v, d);
          if (!st.ok()) {
            return undo(Status(st.code(), st.text() + " (source record " +
                                              std::to_string(next + i) + ")", st.os_code(),
                               st.file()));
          }
        }
        ++built;
        --limit;
      }
      if (built > 0) {
        uint32_t first = 0;
        st = dst.AppendRecords(out.data(), built, false, &first);
        if (!st.ok()) return undo(st);
        if (index_) {
          IndexStatus is = index_->AppendRecords(first, out.data(), built, dst_len);
          if (!is.ok()) return undo(Status::FromIndex(is, index_->file_name()));
        }
      }
      next += got;
    }
    if (index_batch) {
      IndexStatus is = index_->EndUpdate();
      index_batch = false;
      if (!is.ok()) return undo(Status::FromIndex(is, index_->file_name()));
    }
  } catch (...) {
    undo(Status::Ok());
    throw;
  }
  // The files are flushed and their fingerprint recorded; a held append
  // keeps its journal (with the commit condition) and the header lock.
  Status st = journal_->MarkEnd(spec.marker.has_value());
  if (st.ok() && !spec.marker) st = journal_->Commit();
  if (!st.ok()) return undo(st);
  if (memo_batch) dst.memo()->End();
  if (spec.marker) {
    tx_ = Tx::kHeld;
    held_ = *spec.marker;
    return Status::Ok();
  }
  tx_ = Tx::kNone;
  dst.EndAppend();
  return Status::Ok();
}

bool DBServer::AppendDB(std::string_view source_path, const AppendSpec& spec) {
  if (!table_) return false;
  RT_ROUTINE("DBSERVER:APPENDDB", "DBServer");
  if (!FinishTx("DBSERVER:APPENDDB")) return false;
  if (tx_ == Tx::kHeld) {
    rt::RaiseError(MakeErrorInfo(Status(Status::kAppendLock, table_->path() +
                                            ": an append is held", 0, table_->path()),
                                 "DBSERVER:APPENDDB", table_->path()));
    return false;
  }
  std::unique_ptr<DBServer> source;
  Status st = TryOpen(source_path, true, true, spec.driver, table_->scheme().id(), &source);
  if (!st.ok()) {
    rt::RaiseError(MakeErrorInfo(st, "DBSERVER:APPENDDB", std::string(source_path)));
    return false;
  }
  if (!source->table().damage().empty()) {
    // A cut-off source would be copied in part: refused before anything is written.
    st = Status(Status::kCorruption, source->table().path() + ": " + source->table().damage(), 0,
                source->table().path());
  } else {
    st = DoAppendDB(*source, spec);
  }
  source->Close();
  if (!st.ok()) {
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:APPENDDB", table_->path());
    info.can_retry = false;  // the whole append reports once; the caller decides
    rt::RaiseError(info);
    GoPhantom();
    return false;
  }
  cursor_synced_ = false;
  GoPhantom();
  return true;
}

}  // namespace tables
