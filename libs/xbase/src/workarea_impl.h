// The state of one open work area, shared by the files that implement WorkArea,
// its maintenance (pack, reindex, check) and the Engine. Internal to the library.
#pragma once

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "coding.h"
#include "dbf.h"
#include "index.h"
#include "xbase/engine.h"

namespace xbase {

// Lock bytes far past any real data, on the table file. Locks are advisory, so
// they never stop reads by tools that do not lock.
inline constexpr uint64_t kOpenLock = uint64_t{1} << 40;               // shared by every user; exclusive for sole use
inline constexpr uint64_t kTableLock = (uint64_t{1} << 40) + 1;        // readers shared, a writer exclusive
inline constexpr uint64_t kRecordLockBase = (uint64_t{1} << 40) + 16;  // one byte per record number
inline constexpr uint32_t kChunk = 512;                                // records per bulk read

inline std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

// A field's text without its padding: the blanks and the NUL bytes other programs pad with. (Not
// the expressions' RTrim, which takes off blanks only: one name for both broke the one-definition
// rule, and a build that did not inline it got the other.)
inline std::string_view RTrimPadding(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

inline bool ValidDate(std::string_view d) {
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

inline bool AllBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

// Numeric keys are stored as 8 bytes whose byte order is the numeric order.
inline std::string EncodeNumberKey(double v) {
  if (v == 0) v = 0;  // -0 sorts as 0
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits = (bits & (uint64_t{1} << 63)) ? ~bits : bits | (uint64_t{1} << 63);
  std::string k(8, '\0');
  for (int i = 0; i < 8; ++i) k[static_cast<size_t>(i)] = static_cast<char>((bits >> (56 - 8 * i)) & 0xff);
  return k;
}

inline double DecodeNumberKey(std::string_view k) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(k[static_cast<size_t>(i)]);
  bits = (bits & (uint64_t{1} << 63)) ? bits & ~(uint64_t{1} << 63) : ~bits;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Whether `file` is still the file at `path` (false also when nothing is at the path now).
inline Status SameFile(Env* env, const std::string& path, File* file, bool* same) {
  FileId held, named;
  XBASE_RETURN_IF_ERROR(file->Id(&held));
  Status s = env->PathId(path, &named);
  if (s.IsNotFound()) {
    *same = false;
    return Status::OK();
  }
  XBASE_RETURN_IF_ERROR(s);
  *same = held == named;
  return Status::OK();
}

// Why a table lock was not had in time: another user (a pack, a writer) holds the table.
inline std::string TableBusyMessage(const std::string& path, int wait_ms) {
  return path + " is in use by another user or program (waited " + std::to_string(std::max(wait_ms, 0)) +
         " ms for it); nothing was read or changed";
}

// Bytes for a message: control bytes (a NUL among them) as \xNN, so a line is never cut.
std::string Printable(std::string_view bytes);

// Takes a byte-range lock, trying again while another user holds it until `wait_ms` have passed
// (0 or less: one try). The pauses between the tries grow from 1 ms to 50 ms, so a long wait
// costs next to no processor time and a short one still ends soon after the holder lets go.
// Busy (File's own message) when the time ran out; the caller words it.
Status LockWithin(File* file, uint64_t start, uint64_t len, LockMode mode, int wait_ms);

// Pack commits by creating a marker file next to the table; see maintenance.cpp.
std::string MarkerPath(const std::string& table);
std::string AsidePath(const std::string& p);
Status FinishPack(Env* env, const std::string& table, const std::string& memo_path, const std::string& index_path);
// The .cpg file that names a table's encoding.
inline std::string CpgPath(Env* env, const std::string& table) { return CompanionPath(env, table, "CPG"); }

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
  // How the table's text is read (text.h): the .cpg file's encoding when it names one, the
  // header mark's code page otherwise, Windows-1252 for neither.
  std::string code_page = kWindows1252;
  // Settles code_page from the .cpg file beside the table and the header's mark.
  Status ReadCodePage();
  OpenMode mode = OpenMode::kShared;
  std::unique_ptr<DbfFile> dbf;
  std::unique_ptr<MemoFile> memo;
  std::unique_ptr<IndexFile> index;
  // An index this writer stopped trusting, still looking sound on disk: it is marked as
  // being updated before this area's next write to the table (MarkDistrustedIndex).
  std::unique_ptr<IndexFile> distrusted;
  Status index_status = Status::NotFound("no index");
  std::vector<TagDef> known_tag_defs;  // from a readable header, even when the index is not trusted
  std::vector<Tag> tags;
  int order = 0;

  uint32_t recno = 0;  // 0 with eof_ set: past the end
  bool eof = true, bof = false;
  std::string rec;
  bool dirty = false;
  // The last change to the current record (a Replace, Delete, Recall or Commit) failed:
  // its pending changes are never committed implicitly, only by an explicit Commit.
  bool change_failed = false;
  // A record this area appended and has not committed since: Discard takes it back.
  uint32_t appended_uncommitted = 0;
  std::map<int, std::string> pending_memos;
  std::set<uint32_t> locked;
  IndexEntry cur_entry;

  std::string query_text;
  std::unique_ptr<CompiledExpr> query;
  std::vector<uint8_t> qbits;

  int lock_depth = 0;
  bool lock_exclusive = false;

  // Natural-order moves read records a block at a time under one table lock and step
  // through the block without further locks or reads. A block is dropped by any write
  // of this area and by every move that starts a new walk (GoTop, Go, Seek, ...), so a
  // walk sees other users' changes as of the block it is in.
  std::string block;
  uint32_t block_first = 0, block_n = 0, block_want = 0;
  void DropBlock() {
    block_n = 0;
    block_want = 0;
  }

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
      const int wait_ms = w->settings().lock_wait_ms;
      status_ =
          LockWithin(w->dbf->file(), kTableLock, 1, exclusive ? LockMode::kExclusive : LockMode::kShared, wait_ms);
      if (status_.IsBusy()) status_ = Status::Busy(TableBusyMessage(w->path, wait_ms));
      if (!status_.ok()) return;
      taken_ = true;
      w->lock_depth = 1;
      w->lock_exclusive = exclusive;
      status_ = w->RefreshShared();
    }
    ~TableLock() {
      if (!taken_) return;
      if (--w_->lock_depth == 0) w_->dbf->file()->Unlock(kTableLock, 1).IgnoreError();
    }
    const Status& status() const { return status_; }

   private:
    WorkAreaImpl* w_;
    bool taken_ = false;
    Status status_;
  };

