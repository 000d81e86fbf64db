// The engine reaches the file system only through Env and File, so tests can
// put a layer between them that makes a write fail, or stops the process at a
// chosen write or rename.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "xbase/status.h"

namespace xbase {

enum class LockMode { kShared, kExclusive };

// Which file a path or an open handle refers to (device and inode on POSIX). A
// path can be renamed over while a handle to the file it named stays open;
// comparing the two identities tells whether the handle still holds the file
// that others find at the path.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

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
  // Never waits: a conflict returns Busy at once. Waiting for a holder to let go,
  // always up to a deadline, is the engine's business (see EngineSettings).
  virtual Status Lock(uint64_t start, uint64_t len, LockMode mode) = 0;
  virtual Status Unlock(uint64_t start, uint64_t len) = 0;
  // The identity of the open file (which survives renames of its path).
  virtual Status Id(FileId* id) = 0;

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
  // The identity of the file now at `path`; NotFound when there is none.
  virtual Status PathId(const std::string& path, FileId* id) = 0;

  // The process-wide POSIX environment. Never deleted.
  static Env* Default();
};

}  // namespace xbase
