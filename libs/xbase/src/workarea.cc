#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <thread>

#include "coding.h"
#include "dbf.h"
#include "index.h"
#include "xbase/engine.h"

namespace xbase {

namespace {

// Lock bytes far past any real data, on the table file. Locks are advisory, so
// they never stop reads by tools that do not lock.
constexpr uint64_t kOpenLock = uint64_t{1} << 40;               // shared by every user; exclusive for sole use
constexpr uint64_t kTableLock = (uint64_t{1} << 40) + 1;        // readers shared, a writer exclusive
constexpr uint64_t kRecordLockBase = (uint64_t{1} << 40) + 16;  // one byte per record number
constexpr uint32_t kChunk = 512;                                // records per bulk read

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string_view RTrim(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

bool ValidDate(std::string_view d) {
  if (d.size() != 8) return false;
  for (char c : d) {
    if (c < '0' || c > '9') return false;
  }
  int y = std::stoi(std::string(d.substr(0, 4)));
  int m = std::stoi(std::string(d.substr(4, 2)));
  int day = std::stoi(std::string(d.substr(6, 2)));
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || day < 1) return false;
  int max = kDays[m - 1] + (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0) ? 1 : 0);
  return day <= max;
}

bool AllBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

// Numeric keys are stored as 8 bytes whose byte order is the numeric order.
std::string EncodeNumberKey(double v) {
  if (v == 0) v = 0;  // -0 sorts as 0
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits = (bits & (uint64_t{1} << 63)) ? ~bits : bits | (uint64_t{1} << 63);
  std::string k(8, '\0');
  for (int i = 0; i < 8; ++i) k[static_cast<size_t>(i)] = static_cast<char>((bits >> (56 - 8 * i)) & 0xff);
  return k;
}

double DecodeNumberKey(std::string_view k) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(k[static_cast<size_t>(i)]);
  bits = (bits & (uint64_t{1} << 63)) ? bits & ~(uint64_t{1} << 63) : ~bits;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

class WorkAreaImpl {
 public:
  struct Tag {
    TagDef def;
    std::unique_ptr<CompiledExpr> key;
    std::unique_ptr<CompiledExpr> cond;  // null when the tag has no FOR condition
  };

  Engine* engine = nullptr;
  Env* env = nullptr;
  int number = 0;
  std::string alias, path, memo_path, index_path;
  OpenMode mode = OpenMode::kShared;
  std::unique_ptr<DbfFile> dbf;
  std::unique_ptr<MemoFile> memo;
  std::unique_ptr<IndexFile> index;
  Status index_status = Status::NotFound("no index");
  std::vector<TagDef> known_tag_defs;  // from a readable header, even when the index is not trusted
  std::vector<Tag> tags;
  int order = 0;

  uint32_t recno = 0;  // 0 with eof_ set: past the end
  bool eof = true, bof = false;
  std::string rec;
  bool dirty = false;
  std::map<int, std::string> pending_memos;
  std::set<uint32_t> locked;
  IndexEntry cur_entry;

  std::string query_text;
  std::unique_ptr<CompiledExpr> query;
  std::vector<uint8_t> qbits;

  int lock_depth = 0;
  bool lock_exclusive = false;

  const EngineSettings& settings() const { return engine->settings(); }
  bool NeedsLocks() const { return mode != OpenMode::kExclusive; }

  // ---------- locking ----------
  class TableLock {
   public:
    TableLock(WorkAreaImpl* w, bool exclusive) : w_(w) {
      if (!w->NeedsLocks()) return;
      if (w->lock_depth > 0) {
        if (exclusive && !w->lock_exclusive) {
          status_ = Status::InvalidArgument("internal: write lock requested inside a read lock");
          return;
        }
        ++w->lock_depth;
        taken_ = true;
        return;
      }
      status_ = w->dbf->file()->Lock(kTableLock, 1, exclusive ? LockMode::kExclusive : LockMode::kShared, true);
      if (!status_.ok()) return;
      taken_ = true;
      w->lock_depth = 1;
      w->lock_exclusive = exclusive;
      status_ = w->RefreshShared();
    }
    ~TableLock() {
      if (!taken_) return;
      if (--w_->lock_depth == 0) w_->dbf->file()->Unlock(kTableLock, 1);
    }
    const Status& status() const { return status_; }

   private:
    WorkAreaImpl* w_;
    bool taken_ = false;
    Status status_;
  };

  // Another user may have appended or rewritten: re-read the count and the index header.
  Status RefreshShared() {
    XBASE_RETURN_IF_ERROR(dbf->RefreshCount());
    if (index) {
      Status s = index->Refresh();
      if (s.ok()) s = TrustCheck();
      if (!s.ok()) DropTrust(s);
    }
    return Status::OK();
  }

  Status TrustCheck() {
    if (index->dirty())
      return Status::Corruption(index_path + ": index was left half-updated by a process that stopped");
    if (index->table_count() != dbf->record_count()) {
      return Status::Corruption(index_path + ": index is stale (made for " + std::to_string(index->table_count()) +
                                " records, the table has " + std::to_string(dbf->record_count()) + ")");
    }
    return Status::OK();
  }

  void DropTrust(const Status& why) {
    index_status = why;
    // Writes from here on reach the table without the index: leave the file marked as being
    // updated, so no one (this process included, on its next open) trusts it again before a
    // rebuild. When even that write fails, the index was already left marked by the update
    // that failed.
    if (index) index->BeginUpdate();
    if (index) known_tag_defs = index->tags();
    index.reset();
    tags.clear();
    order = 0;
  }