  // Many writes under one lock (WorkArea::BeginBatch): the write lock held throughout, the
  // index marked as being updated once and its pages kept in memory until EndBatch.
  std::unique_ptr<TableLock> batch_lock;
  bool batching = false;
  // In a batch, a record appended is entered in the index at its first commit, not twice (blank
  // and then filled). A record appended and never committed is entered as it is by the next
  // append or commit of this area, or at the end of the batch.
  uint32_t unindexed = 0;
  Status IndexUnindexed();
  Status BeginBatch();
  Status EndBatch();
  // An index update's start and end: around each write, or once around a batch.
  Status BeginIndexUpdate() { return batching ? Status::OK() : index->BeginUpdate(); }
  Status EndIndexUpdate(uint32_t count) { return batching ? Status::OK() : index->EndUpdate(count); }

  // Another user may have appended or rewritten: re-read the count and the index header.
  Status RefreshShared();

  Status TrustCheck();

  void DropTrust(const Status& why);

  Status LockRecord(uint32_t r);

  void UnlockRecord(uint32_t r) {
    if (locked.erase(r) && NeedsLocks()) dbf->file()->Unlock(kRecordLockBase + r, 1).IgnoreError();
  }

  // ---------- tags ----------
  Status LoadTags();
  // Compiles a tag's key and FOR condition against this table.
  Status CompileTag(const TagDef& def, Tag* out) const;
  // Compares every tag of the index file, entry by entry, with the records, and tells
  // `problem` all that disagrees. Call under the table lock.
  void CheckIndexLocked(const std::function<void(std::string)>& problem);

