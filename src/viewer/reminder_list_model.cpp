#include "viewer/reminder_list_model.h"

#include "alarms/repeat_series.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"

#include <QApplication>
#include <QStyle>
#include <xbase/engine.h>

#include <algorithm>

namespace chimewise::viewer {

namespace {
const char* const kColumnFields[3] = {"ALARMTEXT", "APPT_TEXT", "DATETEXT"};
const char* const kColumnCaptions[3] = {"Reminder", "Activity", "Activity Date"};
}  // namespace

QString CurrentStamp(const QDateTime& now) {
  return now.date().toString(QStringLiteral("yyyyMMdd")) + data::KeyMinutes(MinuteOfDay(now));
}

xbase::Status ListedRecords(xbase::WorkArea& area, const std::optional<QString>& stamp, std::vector<uint32_t>* out) {
  out->clear();
  std::vector<uint8_t> activityPassed;
  std::string limit;
  if (stamp) {
    limit = stamp->toStdString();
    activityPassed.assign(static_cast<size_t>(area.RecCount()) + 1, 0);
    // The activity keys in order: the scan stops at the first one past the stamp.
    bool stopped = false;
    xbase::Status s = area.ScanTag("EVNTDATE", [&](uint32_t recno, const xbase::Value& key) {
      if (key.s > limit) {
        stopped = true;
        return xbase::Status::NotFound("past the stamp");
      }
      if (recno < activityPassed.size()) activityPassed[recno] = 1;
      return xbase::Status::OK();
    });
    if (!s.ok() && !stopped) return s;
  }
  return area.ScanTag("ALARM", [&](uint32_t recno, const xbase::Value& key) {
    if (!stamp || key.s <= limit || (recno < activityPassed.size() && activityPassed[recno])) out->push_back(recno);
    return xbase::Status::OK();
  });
}

ReminderListModel::ReminderListModel(xbase::Engine& engine, QObject* parent)
    : QAbstractTableModel(parent), m_engine(engine) {}

xbase::Status ReminderListModel::reload(bool showFuture, const QDateTime& now) {
  std::vector<uint32_t> recnos;
  xbase::Status s;
  if (xbase::WorkArea* wa = m_area > 0 ? m_engine.Area(m_area) : nullptr) {
    std::optional<QString> stamp;
    if (!showFuture) stamp = CurrentStamp(now);
    s = ListedRecords(*wa, stamp, &recnos);
    if (!s.ok()) recnos.clear();
  }
  beginResetModel();
  m_recnos = std::move(recnos);
  clearCache();
  m_recordsRead = 0;
  endResetModel();
  return s;
}

void ReminderListModel::dropRecord(uint32_t recno) {
  const int row = rowOf(recno);
  if (row < 0) return;
  beginRemoveRows({}, row, row);
  m_recnos.erase(m_recnos.begin() + row);
  clearCache();
  endRemoveRows();
}

uint32_t ReminderListModel::recnoAt(int row) const {
  return row >= 0 && row < rows() ? m_recnos[static_cast<size_t>(row)] : 0;
}

int ReminderListModel::rowOf(uint32_t recno) const {
  const auto it = std::find(m_recnos.begin(), m_recnos.end(), recno);
  return it == m_recnos.end() ? -1 : static_cast<int>(it - m_recnos.begin());
}

int ReminderListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows(); }

int ReminderListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

void ReminderListModel::clearCache() {
  m_blocks.clear();
  m_blockAge.clear();
}

const ReminderListModel::Block& ReminderListModel::block(int blockIndex) const {
  if (auto it = m_blocks.find(blockIndex); it != m_blocks.end()) {
    m_blockAge.remove(blockIndex);
    m_blockAge.push_front(blockIndex);
    return it->second;
  }
  if (m_blocks.size() >= kMaxBlocks) {
    m_blocks.erase(m_blockAge.back());
    m_blockAge.pop_back();
  }
  Block b;
  const int first = blockIndex * kBlockRows;
  const int last = std::min(rows(), first + kBlockRows);
  xbase::WorkArea* wa = m_area > 0 ? m_engine.Area(m_area) : nullptr;
  const std::optional<KeptEvents> kept =
      wa ? std::optional(KeptEvents::BesideTable(QString::fromStdString(wa->path()))) : std::nullopt;
  for (int row = first; row < last; ++row) {
    Row r;
    // A record another program removed meanwhile shows empty until the next refresh.
    if (wa && wa->Go(m_recnos[static_cast<size_t>(row)]).ok()) {
      ++m_recordsRead;
      for (int c = 0; c < 3; ++c) r.texts[static_cast<size_t>(c)] = TableText(*wa, kColumnFields[c]);
      std::string id;
      if (wa->GetString("REC_NO", &id).ok())
        if (const std::optional<KeptEvent> k = kept->Get(QByteArray::fromStdString(id)))
          r.repeat = SeriesSummary(k->series, m_timeFormat);
    }
    b.rows.push_back(std::move(r));
  }
  m_blockAge.push_front(blockIndex);
  return m_blocks.emplace(blockIndex, std::move(b)).first->second;
}

QVariant ReminderListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows() || index.column() > 2) return {};
  const Block& b = block(index.row() / kBlockRows);
  const Row& r = b.rows[static_cast<size_t>(index.row() % kBlockRows)];
  const QString& text = r.texts[static_cast<size_t>(index.column())];
  // A reminder that repeats is marked beside its activity, and says how it repeats.
  const bool marked = index.column() == ActivityColumn && !r.repeat.isEmpty();
  switch (role) {
    case Qt::DisplayRole: return text;
    case Qt::ToolTipRole: return marked ? text + QStringLiteral(" (repeats ") + r.repeat + u')' : text;
    case Qt::DecorationRole:
      return marked ? QVariant(QApplication::style()->standardIcon(QStyle::SP_BrowserReload)) : QVariant();
    case Qt::AccessibleDescriptionRole: return marked ? QStringLiteral("Repeats ") + r.repeat : QVariant();
    case RepeatRole: return r.repeat;
    default: return {};
  }
}

QVariant ReminderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal && section >= 0 && section < 3)
    return QString::fromLatin1(kColumnCaptions[section]);
  if (orientation == Qt::Vertical) return {};
  return {};
}

}  // namespace chimewise::viewer
