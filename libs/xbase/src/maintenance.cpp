// Maintenance: tags, reindex, pack and the consistency check.
#include <cstdio>

#include "workarea_impl.h"

namespace xbase {

// ================= maintenance =================

std::string MarkerPath(const std::string& table) { return table + ".pack-commit"; }
std::string AsidePath(const std::string& p) { return p + ".packing"; }

// A pack commits by creating the marker; from then on the new files replace the
// old ones, and whoever opens the table next finishes an interrupted replacement.
Status FinishPack(Env* env, const std::string& table, const std::string& memo_path, const std::string& index_path) {
  // A conversion to UTF-8 brings the .cpg file that says so; it goes in before the table.
  for (const std::string& p : {memo_path, index_path, CpgPath(env, table), table}) {
    if (p.empty()) continue;
    if (env->FileExists(AsidePath(p))) XBASE_RETURN_IF_ERROR(env->RenameFile(AsidePath(p), p));
  }
  XBASE_RETURN_IF_ERROR(env->SyncDir(table));
  Status s = env->RemoveFile(MarkerPath(table));
  if (!s.ok() && !s.IsNotFound()) return s;
  return env->SyncDir(table);
}

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
  w.RecompileQuery().IgnoreError();  // same fields: it compiles as it did
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
  return w.ReplaceIndex(w.known_tag_defs);
}

Status WorkArea::CreateIndex(const std::vector<TagInfo>& tags) {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive)
    return Status::InvalidArgument("creating an index needs exclusive use of " + w.alias);
  if (tags.empty()) return Status::InvalidArgument("an index needs at least one tag");
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  std::vector<TagDef> defs;
  for (const TagInfo& t : tags) {
    TagDef d;
    d.name = UpperAscii(t.name);
    d.key_expr = t.key_expr;
    d.for_expr = t.for_expr;
    for (const TagDef& e : defs) {
      if (e.name == d.name) return Status::InvalidArgument("tag " + d.name + " is given twice");
    }
    defs.push_back(std::move(d));
  }
  return w.ReplaceIndex(defs);
}

