#include "xbase/env.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xbase {

Status File::ReadExact(uint64_t offset, size_t n, char* buf) {
  size_t got = 0;
  XBASE_RETURN_IF_ERROR(Read(offset, n, buf, &got));
  if (got != n) {
    return Status::Corruption("file ends at byte " + std::to_string(offset + got) + ", expected " + std::to_string(n) +
                              " bytes at offset " + std::to_string(offset));
  }
  return Status::OK();
}

namespace {

Status PosixError(const std::string& context, int err) { return Status::IOError(context + ": " + strerror(err)); }

class PosixFile final : public File {
 public:
  PosixFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  Status Read(uint64_t offset, size_t n, char* buf, size_t* got) override {
    *got = 0;
    while (*got < n) {
      ssize_t r = ::pread(fd_, buf + *got, n - *got, static_cast<off_t>(offset + *got));
      if (r < 0) {
        if (errno == EINTR) continue;
        return PosixError("read " + path_, errno);
      }
      if (r == 0) break;
      *got += static_cast<size_t>(r);
    }
    return Status::OK();
  }

  Status Write(uint64_t offset, std::string_view data) override {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t r = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return PosixError("write " + path_, errno);
      }
      done += static_cast<size_t>(r);
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return PosixError("stat " + path_, errno);
    *size = static_cast<uint64_t>(st.st_size);
    return Status::OK();
  }

  Status Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return PosixError("truncate " + path_, errno);
    return Status::OK();
  }

  Status Sync() override {
    if (::fdatasync(fd_) != 0) return PosixError("sync " + path_, errno);
    return Status::OK();
  }

  Status Lock(uint64_t start, uint64_t len, LockMode mode) override {
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = mode == LockMode::kShared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(len);
    for (;;) {
      if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return Status::OK();
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES) return Status::Busy(path_ + " is locked by another user");
      return PosixError("lock " + path_, errno);
    }
  }

  Status Id(FileId* id) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return PosixError("stat " + path_, errno);
    *id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return Status::OK();
  }

  Status Unlock(uint64_t start, uint64_t len) override {
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(len);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) return PosixError("unlock " + path_, errno);
    return Status::OK();
  }

 private:
  std::string path_;
  int fd_;
};

class PosixEnv final : public Env {
 public:
  Status OpenFile(const std::string& path, OpenFlags flags, std::unique_ptr<File>* out) override {
    int oflags = O_CLOEXEC;
    switch (flags) {
      case OpenFlags::kReadWrite: oflags |= O_RDWR; break;
      case OpenFlags::kReadOnly: oflags |= O_RDONLY; break;
      case OpenFlags::kCreateTruncate: oflags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd = ::open(path.c_str(), oflags, 0644);
    if (fd < 0) {
      if (errno == ENOENT) return Status::NotFound(path + ": no such file");
      return PosixError("open " + path, errno);
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
      ::close(fd);
      return Status::InvalidArgument(path + " is not a regular file");
    }
    *out = std::make_unique<PosixFile>(path, fd);
    return Status::OK();
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return PosixError("rename " + from + " to " + to, errno);
    return Status::OK();
  }

  Status RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) {
      if (errno == ENOENT) return Status::NotFound(path + ": no such file");
      return PosixError("remove " + path, errno);
    }
    return Status::OK();
  }

  Status PathId(const std::string& path, FileId* id) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return Status::NotFound(path + ": no such file");
      return PosixError("stat " + path, errno);
    }
    *id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return Status::OK();
  }

  Status SyncDir(const std::string& path) override {
    std::string dir = ".";
    auto slash = path.rfind('/');
    if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return PosixError("open folder " + dir, errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0) return PosixError("sync folder " + dir, err);
    return Status::OK();
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace xbase
