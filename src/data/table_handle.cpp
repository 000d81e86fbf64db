#include "data/table_handle.h"

#include "data/calendar.h"
#include "data/reminder_record.h"

namespace chimewise::data {

TableHandle::TableHandle(xbase::Engine& engine, const QString& alias) : m_engine(&engine), m_alias(alias) {}

TableHandle::TableHandle(xbase::Engine& engine, const QString& path, const QString& alias, int mode)
    : TableHandle(engine, alias) {
  m_owned = engine.WorkAreaOf(alias.toStdString()) == 0;
  m_area = OpenTable(engine, path, alias, mode, &m_status);
  if (m_area < 1 && m_status.ok()) m_status = xbase::Status::IOError("the table could not be opened");
}

TableHandle TableHandle::Calendar(xbase::Engine& engine, const QString& appFolder, const QString& alias, bool mayRepair,
                                  bool* repaired, bool* foreignIndex) {
  TableHandle h(engine, alias);
  h.m_owned = engine.WorkAreaOf(alias.toStdString()) == 0;
  int area = 0;
  h.m_status = OpenCalendar(engine, appFolder, alias, &area, mayRepair, repaired, foreignIndex);
  h.m_area = h.m_status.ok() ? area : 0;
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

TableHandle::~TableHandle() { Close(); }

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

void TableHandle::Close() {
  if (m_area > 0 && m_owned) CloseTableIfOpen(*m_engine, m_alias);
  m_area = 0;
  m_owned = false;
}

int TableHandle::Keep() {
  const int area = m_area;
  m_area = 0;
  m_owned = false;
  return area;
}

}  // namespace chimewise::data