  Status LockRecord(uint32_t r) {
    if (!NeedsLocks() || locked.count(r)) return Status::OK();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings().lock_wait_ms);
    for (;;) {
      Status s = dbf->file()->Lock(kRecordLockBase + r, 1, LockMode::kExclusive, false);
      if (s.ok()) {
        locked.insert(r);
        return s;
      }
      if (!s.IsBusy()) return s;
      if (std::chrono::steady_clock::now() >= deadline) {
        return Status::Busy("record " + std::to_string(r) + " of " + alias + " is being edited by another user");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  void UnlockRecord(uint32_t r) {
    if (locked.erase(r) && NeedsLocks()) dbf->file()->Unlock(kRecordLockBase + r, 1);
  }

  // ---------- tags ----------
  Status LoadTags() {
    tags.clear();
    if (!index) return Status::OK();
    for (const TagDef& def : index->tags()) {
      Tag t;
      t.def = def;
      Status s = CompiledExpr::Compile(def.key_expr, dbf->fields(), alias, nullptr, &t.key);
      if (s.ok() && !def.for_expr.empty()) {
        s = CompiledExpr::Compile(def.for_expr, dbf->fields(), alias, nullptr, &t.cond);
        if (s.ok() && t.cond->type() != ValueType::kLogical)
          s = Status::InvalidArgument("FOR condition is not logical");
      }
      if (!s.ok())
        return Status::Corruption(index_path + ": tag " + def.name + " does not fit this table: " + s.message());
      tags.push_back(std::move(t));
    }
    return Status::OK();
  }

  const CompiledExpr* ResolveTag(std::string_view name) const {
    for (const Tag& t : tags) {
      if (t.def.name == UpperAscii(name)) return t.key.get();
    }
    return nullptr;
  }

  static Status EncodeKey(const Value& v, char type, uint16_t len, std::string* out) {
    switch (type) {
      case 'N': *out = EncodeNumberKey(v.n); break;
      case 'L': *out = v.b ? "T" : "F"; break;
      default:
        out->assign(v.s, 0, std::min<size_t>(v.s.size(), len));
        out->resize(len, ' ');
        break;
    }
    return Status::OK();
  }

  void ComputeKey(const Tag& t, const char* data, uint32_t r, std::string* key, bool* in_tag) const {
    RecordView view{data, r};
    Value v;
    t.key->Evaluate(view, &v);
    EncodeKey(v, t.def.key_type, t.def.key_len, key);
    *in_tag = !t.cond || t.cond->EvaluateLogical(view);
  }

  // ---------- records ----------
  bool Passes(uint32_t r, const char* data) const {
    if (settings().hide_deleted && data[0] == '*') return false;
    if (query) {
      if (r < qbits.size()) return qbits[r] != 0;
      return query->EvaluateLogical(RecordView{data, r});
    }
    return true;
  }

  void SetEof() {
    recno = 0;
    eof = true;
    rec = dbf->BlankRecord();
  }

  Status LoadRecord(uint32_t r) {
    TableLock lk(this, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    return dbf->ReadRecord(r, &rec);
  }

  // Positions on the first passing record at or after `from` (natural order).
  Status ScanForward(uint32_t from) {
    TableLock lk(this, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    const uint32_t count = dbf->record_count();
    const uint32_t len = dbf->record_length();
    std::string buf;
    // Usually the very next record passes: read one, then widen the reads while
    // hidden records are being passed over.
    uint32_t want = 1;
    for (uint32_t r = std::max<uint32_t>(from, 1); r <= count;) {
      uint32_t n = std::min(want, count - r + 1);
      want = std::min(want * 8, kChunk);
      XBASE_RETURN_IF_ERROR(dbf->ReadRecords(r, n, &buf));
      for (uint32_t i = 0; i < n; ++i) {
        const char* data = buf.data() + static_cast<size_t>(i) * len;
        if (Passes(r + i, data)) {
          recno = r + i;
          eof = false;
          rec.assign(data, len);
          return Status::OK();
        }
      }
      r += n;
    }
    SetEof();
    return Status::OK();
  }

  Status ScanBackward(uint32_t from, bool* found) {
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

  Tag& CurTag() { return tags[static_cast<size_t>(order - 1)]; }

  // Tag order: from entry e (found), moves to the first passing entry at or after it.
  Status SettleInTag(bool found, IndexEntry e) {
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

  Status Fail(const Status& s) {
    if (s.IsCorruption()) DropTrust(s);
    return s;
  }

  Status CommitIfDirty() { return dirty ? Commit() : Status::OK(); }

  // ---------- moves ----------
  Status GoTop() {
    XBASE_RETURN_IF_ERROR(CommitIfDirty());
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

  Status Skip(int64_t n) {
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

  // Tag order: moves to the last passing entry before the current one (before
  // the end when at eof).
  Status PreviousInTag(bool* found) {
    TableLock lk(this, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    *found = false;
    if (order == 0) return index_status;
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

  Status GoBottom() {
    XBASE_RETURN_IF_ERROR(CommitIfDirty());
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

  Status Go(uint32_t r) {
    XBASE_RETURN_IF_ERROR(CommitIfDirty());
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

  uint32_t RecCount() {
    TableLock lk(this, false);
    return dbf->record_count();
  }

  // ---------- writing ----------
  Status EnsureEditable() {
    if (mode == OpenMode::kReadOnly) return Status::InvalidArgument(alias + " is open read-only");
    if (eof || recno == 0) return Status::InvalidArgument("no current record in " + alias);
    XBASE_RETURN_IF_ERROR(LockRecord(recno));
    if (!dirty) XBASE_RETURN_IF_ERROR(LoadRecord(recno));
    return Status::OK();
  }

  Status UpdateIndex(const char* old_rec, const char* new_rec, uint32_t r) {
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

  Status Commit() {
    if (!dirty) return Status::OK();
    TableLock lk(this, true);
    XBASE_RETURN_IF_ERROR(lk.status());
    Status s = CommitLocked();
    if (!s.ok() && index) DropTrust(s.WithContext("index not updated"));
    return s;
  }

  Status CommitLocked() {
    std::string old;
    XBASE_RETURN_IF_ERROR(dbf->ReadRecord(recno, &old));
    if (index) XBASE_RETURN_IF_ERROR(index->BeginUpdate());
    for (auto& [field, text] : pending_memos) {
      const FieldRef& f = dbf->fields()[static_cast<size_t>(field)];
      uint32_t block = 0;
      if (!text.empty()) XBASE_RETURN_IF_ERROR(memo->Append(text, &block));
      std::string ptr = FormatMemoPointer(block, f.length);
      std::memcpy(rec.data() + 1 + f.offset, ptr.data(), f.length);
    }
    XBASE_RETURN_IF_ERROR(dbf->WriteRecord(recno, rec));
    pending_memos.clear();
    dirty = false;
    if (index) {
      XBASE_RETURN_IF_ERROR(UpdateIndex(old.data(), rec.data(), recno));
      XBASE_RETURN_IF_ERROR(index->EndUpdate(dbf->record_count()));
      if (order > 0) {
        bool in_tag;
        ComputeKey(CurTag(), rec.data(), recno, &cur_entry.key, &in_tag);
        cur_entry.recno = recno;
      }
    }
    return Status::OK();
  }

  Status AppendBlank() {
    if (mode == OpenMode::kReadOnly) return Status::InvalidArgument(alias + " is open read-only");
    XBASE_RETURN_IF_ERROR(CommitIfDirty());
    TableLock lk(this, true);
    XBASE_RETURN_IF_ERROR(lk.status());
    const uint32_t r = dbf->record_count() + 1;
    if (r == 0 || r > 0x7FFFFFF0u) return Status::InvalidArgument("table is full");
    std::string blank = dbf->BlankRecord();
    Status s;
    if (index) s = index->BeginUpdate();
    if (s.ok()) s = dbf->WriteRecord(r, blank);
    if (s.ok()) s = dbf->WriteCount(r);
    if (s.ok() && index) s = UpdateIndex(nullptr, blank.data(), r);
    if (s.ok() && index) s = index->EndUpdate(r);
    if (!s.ok()) {
      // Take back the count, so a failed append leaves no blank record behind. The index was
      // marked as being updated; it stays untrusted until it is rebuilt.
      if (dbf->record_count() >= r) dbf->WriteCount(r - 1);
      if (index) DropTrust(s.WithContext("index not updated"));
      return s;
    }
    XBASE_RETURN_IF_ERROR(LockRecord(r));
    recno = r;
    eof = bof = false;
    rec = std::move(blank);
    if (order > 0) {
      bool in_tag;
      ComputeKey(CurTag(), rec.data(), r, &cur_entry.key, &in_tag);
      cur_entry.recno = r;
    }
    return Status::OK();
  }

  Status FieldFor(std::string_view name, int* idx) {
    std::string_view bare = name;
    auto arrow = name.find("->");
    if (arrow != std::string_view::npos) {
      if (UpperAscii(name.substr(0, arrow)) != alias) {
        return Status::InvalidArgument("field " + std::string(name) + " names another alias than " + alias);
      }
      bare = name.substr(arrow + 2);
    }
    *idx = dbf->FieldIndex(bare);
    if (*idx < 0) return Status::NotFound("no field " + std::string(bare) + " in " + alias);
    return Status::OK();
  }

  Status SetRaw(int idx, std::string_view bytes) {
    const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
    std::memcpy(rec.data() + 1 + f.offset, bytes.data(), f.length);
    dirty = true;
    return Status::OK();
  }

  Status ReplaceText(std::string_view field, std::string_view text) {
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
        std::string t(RTrim(text));
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

  Status ReplaceMemo(int idx, std::string_view text) {
    const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
    if (f.type != 'M') return Status::InvalidArgument("field " + f.name + " is not a memo field");
    if (!memo) return Status::Corruption("no memo file");
    XBASE_RETURN_IF_ERROR(EnsureEditable());
    pending_memos[idx] = std::string(text);
    dirty = true;
    return Status::OK();
  }

  Status ReplaceInteger(std::string_view field, int64_t value) {
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

  Status FieldText(std::string_view field, std::string* out) {
    int idx;
    XBASE_RETURN_IF_ERROR(FieldFor(field, &idx));
    const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
    if (f.type == 'M') return MemoText(idx, out);
    out->assign(rec.data() + 1 + f.offset, f.length);
    return Status::OK();
  }

  Status MemoText(int idx, std::string* out) {
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

  // ---------- building ----------
  Status BuildTag(const std::string& name, std::string_view key_expr, std::string_view for_expr, TagBuild* out) {
    if (name.empty() || name.size() > 10) return Status::InvalidArgument("tag name must have 1 to 10 characters");
    for (char c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
        return Status::InvalidArgument("tag name " + name + " is not valid");
    }
    Tag t;
    XBASE_RETURN_IF_ERROR(CompiledExpr::Compile(key_expr, dbf->fields(), alias, nullptr, &t.key));
    if (!for_expr.empty()) {
      XBASE_RETURN_IF_ERROR(CompiledExpr::Compile(for_expr, dbf->fields(), alias, nullptr, &t.cond));
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

  Status OpenIndex() {
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

  Status RecompileQuery() {
    if (query_text.empty()) return Status::OK();
    Status s = CompiledExpr::Compile(
        query_text, dbf->fields(), alias, [this](std::string_view n) { return ResolveTag(n); }, &query);
    if (!s.ok()) {
      query.reset();
      qbits.clear();
      query_text.clear();
    }
    return s;
  }
};

// ================= WorkArea =================

WorkArea::WorkArea(std::unique_ptr<WorkAreaImpl> impl) : impl_(std::move(impl)) {}
WorkArea::~WorkArea() = default;
const std::string& WorkArea::alias() const { return impl_->alias; }
const std::string& WorkArea::path() const { return impl_->path; }
OpenMode WorkArea::mode() const { return impl_->mode; }
int WorkArea::number() const { return impl_->number; }

std::vector<FieldDef> WorkArea::Fields() const { return impl_->dbf->specs(); }

int WorkArea::FieldIndex(std::string_view name) const {
  int idx = -1;
  return impl_->FieldFor(name, &idx).ok() ? idx : -1;
}

Status WorkArea::IndexStatus() const { return impl_->index_status; }

std::vector<TagInfo> WorkArea::Tags() const {
  std::vector<TagInfo> r;
  for (const auto& t : impl_->tags) r.push_back(TagInfo{t.def.name, t.def.key_expr, t.def.for_expr});
  return r;
}

int WorkArea::TagArea(std::string_view tag) const {
  std::string u = UpperAscii(tag);
  for (size_t i = 0; i < impl_->tags.size(); ++i) {
    if (impl_->tags[i].def.name == u) return static_cast<int>(i) + 1;
  }
  return 0;
}

Status WorkArea::SetOrder(int order) {
  if (order < 0 || order > static_cast<int>(impl_->tags.size())) {
    if (!impl_->index_status.ok()) return impl_->index_status;
    return Status::InvalidArgument("order " + std::to_string(order) + " does not exist");
  }
  XBASE_RETURN_IF_ERROR(impl_->CommitIfDirty());
  impl_->order = order;
  if (order > 0 && !impl_->eof) {
    bool in_tag;
    impl_->ComputeKey(impl_->CurTag(), impl_->rec.data(), impl_->recno, &impl_->cur_entry.key, &in_tag);
    impl_->cur_entry.recno = impl_->recno;
  }
  return Status::OK();
}

int WorkArea::Order() const { return impl_->order; }

Status WorkArea::KeyValue(std::string_view tag, Value* out) {
  int t = TagArea(tag);
  if (t == 0) {
    if (!impl_->index_status.ok()) return impl_->index_status;
    return Status::NotFound("no tag " + std::string(tag) + " in " + impl_->alias);
  }
  impl_->tags[static_cast<size_t>(t - 1)].key->Evaluate(RecordView{impl_->rec.data(), impl_->recno}, out);
  return Status::OK();
}

Status WorkArea::ScanTag(std::string_view tag, const std::function<Status(uint32_t, const Value&)>& visit) {
  WorkAreaImpl& w = *impl_;
  int t = TagArea(tag);
  if (t == 0) {
    if (!w.index_status.ok()) return w.index_status;
    return Status::NotFound("no tag " + std::string(tag) + " in " + w.alias);
  }
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (!w.index) return w.index_status;
  const char type = w.tags[static_cast<size_t>(t - 1)].def.key_type;
  Value v;
  Status s = w.index->Scan(t - 1, [&](const IndexEntry& e) -> Status {
    switch (type) {
      case 'N':
        v.type = ValueType::kNumber;
        v.n = DecodeNumberKey(e.key);
        break;
      case 'L':
        v.type = ValueType::kLogical;
        v.b = e.key == "T";
        break;
      case 'D':
        v.type = ValueType::kDate;
        v.s = e.key;
        break;
      default:
        v.type = ValueType::kString;
        v.s = e.key;
        break;
    }
    return visit(e.recno, v);
  });
  return s.IsCorruption() ? w.Fail(s) : s;
}

Status WorkArea::GoTop() { return impl_->GoTop(); }
Status WorkArea::GoBottom() { return impl_->GoBottom(); }
Status WorkArea::Go(uint32_t recno) { return impl_->Go(recno); }
Status WorkArea::Skip(int64_t n) { return impl_->Skip(n); }
bool WorkArea::Eof() const { return impl_->eof; }
bool WorkArea::Bof() const { return impl_->bof; }
uint32_t WorkArea::RecNo() const { return impl_->eof ? impl_->dbf->record_count() + 1 : impl_->recno; }
uint32_t WorkArea::RecCount() { return impl_->RecCount(); }

Status WorkArea::Seek(std::string_view key, bool* found_out) {
  WorkAreaImpl& w = *impl_;
  bool dummy;
  bool& found_key = found_out ? *found_out : dummy;
  found_key = false;
  if (w.order == 0) return Status::InvalidArgument("seek needs an index order on " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (w.order == 0) return w.index_status;
  const TagDef& def = w.CurTag().def;
  std::string k;
  switch (def.key_type) {
    case 'N': k = EncodeNumberKey(ParseLeadingNumber(key)); break;
    case 'L': {
      char c = key.empty() ? 'F' : static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
      k = (c == 'T' || c == 'Y') ? "T" : "F";
      break;
    }
    default: k = std::string(key.substr(0, def.key_len)); break;
  }
  bool found = false;
  IndexEntry e;
  Status s = w.index->Seek(w.order - 1, k, 0, &found, &e);
  if (!s.ok()) return w.Fail(s);
  XBASE_RETURN_IF_ERROR(w.SettleInTag(found, std::move(e)));
  if (!w.eof) found_key = w.cur_entry.key.compare(0, k.size(), k) == 0;
  w.bof = false;
  if (!found_key && !w.engine->settings().soft_seek) w.SetEof();
  return Status::OK();
}

Status WorkArea::Query(std::string_view expr) {
  WorkAreaImpl& w = *impl_;
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  if (expr.find_first_not_of(' ') == std::string_view::npos) {
    w.query.reset();
    w.qbits.clear();
    w.query_text.clear();
    return w.GoTop();
  }
  std::unique_ptr<CompiledExpr> q;
  XBASE_RETURN_IF_ERROR(CompiledExpr::Compile(
      expr, w.dbf->fields(), w.alias, [&w](std::string_view n) { return w.ResolveTag(n); }, &q));
  if (q->type() != ValueType::kLogical)
    return Status::InvalidArgument("query expression is not logical: " + std::string(expr));
  {
    WorkAreaImpl::TableLock lk(&w, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    const uint32_t count = w.dbf->record_count();
    const uint32_t len = w.dbf->record_length();
    std::vector<uint8_t> bits(static_cast<size_t>(count) + 1, 0);
    std::string buf;
    for (uint32_t r = 1; r <= count;) {
      uint32_t n = std::min(kChunk * 8, count - r + 1);
      XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
      for (uint32_t i = 0; i < n; ++i) {
        bits[r + i] = q->EvaluateLogical(RecordView{buf.data() + static_cast<size_t>(i) * len, r + i}) ? 1 : 0;
      }
      r += n;
    }
    w.qbits = std::move(bits);
    w.query = std::move(q);
    w.query_text = std::string(expr);
  }
  return w.GoTop();
}

bool WorkArea::HasQuery() const { return impl_->query != nullptr; }

uint32_t WorkArea::QueryRecCount() {
  WorkAreaImpl& w = *impl_;
  WorkAreaImpl::TableLock lk(&w, false);
  if (!lk.status().ok()) return 0;
  const uint32_t count = w.dbf->record_count();
  const uint32_t len = w.dbf->record_length();
  uint32_t n = 0;
  std::string buf;
  for (uint32_t r = 1; r <= count;) {
    uint32_t c = std::min(kChunk * 8, count - r + 1);
    if (!w.dbf->ReadRecords(r, c, &buf).ok()) return n;
    for (uint32_t i = 0; i < c; ++i) {
      if (w.Passes(r + i, buf.data() + static_cast<size_t>(i) * len)) ++n;
    }
    r += c;
  }
  return n;
}

Status WorkArea::SetQueryBit(uint32_t recno, bool pass) {
  WorkAreaImpl& w = *impl_;
  if (!w.query) return Status::InvalidArgument("no query is set on " + w.alias);
  if (recno < 1 || recno > w.dbf->record_count())
    return Status::InvalidArgument("record " + std::to_string(recno) + " does not exist");
  if (recno >= w.qbits.size()) {
    // Records appended after the query was set: fix their result now.
    std::string data;
    size_t old = w.qbits.size();
    w.qbits.resize(static_cast<size_t>(recno) + 1, 0);
    WorkAreaImpl::TableLock lk(&w, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    for (uint32_t r = static_cast<uint32_t>(std::max<size_t>(old, 1)); r < recno; ++r) {
      XBASE_RETURN_IF_ERROR(w.dbf->ReadRecord(r, &data));
      w.qbits[r] = w.query->EvaluateLogical(RecordView{data.data(), r}) ? 1 : 0;
    }
  }
  w.qbits[recno] = pass ? 1 : 0;
  return Status::OK();
}

Status WorkArea::GetString(std::string_view field, std::string* out) { return impl_->FieldText(field, out); }

Status WorkArea::GetTrimString(std::string_view field, std::string* out) {
  XBASE_RETURN_IF_ERROR(impl_->FieldText(field, out));
  out->resize(RTrim(*out).size());
  return Status::OK();
}

Status WorkArea::GetMemo(std::string_view field, std::string* out) {
  int idx;
  XBASE_RETURN_IF_ERROR(impl_->FieldFor(field, &idx));
  if (impl_->dbf->fields()[static_cast<size_t>(idx)].type == 'M') return impl_->MemoText(idx, out);
  return impl_->FieldText(field, out);
}

Status WorkArea::GetDateString(std::string_view field, std::string* out) {
  int idx;
  XBASE_RETURN_IF_ERROR(impl_->FieldFor(field, &idx));
  const FieldRef& f = impl_->dbf->fields()[static_cast<size_t>(idx)];
  if (f.type != 'D') return Status::InvalidArgument("field " + f.name + " is not a date field");
  std::string raw(impl_->rec.data() + 1 + f.offset, 8);
  if (AllBlank(raw)) {
    out->clear();
    return Status::OK();
  }
  if (!ValidDate(raw))
    return Status::Corruption("record " + std::to_string(impl_->recno) + " holds '" + raw + "' in date field " +
                              f.name);
  *out = raw.substr(4, 2) + "/" + raw.substr(6, 2) + "/" +
         (impl_->engine->settings().century ? raw.substr(0, 4) : raw.substr(2, 2));
  return Status::OK();
}

Status WorkArea::GetNumber(std::string_view field, double* out) {
  std::string t;
  int idx;
  XBASE_RETURN_IF_ERROR(impl_->FieldFor(field, &idx));
  const FieldRef& f = impl_->dbf->fields()[static_cast<size_t>(idx)];
  if (f.type == 'M') return Status::InvalidArgument("field " + f.name + " is a memo field");
  XBASE_RETURN_IF_ERROR(impl_->FieldText(field, &t));
  if (f.type == 'L') {
    *out = (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y') ? 1 : 0;
  } else {
    *out = ParseLeadingNumber(t);
  }
  return Status::OK();
}

Status WorkArea::GetInteger(std::string_view field, int64_t* out) {
  double d = 0;
  XBASE_RETURN_IF_ERROR(GetNumber(field, &d));
  *out = static_cast<int64_t>(std::trunc(std::clamp(d, -9.2e18, 9.2e18)));
  return Status::OK();
}

Status WorkArea::GetLogical(std::string_view field, bool* out) {
  std::string t;
  XBASE_RETURN_IF_ERROR(impl_->FieldText(field, &t));
  *out = !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y');
  return Status::OK();
}

Status WorkArea::Replace(std::string_view field, std::string_view text) { return impl_->ReplaceText(field, text); }

Status WorkArea::ReplaceMemo(std::string_view field, std::string_view text) {
  int idx;
  XBASE_RETURN_IF_ERROR(impl_->FieldFor(field, &idx));
  return impl_->ReplaceMemo(idx, text);
}

Status WorkArea::ReplaceInteger(std::string_view field, int64_t value) { return impl_->ReplaceInteger(field, value); }

bool WorkArea::Deleted() const { return !impl_->eof && impl_->rec[0] == '*'; }

Status WorkArea::Delete() {
  XBASE_RETURN_IF_ERROR(impl_->EnsureEditable());
  impl_->rec[0] = '*';
  impl_->dirty = true;
  return Status::OK();
}

Status WorkArea::Recall() {
  XBASE_RETURN_IF_ERROR(impl_->EnsureEditable());
  impl_->rec[0] = ' ';
  impl_->dirty = true;
  return Status::OK();
}

Status WorkArea::AppendBlank() { return impl_->AppendBlank(); }
Status WorkArea::Commit() { return impl_->Commit(); }

Status WorkArea::Unlock(uint32_t recno) {
  WorkAreaImpl& w = *impl_;
  if (w.dirty && (recno == 0 || recno == w.recno)) XBASE_RETURN_IF_ERROR(w.Commit());
  if (recno == 0) {
    std::vector<uint32_t> all(w.locked.begin(), w.locked.end());
    for (uint32_t r : all) w.UnlockRecord(r);
  } else {
    w.UnlockRecord(recno);
  }
  return Status::OK();
}

// ================= maintenance =================

namespace {

std::string MarkerPath(const std::string& table) { return table + ".pack-commit"; }
std::string AsidePath(const std::string& p) { return p + ".packing"; }

// A pack commits by creating the marker; from then on the new files replace the
// old ones, and whoever opens the table next finishes an interrupted replacement.
Status FinishPack(Env* env, const std::string& table, const std::string& memo_path, const std::string& index_path) {
  for (const std::string& p : {memo_path, index_path, table}) {
    if (p.empty()) continue;
    if (env->FileExists(AsidePath(p))) XBASE_RETURN_IF_ERROR(env->RenameFile(AsidePath(p), p));
  }
  XBASE_RETURN_IF_ERROR(env->SyncDir(table));
  Status s = env->RemoveFile(MarkerPath(table));
  if (!s.ok() && !s.IsNotFound()) return s;
  return env->SyncDir(table);
}

}  // namespace

Status WorkArea::IndexTag(std::string_view tag, std::string_view key_expr, std::string_view for_expr) {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive)
    return Status::InvalidArgument("creating a tag needs exclusive use of " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  TagBuild tb;
  XBASE_RETURN_IF_ERROR(w.BuildTag(UpperAscii(tag), key_expr, for_expr, &tb));
  if (w.index) {
    Status s = w.index->AddTag(&tb);
    if (!s.ok()) {
      w.DropTrust(s);
      return s;
    }
  } else {
    // No trusted index: start a new file aside and put it in place in one rename.
    std::string aside = w.index_path + ".building";
    std::vector<TagBuild> all;
    all.push_back(std::move(tb));
    XBASE_RETURN_IF_ERROR(IndexFile::Create(w.env, aside, &all, w.dbf->record_count()));
    XBASE_RETURN_IF_ERROR(w.env->RenameFile(aside, w.index_path));
    XBASE_RETURN_IF_ERROR(w.env->SyncDir(w.index_path));
    std::unique_ptr<IndexFile> ix;
    XBASE_RETURN_IF_ERROR(IndexFile::Open(w.env, w.index_path, false, &ix));
    w.index = std::move(ix);
  }
  w.index_status = Status::OK();
  Status s = w.LoadTags();
  if (!s.ok()) {
    w.DropTrust(s);
    return s;
  }
  w.known_tag_defs = w.index->tags();
  w.RecompileQuery();
  if (w.order > static_cast<int>(w.tags.size())) w.order = 0;
  return Status::OK();
}

Status WorkArea::Reindex() {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive) return Status::InvalidArgument("reindexing needs exclusive use of " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  if (w.known_tag_defs.empty()) {
    if (w.index_status.ok() || w.index_status.IsNotFound())
      return Status::InvalidArgument(w.alias + " has no index tags to rebuild");
    return Status::Corruption("the tag list of " + w.index_path +
                              " cannot be read; create the tags again: " + w.index_status.message());
  }
  std::vector<TagBuild> all;
  for (const TagDef& d : w.known_tag_defs) {
    TagBuild tb;
    XBASE_RETURN_IF_ERROR(w.BuildTag(d.name, d.key_expr, d.for_expr, &tb));
    all.push_back(std::move(tb));
  }
  std::string aside = w.index_path + ".building";
  w.index.reset();
  XBASE_RETURN_IF_ERROR(IndexFile::Create(w.env, aside, &all, w.dbf->record_count()));
  XBASE_RETURN_IF_ERROR(w.env->RenameFile(aside, w.index_path));
  XBASE_RETURN_IF_ERROR(w.env->SyncDir(w.index_path));
  XBASE_RETURN_IF_ERROR(w.OpenIndex());
  w.RecompileQuery();
  if (w.order > static_cast<int>(w.tags.size())) w.order = 0;
  return w.index_status;
}

Status WorkArea::DropIndex() {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive)
    return Status::InvalidArgument("removing the index needs exclusive use of " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  w.index.reset();
  w.tags.clear();
  w.known_tag_defs.clear();
  w.order = 0;
  w.query.reset();
  w.qbits.clear();
  w.query_text.clear();
  if (w.env->FileExists(w.index_path)) XBASE_RETURN_IF_ERROR(w.env->RemoveFile(w.index_path));
  w.index_status = Status::NotFound(w.index_path + ": no index file");
  return w.env->SyncDir(w.index_path);
}

Status WorkArea::Pack() {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive) return Status::InvalidArgument("packing needs exclusive use of " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  Env* env = w.env;
  const std::string new_dbf = AsidePath(w.path);
  const std::string new_memo = w.memo ? AsidePath(w.memo_path) : std::string();
  const std::string new_index = AsidePath(w.index_path);
  for (const std::string& p : {new_dbf, new_memo, new_index}) {
    if (!p.empty() && env->FileExists(p)) XBASE_RETURN_IF_ERROR(env->RemoveFile(p));
  }

  // 1. The packed table and memo file, written aside.
  const std::vector<FieldDef> specs = w.dbf->specs();
  std::string header = DbfFile::BuildHeader(specs, 0);
  std::unique_ptr<File> out;
  XBASE_RETURN_IF_ERROR(env->OpenFile(new_dbf, OpenFlags::kCreateTruncate, &out));
  XBASE_RETURN_IF_ERROR(out->Write(0, header));
  std::unique_ptr<MemoFile> out_memo;
  if (w.memo) {
    XBASE_RETURN_IF_ERROR(MemoFile::Create(env, new_memo, w.memo->block_size()));
    XBASE_RETURN_IF_ERROR(MemoFile::Open(env, new_memo, false, &out_memo));
  }
  const uint32_t count = w.dbf->record_count();
  const uint32_t len = w.dbf->record_length();
  uint32_t kept = 0;
  std::string buf, batch, text;
  uint64_t pos = header.size();
  for (uint32_t r = 1; r <= count;) {
    uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
    batch.clear();
    for (uint32_t i = 0; i < n; ++i) {
      std::string rec(buf.data() + static_cast<size_t>(i) * len, len);
      if (rec[0] == '*') continue;
      rec[0] = ' ';
      if (w.memo) {
        for (const FieldRef& f : w.dbf->fields()) {
          if (f.type != 'M') continue;
          uint32_t block = 0;
          Status s = ParseMemoPointer(std::string_view(rec.data() + 1 + f.offset, f.length), &block);
          if (s.ok()) s = w.memo->Read(block, &text);
          if (!s.ok()) return s.WithContext("pack stopped, nothing changed: record " + std::to_string(r + i));
          uint32_t nb = 0;
          if (!text.empty()) XBASE_RETURN_IF_ERROR(out_memo->Append(text, &nb));
          std::string ptr = FormatMemoPointer(nb, f.length);
          std::memcpy(rec.data() + 1 + f.offset, ptr.data(), f.length);
        }
      }
      batch += rec;
      ++kept;
    }
    XBASE_RETURN_IF_ERROR(out->Write(pos, batch));
    pos += batch.size();
    r += n;
  }
  header = DbfFile::BuildHeader(specs, kept);
  XBASE_RETURN_IF_ERROR(out->Write(0, header));
  XBASE_RETURN_IF_ERROR(out->Write(pos, std::string_view("\x1A", 1)));
  XBASE_RETURN_IF_ERROR(out->Sync());
  if (out_memo) XBASE_RETURN_IF_ERROR(out_memo->file()->Sync());
  out.reset();
  out_memo.reset();

  // 2. The index of the packed table, aside, with the tags the old index had.
  std::vector<TagDef> defs = w.known_tag_defs;
  if (!defs.empty()) {
    std::unique_ptr<DbfFile> packed;
    XBASE_RETURN_IF_ERROR(DbfFile::Open(env, new_dbf, true, &packed));
    std::swap(packed, w.dbf);
    std::vector<TagBuild> all;
    Status s;
    for (const TagDef& d : defs) {
      TagBuild tb;
      s = w.BuildTag(d.name, d.key_expr, d.for_expr, &tb);
      if (!s.ok()) break;
      all.push_back(std::move(tb));
    }
    std::swap(packed, w.dbf);
    if (s.ok()) s = IndexFile::Create(env, new_index, &all, kept);
    if (!s.ok()) return s.WithContext("pack stopped, nothing changed");
  }

  // 3. Commit point, then replacement.
  const std::string marker = MarkerPath(w.path);
  {
    std::unique_ptr<File> m;
    XBASE_RETURN_IF_ERROR(env->OpenFile(marker + ".tmp", OpenFlags::kCreateTruncate, &m));
    XBASE_RETURN_IF_ERROR(m->Write(0, "pack\n"));
    XBASE_RETURN_IF_ERROR(m->Sync());
  }
  XBASE_RETURN_IF_ERROR(env->RenameFile(marker + ".tmp", marker));
  XBASE_RETURN_IF_ERROR(env->SyncDir(marker));
  // From here the pack is decided. Without a new index, the old (stale) one goes.
  if (defs.empty() && env->FileExists(w.index_path)) XBASE_RETURN_IF_ERROR(env->RemoveFile(w.index_path));
  w.index.reset();
  XBASE_RETURN_IF_ERROR(FinishPack(env, w.path, w.memo ? w.memo_path : std::string(), w.index_path));

  // 4. Reopen the new files, keeping sole use.
  std::unique_ptr<DbfFile> fresh;
  XBASE_RETURN_IF_ERROR(DbfFile::Open(env, w.path, false, &fresh));
  Status s = fresh->file()->Lock(kOpenLock, 1, LockMode::kExclusive, false);
  if (!s.ok())
    return Status::Busy("pack finished, but another user opened " + w.alias + " at once; close and reopen it");
  w.dbf = std::move(fresh);
  if (w.memo) XBASE_RETURN_IF_ERROR(MemoFile::Open(env, w.memo_path, false, &w.memo));
  w.locked.clear();
  w.query.reset();
  w.qbits.clear();
  w.query_text.clear();
  int order = w.order;
  XBASE_RETURN_IF_ERROR(w.OpenIndex());
  w.order = order <= static_cast<int>(w.tags.size()) ? order : 0;
  return w.GoTop();
}

Status WorkArea::Check(std::vector<std::string>* report) {
  WorkAreaImpl& w = *impl_;
  report->clear();
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  const uint32_t count = w.dbf->record_count();
  const uint32_t len = w.dbf->record_length();
  auto problem = [&](std::string what) {
    if (report->size() < 200) report->push_back(std::move(what));
  };
  std::string buf, text;
  for (uint32_t r = 1; r <= count;) {
    uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
    for (uint32_t i = 0; i < n; ++i) {
      const char* rec = buf.data() + static_cast<size_t>(i) * len;
      const uint32_t rn = r + i;
      if (rec[0] != ' ' && rec[0] != '*')
        problem("record " + std::to_string(rn) + ": deletion flag byte is neither blank nor '*'");
      for (const FieldRef& f : w.dbf->fields()) {
        std::string_view raw(rec + 1 + f.offset, f.length);
        if (f.type == 'D' && !AllBlank(raw) && !ValidDate(raw)) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds '" + std::string(raw) +
                  "', not a date");
        } else if (f.type == 'L' && std::string_view("TtFfYyNn? ").find(raw[0]) == std::string_view::npos) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds no logical value");
        } else if ((f.type == 'N' || f.type == 'F') &&
                   raw.find_first_not_of(" 0123456789.-+eE") != std::string_view::npos) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds '" + std::string(raw) +
                  "', not a number");
        } else if (f.type == 'M') {
          uint32_t block = 0;
          Status s = ParseMemoPointer(raw, &block);
          if (s.ok() && w.memo) s = w.memo->Read(block, &text);
          if (!s.ok()) problem("record " + std::to_string(rn) + ": field " + f.name + ": " + s.message());
        }
      }
    }
    r += n;
  }
  if (!w.index_status.ok()) {
    if (!w.index_status.IsNotFound()) problem("index: " + w.index_status.message());
  } else {
    for (size_t t = 0; t < w.tags.size(); ++t) {
      const auto& tag = w.tags[t];
      std::vector<uint8_t> seen(static_cast<size_t>(count) + 1, 0);
      std::string key, data;
      size_t bad = 0;
      Status s = w.index->Scan(static_cast<int>(t), [&](const IndexEntry& e) -> Status {
        if (e.recno < 1 || e.recno > count) {
          problem("tag " + tag.def.name + ": entry for record " + std::to_string(e.recno) + ", which does not exist");
          ++bad;
          return Status::OK();
        }
        if (seen[e.recno]) problem("tag " + tag.def.name + ": record " + std::to_string(e.recno) + " appears twice");
        seen[e.recno] = 1;
        XBASE_RETURN_IF_ERROR(w.dbf->ReadRecord(e.recno, &data));
        bool in_tag = false;
        w.ComputeKey(tag, data.data(), e.recno, &key, &in_tag);
        if (!in_tag)
          problem("tag " + tag.def.name + ": record " + std::to_string(e.recno) +
                  " is listed but fails the FOR condition");
        else if (key != e.key)
          problem("tag " + tag.def.name + ": record " + std::to_string(e.recno) + " is listed under an old key");
        return Status::OK();
      });
      if (!s.ok()) {
        problem("tag " + tag.def.name + ": " + s.message());
        continue;
      }
      for (uint32_t r = 1; r <= count; ++r) {
        if (seen[r]) continue;
        XBASE_RETURN_IF_ERROR(w.dbf->ReadRecord(r, &data));
        bool in_tag = false;
        w.ComputeKey(tag, data.data(), r, &key, &in_tag);
        if (in_tag) problem("tag " + tag.def.name + ": record " + std::to_string(r) + " is missing");
      }
    }
  }
  if (!report->empty())
    return Status::Corruption(std::to_string(report->size()) + " problem(s) in " + w.alias +
                              "; first: " + report->front());
  return Status::OK();
}

// ================= Engine =================

Engine::Engine(Env* env) : env_(env ? env : Env::Default()) {}

Engine::~Engine() { CloseAll(); }

Status Engine::Use(const std::string& path, std::string_view alias_in, OpenMode mode, int* area) {
  *area = 0;
  std::string alias = UpperAscii(alias_in);
  if (alias.empty()) {
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    alias = UpperAscii(dot == std::string::npos ? base : base.substr(0, dot));
  }
  for (char c : alias) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
      return Status::InvalidArgument("alias " + alias + " is not valid");
  }
  if (WorkAreaOf(alias) != 0) return Status::InvalidArgument("alias " + alias + " is already in use");
  if (!env_->FileExists(path)) return Status::NotFound(path + ": no such table");

  // A pack that stopped after its commit point is finished before anyone reads.
  if (env_->FileExists(MarkerPath(path))) {
    std::unique_ptr<File> f;
    XBASE_RETURN_IF_ERROR(env_->OpenFile(path, OpenFlags::kReadWrite, &f));
    Status s = f->Lock(kOpenLock, 1, LockMode::kExclusive, false);
    if (!s.ok()) return Status::Busy(path + " is being packed by another user");
    XBASE_RETURN_IF_ERROR(FinishPack(env_, path, CompanionPath(env_, path, "FPT"), CompanionPath(env_, path, "CDX")));
  }

  auto impl = std::make_unique<WorkAreaImpl>();
  WorkAreaImpl& w = *impl;
  w.engine = this;
  w.env = env_;
  w.alias = alias;
  w.path = path;
  w.mode = mode;
  XBASE_RETURN_IF_ERROR(DbfFile::Open(env_, path, mode == OpenMode::kReadOnly, &w.dbf));
  Status s =
      w.dbf->file()->Lock(kOpenLock, 1, mode == OpenMode::kExclusive ? LockMode::kExclusive : LockMode::kShared, false);
  if (!s.ok()) {
    if (!s.IsBusy()) return s;
    return Status::Busy(mode == OpenMode::kExclusive
                            ? path + " is open in another work area or program; exclusive use refused"
                            : path + " is in exclusive use by another work area or program");
  }
  if (w.dbf->has_memo()) {
    w.memo_path = CompanionPath(env_, path, "FPT");
    if (!env_->FileExists(w.memo_path)) return Status::NotFound(w.memo_path + ": memo file of the table is missing");
    XBASE_RETURN_IF_ERROR(MemoFile::Open(env_, w.memo_path, mode == OpenMode::kReadOnly, &w.memo));
  }
  {
    WorkAreaImpl::TableLock lk(&w, false);
    XBASE_RETURN_IF_ERROR(lk.status());
    XBASE_RETURN_IF_ERROR(w.OpenIndex());
  }
  int n = 1;
  while (areas_.count(n)) ++n;
  w.number = n;
  w.SetEof();
  areas_[n] = std::unique_ptr<WorkArea>(new WorkArea(std::move(impl)));
  current_ = n;
  *area = n;
  return areas_[n]->GoTop();
}

int Engine::WorkAreaOf(std::string_view alias) const {
  std::string u = UpperAscii(alias);
  for (const auto& [n, a] : areas_) {
    if (a->alias() == u) return n;
  }
  return 0;
}

Status Engine::Select(int area) {
  if (!areas_.count(area)) return Status::NotFound("work area " + std::to_string(area) + " is not open");
  current_ = area;
  return Status::OK();
}

std::string Engine::Alias(int area) const {
  auto it = areas_.find(area);
  return it == areas_.end() ? std::string() : it->second->alias();
}

WorkArea* Engine::Current() { return Area(current_); }

WorkArea* Engine::Area(int area) {
  auto it = areas_.find(area);
  return it == areas_.end() ? nullptr : it->second.get();
}

Status Engine::Close(int area) {
  auto it = areas_.find(area);
  if (it == areas_.end()) return Status::NotFound("work area " + std::to_string(area) + " is not open");
  Status s = it->second->impl_->CommitIfDirty();
  it->second->Unlock(0);
  areas_.erase(it);
  if (current_ == area) current_ = 0;
  return s;
}

Status Engine::CloseAll() {
  Status first;
  while (!areas_.empty()) {
    Status s = Close(areas_.begin()->first);
    if (first.ok()) first = s;
  }
  return first;
}

WorkArea* Engine::AreaForField(std::string_view field, std::string_view* bare) {
  auto arrow = field.find("->");
  if (arrow == std::string_view::npos) {
    *bare = field;
    return Current();
  }
  *bare = field.substr(arrow + 2);
  return Area(WorkAreaOf(field.substr(0, arrow)));
}

}  // namespace xbase
