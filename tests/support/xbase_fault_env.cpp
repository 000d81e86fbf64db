#include "support/xbase_fault_env.h"

namespace xbase {
namespace {

class FaultFile final : public File {
 public:
  FaultFile(FaultInjectionEnv* env, std::unique_ptr<File> base) : env_(env), base_(std::move(base)) {}
  Status Read(uint64_t offset, size_t n, char* buf, size_t* got) override { return base_->Read(offset, n, buf, got); }
  Status Write(uint64_t offset, std::string_view data) override {
    Status s = env_->Tick("write");
    if (s.ok()) return base_->Write(offset, data);
    using Kind = FaultInjectionEnv::WriteFault;
    switch (env_->write_fault()) {
      case Kind::kShort: return base_->Write(offset, data.substr(0, data.size() / 2));
      case Kind::kChanged: {
        std::string changed(data);
        if (!changed.empty()) changed.back() = static_cast<char>(changed.back() ^ 1);
        return base_->Write(offset, changed);
      }
      case Kind::kTorn:
        if (data.size() > 1) base_->Write(offset, data.substr(0, data.size() / 2)).IgnoreError();  // torn on purpose
        return s;
      case Kind::kFail: break;
    }
    return s;
  }
  Status Size(uint64_t* size) override { return base_->Size(size); }
  Status Truncate(uint64_t size) override {
    XBASE_RETURN_IF_ERROR(env_->Tick("truncate"));
    return base_->Truncate(size);
  }
  Status Sync() override { return base_->Sync(); }
  Status Lock(uint64_t start, uint64_t len, LockMode mode) override {
    env_->BeforeLock();
    return base_->Lock(start, len, mode);
  }
  Status Unlock(uint64_t start, uint64_t len) override { return base_->Unlock(start, len); }
  Status Id(FileId* id) override { return base_->Id(id); }

 private:
  FaultInjectionEnv* env_;
  std::unique_ptr<File> base_;
};

}  // namespace

void FaultInjectionEnv::BeforeLock() {
  if (!lock_hook_) return;
  auto hook = std::move(lock_hook_);
  lock_hook_ = nullptr;
  ++lock_hooks_run_;
  hook();
}

Status FaultInjectionEnv::Tick(std::string_view what) {
  ++operations_;
  if (countdown_ < 0) return Status::OK();
  if (countdown_ > 0) {
    --countdown_;
    return Status::OK();
  }
  countdown_ = -1;
  ++faults_;
  last_fault_ = what;
  if (crash_hook_) crash_hook_();
  return Status::IOError("injected failure (" + std::string(what) + ")");
}

Status FaultInjectionEnv::OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) {
  std::unique_ptr<File> base;
  XBASE_RETURN_IF_ERROR(base_->OpenFile(path, flags, &base));
  *out = std::make_unique<FaultFile>(this, std::move(base));
  return Status::OK();
}

Status FaultInjectionEnv::RenameFile(const std::string& from, const std::string& to) {
  XBASE_RETURN_IF_ERROR(Tick("rename"));
  return base_->RenameFile(from, to);
}

Status FaultInjectionEnv::RemoveFile(const std::string& path) {
  XBASE_RETURN_IF_ERROR(Tick("remove"));
  return base_->RemoveFile(path);
}

}  // namespace xbase
