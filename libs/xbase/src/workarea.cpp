// WorkArea: the public face of one open table.
#include "workarea_impl.h"

namespace xbase {

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

uint8_t WorkArea::CodePageMark() const { return impl_->dbf->code_page_mark(); }
const std::string& WorkArea::CodePage() const { return impl_->code_page; }

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

Status WorkArea::SetOrder(std::string_view tag) {
  if (!impl_->index_status.ok()) return impl_->UnusableIndex();
  const int order = TagArea(tag);
  if (order == 0) return Status::NotFound("no tag " + std::string(tag) + " in " + impl_->alias);
  return SetOrder(order);
}

Status WorkArea::SetOrder(int order) {
  if (order < 0 || order > static_cast<int>(impl_->tags.size())) {
    if (!impl_->index_status.ok()) return impl_->UnusableIndex();
    return Status::InvalidArgument("order " + std::to_string(order) + " does not exist");
  }
  XBASE_RETURN_IF_ERROR(impl_->CommitIfDirty());
  impl_->DropBlock();
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
    if (!impl_->index_status.ok()) return impl_->UnusableIndex();
    return Status::NotFound("no tag " + std::string(tag) + " in " + impl_->alias);
  }
  impl_->tags[static_cast<size_t>(t - 1)].key->Evaluate(RecordView{impl_->rec.data(), impl_->recno}, out);
  return Status::OK();
}

Status WorkArea::ScanTag(std::string_view tag, const std::function<Status(uint32_t, const Value&)>& visit) {
  WorkAreaImpl& w = *impl_;
  int t = TagArea(tag);
  if (t == 0) {
    if (!w.index_status.ok()) return w.UnusableIndex();
    return Status::NotFound("no tag " + std::string(tag) + " in " + w.alias);
  }
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (!w.index) return w.UnusableIndex();
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
  if (w.order == 0) {
    if (!w.index_status.ok()) return w.UnusableIndex();
    return Status::InvalidArgument("seek needs an index order on " + w.alias);
  }
  XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  WorkAreaImpl::TableLock lk(&w, false);
  XBASE_RETURN_IF_ERROR(lk.status());
  if (w.order == 0) return w.UnusableIndex();
  w.DropBlock();
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
      expr, w.dbf->fields(), w.alias, [&w](std::string_view n) { return w.ResolveTag(n); }, &q, w.code_page));
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

Status WorkArea::GetStringAt(size_t position, std::string* out) {
  if (position > 0xFFFF) return Status::InvalidArgument("field position out of range");
  return impl_->FieldTextAt(static_cast<int>(position), out);
}

Status WorkArea::GetTrimString(std::string_view field, std::string* out) {
  XBASE_RETURN_IF_ERROR(impl_->FieldText(field, out));
  out->resize(RTrimPadding(*out).size());
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

Status WorkArea::Replace(std::string_view field, std::string_view text) {
  return impl_->Changed(impl_->ReplaceText(field, text));
}

Status WorkArea::ReplaceMemo(std::string_view field, std::string_view text) {
  int idx;
  Status s = impl_->FieldFor(field, &idx);
  if (s.ok()) s = impl_->ReplaceMemo(idx, text);
  return impl_->Changed(s);
}

Status WorkArea::ReplaceInteger(std::string_view field, int64_t value) {
  return impl_->Changed(impl_->ReplaceInteger(field, value));
}

bool WorkArea::Deleted() const { return !impl_->eof && impl_->rec[0] == '*'; }

Status WorkArea::Delete() {
  XBASE_RETURN_IF_ERROR(impl_->Changed(impl_->EnsureEditable()));
  impl_->rec[0] = '*';
  impl_->dirty = true;
  return Status::OK();
}

Status WorkArea::Recall() {
  XBASE_RETURN_IF_ERROR(impl_->Changed(impl_->EnsureEditable()));
  impl_->rec[0] = ' ';
  impl_->dirty = true;
  return Status::OK();
}

Status WorkArea::Discard() { return impl_->Discard(); }

bool WorkArea::HasPendingChanges() const { return impl_->dirty || impl_->appended_uncommitted != 0; }

std::optional<TableRepair> WorkArea::Repair() const {
  if (!impl_->dbf->count_repaired()) return std::nullopt;
  return TableRepair{impl_->dbf->claimed_count(), impl_->dbf->record_count()};
}

Status WorkArea::AppendBlank() { return impl_->AppendBlank(); }
Status WorkArea::Commit() { return impl_->Commit(); }

Status WorkArea::BeginBatch() { return impl_->BeginBatch(); }

Status WorkArea::EndBatch() { return impl_->EndBatch(); }

bool WorkArea::InBatch() const { return impl_->batching; }

Status WorkArea::Unlock(uint32_t recno) {
  WorkAreaImpl& w = *impl_;
  if ((w.dirty || w.change_failed) && (recno == 0 || recno == w.recno)) XBASE_RETURN_IF_ERROR(w.CommitIfDirty());
  if (recno == 0) {
    std::vector<uint32_t> all(w.locked.begin(), w.locked.end());
    for (uint32_t r : all) w.UnlockRecord(r);
  } else {
    w.UnlockRecord(recno);
  }
  return Status::OK();
}

}  // namespace xbase