  const CompiledExpr* ResolveTag(std::string_view name) const {
    for (const Tag& t : tags) {
      if (t.def.name == UpperAscii(name)) return t.key.get();
    }
    return nullptr;
  }

  static void EncodeKey(const Value& v, char type, uint16_t len, std::string* out);

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

  Status LoadRecord(uint32_t r);

  // Positions on the first passing record at or after `from` (natural order).
  Status ScanForward(uint32_t from);

  Status ScanBackward(uint32_t from, bool* found);

  Tag& CurTag() { return tags[static_cast<size_t>(order - 1)]; }

  // Tag order: from entry e (found), moves to the first passing entry at or after it.
  Status SettleInTag(bool found, IndexEntry e);

  Status Fail(const Status& s) {
    if (s.IsCorruption()) DropTrust(s);
    return s;
  }

  // Every implicit commit (moves, Unlock, Close, SetOrder, Query, maintenance) goes
  // through here: a record whose last change failed is discarded, never committed.
  Status CommitIfDirty() {
    if (change_failed) return Discard();
    return dirty ? Commit() : Status::OK();
  }
  // Records the outcome of a change to the current record.
  Status Changed(Status s) {
    change_failed = !s.ok();
    return s;
  }
  Status Discard();
  // What a lookup by tag returns when the index cannot be used (missing, foreign, damaged,
  // stale or found out of order): Corruption, so the caller rebuilds it and tries again.
  Status UnusableIndex() const {
    return Status::Corruption("the index of " + alias + " cannot be used: " + index_status.ToString());
  }
  Status TakeBackAppend(uint32_t r);
  Status MarkDistrustedIndex();

  // ---------- moves ----------
  Status GoTop();

  Status Skip(int64_t n);

  // Tag order: moves to the last passing entry before the current one (before
  // the end when at eof).
  Status PreviousInTag(bool* found);

  Status GoBottom();

  Status Go(uint32_t r);

  uint32_t RecCount() {
    TableLock lk(this, false);
    return dbf->record_count();
  }

  // ---------- writing ----------
  Status EnsureEditable();

  Status UpdateIndex(const char* old_rec, const char* new_rec, uint32_t r);

  Status Commit();

  Status CommitLocked();

  Status AppendBlank();
  // Writes `count` into the header and cuts the file after that many records (best effort:
  // used to take back an append).
  void CutTable(uint32_t count);

  Status FieldFor(std::string_view name, int* idx);

  Status SetRaw(int idx, std::string_view bytes) {
    const FieldRef& f = dbf->fields()[static_cast<size_t>(idx)];
    std::memcpy(rec.data() + 1 + f.offset, bytes.data(), f.length);
    dirty = true;
    return Status::OK();
  }

  Status ReplaceText(std::string_view field, std::string_view text);

  Status ReplaceMemo(int idx, std::string_view text);

  Status ReplaceInteger(std::string_view field, int64_t value);

  Status FieldText(std::string_view field, std::string* out);
  // The field at position idx (0-based): its bytes, or a memo's text.
  Status FieldTextAt(int idx, std::string* out);

  Status MemoText(int idx, std::string* out);

  // ---------- building ----------
  Status BuildTag(const std::string& name, std::string_view key_expr, std::string_view for_expr, TagBuild* out);

  Status OpenIndex();
  // Builds a new index file holding `defs` aside and renames it over the old one.
  Status ReplaceIndex(const std::vector<TagDef>& defs);

  Status RecompileQuery();
};

}  // namespace xbase
