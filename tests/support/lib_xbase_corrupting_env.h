// A disk that changes what it was given without saying so, for the engine's tests: the last
// byte of the first write of at least min_size bytes is flipped, and the write reports success.
#pragma once

#include <memory>
#include <string>

#include "xbase/env.h"

namespace xbase::testing {

class CorruptingEnv : public Env {
 public:
  CorruptingEnv(Env* base, size_t min_size) : base_(base), min_size_(min_size) {}
  bool corrupted() const { return corrupted_; }

  Status OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) override {
    std::unique_ptr<File> file;
    XBASE_RETURN_IF_ERROR(base_->OpenFile(path, flags, &file));
    *out = std::make_unique<CorruptingFile>(this, std::move(file));
    return Status::OK();
  }
  bool FileExists(const std::string& path) override { return base_->FileExists(path); }
  Status RenameFile(const std::string& from, const std::string& to) override { return base_->RenameFile(from, to); }
  Status RemoveFile(const std::string& path) override { return base_->RemoveFile(path); }
  Status SyncDir(const std::string& path) override { return base_->SyncDir(path); }
  Status PathId(const std::string& path, FileId* id) override { return base_->PathId(path, id); }

 private:
  class CorruptingFile : public File {
   public:
    CorruptingFile(CorruptingEnv* env, std::unique_ptr<File> base) : env_(env), base_(std::move(base)) {}
    Status Read(uint64_t offset, size_t n, char* buf, size_t* got) override { return base_->Read(offset, n, buf, got); }
    Status Write(uint64_t offset, std::string_view data) override {
      if (env_->corrupted_ || data.size() < env_->min_size_) return base_->Write(offset, data);
      env_->corrupted_ = true;
      std::string changed(data);
      changed.back() = static_cast<char>(changed.back() ^ 1);
      return base_->Write(offset, changed);
    }
    Status Size(uint64_t* size) override { return base_->Size(size); }
    Status Truncate(uint64_t size) override { return base_->Truncate(size); }
    Status Sync() override { return base_->Sync(); }
    Status Lock(uint64_t start, uint64_t len, LockMode mode) override { return base_->Lock(start, len, mode); }
    Status Unlock(uint64_t start, uint64_t len) override { return base_->Unlock(start, len); }
    Status Id(FileId* id) override { return base_->Id(id); }

   private:
    CorruptingEnv* env_;
    std::unique_ptr<File> base_;
  };

  Env* base_;
  size_t min_size_;
  bool corrupted_ = false;
};

}  // namespace xbase::testing
