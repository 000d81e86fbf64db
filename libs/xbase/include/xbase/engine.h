// The engine: work areas holding open tables under aliases.
//
//   xbase::Engine engine;
//   int area = 0;
//   Status s = engine.Use("/data/CALENDAR.DBF", "ONETIME", OpenMode::kShared, &area);
//   WorkArea* wa = engine.Current();
//   wa->AppendBlank(); wa->Replace("APPT_TEXT", "Dentist"); wa->Commit();
//   engine.Close(area);
//
// Nothing here is global: two Engine objects are as independent as two processes,
// and their work areas lock against each other the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/env.h"
#include "xbase/expr.h"
#include "xbase/schema.h"
#include "xbase/status.h"
#include "xbase/text.h"

namespace xbase {

enum class OpenMode { kShared, kExclusive, kReadOnly };

struct TagInfo {
  std::string name;
  std::string key_expr;
  std::string for_expr;
};

struct EngineSettings {
  bool hide_deleted = true;  // deleted records are invisible to every move
  bool century = true;       // date texts carry four-digit years
  bool soft_seek = false;    // a failed seek lands on the next key instead of the end
  // How long a lock on the table (to read or write it, and to open it) or on a record waits
  // for another holder before the call gives up with Busy, having changed nothing. 0: one try.
  // The wait ends at this deadline whatever the holder does: no call waits without one.
  int lock_wait_ms = 5000;
};

// A table whose header's record count disagrees with the length of its file is
// damaged. Use still opens it and goes by the whole records the file holds, so no
// record is hidden from reads or overwritten by the next append, and reports it
// through WorkArea::Repair(). Opening writes nothing; the next append (or pack)
// stores a right count.
struct TableRepair {
  uint32_t header_count = 0;  // the record count the header claimed
  uint32_t found_count = 0;   // whole records the file holds: the count the work area uses
};

class Engine;
class WorkAreaImpl;

// One open table. All positioning and field calls act on this area.
class WorkArea {
 public:
  ~WorkArea();
  const std::string& alias() const;
  const std::string& path() const;
  OpenMode mode() const;
  int number() const;

  // ---- structure ----
  std::vector<FieldDef> Fields() const;
  int FieldIndex(std::string_view name) const;  // -1 when absent or not unique; accepts "ALIAS->NAME"
  // The code page mark in the table's header (byte 29) as found: 0x03 Windows-1252 in
  // tables this engine creates, 0x00 when the writer set none. Every write keeps it.
  uint8_t CodePageMark() const;
  // The code page the table's text is read in (text.h): what a .cpg file beside the table
  // names, else what the mark names, else "cp1252".
  const std::string& CodePage() const;

  // Set when the table's header was found damaged (see TableRepair); the program tells
  // the user and may pack the table to store a right header.
  std::optional<TableRepair> Repair() const;

  // ---- index ----
  // OK when the compound index is open and trusted; otherwise why not
  // (NotFound: no index file; NotSupported: foreign file; Corruption: damaged or stale).
  // Every lookup by tag (SetOrder, Seek, KeyValue, ScanTag, moves in tag order) on an
  // index that cannot be used returns Corruption naming the reason, never an answer
  // from natural order: the caller rebuilds the index (Reindex, or IndexTag for each
  // tag) and tries again. The same holds when a lookup meets a damaged page or keys out
  // of order; the work area then stops using the index. A read-only user never writes
  // to the index; a writer marks an index it stopped trusting as half-updated before
  // its next write to the table, so nobody trusts it again before a rebuild.
  Status IndexStatus() const;
  std::vector<TagInfo> Tags() const;
  int TagArea(std::string_view tag) const;  // 1-based order number, 0 when absent
  // 0 selects natural (record number) order.
  Status SetOrder(int order);
  // Selects a tag by name: Corruption when the index cannot be used, NotFound when a
  // trusted index has no such tag.
  Status SetOrder(std::string_view tag);
  int Order() const;
  // Creates (or replaces) an ascending tag in the table's compound index. Needs exclusive use.
  // When the index is missing or not trusted, a new index file holding only this tag
  // takes its place (Reindex keeps the old tag list instead, when it is readable).
  Status IndexTag(std::string_view tag, std::string_view key_expr, std::string_view for_expr);
  // Rebuilds every tag of the index aside and replaces the file. Needs exclusive use.
  Status Reindex();
  // A new index file holding exactly `tags`, in this order, built aside and put in place
  // in one rename (so a process stopped half way leaves no index with only some of the
  // tags). Needs exclusive use.
  Status CreateIndex(const std::vector<TagInfo>& tags);
  // Removes the compound index file. Needs exclusive use.
  Status DropIndex();
  // The key the current record has (or would have) in a tag, as QKeyVal() returns it.
  Status KeyValue(std::string_view tag, Value* out);