Status WorkAreaImpl::ReplaceIndex(const std::vector<TagDef>& defs) {
  // Every definition must compile before anything is written.
  for (const TagDef& d : defs) {
    Tag t;
    XBASE_RETURN_IF_ERROR(CompileTag(d, &t));
  }
  // Built aside and put in place in one rename: whoever stops this half way leaves the
  // index as it was (or none, and the aside file, which Check reports).
  std::string aside = index_path + ".building";
  index.reset();
  Status s = IndexFile::Create(
      env, aside, defs.size(),
      [&](size_t t, TagBuild* tb) { return BuildTag(defs[t].name, defs[t].key_expr, defs[t].for_expr, tb); },
      dbf->record_count());
  if (s.ok()) s = env->RenameFile(aside, index_path);
  if (!s.ok()) {
    OpenIndex().IgnoreError();  // the old index, as it was; the failure told is the rebuild's
    return s;
  }
  XBASE_RETURN_IF_ERROR(env->SyncDir(index_path));
  XBASE_RETURN_IF_ERROR(OpenIndex());
  // The fields are the same: a query that compiled before compiles again.
  RecompileQuery().IgnoreError();
  if (order > static_cast<int>(tags.size())) order = 0;
  return index_status;
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

namespace {

// What went into the packed table, to hold it against what reads back.
// A pack that also converts the table's text to UTF-8: the header and the record layout of the
// converted table (character fields widened where their text needs more bytes).
struct Conversion {
  std::string from;              // the table's code page
  std::string header;            // the converted table's header, count aside
  std::vector<FieldRef> fields;  // the converted table's fields
  std::vector<bool> bytes;       // per field: kept byte for byte (a key of bytes, not text)
  uint32_t record_length = 0;
};

// A character field's text in `c.from`, as UTF-8 blank-padded to `width` (trailing blanks are
// padding, not text).
std::string ConvertedField(const Conversion& c, std::string_view raw, uint32_t width) {
  while (!raw.empty() && raw.back() == ' ') raw.remove_suffix(1);
  std::string t = DecodeText(c.from, raw);
  t.resize(std::max<size_t>(width, t.size()), ' ');
  return t;
}

struct PackedRecords {
  uint32_t live_read = 0;  // live records read from the table
  uint32_t kept = 0;       // records written to the packed table
  // A sum of the records' hashes (each with its position), compared with the file read
  // back: a write that reached the disk short or garbled stops the pack before it commits.
  uint64_t sum = 0;
};

// 1. The packed table and memo file, written aside. The header is the one found, so the
// version, the code page mark, the field list and anything another program keeps in the
// header stay as they were; only the count and the date change.
Status WritePackedTable(WorkAreaImpl& w, const std::string& new_dbf, const std::string& new_memo,
                        PackedRecords* written, const Conversion* conv = nullptr) {
  Env* env = w.env;
  std::string header = w.dbf->HeaderWithCount(0);
  if (conv) header = conv->header;
  // Except the structural-index flag: the index written beside the packed table is this
  // engine's, which FoxPro must not open as its own CDX.
  header[28] = static_cast<char>(header[28] & ~0x01);
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
  std::string buf, batch, text;
  uint64_t pos = header.size();
  for (uint32_t r = 1; r <= count;) {
    uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
    batch.clear();
    for (uint32_t i = 0; i < n; ++i) {
      std::string rec(buf.data() + static_cast<size_t>(i) * len, len);
      if (rec[0] == '*') continue;
      ++written->live_read;
      rec[0] = ' ';
      if (conv) {
        std::string out(conv->record_length, ' ');
        const auto& old_fields = w.dbf->fields();
        for (size_t k = 0; k < old_fields.size(); ++k) {
          const FieldRef& f = old_fields[k];
          const FieldRef& to = conv->fields[k];
          std::string_view raw(rec.data() + 1 + f.offset, f.length);
          const std::string t =
              f.type == 'C' && !conv->bytes[k] ? ConvertedField(*conv, raw, to.length) : std::string(raw);
          std::memcpy(out.data() + 1 + to.offset, t.data(), to.length);
        }
        // Bytes another writer keeps after the last field stay with the record.
        const uint32_t end = old_fields.back().offset + old_fields.back().length + 1;
        out.replace(conv->fields.back().offset + conv->fields.back().length + 1, len - end, rec, end, len - end);
        rec = std::move(out);
      }
      if (w.memo) {
        for (const FieldRef& f : conv ? conv->fields : w.dbf->fields()) {
          if (f.type != 'M') continue;
          uint32_t block = 0;
          Status s = ParseMemoPointer(std::string_view(rec.data() + 1 + f.offset, f.length), &block);
          if (s.ok()) s = w.memo->Read(block, &text);
          if (!s.ok()) return s.WithContext("pack stopped, nothing changed: record " + std::to_string(r + i));
          if (conv) text = DecodeText(conv->from, text);
          uint32_t nb = 0;
          if (!text.empty()) XBASE_RETURN_IF_ERROR(out_memo->Append(text, &nb));
          std::string ptr = FormatMemoPointer(nb, f.length);
          std::memcpy(rec.data() + 1 + f.offset, ptr.data(), f.length);
        }
      }
      batch += rec;
      written->sum += RecordHash(rec.data(), rec.size()) ^ written->kept;
      ++written->kept;
    }
    XBASE_RETURN_IF_ERROR(out->Write(pos, batch));
    pos += batch.size();
    r += n;
  }
  const char flags = header[28];
  header = w.dbf->HeaderWithCount(written->kept);
  if (conv) {
    header = conv->header;
    EncodeLE32(&header[4], written->kept);
  }
  header[28] = flags;
  XBASE_RETURN_IF_ERROR(out->Write(0, header));
  XBASE_RETURN_IF_ERROR(out->Write(pos, std::string_view("\x1A", 1)));
  XBASE_RETURN_IF_ERROR(out->Sync());
  if (out_memo) XBASE_RETURN_IF_ERROR(out_memo->file()->Sync());
  return Status::OK();
}

// The packed table must hold every live record read: a table with fewer is never put in
// place, whatever went wrong on the way.
Status CheckPackedTable(const WorkAreaImpl& w, const std::string& new_dbf, const PackedRecords& written,
                        const Conversion* conv = nullptr) {
  std::unique_ptr<DbfFile> packed;
  XBASE_RETURN_IF_ERROR(DbfFile::Open(w.env, new_dbf, true, &packed));
  const uint32_t len = conv ? conv->record_length : w.dbf->record_length();
  if (packed->record_length() != len) return Status::Corruption("pack stopped, nothing changed: wrong record length");
  uint32_t live_written = 0;
  uint64_t read_sum = 0;
  std::string buf;
  for (uint32_t r = 1; r <= packed->record_count();) {
    uint32_t n = std::min(kChunk * 8, packed->record_count() - r + 1);
    XBASE_RETURN_IF_ERROR(packed->ReadRecords(r, n, &buf));
    for (uint32_t i = 0; i < n; ++i) {
      const char* rec = buf.data() + static_cast<size_t>(i) * len;
      live_written += rec[0] == ' ' ? 1 : 0;
      read_sum += RecordHash(rec, len) ^ (r + i - 1);
    }
    r += n;
  }
  if (packed->count_repaired() || live_written != written.live_read || written.kept != written.live_read) {
    return Status::Corruption("pack stopped, nothing changed: the packed table holds " + std::to_string(live_written) +
                              " live records, " + std::to_string(written.live_read) + " were read");
  }
  if (read_sum != written.sum || packed->header_length() != w.dbf->header_length()) {
    return Status::Corruption("pack stopped, nothing changed: the packed table does not read back as written");
  }
  return Status::OK();
}

// 2. The index of the packed table, aside, with the tags the old index had.
Status WritePackedIndex(WorkAreaImpl& w, const std::vector<TagDef>& defs, const std::string& new_dbf,
                        const std::string& new_index, uint32_t kept) {
  std::unique_ptr<DbfFile> packed;
  XBASE_RETURN_IF_ERROR(DbfFile::Open(w.env, new_dbf, true, &packed));
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
  if (s.ok()) s = IndexFile::Create(w.env, new_index, &all, kept);
  if (!s.ok()) return s.WithContext("pack stopped, nothing changed");
  return Status::OK();
}

// 3. The packed table is opened and locked for sole use before it takes the table's name:
// an opener that finds the new file at the path meets this lock, and one that opened the old
// file meets the old lock until this area lets go of it, after the rename, and then sees that
// the file it holds is no longer the table.
Status LockPackedTable(Env* env, const std::string& new_dbf, std::unique_ptr<File>* fresh) {
  XBASE_RETURN_IF_ERROR(env->OpenFile(new_dbf, OpenFlags::kReadWrite, fresh));
  Status s = (*fresh)->Lock(kOpenLock, 1, LockMode::kExclusive);
  if (!s.ok()) return s.WithContext("pack stopped, nothing changed: locking the packed table");
  return Status::OK();
}

// 4. The commit point: once the marker is there, the packed files replace the old ones.
Status WriteCommitMarker(Env* env, const std::string& marker) {
  {
    std::unique_ptr<File> m;
    XBASE_RETURN_IF_ERROR(env->OpenFile(marker + ".tmp", OpenFlags::kCreateTruncate, &m));
    XBASE_RETURN_IF_ERROR(m->Write(0, "pack\n"));
    XBASE_RETURN_IF_ERROR(m->Sync());
  }
  return env->RenameFile(marker + ".tmp", marker);
}

// After the commit point an error says that the pack is decided and what is left to do.
Status Committed(const WorkAreaImpl& w, const Status& s, const std::string& what) {
  return s.WithContext("the pack of " + w.alias + " committed, but " + what +
                       " failed; the next open of the table finishes it");
}

// The replacement of the old files by the packed ones.
Status ReplaceWithPacked(WorkAreaImpl& w, const std::string& marker, bool indexed) {
  Env* env = w.env;
  Status s = env->SyncDir(marker);
  if (!s.ok()) return Committed(w, s, "syncing the folder");
  // Without a new index, the old (stale) one goes.
  if (!indexed && env->FileExists(w.index_path)) {
    s = env->RemoveFile(w.index_path);
    if (!s.ok()) return Committed(w, s, "removing the old index");
  }
  w.index.reset();
  w.distrusted.reset();
  s = FinishPack(env, w.path, w.memo ? w.memo_path : std::string(), w.index_path);
  if (!s.ok()) return Committed(w, s, "replacing the files");
  return Status::OK();
}

// 5. Go on with the new files, keeping sole use (the new table was locked before it was
// renamed in; the old one is let go of here).
Status ReopenPacked(WorkAreaImpl& w, std::unique_ptr<File> fresh) {
  bool same = false;
  Status s = SameFile(w.env, w.path, fresh.get(), &same);
  if (s.ok() && !same) s = Status::IOError(w.path + " is not the packed table after the rename");
  if (s.ok()) s = DbfFile::Load(w.path, std::move(fresh), &w.dbf);
  if (!s.ok()) return Committed(w, s, "reopening the packed table");
  if (w.memo) {
    s = MemoFile::Open(w.env, w.memo_path, false, &w.memo);
    if (!s.ok()) return Committed(w, s, "reopening the packed memo file");
  }
  w.locked.clear();
  w.query.reset();
  w.qbits.clear();
  w.query_text.clear();
  w.DropBlock();
  w.dirty = w.change_failed = false;
  w.appended_uncommitted = 0;
  int order = w.order;
  s = w.ReadCodePage();
  if (s.ok()) s = w.OpenIndex();
  if (!s.ok()) return Committed(w, s, "opening the new index");
  w.order = order <= static_cast<int>(w.tags.size()) ? order : 0;
  return Status::OK();
}

// 3 to 5 in a row: the table written beside (and its index, when `indexed`) takes the old one's
// place, committed by the marker, and the work area goes on with it from its first record.
Status SwapInPacked(WorkAreaImpl& w, const std::string& new_dbf, bool indexed) {
  std::unique_ptr<File> fresh;
  XBASE_RETURN_IF_ERROR(LockPackedTable(w.env, new_dbf, &fresh));
  const std::string marker = MarkerPath(w.path);
  XBASE_RETURN_IF_ERROR(WriteCommitMarker(w.env, marker));
  XBASE_RETURN_IF_ERROR(ReplaceWithPacked(w, marker, indexed));
  XBASE_RETURN_IF_ERROR(ReopenPacked(w, std::move(fresh)));
  return w.GoTop();
}

// Removes what an earlier pack or conversion that stopped before its commit left aside (an aside
// .cpg left behind would otherwise come in with the next pack).
Status RemoveAside(const WorkAreaImpl& w) {
  for (const std::string& p : {AsidePath(w.path), w.memo ? AsidePath(w.memo_path) : std::string(),
                               AsidePath(w.index_path), AsidePath(CpgPath(w.env, w.path))}) {
    if (!p.empty() && w.env->FileExists(p)) XBASE_RETURN_IF_ERROR(w.env->RemoveFile(p));
  }
  return Status::OK();
}

// Copies a file whole and syncs the copy.
Status CopyFile(Env* env, const std::string& from, const std::string& to) {
  std::unique_ptr<File> in, out;
  XBASE_RETURN_IF_ERROR(env->OpenFile(from, OpenFlags::kReadOnly, &in));
  XBASE_RETURN_IF_ERROR(env->OpenFile(to, OpenFlags::kCreateTruncate, &out));
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(in->Size(&size));
  std::string buf;
  for (uint64_t pos = 0; pos < size;) {
    buf.resize(static_cast<size_t>(std::min<uint64_t>(size - pos, 1 << 20)));
    XBASE_RETURN_IF_ERROR(in->ReadExact(pos, buf.size(), buf.data()));
    XBASE_RETURN_IF_ERROR(out->Write(pos, buf));
    pos += buf.size();
  }
  return out->Sync();
}

// The converted table's layout: every character field as wide as the longest of its texts in
// UTF-8 needs (never narrower than it was). NotSupported when one would need more than 254 bytes.
Status PlanConversion(WorkAreaImpl& w, const std::vector<std::string>& keep_bytes, Conversion* c) {
  c->from = w.code_page;
  c->fields = w.dbf->fields();
  for (const FieldRef& f : c->fields)
    c->bytes.push_back(std::find(keep_bytes.begin(), keep_bytes.end(), f.name) != keep_bytes.end());
  const uint32_t count = w.dbf->record_count();
  const uint32_t len = w.dbf->record_length();
  std::vector<uint32_t> need(c->fields.size(), 0);
  std::string buf;
  for (uint32_t r = 1; r <= count;) {
    const uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
    for (uint32_t i = 0; i < n; ++i) {
      const char* rec = buf.data() + static_cast<size_t>(i) * len;
      if (rec[0] == '*') continue;
      for (size_t k = 0; k < c->fields.size(); ++k) {
        const FieldRef& f = c->fields[k];
        if (f.type != 'C' || c->bytes[k]) continue;
        std::string_view raw(rec + 1 + f.offset, f.length);
        while (!raw.empty() && raw.back() == ' ') raw.remove_suffix(1);
        need[k] = std::max<uint32_t>(need[k], static_cast<uint32_t>(DecodeText(c->from, raw).size()));
      }
    }
    r += n;
  }
  c->header = w.dbf->HeaderWithCount(0);
  c->header[29] = static_cast<char>(kMarkUtf8);
  uint32_t offset = 0;
  for (size_t k = 0; k < c->fields.size(); ++k) {
    FieldRef& f = c->fields[k];
    if (need[k] > 254) {
      return Status::NotSupported("field " + f.name + " would need " + std::to_string(need[k]) +
                                  " bytes in UTF-8, more than a field holds; the table stays as it is");
    }
    f.length = std::max(f.length, need[k]);
    f.offset = offset;
    offset += f.length;
    char* d = &c->header[32 + 32 * k];
    EncodeLE32(d + 12, f.offset + 1);
    d[16] = static_cast<char>(f.length);
  }
  c->record_length = len + offset + 1 - (w.dbf->fields().back().offset + w.dbf->fields().back().length + 1);
  EncodeLE16(&c->header[10], static_cast<uint16_t>(c->record_length));
  return Status::OK();
}

}  // namespace

Status WorkArea::ConvertToUtf8(const std::string& backup_path, std::vector<std::string>* widened,
                               const std::vector<std::string>& keep_bytes) {
  WorkAreaImpl& w = *impl_;
  if (widened) widened->clear();
  if (w.mode != OpenMode::kExclusive) return Status::InvalidArgument("converting needs exclusive use of " + w.alias);
  if (w.code_page == kUtf8) return Status::OK();
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  Env* env = w.env;
  Conversion conv;
  XBASE_RETURN_IF_ERROR(PlanConversion(w, keep_bytes, &conv));
  if (widened) {
    for (size_t k = 0; k < conv.fields.size(); ++k)
      if (conv.fields[k].length != w.dbf->fields()[k].length) widened->push_back(conv.fields[k].name);
  }
  // The table as it was, kept beside it; written before anything else, so it is whole before
  // the table changes.
  XBASE_RETURN_IF_ERROR(CopyFile(env, w.path, backup_path));
  if (w.memo) XBASE_RETURN_IF_ERROR(CopyFile(env, w.memo_path, CompanionPath(env, backup_path, "FPT")));
  XBASE_RETURN_IF_ERROR(env->SyncDir(backup_path));

  XBASE_RETURN_IF_ERROR(RemoveAside(w));
  const std::string new_dbf = AsidePath(w.path);
  const std::string new_memo = w.memo ? AsidePath(w.memo_path) : std::string();
  const std::string new_index = AsidePath(w.index_path);
  PackedRecords written;
  XBASE_RETURN_IF_ERROR(WritePackedTable(w, new_dbf, new_memo, &written, &conv));
  XBASE_RETURN_IF_ERROR(CheckPackedTable(w, new_dbf, written, &conv));
  {
    std::unique_ptr<File> cpg;
    XBASE_RETURN_IF_ERROR(env->OpenFile(AsidePath(CpgPath(env, w.path)), OpenFlags::kCreateTruncate, &cpg));
    XBASE_RETURN_IF_ERROR(cpg->Write(0, "UTF-8"));
    XBASE_RETURN_IF_ERROR(cpg->Sync());
  }
  const std::vector<TagDef> defs = w.known_tag_defs;
  if (!defs.empty()) {
    // The tags are built on the converted text with the converted table's case mapping.
    w.code_page = kUtf8;
    const Status s = WritePackedIndex(w, defs, new_dbf, new_index, written.kept);
    w.code_page = conv.from;
    XBASE_RETURN_IF_ERROR(s);
  }
  return SwapInPacked(w, new_dbf, !defs.empty());
}

Status WorkArea::Pack() {
  WorkAreaImpl& w = *impl_;
  if (w.mode != OpenMode::kExclusive) return Status::InvalidArgument("packing needs exclusive use of " + w.alias);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  XBASE_RETURN_IF_ERROR(w.dbf->RefreshCount());
  const std::string new_dbf = AsidePath(w.path);
  const std::string new_memo = w.memo ? AsidePath(w.memo_path) : std::string();
  const std::string new_index = AsidePath(w.index_path);
  XBASE_RETURN_IF_ERROR(RemoveAside(w));
  PackedRecords written;
  XBASE_RETURN_IF_ERROR(WritePackedTable(w, new_dbf, new_memo, &written));
  XBASE_RETURN_IF_ERROR(CheckPackedTable(w, new_dbf, written));
  const std::vector<TagDef> defs = w.known_tag_defs;
  if (!defs.empty()) XBASE_RETURN_IF_ERROR(WritePackedIndex(w, defs, new_dbf, new_index, written.kept));
  return SwapInPacked(w, new_dbf, !defs.empty());
}

namespace {

// A report keeps its first lines; the count of every problem is kept apart.
constexpr size_t kMaxReportLines = 200;
constexpr size_t kMaxLinesPerTag = 20;

class Report {
 public:
  explicit Report(std::vector<std::string>* lines) : lines_(lines) { lines_->clear(); }
  void operator()(std::string what) {
    ++count_;
    if (lines_->size() < kMaxReportLines) lines_->push_back(std::move(what));
  }
  // Status for the whole check: Corruption naming the first problem and the count.
  Status Finish(const std::string& alias) {
    if (count_ == 0) return Status::OK();
    const std::string first = lines_->front();
    if (count_ > lines_->size()) lines_->push_back("... and " + std::to_string(count_ - lines_->size()) + " more");
    return Status::Corruption(std::to_string(count_) + " problem(s) in " + alias + "; first: " + first);
  }

 private:
  std::vector<std::string>* lines_;
  size_t count_ = 0;
};

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", u);
      out += b;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void WorkAreaImpl::CheckIndexLocked(const std::function<void(std::string)>& problem) {
  if (!env->FileExists(index_path)) {
    // Index builds write aside and rename: the aside file without an index means a build
    // was stopped after the old index went (nobody builds while this area has the table
    // open). Beside an index it is only left over, and the next build overwrites it.
    if (env->FileExists(index_path + ".building"))
      problem("index: a build of the index stopped before it finished (" + index_path + ".building is left over)");
    return;
  }
  // The file is read afresh, whether or not this work area trusts it, so every tag is
  // compared with the records even when the index was found stale or half-updated.
  std::unique_ptr<IndexFile> ix;
  Status s = IndexFile::Open(env, index_path, true, &ix);
  if (!s.ok()) {
    problem("index: " + s.message());
    return;
  }
  const uint32_t count = dbf->record_count();
  const uint32_t len = dbf->record_length();
  if (ix->dirty()) problem("index: " + index_path + ": index was left half-updated by a process that stopped");
  if (ix->table_count() != count) {
    problem("index: " + index_path + ": index is stale (made for " + std::to_string(ix->table_count()) +
            " records, the table has " + std::to_string(count) + ")");
  }
  std::string buf, key;
  for (size_t t = 0; t < ix->tags().size(); ++t) {
    Tag tag;
    const std::string& name = ix->tags()[t].name;
    s = CompileTag(ix->tags()[t], &tag);
    if (!s.ok()) {
      problem("tag " + name + " does not fit this table: " + s.message());
      continue;
    }
    const uint16_t key_len = tag.def.key_len;
    auto key_text = [&](std::string_view k) {
      if (tag.def.key_type != 'N') return Printable(k);
      char b[40];
      std::snprintf(b, sizeof b, "%.15g", DecodeNumberKey(k));
      return std::string(b);
    };
    // What the records give: each record's key, and whether it belongs in the tag.
    enum : uint8_t { kOut = 0, kIn = 1, kListed = 2, kListedOut = 3 };
    std::string keys(static_cast<size_t>(count + 1) * key_len, '\0');
    std::vector<uint8_t> state(static_cast<size_t>(count) + 1, kOut);
    uint32_t expected = 0;
    for (uint32_t r = 1; r <= count;) {
      const uint32_t n = std::min(kChunk * 8, count - r + 1);
      s = dbf->ReadRecords(r, n, &buf);
      if (!s.ok()) {
        problem("tag " + name + ": " + s.message());
        return;
      }
      for (uint32_t i = 0; i < n; ++i) {
        bool in_tag = false;
        ComputeKey(tag, buf.data() + static_cast<size_t>(i) * len, r + i, &key, &in_tag);
        if (!in_tag) continue;
        state[r + i] = kIn;
        key.resize(key_len, '\0');
        key.copy(keys.data() + static_cast<size_t>(r + i) * key_len, key_len);
        ++expected;
      }
      r += n;
    }
    uint64_t entries = 0;
    // A tag lists its first problems; one damaged tag does not hide the others.
    size_t tag_problems = 0;
    auto entry_problem = [&](const std::string& what) {
      if (++tag_problems <= kMaxLinesPerTag) problem("tag " + name + ": " + what);
    };
    s = ix->Verify(static_cast<int>(t), entry_problem, [&](const IndexEntry& e) {
      ++entries;
      const std::string which = "record " + std::to_string(e.recno);
      if (e.recno < 1 || e.recno > count) {
        entry_problem("entry for " + which + ", which does not exist");
        return;
      }
      uint8_t& st = state[e.recno];
      if (st == kListed || st == kListedOut) {
        entry_problem(which + " appears twice");
      } else if (st == kOut) {
        entry_problem(which + " is listed but fails the FOR condition");
        st = kListedOut;
      } else {
        const std::string_view want(keys.data() + static_cast<size_t>(e.recno) * key_len, key_len);
        if (e.key != want) {
          entry_problem(which + " is listed under the key '" + key_text(e.key) + "', its record gives '" +
                        key_text(want) + "'");
        }
        st = kListed;
      }
    });
    if (!s.ok()) {
      problem("tag " + name + ": " + s.message());
      continue;
    }
    for (uint32_t r = 1; r <= count; ++r) {
      if (state[r] == kIn) entry_problem("record " + std::to_string(r) + " is missing");
    }
    if (tag_problems > kMaxLinesPerTag) {
      problem("tag " + name + ": " + std::to_string(tag_problems - kMaxLinesPerTag) + " more problems like these");
    }
    if (entries != expected) {
      problem("tag " + name + ": holds " + std::to_string(entries) + " entries, the records give " +
              std::to_string(expected));
    }
  }
}

Status WorkArea::CheckIndex(std::vector<std::string>* report) {
  WorkAreaImpl& w = *impl_;
  Report problems(report);
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  w.CheckIndexLocked([&](std::string what) { problems(std::move(what)); });
  return problems.Finish(w.alias);
}

Status WorkArea::Check(std::vector<std::string>* report, std::vector<std::string>* notes) {
  WorkAreaImpl& w = *impl_;
  Report problem(report);
  if (notes) notes->clear();
  auto note = [&](std::string what) {
    if (notes && notes->size() < kMaxReportLines) notes->push_back(std::move(what));
  };
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  const uint32_t count = w.dbf->record_count();
  const uint32_t len = w.dbf->record_length();
  if (w.dbf->count_repaired()) {
    problem("header says " + std::to_string(w.dbf->claimed_count()) + " records but the file holds " +
            std::to_string(count) + " (the table goes by the file; a pack writes a right header)");
  }
  if (w.memo) {
    Status s = w.memo->CheckHeader();
    if (!s.ok()) problem("memo file: " + s.message());
  }
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
        if (f.type == 'C') {
          // Other programs pad with NUL bytes; a NUL with text after it is kept as it is
          // (readers differ on where such text ends), and told.
          const size_t nul = raw.find('\0');
          if (nul != std::string_view::npos && raw.find_first_not_of(std::string_view("\0 ", 2), nul) != raw.npos) {
            note("record " + std::to_string(rn) + ": field " + f.name + " has a NUL byte at position " +
                 std::to_string(nul + 1) + " with text after it: '" + Printable(RTrimPadding(raw)) + "'");
          }
        } else if (f.type == 'D' && !AllBlank(raw) && !ValidDate(raw)) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds '" + Printable(raw) + "', not a date");
        } else if (f.type == 'L' && std::string_view("TtFfYyNn? ").find(raw[0]) == std::string_view::npos) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds no logical value");
        } else if ((f.type == 'N' || f.type == 'F') &&
                   raw.find_first_not_of(" 0123456789.-+eE") != std::string_view::npos) {
          problem("record " + std::to_string(rn) + ": field " + f.name + " holds '" + Printable(raw) +
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
  w.CheckIndexLocked([&](std::string what) { problem(std::move(what)); });
  return problem.Finish(w.alias);
}

}  // namespace xbase
