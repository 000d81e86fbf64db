// Another program holding a table's lock: an F_OFD lock of its own, against every work area of the test.
#pragma once

#include <fcntl.h>
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
  // The bytes the engine locks (libs/xbase/README.md, Locking): the open byte and the table byte.
  static constexpr std::uint64_t kOpenByte = std::uint64_t{1} << 40;
  static constexpr std::uint64_t kTableByte = kOpenByte + 1;

  // Should the lock still be held after `guard`, a watchdog lets go of it and guardFired() says so.
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

  // Holds the table as a writer mid-write does; false when the file or a lock could not be had.
  bool holdTable() { return lock(kOpenByte, F_RDLCK) && lock(kTableByte, F_WRLCK); }
  // The same, trying again for a while (a program using the table holds the lock for moments).
  bool holdTableWithin(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!holdTable()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // Lets go of everything held; safe to call more than once.
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
    struct flock fl {};
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