  // Visits a tag's entries in key order (record number, key as QKeyVal gives it).
  Status ScanTag(std::string_view tag, const std::function<Status(uint32_t recno, const Value& key)>& visit);

  // ---- moves ----
  Status GoTop();
  Status GoBottom();
  Status Go(uint32_t recno);
  Status Skip(int64_t n = 1);
  // In tag order: moves to the first key not below `key` (soft seek) or to an
  // exact prefix match. *found tells whether the key matched.
  Status Seek(std::string_view key, bool* found = nullptr);
  bool Eof() const;
  bool Bof() const;
  uint32_t RecNo() const;
  // Physical record count, deleted records included. Re-read from the file.
  uint32_t RecCount();

  // ---- queries ----
  // Restricts moves to records for which `expr` is true. An empty expression lifts it.
  Status Query(std::string_view expr);
  bool HasQuery() const;
  uint32_t QueryRecCount();
  Status SetQueryBit(uint32_t recno, bool pass);

  // ---- fields (current record) ----
  // Fields are named in any letter case, with an optional "ALIAS->". Tables written by
  // other programs may give two fields one name: every call that takes a name refuses
  // such a name (InvalidArgument naming it), and those fields are read by position.
  //
  // The field at `position` (0-based, as Fields() lists them): its bytes as stored, or
  // a memo field's text.
  Status GetStringAt(size_t position, std::string* out);
  Status GetString(std::string_view field, std::string* out);
  Status GetTrimString(std::string_view field, std::string* out);
  Status GetMemo(std::string_view field, std::string* out);
  // The date as display text: "MM/DD/YYYY" (or "MM/DD/YY" with century off); "" when blank.
  Status GetDateString(std::string_view field, std::string* out);
  Status GetInteger(std::string_view field, int64_t* out);
  Status GetNumber(std::string_view field, double* out);
  Status GetLogical(std::string_view field, bool* out);
  // Text replace: character fields are cut to their width; dates take "yyyymmdd"
  // or "" (blank); numbers take their text; logicals T/F; memo fields take the text.
  Status Replace(std::string_view field, std::string_view text);
  Status ReplaceMemo(std::string_view field, std::string_view text);
  Status ReplaceInteger(std::string_view field, int64_t value);
  bool Deleted() const;
  Status Delete();
  Status Recall();

