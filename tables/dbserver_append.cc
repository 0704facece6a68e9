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
#include "tables/cdx/cdx_pager.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"

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

// The target fields that take the source field of their name (only those
// named in wanted, when it is not empty), and whether one of them is a memo; a
// pair of types that do not convert refuses the append.
Status MapFields(const DBServer& target, const Table& src, const Table& dst,
                 const std::vector<std::string>& wanted, std::vector<FieldMap>* maps,
                 bool* any_memo) {
  for (size_t ti : dst.visible_fields()) {
    const FieldDesc& tf = dst.fields()[ti];
    if (!wanted.empty()) {
      bool named = false;
      for (const std::string& name : wanted) {
        if (target.FieldPos(name) != 0 && dst.FieldIndex(name) == static_cast<int>(ti)) {
          named = true;
        }
      }
      if (!named) continue;
    }
    int si = src.FieldIndex(tf.name);
    if (si < 0) continue;
    const FieldDesc& sf = src.fields()[static_cast<size_t>(si)];
    if (!Compatible(RuntimeTypeOf(sf.type), RuntimeTypeOf(tf.type))) {
      return Status(Status::kDataType,
                    "field " + tf.name + ": " + src.path() + " holds type " +
                        std::string(1, sf.type) + ", " + dst.path() + " type " +
                        std::string(1, tf.type),
                    0, dst.path());
    }
    bool raw = sf.type == tf.type && sf.length == tf.length && sf.decimals == tf.decimals &&
               !IsMemoType(sf.type) && !sf.nullable() && !tf.nullable() && sf.varlen_bit < 0 &&
               tf.varlen_bit < 0;
    *any_memo = *any_memo || IsMemoType(tf.type);
    maps->push_back({static_cast<size_t>(si), ti, raw});
  }
  return Status::Ok();
}

// Target record d built from source record s (number recno, for the error
// text): blank, not deleted, the mapped fields copied or converted.
Status ConvertRecord(Table& src, Table& dst, const std::vector<FieldMap>& maps,
                     const std::vector<uint8_t>& blank, const uint8_t* s, uint32_t recno,
                     uint8_t* d) {
  std::memcpy(d, blank.data(), dst.record_length());
  d[0] = ' ';
  for (const FieldMap& m : maps) {
    const FieldDesc& sf = src.fields()[m.source];
    const FieldDesc& tf = dst.fields()[m.target];
    if (m.raw) {
      std::memcpy(d + tf.offset, s + sf.offset, tf.length);
      continue;
    }
    rt::Value v;
    Status st = FieldGetValue(src, m.source, s, &v);
    if (st.ok()) st = FieldPutValue(dst, m.target, v, d);
    if (!st.ok()) {
      return Status(st.code(), st.text() + " (source record " + std::to_string(recno) + ")",
                    st.os_code(), st.file());
    }
  }
  return Status::Ok();
}

}  // namespace

// What the steps of one AppendDB share: the fields copied, the chunk buffers,
// the scope left, and which batches are open (an undo closes them).
struct DBServer::AppendRun {
  AppendRun(DBServer& from, const AppendSpec& how) : source(from), spec(how) {}

  DBServer& source;
  const AppendSpec& spec;
  std::vector<FieldMap> maps;
  bool any_memo = false;
  std::vector<uint8_t> blank;  // a target record with every field empty
  bool hide_deleted = false;
  bool has_blocks = false;
  uint32_t total = 0;  // source records
  uint32_t limit = 0;  // records the scope still takes
  uint32_t per_chunk = 0;
  std::vector<uint8_t> in, out;
  bool memo_batch = false, index_batch = false;
};

Status DBServer::DoAppendDB(DBServer& source, const AppendSpec& spec) {
  Table& src = source.table();
  Table& dst = *table_;
  TABLE_RETURN_IF_ERROR(CheckWritable());
  AppendRun run(source, spec);
  TABLE_RETURN_IF_ERROR(MapFields(*this, src, dst, spec.fields, &run.maps, &run.any_memo));

  const uint32_t src_len = src.record_length(), dst_len = dst.record_length();
  run.blank = dst.BlankRecord();
  run.hide_deleted = rt::SetDeleted();
  run.has_blocks = !spec.for_block.IsNil() || !spec.while_block.IsNil();

  TABLE_RETURN_IF_ERROR(src.RefreshCount());
  run.total = src.RecordCount();
  run.limit = spec.next.value_or(0xFFFFFFFFu);
  // Buffers no larger than the source needs: a small source costs little.
  run.per_chunk = static_cast<uint32_t>(std::max<size_t>(
      1, std::min<size_t>({kChunkBytes / std::max(src_len, dst_len), run.total, run.limit})));
  run.in.resize(static_cast<size_t>(run.per_chunk) * src_len);
  run.out.resize(static_cast<size_t>(run.per_chunk) * dst_len);

  TABLE_RETURN_IF_ERROR(StartAppendTx(spec));
  Status st = OpenAppendBatches(run);
  if (!st.ok()) return UndoAppend(run, st);
  try {
    st = AppendChunks(run);
    if (!st.ok()) return UndoAppend(run, st);
  } catch (...) {
    UndoAppend(run, Status::Ok());
    throw;
  }
  return FinishAppend(run);
}

