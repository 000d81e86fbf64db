#pragma once
// A work area of the reminder table (or of another table the program reads) held for the length of
// a scope: it opens on construction and closes on destruction, so no exit of the code using it can
// leave the table open. The handle closes only what it opened: an alias that was already open is
// used and left open. A window that keeps the table while it shows holds a handle as a member
// (std::optional<TableHandle>), and resets it to let go.
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
  // As the constructor, but an area still open under `alias` is closed first, so that the table is
  // read afresh (what changed on disk since is seen) and this handle closes it.
  static TableHandle Afresh(xbase::Engine& engine, const QString& path, const QString& alias, int mode);
  // The reminder table of `appFolder` (shared; check CalendarPlaceProblem first to tell a missing
  // table apart), ready for lookups in the ALARM order. An index that is missing, untrusted,
  // damaged or without the calendar's tags is rebuilt once when `mayRepair` (RepairCalendarIndex:
  // the table packed, as at start-up) and the table opened again; *repaired (optional) says so.
  // Not open when even that fails, with the rebuild's Status in status(); with mayRepair false (a
  // caller that must not write) the index trouble is there instead. *foreignIndex as for
  // RepairCalendarIndex.
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
  // The work area; null when the handle is not open, or when the whole engine was closed under it
  // (the program ending closes every table before its windows).
  xbase::WorkArea* get() const;
  xbase::WorkArea* operator->() const { return get(); }
  xbase::WorkArea& operator*() const { return *get(); }

  // In the current order: to the key (exact), or with `soft` to the first key not below it.
  xbase::Status Seek(std::string_view key, bool soft, bool* found = nullptr) const;

  // Closes now (what the scope's end would do), committing what the work area still holds; the
  // commit's error, if any (the area is closed either way).
  xbase::Status Close();

 private:
  TableHandle(xbase::Engine& engine, const QString& alias);
  void open(const QString& path, int mode, const char* failure);
  xbase::Engine* m_engine;
  QString m_alias;
  int m_area = 0;
  bool m_owned = false;
  xbase::Status m_status;
};

}  // namespace chimewise::data