  // ---- writing ----
  // Appends a blank record (written at once, so the record number is this area's) and
  // makes it current and locked.
  Status AppendBlank();
  // Writes the current record's changes. A failure leaves the file holding the old
  // record; the changes stay pending (Commit again, or Discard). Except when the record
  // was written and bringing the index up to date failed after it: the error says why,
  // the new record stays, and nothing is pending but a record appended and not committed
  // before (which Discard still takes back). The index is then no longer used and is left
  // marked as half-updated, for a rebuild.
  Status Commit();
  // Drops the current record's uncommitted changes and re-reads it. A record appended
  // by this area and not committed since is taken back: when it is still the last
  // record it is removed from the file; when another user has appended after it, it
  // is left deleted. Afterwards the area is at the end of the table.
  Status Discard();
  bool HasPendingChanges() const;
  // Many writes at once. BeginBatch takes the table's write lock and keeps it until EndBatch
  // (Busy when it is not had in time; other users wait meanwhile), and marks the index as
  // being updated once for all of them; the index pages the writes change are kept in memory
  // and written by EndBatch, which then clears the mark. Records are written exactly as
  // without a batch: each whole at its commit, a failed one taken back. A process that stops
  // inside a batch leaves the index marked half-updated, so it is rebuilt before anyone
  // trusts it again. EndBatch commits the current record's pending changes first (as Unlock
  // does); when writing the index fails it returns why, the records stay written and the
  // index is left for a rebuild. Engine::Close ends an open batch.
  Status BeginBatch();
  Status EndBatch();
  bool InBatch() const;
  // Releases a record lock (0: all of this area's). Uncommitted changes of the
  // current record are committed first.
  //
  // Implicit commits. Moves, SetOrder, Query, Unlock, maintenance and Engine::Close
  // commit the current record's pending changes, except when the last change to it
  // (a Replace*, Delete, Recall or Commit) failed: such a half-made change is
  // discarded as by Discard(), never committed, and the call goes on. Only an explicit
  // Commit() writes changes after a failure.
  Status Unlock(uint32_t recno = 0);
  // Removes deleted records for good. Needs exclusive use, which it keeps. Once the pack
  // has committed it returns OK, or an error saying that it committed and what is left
  // (the next Use finishes an interrupted replacement); never Busy.
  Status Pack();
  // Packs the table with its text converted to UTF-8, crash-safely as a pack: first the table
  // and its memo file are copied whole to `backup_path` (and its .FPT); a process stopped at
  // any moment leaves the old table or the converted one, whole, and the next Use finishes an
  // interrupted replacement. The converted table has the mark kMarkUtf8, a .cpg file saying
  // "UTF-8" and its tags rebuilt; every character field is widened as far as its longest text
  // now needs (their names go to *widened), memo texts are converted too, and every other byte
  // stays, and so do the bytes of the character fields named in `keep_bytes` (upper case: keys
  // made of bytes rather than text). Needs exclusive use. OK without a change for a table already
  // in UTF-8; NotSupported, changing nothing, when a text would need more than 254 bytes.
  Status ConvertToUtf8(const std::string& backup_path, std::vector<std::string>* widened = nullptr,
                       const std::vector<std::string>& keep_bytes = {});

  // Full consistency check: table, memo and index agree (a damaged record count, a memo
  // file's next-free pointer past its end and everything CheckIndex finds included).
  // Problems are listed in *report (one line each, the first 200, then how many more);
  // the Status is Corruption when there is any. *notes (optional) gets what is unusual
  // but no damage: a NUL byte with text after it in a character field, say.
  Status Check(std::vector<std::string>* report, std::vector<std::string>* notes = nullptr);
  // The index part of Check: every tag of the index file compared, entry by entry, with
  // the records (the number of entries, each record's key and FOR condition, entries
  // missing, listed twice or out of order), whether or not this area trusts the file. A
  // missing index file is no problem here (IndexStatus says NotFound).
  Status CheckIndex(std::vector<std::string>* report);

 private:
  friend class Engine;
  explicit WorkArea(std::unique_ptr<WorkAreaImpl> impl);
  std::unique_ptr<WorkAreaImpl> impl_;
};

class Engine {
 public:
  explicit Engine(Env* env = nullptr);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  EngineSettings& settings() { return settings_; }
  Env* env() const { return env_; }

  // Opens a table with its memo file and compound index (same base name) under
  // `alias` and makes it current. Without an alias the file's base name gives one, in
  // upper case, with '_' for each character an alias cannot hold ("KUNDEN-SCHEMA.DBF":
  // KUNDEN_SCHEMA) and a number added when it is in use already.
  // The index is optional: when it is missing or damaged the table still opens and
  // WorkArea::IndexStatus() says why. A table whose record count disagrees with its
  // length opens too; WorkArea::Repair() says so. Busy when another user has the table
  // in exclusive use (a pack among them), or holds it for a write past lock_wait_ms.
  Status Use(const std::string& path, std::string_view alias, OpenMode mode, int* area);
  int WorkAreaOf(std::string_view alias) const;  // 0 when not open
  Status Select(int area);
  std::string Alias(int area) const;
  WorkArea* Current();
  WorkArea* Area(int area);
  // Closes an area, committing its pending changes unless the last change failed (then
  // they are discarded; see WorkArea::Unlock). Returns the commit's error, if any; the
  // area is closed either way.
  Status Close(int area);
  Status CloseAll();

  // "ALIAS->FIELD" resolution: the area named by the alias, or the current one.
  WorkArea* AreaForField(std::string_view field, std::string_view* bare_name);

 private:
  Env* env_;
  EngineSettings settings_;
  std::map<int, std::unique_ptr<WorkArea>> areas_;
  int current_ = 0;
};

}  // namespace xbase
