#pragma once
// A work area of the reminder table (or of another table the program reads) held for the length of
// a scope: it opens on construction and closes on destruction, so no exit of the code using it can
// leave the table open. The handle closes only what it opened: an alias that was already open
// (the viewer's, while the viewer shows) is used and left open.
//
// Seeks go through the handle with the mode they need, so that whether a lookup lands on the next
// key does not depend on what some other code set the engine to.

#include "xbase/engine.h"

#include <QString>

#include <string_view>

namespace chimewise::data {

class TableHandle {
 public:
  // Opens `path` under `alias` in `mode` (kModeShared or kModeExclusive); see OpenTable.
  TableHandle(xbase::Engine& engine, const QString& path, const QString& alias, int mode);
  // The reminder table of `appFolder`, in the ALARM order, its index repaired once when it cannot
  // serve and `mayRepair`; see OpenCalendar.
  static TableHandle Calendar(xbase::Engine& engine, const QString& appFolder, const QString& alias,
                              bool mayRepair = true, bool* repaired = nullptr, bool* foreignIndex = nullptr);
  ~TableHandle();

  TableHandle(TableHandle&& other) noexcept;
  TableHandle& operator=(TableHandle&&) = delete;
  TableHandle(const TableHandle&) = delete;
  TableHandle& operator=(const TableHandle&) = delete;

  bool ok() const { return m_area > 0; }
  explicit operator bool() const { return ok(); }
  // Why it is not open (OK when it is).
  const xbase::Status& status() const { return m_status; }
  int area() const { return m_area; }
  xbase::WorkArea* get() const;
  xbase::WorkArea* operator->() const { return get(); }
  xbase::WorkArea& operator*() const { return *get(); }

  // In the current order: to the key (exact), or with `soft` to the first key not below it.
  xbase::Status Seek(std::string_view key, bool soft, bool* found = nullptr) const;

  // Closes now (what the scope's end would do), committing what the work area still holds.
  void Close();
  // Leaves the area open past the scope: for a window that keeps the table while it shows.
  int Keep();

 private:
  TableHandle(xbase::Engine& engine, const QString& alias);
  xbase::Engine* m_engine;
  QString m_alias;
  int m_area = 0;
  bool m_owned = false;
  xbase::Status m_status;
};

}  // namespace chimewise::data
