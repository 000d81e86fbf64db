// WorkAreaImpl: positioning, record reads and writes, index upkeep and tag building.
#include "workarea_impl.h"

namespace xbase {

Status WorkAreaImpl::RefreshShared() {
  XBASE_RETURN_IF_ERROR(dbf->RefreshCount());
  if (index) {
    Status s = index->Refresh();
    if (s.ok()) s = TrustCheck();
    if (!s.ok()) DropTrust(s);
  }
  return Status::OK();
}

Status WorkAreaImpl::TrustCheck() {
  if (index->dirty()) return Status::Corruption(index_path + ": index was left half-updated by a process that stopped");
  if (index->table_count() != dbf->record_count()) {
    return Status::Corruption(index_path + ": index is stale (made for " + std::to_string(index->table_count()) +
                              " records, the table has " + std::to_string(dbf->record_count()) + ")");
  }
  return Status::OK();
}

void WorkAreaImpl::DropTrust(const Status& why) {
  index_status = why;
  if (index) {
    known_tag_defs = index->tags();
    // Reads never write. A writer leaves the file marked as being updated before its next
    // write to the table (MarkDistrustedIndex): from then on the table changes without the
    // index, and no one (this process included, on its next open) may trust it again before
    // a rebuild. An index already marked by an update that failed needs nothing more.
    if (mode != OpenMode::kReadOnly && !index->dirty()) distrusted = std::move(index);
  }
  index.reset();
  tags.clear();
  order = 0;
}

Status WorkAreaImpl::MarkDistrustedIndex() {
  if (!distrusted) return Status::OK();
  // Another writer may have moved the header on since; start from the file's own.
  Status s = distrusted->Refresh();
  if (s.ok() && distrusted->dirty()) {
    distrusted.reset();
    return Status::OK();
  }
  s = distrusted->BeginUpdate();
  if (!s.ok()) return s.WithContext("marking the untrusted index " + index_path);
  distrusted.reset();
  return Status::OK();
}

Status LockWithin(File* file, uint64_t start, uint64_t len, LockMode mode, int wait_ms) {
  using Clock = std::chrono::steady_clock;
  constexpr Clock::duration kLongestPause = std::chrono::milliseconds(50);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(wait_ms, 0));
  Clock::duration pause = std::chrono::milliseconds(1);
  for (;;) {
    Status s = file->Lock(start, len, mode);
    if (!s.IsBusy()) return s;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return s;
    std::this_thread::sleep_for(std::min(pause, deadline - now));
    pause = std::min(pause * 2, kLongestPause);
  }
}

Status WorkAreaImpl::LockRecord(uint32_t r) {
  if (!NeedsLocks() || locked.count(r)) return Status::OK();
  const int wait_ms = settings().lock_wait_ms;
  Status s = LockWithin(dbf->file(), kRecordLockBase + r, 1, LockMode::kExclusive, wait_ms);
  if (s.IsBusy()) {
    return Status::Busy("record " + std::to_string(r) + " of " + alias + " is being edited by another user (waited " +
                        std::to_string(std::max(wait_ms, 0)) + " ms for it)");
  }
  if (s.ok()) locked.insert(r);
  return s;
}

Status WorkAreaImpl::CompileTag(const TagDef& def, Tag* t) const {
  t->def = def;
  Status s = CompiledExpr::Compile(def.key_expr, dbf->fields(), alias, nullptr, &t->key, code_page);
  if (s.ok() && !def.for_expr.empty()) {
    s = CompiledExpr::Compile(def.for_expr, dbf->fields(), alias, nullptr, &t->cond, code_page);
    if (s.ok() && t->cond->type() != ValueType::kLogical) s = Status::InvalidArgument("FOR condition is not logical");
  }
  return s;
}

Status WorkAreaImpl::LoadTags() {
  tags.clear();
  if (!index) return Status::OK();
  for (const TagDef& def : index->tags()) {
    Tag t;
    Status s = CompileTag(def, &t);
    if (!s.ok())
      return Status::Corruption(index_path + ": tag " + def.name + " does not fit this table: " + s.message());
    tags.push_back(std::move(t));
  }
  return Status::OK();
}

void WorkAreaImpl::EncodeKey(const Value& v, char type, uint16_t len, std::string* out) {
  switch (type) {
    case 'N': *out = EncodeNumberKey(v.n); break;
    case 'L': *out = v.b ? "T" : "F"; break;
    default:
      out->assign(v.s, 0, std::min<size_t>(v.s.size(), len));
      out->resize(len, ' ');
      break;
  }
}