Status DBServer::StartAppendTx(const AppendSpec& spec) {
  Table& dst = *table_;
  dst.UnlockAll();
  TABLE_RETURN_IF_ERROR(dst.BeginAppend());
  Status st = BeginTx(spec.marker ? &*spec.marker : nullptr);
  const uint64_t data_end =
      dst.header().header_length + uint64_t{dst.RecordCount()} * dst.record_length();
  if (st.ok()) st = journal_->Cover('D', 0, 32);
  if (st.ok()) st = journal_->Cover('D', data_end, UINT64_MAX - data_end);
  if (!st.ok()) {
    if (journal_->active()) journal_->Rollback();
    dst.EndAppend();
    return st;
  }
  tx_ = Tx::kAppend;
  return Status::Ok();
}

Status DBServer::OpenAppendBatches(AppendRun& run) {
  Table& dst = *table_;
  if (run.any_memo && dst.memo()) {
    TABLE_RETURN_IF_ERROR(dst.memo()->Begin());
    run.memo_batch = true;
    // Under the memo lock: the header's old bytes in the journal's first flush.
    TABLE_RETURN_IF_ERROR(journal_->Cover('M', 0, 512));
  }
  if (index_) {
    // The journal saves every index page before it changes: pages may be
    // written before the end of the append.
    Status is = index_->BeginUpdate(true);
    if (!is.ok()) return is.WithFile(index_->file_name());
    run.index_batch = true;
  }
  return Status::Ok();
}

Status DBServer::AppendChunks(AppendRun& run) {
  Table& src = run.source.table();
  Table& dst = *table_;
  uint32_t next = 1;
  bool stop = false;
  while (next <= run.total && run.limit > 0 && !stop) {
    uint32_t got = 0;
    TABLE_RETURN_IF_ERROR(
        src.ReadRecords(next, std::min(run.per_chunk, run.total - next + 1), run.in.data(), &got));
    if (got == 0) break;
    uint32_t built = 0;
    TABLE_RETURN_IF_ERROR(BuildChunk(run, next, got, &built, &stop));
    if (built > 0) {
      uint32_t first = 0;
      TABLE_RETURN_IF_ERROR(dst.AppendRecords(run.out.data(), built, false, &first));
      if (index_) {
        Status is = index_->AppendRecords(first, run.out.data(), built, dst.record_length());
        if (!is.ok()) return is.WithFile(index_->file_name());
      }
    }
    next += got;
  }
  if (run.index_batch) {
    Status is = index_->EndUpdate();
    run.index_batch = false;
    if (!is.ok()) return is.WithFile(index_->file_name());
  }
  return Status::Ok();
}

Status DBServer::BuildChunk(AppendRun& run, uint32_t next, uint32_t got, uint32_t* built,
                            bool* stop) {
  Table& src = run.source.table();
  Table& dst = *table_;
  const uint32_t src_len = src.record_length(), dst_len = dst.record_length();
  for (uint32_t i = 0; i < got && run.limit > 0; ++i) {
    const uint8_t* s = run.in.data() + static_cast<size_t>(i) * src_len;
    if (s[0] != ' ' && s[0] != '*') {
      return Status(
          Status::kCorruption,
          src.path() + ": record " + std::to_string(next + i) + " has a bad deletion flag", 0,
          src.path());
    }
    if (run.hide_deleted && s[0] == '*') continue;
    if (run.has_blocks) {
      // The blocks see the source positioned on the record.
      run.source.record_.assign(s, s + src_len);
      run.source.recno_ = next + i;
      run.source.eof_ = false;
      if (!run.spec.while_block.IsNil() && !rt::Eval(run.spec.while_block).GetLogic()) {
        *stop = true;
        break;
      }
      if (!run.spec.for_block.IsNil() && !rt::Eval(run.spec.for_block).GetLogic()) continue;
    }
    uint8_t* d = run.out.data() + static_cast<size_t>(*built) * dst_len;
    TABLE_RETURN_IF_ERROR(ConvertRecord(src, dst, run.maps, run.blank, s, next + i, d));
    ++*built;
    --run.limit;
  }
  return Status::Ok();
}

Status DBServer::UndoAppend(AppendRun& run, Status st) {
  if (run.index_batch) index_->AbortUpdate();
  Status back = AbortTx();
  if (run.memo_batch) table_->memo()->End();
  if (!back.ok()) {
    return Status(back.code(), st.text() + "; then " + back.text(), back.os_code(), back.file());
  }
  return st;
}

Status DBServer::FinishAppend(AppendRun& run) {
  const AppendSpec& spec = run.spec;
  Status st = journal_->MarkEnd(spec.marker.has_value());
  if (st.ok() && !spec.marker) st = journal_->Commit();
  if (!st.ok()) return UndoAppend(run, st);
  if (run.memo_batch) table_->memo()->End();
  if (spec.marker) {
    tx_ = Tx::kHeld;
    held_ = *spec.marker;
    return Status::Ok();
  }
  tx_ = Tx::kNone;
  table_->EndAppend();
  return Status::Ok();
}

bool DBServer::AppendDB(std::string_view source_path, const AppendSpec& spec) {
  if (!table_) return false;
  RT_ROUTINE("DBSERVER:APPENDDB", "DBServer");
  if (!FinishTx("DBSERVER:APPENDDB")) return false;
  if (tx_ == Tx::kHeld) {
    rt::RaiseError(MakeErrorInfo(
        Status(Status::kAppendLock, table_->path() + ": an append is held", 0, table_->path()),
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
