#pragma once
// The viewer's list of reminders, read from the open reminder table in ALARM order: every
// reminder with a pending alarm, or only the current ones (alarm or activity not later than the
// minute the list was last built for).
//
// Opening and refreshing read only the index: the list keeps the record numbers of its rows in
// order (four bytes a row) and reads a row's texts from the table when a view first asks for
// them, a block of rows at a time, keeping a bounded number of blocks. A list of 100,000
// reminders therefore opens without reading 100,000 records, and scrolling reads only what comes
// into sight.

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <xbase/status.h>

#include <cstdint>
#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

namespace xbase {
class Engine;
class WorkArea;
}  // namespace xbase

namespace chimewise::viewer {

// The record numbers of the ALARM tag (live records with an alarm date), in key order. With a
// stamp ("yyyymmdd" + the minute right-aligned in four, as the index keys read), only those
// whose ALARM key or EVNTDATE key is not later than the stamp. Reads the index, not the records.
xbase::Status ListedRecords(xbase::WorkArea& area, const std::optional<QString>& stamp, std::vector<uint32_t>* out);

// The stamp of the current-reminders list built at `now`.
QString CurrentStamp(const QDateTime& now);

class ReminderListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { ReminderColumn = 0, ActivityColumn = 1, ActivityDateColumn = 2 };
  // How a row's reminder repeats, in words (empty: it does not), on every column.
  static constexpr int RepeatRole = Qt::UserRole + 1;

  ReminderListModel(xbase::Engine& engine, QObject* parent = nullptr);

  // The time format repeats are told in.
  void setTimeFormat(const QString& pattern) { m_timeFormat = pattern; }
  // The work area the list reads (0: none, the list is empty).
  void setArea(int area) { m_area = area; }
  int area() const { return m_area; }

  // Reads the list again: every reminder, or (showFuture false) the current ones at `now`.
  xbase::Status reload(bool showFuture, const QDateTime& now);
  // Takes one record out of the list at once (a snoozed reminder leaving the current ones).
  void dropRecord(uint32_t recno);

  uint32_t recnoAt(int row) const;
  int rowOf(uint32_t recno) const;
  int rows() const { return static_cast<int>(m_recnos.size()); }
  // How many records were read from the table for the rows' texts since the last reload.
  int recordsRead() const { return m_recordsRead; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  static constexpr int kBlockRows = 64;
  static constexpr size_t kMaxBlocks = 32;
  struct Row {
    std::array<QString, 3> texts;
    QString repeat;  // how it repeats, in words; empty when it does not
  };
  struct Block {
    std::vector<Row> rows;
  };
  const Block& block(int blockIndex) const;
  void clearCache();

  xbase::Engine& m_engine;
  int m_area = 0;
  QString m_timeFormat = QStringLiteral("h:mm am/pm");
  std::vector<uint32_t> m_recnos;
  mutable std::unordered_map<int, Block> m_blocks;
  mutable std::list<int> m_blockAge;  // most recently used first
  mutable int m_recordsRead = 0;
};

}  // namespace chimewise::viewer
