#include "data/table_handle.h"

#include "data/calendar.h"
#include "data/reminder_record.h"

namespace chimewise::data {

namespace {

// Why the open work area's index cannot serve the program: not trusted, or without the tag the
// lookups go by.
xbase::Status IndexProblem(xbase::WorkArea& wa) {
  if (!wa.IndexStatus().ok()) return wa.IndexStatus();
  if (wa.TagArea("ALARM") == 0) return xbase::Status::Corruption(wa.path() + ": the index has no ALARM tag");
  return wa.SetOrder(wa.TagArea("ALARM"));
}

}  // namespace

TableHandle::TableHandle(xbase::Engine& engine, const QString& alias) : m_engine(&engine), m_alias(alias) {}

TableHandle::TableHandle(xbase::Engine& engine, const QString& path, const QString& alias, int mode)
    : TableHandle(engine, alias) {
  open(path, mode, "the table could not be opened");
}

void TableHandle::open(const QString& path, int mode, const char* failure) {
  m_owned = m_engine->WorkAreaOf(m_alias.toStdString()) == 0;
  m_area = OpenTable(*m_engine, path, m_alias, mode, &m_status);
  if (m_area < 1 && m_status.ok()) m_status = xbase::Status::IOError(failure);
}

TableHandle TableHandle::Afresh(xbase::Engine& engine, const QString& path, const QString& alias, int mode) {
  // The commit's outcome is the earlier reader's: it has committed or dropped its changes.
  if (const int left = engine.WorkAreaOf(alias.toStdString()); left != 0) engine.Close(left).IgnoreError();
  return TableHandle(engine, path, alias, mode);
}

TableHandle TableHandle::Calendar(xbase::Engine& engine, const QString& appFolder, const QString& alias, bool mayRepair,
                                  bool* repaired, bool* foreignIndex) {
  if (repaired) *repaired = false;
  const QString path = CalendarPath(appFolder);
  constexpr char kFailure[] = "the reminder table could not be opened";
  TableHandle h(engine, alias);
  h.open(path, kModeShared, kFailure);
  if (!h) return h;
  h.m_status = IndexProblem(*h);
  if (h.m_status.ok()) return h;
  h.Close().IgnoreError();  // nothing was written through it
  if (!mayRepair) return h;
  if (xbase::Status s = RepairCalendarIndex(engine.env(), appFolder, foreignIndex); !s.ok()) {
    h.m_status = s;
    return h;
  }
  if (repaired) *repaired = true;
  h.open(path, kModeShared, kFailure);
  if (!h) return h;
  h.m_status = IndexProblem(*h);
  if (!h.m_status.ok()) h.Close().IgnoreError();
  return h;
}

TableHandle::TableHandle(TableHandle&& other) noexcept
    : m_engine(other.m_engine),
      m_alias(std::move(other.m_alias)),
      m_area(other.m_area),
      m_owned(other.m_owned),
      m_status(std::move(other.m_status)) {
  other.m_area = 0;
  other.m_owned = false;
}

TableHandle::~TableHandle() { Close().IgnoreError(); }

xbase::WorkArea* TableHandle::get() const { return m_area > 0 ? m_engine->Area(m_area) : nullptr; }

xbase::Status TableHandle::Seek(std::string_view key, bool soft, bool* found) const {
  xbase::WorkArea* wa = get();
  if (!wa) return m_status.ok() ? xbase::Status::IOError("the table is not open") : m_status;
  bool& mode = m_engine->settings().soft_seek;
  const bool before = mode;
  mode = soft;
  xbase::Status s = wa->Seek(key, found);
  mode = before;
  return s;
}

xbase::Status TableHandle::Close() {
  xbase::Status s;
  // Only its own area, and only while the alias still names it: after the whole engine was closed
  // (and the alias perhaps opened again by someone else) there is nothing of this handle's left.
  if (m_area > 0 && m_owned && m_engine->WorkAreaOf(m_alias.toStdString()) == m_area) s = m_engine->Close(m_area);
  m_area = 0;
  m_owned = false;
  return s;
}

}  // namespace chimewise::data
