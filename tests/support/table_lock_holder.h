// Another program holding an xBase table's lock, for tests: a byte-range lock taken on an open
// file description of its own. The engine's locks belong to the open file description (F_OFD), so
// this one conflicts with every work area of the test's own process, as another process's would.
// Plain POSIX, no engine calls: it is what a pack or a writer in another program looks like.
#pragma once

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace chimewise::testsupport {

class TableLockHolder {
 public:
  // The bytes the engine locks on the table file (see libs/xbase/README.md, Locking): the open
  // byte is held shared by every user and exclusively for sole use (a pack); the table byte is
  // taken shared by each read and exclusively by each write.
  static constexpr std::uint64_t kOpenByte = std::uint64_t{1} << 40;
  static constexpr std::uint64_t kTableByte = kOpenByte + 1;

  // Guards the test against a wait without end: should the lock still be held after `guard`, a
  // watchdog lets go of it (so whatever waits for it ends) and guardFired() says so.
  explicit TableLockHolder(const std::string& table, std::chrono::seconds guard = std::chrono::seconds(60))
      : m_fd(::open(table.c_str(), O_RDWR | O_CLOEXEC)) {
    m_watchdog = std::thread([this, guard] {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!m_released.wait_for(lock, guard, [this] { return m_fd < 0; })) {
        m_guardFired = true;
        closeLocked();
      }
    });
  }
  ~TableLockHolder() {
    release();
    m_watchdog.join();
  }
  TableLockHolder(const TableLockHolder&) = delete;
  TableLockHolder& operator=(const TableLockHolder&) = delete;

  // Holds the table as a writer in the middle of its write does: the open byte shared, as every
  // user of the table holds it (so nobody gets exclusive use meanwhile), and the table byte
  // exclusively. False when the file could not be opened or another user holds either.
  bool holdTable() { return lock(kOpenByte, F_RDLCK) && lock(kTableByte, F_WRLCK); }
  // The same, trying again for a while: a program that has the table open takes the lock for
  // moments at a time (a scan, a save), and the holder takes it in between.
  bool holdTableWithin(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!holdTable()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // Lets go of everything held (by closing the description); safe to call more than once.
  void release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
  }
  // Whether the watchdog had to let go: something waited for the lock without a deadline.
  bool guardFired() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_guardFired;
  }

 private:
  void closeLocked() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_released.notify_all();
  }
  bool lock(std::uint64_t byte, short type) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_fd < 0) return false;
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(byte);
    fl.l_len = 1;
    return ::fcntl(m_fd, F_OFD_SETLK, &fl) == 0;
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  int m_fd = -1;
  bool m_guardFired = false;
  std::thread m_watchdog;
};

}  // namespace chimewise::testsupport
