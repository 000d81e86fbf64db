// Maintenance: tags, reindex, pack and the consistency check.
#include "workarea_impl.h"

namespace xbase {

// ================= maintenance =================

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
  uint32_t kept = 0, live_read = 0;
  std::string buf, batch, text;
  uint64_t pos = header.size();
  for (uint32_t r = 1; r <= count;) {
    uint32_t n = std::min(kChunk * 8, count - r + 1);
    XBASE_RETURN_IF_ERROR(w.dbf->ReadRecords(r, n, &buf));
    batch.clear();
    for (uint32_t i = 0; i < n; ++i) {
      std::string rec(buf.data() + static_cast<size_t>(i) * len, len);
      if (rec[0] == '*') continue;
      ++live_read;
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

  // The packed table must hold every live record read: a table with fewer is never
  // put in place, whatever went wrong on the way.
  {
    std::unique_ptr<DbfFile> packed;
    XBASE_RETURN_IF_ERROR(DbfFile::Open(env, new_dbf, true, &packed));
    uint32_t live_written = 0;
    for (uint32_t r = 1; r <= packed->record_count();) {
      uint32_t n = std::min(kChunk * 8, packed->record_count() - r + 1);
      XBASE_RETURN_IF_ERROR(packed->ReadRecords(r, n, &buf));
      for (uint32_t i = 0; i < n; ++i) live_written += buf[static_cast<size_t>(i) * len] == '*' ? 0 : 1;
      r += n;
    }
    if (packed->count_repaired() || live_written != live_read || kept != live_read) {
      return Status::Corruption("pack stopped, nothing changed: the packed table holds " +
                                std::to_string(live_written) + " live records, " + std::to_string(live_read) +
                                " were read");
    }
  }

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

  // 3. The packed table is opened and locked for sole use before it takes the table's
  // name: an opener that finds the new file at the path meets this lock, and one that
  // opened the old file meets the old lock until this area lets go of it, after the
  // rename, and then sees that the file it holds is no longer the table.
  std::unique_ptr<File> fresh;
  XBASE_RETURN_IF_ERROR(env->OpenFile(new_dbf, OpenFlags::kReadWrite, &fresh));
  {
    Status s = fresh->Lock(kOpenLock, 1, LockMode::kExclusive, false);
    if (!s.ok()) return s.WithContext("pack stopped, nothing changed: locking the packed table");
  }

  // 4. Commit point, then replacement.
  const std::string marker = MarkerPath(w.path);
  {
    std::unique_ptr<File> m;
    XBASE_RETURN_IF_ERROR(env->OpenFile(marker + ".tmp", OpenFlags::kCreateTruncate, &m));
    XBASE_RETURN_IF_ERROR(m->Write(0, "pack\n"));
    XBASE_RETURN_IF_ERROR(m->Sync());
  }
  XBASE_RETURN_IF_ERROR(env->RenameFile(marker + ".tmp", marker));
  // From here the pack is decided: an error says so and what is left to do.
  auto committed = [&](const Status& s, const std::string& what) {
    return s.WithContext("the pack of " + w.alias + " committed, but " + what +
                         " failed; the next open of the table finishes it");
  };
  Status s = env->SyncDir(marker);
  if (!s.ok()) return committed(s, "syncing the folder");
  // Without a new index, the old (stale) one goes.
  if (defs.empty() && env->FileExists(w.index_path)) {
    s = env->RemoveFile(w.index_path);
    if (!s.ok()) return committed(s, "removing the old index");
  }
  w.index.reset();
  w.distrusted.reset();
  s = FinishPack(env, w.path, w.memo ? w.memo_path : std::string(), w.index_path);
  if (!s.ok()) return committed(s, "replacing the files");

  // 5. Go on with the new files, keeping sole use (the new table was locked before it
  // was renamed in; the old one is let go of here).
  bool same = false;
  s = SameFile(env, w.path, fresh.get(), &same);
  if (s.ok() && !same) s = Status::IOError(w.path + " is not the packed table after the rename");
  if (s.ok()) s = DbfFile::Load(w.path, std::move(fresh), &w.dbf);
  if (!s.ok()) return committed(s, "reopening the packed table");
  if (w.memo) {
    s = MemoFile::Open(env, w.memo_path, false, &w.memo);
    if (!s.ok()) return committed(s, "reopening the packed memo file");
  }
  w.locked.clear();
  w.query.reset();
  w.qbits.clear();
  w.query_text.clear();
  w.DropBlock();
  w.dirty = w.change_failed = false;
  w.appended_uncommitted = 0;
  int order = w.order;
  s = w.OpenIndex();
  if (!s.ok()) return committed(s, "opening the new index");
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

}  // namespace xbase