Status WorkAreaImpl::LoadRecord(uint32_t r) {
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  return dbf->ReadRecord(r, &rec);
}

Status WorkAreaImpl::ScanForward(uint32_t from) {
  const uint32_t len = dbf->record_length();
  uint32_t r = std::max<uint32_t>(from, 1);
  for (;;) {
    while (block_n != 0 && r >= block_first && r - block_first < block_n) {
      const char* data = block.data() + static_cast<size_t>(r - block_first) * len;
      if (Passes(r, data)) {
        recno = r;
        eof = false;
        rec.assign(data, len);
        return Status::OK();
      }
      ++r;
    }
    // The next block, read under the table lock (which also brings in appends by others).
    // A walk usually stops soon after GoTop, so the first block is small; the blocks
    // grow while the walk goes on.
    TableLock lk(this, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    const uint32_t count = dbf->record_count();
    if (r > count) {
      DropBlock();
      SetEof();
      return Status::OK();
    }
    block_want = block_want == 0 ? 8 : std::min(block_want * 4, kChunk);
    const uint32_t n = std::min(block_want, count - r + 1);
    XBASE_RETURN_IF_ERROR(dbf->ReadRecords(r, n, &block));
    block_first = r;
    block_n = n;
  }
}

Status WorkAreaImpl::ScanBackward(uint32_t from, bool* found) {
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  *found = false;
  std::string data;
  for (uint32_t r = std::min(from, dbf->record_count()); r >= 1; --r) {
    XBASE_RETURN_IF_ERROR(dbf->ReadRecord(r, &data));
    if (Passes(r, data.data())) {
      recno = r;
      eof = false;
      rec = std::move(data);
      *found = true;
      return Status::OK();
    }
  }
  return Status::OK();
}

Status WorkAreaImpl::SettleInTag(bool found, IndexEntry e) {
  std::string data;
  for (;;) {
    if (!found) {
      SetEof();
      return Status::OK();
    }
    if (e.recno < 1 || e.recno > dbf->record_count()) {
      Status s = Status::Corruption(index_path + ": tag " + CurTag().def.name + " points at record " +
                                    std::to_string(e.recno) + ", past the end of the table");
      DropTrust(s);
      return s;
    }
    XBASE_RETURN_IF_ERROR(dbf->ReadRecord(e.recno, &data));
    if (Passes(e.recno, data.data())) {
      recno = e.recno;
      eof = false;
      rec = std::move(data);
      cur_entry = std::move(e);
      return Status::OK();
    }
    IndexEntry next;
    Status s = index->Next(order - 1, e, &found, &next);
    if (!s.ok()) return Fail(s);
    e = std::move(next);
  }
}

Status WorkAreaImpl::GoTop() {
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  DropBlock();
  bof = false;
  if (order == 0) return ScanForward(1);
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (order == 0) return ScanForward(1);
  bool found = false;
  IndexEntry e;
  Status s = index->Seek(order - 1, "", 0, &found, &e);
  if (!s.ok()) return Fail(s);
  return SettleInTag(found, std::move(e));
}

Status WorkAreaImpl::Skip(int64_t n) {
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  if (n == 0) {
    if (!eof) return LoadRecord(recno);
    return Status::OK();
  }
  if (n > 0) {
    bof = false;
    for (int64_t i = 0; i < n && !eof; ++i) {
      if (order == 0) {
        XBASE_RETURN_IF_ERROR(ScanForward(recno + 1));
      } else {
        TableLock lk(this, false);
        XBASE_RETURN_IF_ERROR(lk.status());
        if (order == 0) return ScanForward(recno + 1);
        bool found = false;
        IndexEntry e;
        Status s = index->Next(order - 1, cur_entry, &found, &e);
        if (!s.ok()) return Fail(s);
        XBASE_RETURN_IF_ERROR(SettleInTag(found, std::move(e)));
      }
    }
    return Status::OK();
  }
  for (int64_t i = 0; i < -n; ++i) {
    bool found = false;
    if (order == 0) {
      uint32_t from = eof ? dbf->record_count() : recno - 1;
      if (from >= 1) XBASE_RETURN_IF_ERROR(ScanBackward(from, &found));
    } else {
      XBASE_RETURN_IF_ERROR(PreviousInTag(&found));
    }
    if (!found) {
      XBASE_RETURN_IF_ERROR(GoTop());
      bof = true;
      return Status::OK();
    }
  }
  return Status::OK();
}

Status WorkAreaImpl::PreviousInTag(bool* found) {
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  *found = false;
  if (order == 0) return UnusableIndex();
  IndexEntry cur = cur_entry, e;
  bool last = eof;
  std::string data;
  for (;;) {
    bool have = false;
    Status s = index->Prev(order - 1, cur.key, cur.recno, last, &have, &e);
    if (!s.ok()) return Fail(s);
    if (!have) return Status::OK();
    last = false;
    if (e.recno < 1 || e.recno > dbf->record_count()) {
      return Fail(Status::Corruption(index_path + ": tag points at record " + std::to_string(e.recno) +
                                     ", past the end of the table"));
    }
    XBASE_RETURN_IF_ERROR(dbf->ReadRecord(e.recno, &data));
    if (Passes(e.recno, data.data())) {
      recno = e.recno;
      eof = false;
      rec = std::move(data);
      cur_entry = e;
      *found = true;
      return Status::OK();
    }
    cur = e;
  }
}

Status WorkAreaImpl::GoBottom() {
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  DropBlock();
  bool found = false;
  if (order == 0) {
    XBASE_RETURN_IF_ERROR(ScanBackward(RecCount(), &found));
  } else {
    eof = true;
    XBASE_RETURN_IF_ERROR(PreviousInTag(&found));
  }
  if (!found) SetEof();
  bof = false;
  return Status::OK();
}

Status WorkAreaImpl::Go(uint32_t r) {
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  DropBlock();
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (r < 1 || r > dbf->record_count()) {
    return Status::InvalidArgument("record " + std::to_string(r) + " does not exist in " + alias + " (" +
                                   std::to_string(dbf->record_count()) + " records)");
  }
  XBASE_RETURN_IF_ERROR(dbf->ReadRecord(r, &rec));
  recno = r;
  eof = bof = false;
  if (order > 0) {
    bool in_tag;
    ComputeKey(CurTag(), rec.data(), r, &cur_entry.key, &in_tag);
    cur_entry.recno = r;
  }
  return Status::OK();
}

Status WorkAreaImpl::EnsureEditable() {
  DropBlock();
  if (mode == OpenMode::kReadOnly) return Status::InvalidArgument(alias + " is open read-only");
  if (eof || recno == 0) return Status::InvalidArgument("no current record in " + alias);
  XBASE_RETURN_IF_ERROR(LockRecord(recno));
  if (!dirty) XBASE_RETURN_IF_ERROR(LoadRecord(recno));
  return Status::OK();
}

Status WorkAreaImpl::UpdateIndex(const char* old_rec, const char* new_rec, uint32_t r) {
  if (!index) return Status::OK();
  for (size_t t = 0; t < tags.size(); ++t) {
    std::string ok, nk;
    bool oin = false, nin = false;
    if (old_rec) ComputeKey(tags[t], old_rec, r, &ok, &oin);
    ComputeKey(tags[t], new_rec, r, &nk, &nin);
    if (oin && nin && ok == nk) continue;
    if (oin) XBASE_RETURN_IF_ERROR(index->Erase(static_cast<int>(t), ok, r));
    if (nin) XBASE_RETURN_IF_ERROR(index->Insert(static_cast<int>(t), nk, r));
  }
  return Status::OK();
}

Status WorkAreaImpl::IndexUnindexed() {
  const uint32_t r = unindexed;
  unindexed = 0;
  if (r == 0 || !index) return Status::OK();
  std::string disk;
  Status s = dbf->ReadRecord(r, &disk);
  if (s.ok()) s = UpdateIndex(nullptr, disk.data(), r);
  if (!s.ok()) DropTrust(s.WithContext("index not updated"));
  return s;
}

Status WorkAreaImpl::Commit() {
  if (!dirty) {
    change_failed = false;
    appended_uncommitted = 0;
    return IndexUnindexed();
  }
  TableLock lk(this, true);
  XBASE_RETURN_IF_ERROR(lk.status());
  DropBlock();
  Status s = CommitLocked();
  change_failed = !s.ok();
  if (s.ok()) appended_uncommitted = 0;
  if (!s.ok() && index) DropTrust(s.WithContext("index not updated"));
  return s;
}

Status WorkAreaImpl::CommitLocked() {
  std::string old;
  XBASE_RETURN_IF_ERROR(dbf->ReadRecord(recno, &old));
  XBASE_RETURN_IF_ERROR(MarkDistrustedIndex());
  if (index) XBASE_RETURN_IF_ERROR(BeginIndexUpdate());
  std::string out = rec;
  for (auto& [field, text] : pending_memos) {
    const FieldRef& f = dbf->fields()[static_cast<size_t>(field)];
    uint32_t block_no = 0;
    if (!text.empty()) XBASE_RETURN_IF_ERROR(memo->Append(text, &block_no));
    std::string ptr = FormatMemoPointer(block_no, f.length);
    std::memcpy(out.data() + 1 + f.offset, ptr.data(), f.length);
  }
  Status s = dbf->WriteRecord(recno, out);
  if (!s.ok()) {
    // A write that failed may have reached the disk in part: put the old record back, so
    // the file holds either the old record or the new one. New memo blocks written above
    // are unreferenced and go at the next pack.
    dbf->WriteRecord(recno, old).IgnoreError();
    return s;
  }
  rec = std::move(out);
  pending_memos.clear();
  dirty = false;
  const bool first = unindexed != 0 && unindexed == recno;
  if (first) unindexed = 0;
  if (index) {
    XBASE_RETURN_IF_ERROR(UpdateIndex(first ? nullptr : old.data(), rec.data(), recno));
    XBASE_RETURN_IF_ERROR(EndIndexUpdate(dbf->record_count()));
    if (order > 0) {
      bool in_tag;
      ComputeKey(CurTag(), rec.data(), recno, &cur_entry.key, &in_tag);
      cur_entry.recno = recno;
    }
  }
  return Status::OK();
}

Status WorkAreaImpl::BeginBatch() {
  if (batching) return Status::InvalidArgument("a batch of writes is open already on " + alias);
  if (mode == OpenMode::kReadOnly) return Status::InvalidArgument(alias + " is open read-only");
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  auto lk = std::make_unique<TableLock>(this, true);
  XBASE_RETURN_IF_ERROR(lk->status());
  DropBlock();
  XBASE_RETURN_IF_ERROR(MarkDistrustedIndex());
  if (index) {
    // From here until EndBatch the file says it is being updated: a process that stops in
    // between leaves an index nobody trusts before a rebuild.
    Status s = index->BeginUpdate();
    if (!s.ok()) {
      DropTrust(s.WithContext("index not updated"));
      return s;
    }
    index->BeginCaching();
  }
  batch_lock = std::move(lk);
  batching = true;
  return Status::OK();
}

Status WorkAreaImpl::EndBatch() {
  if (!batching) return Status::OK();
  Status s = CommitIfDirty();
  if (Status entered = IndexUnindexed(); s.ok()) s = entered;
  batching = false;
  if (index) {
    Status ix = index->FlushCache();
    if (ix.ok()) ix = index->EndUpdate(dbf->record_count());
    index->EndCaching();
    if (!ix.ok()) {
      // The records are written; the index stays marked as half-updated, for a rebuild.
      DropTrust(ix.WithContext("index not updated"));
      if (s.ok()) s = ix;
    }
  }
  batch_lock.reset();
  return s;
}

Status WorkAreaImpl::AppendBlank() {
  if (mode == OpenMode::kReadOnly) return Status::InvalidArgument(alias + " is open read-only");
  XBASE_RETURN_IF_ERROR(CommitIfDirty());
  XBASE_RETURN_IF_ERROR(IndexUnindexed());
  TableLock lk(this, true);
  XBASE_RETURN_IF_ERROR(lk.status());
  DropBlock();
  const uint32_t r = dbf->record_count() + 1;
  if (r == 0 || r > 0x7FFFFFF0u) return Status::InvalidArgument("table is full");
  std::string blank = dbf->BlankRecord();
  Status s = MarkDistrustedIndex();
  if (s.ok() && index) s = BeginIndexUpdate();
  if (s.ok()) s = dbf->WriteRecord(r, blank);
  if (s.ok()) s = dbf->WriteCount(r);
  if (s.ok() && index && !batching) s = UpdateIndex(nullptr, blank.data(), r);
  if (s.ok() && index) s = EndIndexUpdate(r);
  if (!s.ok()) {
    // Take back the count and the bytes, so a failed append leaves no blank record behind
    // (a record past the count would be found again by the next open). The index was
    // marked as being updated; it stays untrusted until it is rebuilt.
    CutTable(r - 1);
    if (index) DropTrust(s.WithContext("index not updated"));
    return s;
  }
  if (batching) unindexed = r;
  XBASE_RETURN_IF_ERROR(LockRecord(r));
  recno = r;
  eof = bof = false;
  rec = std::move(blank);
  dirty = false;
  change_failed = false;
  appended_uncommitted = r;
  if (order > 0) {
    bool in_tag;
    ComputeKey(CurTag(), rec.data(), r, &cur_entry.key, &in_tag);
    cur_entry.recno = r;
  }
  return Status::OK();
}

// Only after another failure, which is the one told.
void WorkAreaImpl::CutTable(uint32_t count) {
  dbf->WriteCount(count).IgnoreError();
  dbf->file()
      ->Truncate(static_cast<uint64_t>(dbf->header_length()) + static_cast<uint64_t>(count) * dbf->record_length() + 1)
      .IgnoreError();
}

Status WorkAreaImpl::Discard() {
  const uint32_t appended = appended_uncommitted;
  change_failed = false;
  appended_uncommitted = 0;
  pending_memos.clear();
  const bool had_changes = dirty;
  dirty = false;
  if (appended != 0 && appended == recno && !eof) return TakeBackAppend(appended);
  if (had_changes && !eof && recno != 0) return LoadRecord(recno);
  return Status::OK();
}

Status WorkAreaImpl::TakeBackAppend(uint32_t r) {
  TableLock lk(this, true);
  XBASE_RETURN_IF_ERROR(lk.status());
  DropBlock();
  std::string disk;
  XBASE_RETURN_IF_ERROR(dbf->ReadRecord(r, &disk));
  if (r != dbf->record_count()) {
    // Someone appended after it: the record cannot go, so it is left deleted.
    rec = disk;
    rec[0] = '*';
    dirty = true;
    Status s = CommitLocked();
    if (!s.ok() && index) DropTrust(s.WithContext("index not updated"));
    return s;
  }
  // A record of this batch not entered in the index yet has no entries to take out.
  const bool entered = unindexed != r;
  if (!entered) unindexed = 0;
  Status s = MarkDistrustedIndex();
  if (s.ok() && index) s = BeginIndexUpdate();
  for (size_t t = 0; s.ok() && index && entered && t < tags.size(); ++t) {
    std::string key;
    bool in_tag = false;
    ComputeKey(tags[t], disk.data(), r, &key, &in_tag);
    if (in_tag) s = index->Erase(static_cast<int>(t), key, r);
  }
  if (s.ok()) {
    CutTable(r - 1);
    if (dbf->record_count() != r - 1) s = Status::IOError("taking back record " + std::to_string(r) + " of " + alias);
  }
  if (s.ok() && index) s = EndIndexUpdate(r - 1);
  if (!s.ok() && index) DropTrust(s.WithContext("index not updated"));
  UnlockRecord(r);
  SetEof();
  return s;
}

Status WorkAreaImpl::FieldFor(std::string_view name, int* idx) {
  std::string_view bare = name;
  auto arrow = name.find("->");
  if (arrow != std::string_view::npos) {
    if (UpperAscii(name.substr(0, arrow)) != alias) {
      return Status::InvalidArgument("field " + std::string(name) + " names another alias than " + alias);
    }
    bare = name.substr(arrow + 2);
  }
  *idx = dbf->FieldIndex(bare);
  if (*idx == DbfFile::kAmbiguousField) {
    return Status::InvalidArgument("field name " + UpperAscii(bare) + " is not unique in " + alias +
                                   "; its fields can be reached only by position");
  }
  if (*idx < 0) return Status::NotFound("no field " + std::string(bare) + " in " + alias);
  return Status::OK();
}

Status WorkAreaImpl::ReplaceText(std::string_view field, std::string_view text) {
  int idx;
  XBASE_RETURN_IF_ERROR(FieldFor(field, &idx));
  const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
  std::string bytes;
  switch (f.type) {
    case 'C':
      bytes.assign(text.substr(0, f.length));
      bytes.resize(f.length, ' ');
      break;
    case 'N':
    case 'F': {
      std::string t(RTrimPadding(text));
      while (!t.empty() && t.front() == ' ') t.erase(0, 1);
      if (t.empty()) {
        bytes.assign(f.length, ' ');
        break;
      }
      char* end = nullptr;
      double v = std::strtod(t.c_str(), &end);
      if (end == t.c_str() || *end != '\0' || !std::isfinite(v)) {
        return Status::InvalidArgument("'" + t + "' is not a number for field " + f.name);
      }
      bytes = FormatNumber(v, static_cast<int>(f.length), static_cast<int>(f.decimals));
      if (bytes.find('*') != std::string::npos) {
        return Status::InvalidArgument("value " + t + " does not fit field " + f.name + " (width " +
                                       std::to_string(f.length) + ")");
      }
      break;
    }
    case 'D':
      if (AllBlank(text)) {
        bytes.assign(8, ' ');
      } else if (ValidDate(text)) {
        bytes.assign(text);
      } else {
        return Status::InvalidArgument("'" + std::string(text) + "' is not a yyyymmdd date for field " + f.name);
      }
      break;
    case 'L': {
      char c = text.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
      if (c == 'T' || c == 'Y')
        bytes = "T";
      else if (c == 'F' || c == 'N')
        bytes = "F";
      else if (c == ' ' || c == '?')
        bytes = " ";
      else
        return Status::InvalidArgument("'" + std::string(text) + "' is not a logical value for field " + f.name);
      break;
    }
    case 'M': return ReplaceMemo(idx, text);
    default: return Status::NotSupported("field type");
  }
  XBASE_RETURN_IF_ERROR(EnsureEditable());
  return SetRaw(idx, bytes);
}

Status WorkAreaImpl::ReplaceMemo(int idx, std::string_view text) {
  const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
  if (f.type != 'M') return Status::InvalidArgument("field " + f.name + " is not a memo field");
  if (!memo) return Status::Corruption("no memo file");
  XBASE_RETURN_IF_ERROR(EnsureEditable());
  pending_memos[idx] = std::string(text);
  dirty = true;
  return Status::OK();
}

Status WorkAreaImpl::ReplaceInteger(std::string_view field, int64_t value) {
  int idx;
  XBASE_RETURN_IF_ERROR(FieldFor(field, &idx));
  const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
  std::string bytes;
  if (f.type == 'N' || f.type == 'F') {
    bytes = FormatNumber(static_cast<double>(value), static_cast<int>(f.length), static_cast<int>(f.decimals));
    if (bytes.find('*') != std::string::npos) {
      return Status::InvalidArgument("value " + std::to_string(value) + " does not fit field " + f.name + " (width " +
                                     std::to_string(f.length) + ")");
    }
  } else if (f.type == 'C') {
    std::string t = std::to_string(value);
    if (t.size() > f.length) return Status::InvalidArgument("value " + t + " does not fit field " + f.name);
    bytes = t;
    bytes.resize(f.length, ' ');
  } else {
    return Status::InvalidArgument("field " + f.name + " does not take a number");
  }
  XBASE_RETURN_IF_ERROR(EnsureEditable());
  return SetRaw(idx, bytes);
}

Status WorkAreaImpl::FieldText(std::string_view field, std::string* out) {
  int idx;
  XBASE_RETURN_IF_ERROR(FieldFor(field, &idx));
  return FieldTextAt(idx, out);
}

Status WorkAreaImpl::FieldTextAt(int idx, std::string* out) {
  if (idx < 0 || static_cast<size_t>(idx) >= dbf->fields().size())
    return Status::InvalidArgument("field " + std::to_string(idx + 1) + " does not exist in " + alias);
  const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
  if (f.type == 'M') return MemoText(idx, out);
  out->assign(rec.data() + 1 + f.offset, f.length);
  return Status::OK();
}

Status WorkAreaImpl::MemoText(int idx, std::string* out) {
  auto it = pending_memos.find(idx);
  if (it != pending_memos.end()) {
    *out = it->second;
    return Status::OK();
  }
  const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
  if (eof) {
    out->clear();
    return Status::OK();
  }
  uint32_t block = 0;
  Status s = ParseMemoPointer(std::string_view(rec.data() + 1 + f.offset, f.length), &block);
  if (!s.ok()) return s.WithContext(alias + " record " + std::to_string(recno) + " field " + f.name);
  TableLock lk(this, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  return memo->Read(block, out);
}

Status WorkAreaImpl::BuildTag(const std::string& name, std::string_view key_expr, std::string_view for_expr,
                              TagBuild* out) {
  if (name.empty() || name.size() > 10) return Status::InvalidArgument("tag name must have 1 to 10 characters");
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
      return Status::InvalidArgument("tag name " + name + " is not valid");
  }
  Tag t;
  XBASE_RETURN_IF_ERROR(CompiledExpr::Compile(key_expr, dbf->fields(), alias, nullptr, &t.key, code_page));
  if (!for_expr.empty()) {
    XBASE_RETURN_IF_ERROR(CompiledExpr::Compile(for_expr, dbf->fields(), alias, nullptr, &t.cond, code_page));
    if (t.cond->type() != ValueType::kLogical)
      return Status::InvalidArgument("FOR condition of tag " + name + " is not logical");
  }
  t.def.name = name;
  t.def.key_expr = std::string(key_expr);
  t.def.for_expr = std::string(for_expr);
  std::string blank = dbf->BlankRecord();
  Value v;
  t.key->Evaluate(RecordView{blank.data(), 0}, &v);
  switch (v.type) {
    case ValueType::kString:
      if (v.s.empty() || v.s.size() > IndexFile::kMaxKeyLength) {
        return Status::InvalidArgument("key of tag " + name + " must be 1 to 240 characters long, is " +
                                       std::to_string(v.s.size()));
      }
      t.def.key_type = 'C';
      t.def.key_len = static_cast<uint16_t>(v.s.size());
      break;
    case ValueType::kDate:
      t.def.key_type = 'D';
      t.def.key_len = 8;
      break;
    case ValueType::kNumber:
      t.def.key_type = 'N';
      t.def.key_len = 8;
      break;
    case ValueType::kLogical:
      t.def.key_type = 'L';
      t.def.key_len = 1;
      break;
  }
  out->def = t.def;
  out->entries.clear();
  const uint32_t count = dbf->record_count();
  const uint32_t len = dbf->record_length();
  out->entries.reserve(count);
  std::string buf;
  for (uint32_t r = 1; r <= count;) {
    uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(dbf->ReadRecords(r, n, &buf));
    for (uint32_t i = 0; i < n; ++i) {
      IndexEntry e;
      bool in_tag = false;
      ComputeKey(t, buf.data() + static_cast<size_t>(i) * len, r + i, &e.key, &in_tag);
      if (in_tag) {
        e.recno = r + i;
        out->entries.push_back(std::move(e));
      }
    }
    r += n;
  }
  return Status::OK();
}

Status WorkAreaImpl::ReadCodePage() {
  const char* marked = CodePageOfMark(dbf->code_page_mark());
  code_page = marked ? marked : kWindows1252;
  const std::string cpg = CpgPath(env, path);
  if (!env->FileExists(cpg)) return Status::OK();
  std::unique_ptr<File> f;
  XBASE_RETURN_IF_ERROR(env->OpenFile(cpg, OpenFlags::kReadOnly, &f));
  char buf[64];
  size_t got = 0;
  XBASE_RETURN_IF_ERROR(f->Read(0, sizeof buf, buf, &got));
  // A .cpg naming nothing known leaves the mark to say it.
  if (std::string named = CodePageOfCpg(std::string_view(buf, got)); !named.empty()) code_page = std::move(named);
  return Status::OK();
}

Status WorkAreaImpl::OpenIndex() {
  index.reset();
  tags.clear();
  known_tag_defs.clear();
  index_path = CompanionPath(env, path, "CDX");
  if (!env->FileExists(index_path)) {
    index_status = Status::NotFound(index_path + ": no index file");
    return Status::OK();
  }
  std::unique_ptr<IndexFile> ix;
  Status s = IndexFile::Open(env, index_path, mode == OpenMode::kReadOnly, &ix);
  if (!s.ok()) {
    index_status = s;
    return Status::OK();
  }
  index = std::move(ix);
  known_tag_defs = index->tags();
  s = TrustCheck();
  if (s.ok()) s = LoadTags();
  if (!s.ok()) {
    DropTrust(s);
    return Status::OK();
  }
  index_status = Status::OK();
  return Status::OK();
}

Status WorkAreaImpl::RecompileQuery() {
  if (query_text.empty()) return Status::OK();
  Status s = CompiledExpr::Compile(
      query_text, dbf->fields(), alias, [this](std::string_view n) { return ResolveTag(n); }, &query, code_page);
  if (!s.ok()) {
    query.reset();
    qbits.clear();
    query_text.clear();
  }
  return s;
}

}  // namespace xbase
