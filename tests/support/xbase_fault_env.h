// An xbase::Env that counts writes, truncates, renames and removals and makes a chosen one fail (or
// stop the process through a hook); it counts its faults, so a test can show its fault fired.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "xbase/env.h"

namespace xbase {

class FaultInjectionEnv : public Env {
 public:
  explicit FaultInjectionEnv(Env* base) : base_(base) {}

  // After `n` successful operations the next one faults; -1 disables.
  void FailAfter(int64_t n) { countdown_ = n; }
  // A faulting write fails (kTorn: after half) or succeeds having written half or a changed last byte.
  enum class WriteFault { kFail, kTorn, kShort, kChanged };
  void SetWriteFault(WriteFault kind) { write_fault_ = kind; }
  WriteFault write_fault() const { return write_fault_; }
  // Called instead of failing when set; used to kill the process mid-operation.
  void SetCrashHook(std::function<void()> hook) { crash_hook_ = std::move(hook); }
  // Runs `hook` once, just before the next byte-range lock taken through this Env.
  void SetLockHook(std::function<void()> hook) { lock_hook_ = std::move(hook); }
  int64_t lock_hooks_run() const { return lock_hooks_run_; }
  void BeforeLock();
  int64_t operations() const { return operations_; }
  int64_t faults() const { return faults_; }
  // What the last fault struck: "write", "truncate", "rename" or "remove".
  const std::string& last_fault() const { return last_fault_; }

  Status OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) override;
  bool FileExists(const std::string& path) override { return base_->FileExists(path); }
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status SyncDir(const std::string& path) override { return base_->SyncDir(path); }
  Status PathId(const std::string& path, FileId* id) override { return base_->PathId(path, id); }

  // Counts one operation; returns IOError (and counts a fault) when it is the faulting one.
  Status Tick(std::string_view what);

 private:
  Env* base_;
  int64_t countdown_ = -1, operations_ = 0, faults_ = 0, lock_hooks_run_ = 0;
  WriteFault write_fault_ = WriteFault::kFail;
  std::string last_fault_;
  std::function<void()> crash_hook_, lock_hook_;
};

}  // namespace xbase
