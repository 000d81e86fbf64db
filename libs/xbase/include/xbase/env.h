// The engine reaches the file system only through Env and File, so tests can
// make a write fail, or stop the process at a chosen write or rename.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "xbase/status.h"

namespace xbase {

enum class LockMode { kShared, kExclusive };

class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; *got is less than n only at the end of the file.
  virtual Status Read(uint64_t offset, size_t n, char* buf, size_t* got) = 0;
  virtual Status Write(uint64_t offset, std::string_view data) = 0;
  virtual Status Size(uint64_t* size) = 0;
  virtual Status Truncate(uint64_t size) = 0;
  virtual Status Sync() = 0;
  // Byte-range lock owned by this open file (not by the process), so two work
  // areas of one process on the same table conflict exactly as two processes do.
  // With wait false a conflict returns Busy at once.
  virtual Status Lock(uint64_t start, uint64_t len, LockMode mode, bool wait) = 0;
  virtual Status Unlock(uint64_t start, uint64_t len) = 0;

  // Reads exactly n bytes or fails with Corruption (short file) / IOError.
  Status ReadExact(uint64_t offset, size_t n, char* buf);
};

enum class OpenFlags { kReadWrite, kReadOnly, kCreateTruncate };

class Env {
 public:
  virtual ~Env() = default;
  virtual Status OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Atomically replaces `to` with `from` (rename(2) semantics).
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  virtual Status RemoveFile(const std::string& path) = 0;
  // Makes earlier renames in the folder of `path` durable.
  virtual Status SyncDir(const std::string& path) = 0;

  // The process-wide POSIX environment. Never deleted.
  static Env* Default();
};

// Wraps another Env and counts writes and renames. When the countdown reaches
// zero the next one either fails with IOError or calls the crash hook (which a
// test sets to kill the process) before anything reaches the disk.
class FaultInjectionEnv : public Env {
 public:
  explicit FaultInjectionEnv(Env* base) : base_(base) {}

  // After `n` successful writes/renames, the next one faults. -1 disables.
  void FailAfter(int64_t n, bool always = false) {
    countdown_ = n;
    forever_ = always;
  }
  // Called instead of failing when set; used to kill the process mid-operation.
  void SetCrashHook(std::function<void()> hook) { crash_hook_ = std::move(hook); }
  int64_t operations() const { return operations_; }

  Status OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) override;
  bool FileExists(const std::string& path) override { return base_->FileExists(path); }
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status SyncDir(const std::string& path) override { return base_->SyncDir(path); }

  // Returns non-OK when this operation is the faulting one.
  Status Tick(std::string_view what);

 private:
  Env* base_;
  int64_t countdown_ = -1;
  bool forever_ = false;
  bool failed_ = false;
  int64_t operations_ = 0;
  std::function<void()> crash_hook_;
};

}  // namespace xbase
