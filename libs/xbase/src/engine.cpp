// Engine: opening tables into work areas and closing them.
#include "workarea_impl.h"

namespace xbase {

// ================= Engine =================

Engine::Engine(Env* env) : env_(env ? env : Env::Default()) {}

// A caller that must know whether the tables were written out calls CloseAll() itself.
Engine::~Engine() { CloseAll().IgnoreError(); }

namespace {

// Opens the table file and takes the open lock, making sure the file locked is the one
// at `path`: a pack renames a new file over the old one, and an opener that locked the
// old file after the pack let go of it would read and write a file nobody else sees.
// Such an opener lets go and opens again. A pack that stopped after its commit point
// is finished here, before anyone reads.
Status OpenLockedTable(Env* env, const std::string& path, OpenMode mode, std::unique_ptr<File>* out) {
  const OpenFlags flags = mode == OpenMode::kReadOnly ? OpenFlags::kReadOnly : OpenFlags::kReadWrite;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (env->FileExists(MarkerPath(path))) {
      std::unique_ptr<File> f;
      XBASE_RETURN_IF_ERROR(env->OpenFile(path, OpenFlags::kReadWrite, &f));
      Status s = f->Lock(kOpenLock, 1, LockMode::kExclusive);
      if (!s.ok()) return s.IsBusy() ? Status::Busy(path + " is being packed by another user") : s;
      bool same = false;
      XBASE_RETURN_IF_ERROR(SameFile(env, path, f.get(), &same));
      if (!same) continue;
      if (env->FileExists(MarkerPath(path))) {
        XBASE_RETURN_IF_ERROR(FinishPack(env, path, CompanionPath(env, path, "FPT"), CompanionPath(env, path, "CDX")));
      }
      continue;  // open afresh: the file at the path may be the packed one now
    }
    std::unique_ptr<File> f;
    XBASE_RETURN_IF_ERROR(env->OpenFile(path, flags, &f));
    Status s = f->Lock(kOpenLock, 1, mode == OpenMode::kExclusive ? LockMode::kExclusive : LockMode::kShared);
    if (!s.ok()) {
      if (!s.IsBusy()) return s;
      return Status::Busy(mode == OpenMode::kExclusive
                              ? path + " is open in another work area or program; exclusive use refused"
                              : path + " is in exclusive use by another work area or program");
    }
    bool same = false;
    XBASE_RETURN_IF_ERROR(SameFile(env, path, f.get(), &same));
    if (!same) continue;  // replaced between our open and our lock
    *out = std::move(f);
    return Status::OK();
  }
  return Status::Busy(path + " keeps being replaced by another user; try again");
}

// The alias a table gets when the caller names none: its file's base name in upper case,
// with every byte that an alias cannot hold (a '-', a blank, a letter beyond ASCII) made
// '_', and '_' in front of a leading digit, so that any file name gives a valid alias.
std::string AliasFromPath(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  std::string alias;
  for (char c : base) {
    const auto u = static_cast<unsigned char>(c);
    alias.push_back(u < 0x80 && std::isalnum(u) ? static_cast<char>(std::toupper(u)) : '_');
  }
  if (alias.empty() || std::isdigit(static_cast<unsigned char>(alias[0]))) alias.insert(0, "_");
  return alias;
}

}  // namespace

Status Engine::Use(const std::string& path, std::string_view alias_in, OpenMode mode, int* area) {
  *area = 0;
  std::string alias = UpperAscii(alias_in);
  if (alias.empty()) {
    alias = AliasFromPath(path);
    // A derived alias never refuses the table: one already in use gets a number.
    for (int n = 2; WorkAreaOf(alias) != 0; ++n) alias = AliasFromPath(path) + "_" + std::to_string(n);
  }
  for (char c : alias) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
      return Status::InvalidArgument("alias " + alias + " is not valid");
  }
  if (WorkAreaOf(alias) != 0) return Status::InvalidArgument("alias " + alias + " is already in use");
  if (!env_->FileExists(path)) return Status::NotFound(path + ": no such table");

  auto impl = std::make_unique<WorkAreaImpl>();
  WorkAreaImpl& w = *impl;
  w.engine = this;
  w.env = env_;
  w.alias = alias;
  w.path = path;
  w.mode = mode;
  std::unique_ptr<File> file;
  XBASE_RETURN_IF_ERROR(OpenLockedTable(env_, path, mode, &file));
  {
    // Size and header are read under the table lock, so a writer appending at the same
    // time is seen either before or after its append, never half way.
    const bool lock = mode != OpenMode::kExclusive;
    // Like every table lock, it is waited for up to the settings' lock_wait_ms and no longer.
    if (lock) {
      Status locked = LockWithin(file.get(), kTableLock, 1, LockMode::kShared, settings_.lock_wait_ms);
      if (locked.IsBusy()) return Status::Busy(TableBusyMessage(path, settings_.lock_wait_ms));
      XBASE_RETURN_IF_ERROR(locked);
    }
    Status s = DbfFile::Load(path, std::move(file), &w.dbf);
    if (s.ok() && w.dbf->has_memo()) {
      w.memo_path = CompanionPath(env_, path, "FPT");
      s = env_->FileExists(w.memo_path) ? MemoFile::Open(env_, w.memo_path, mode == OpenMode::kReadOnly, &w.memo)
                                        : Status::NotFound(w.memo_path + ": memo file of the table is missing");
    }
    if (s.ok()) s = w.ReadCodePage();
    if (s.ok()) s = w.OpenIndex();
    // A table that failed to load was closed with its handle, which let go of the lock.
    if (lock && w.dbf) w.dbf->file()->Unlock(kTableLock, 1).IgnoreError();
    XBASE_RETURN_IF_ERROR(s);
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
  if (Status ended = it->second->EndBatch(); s.ok()) s = ended;
  it->second->Unlock(0).IgnoreError();  // closing the file lets go of its locks anyway
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
