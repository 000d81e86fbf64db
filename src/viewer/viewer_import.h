#pragma once
// File > Import Calendar while the program runs. The reminders already there are read first; the
// file is then read, parsed and each event's fate decided on a thread of its own; the reminders are
// then saved on this thread a slice at a time, each slice under one lock,
// with a turn of the event loop between slices, so the reminder timer and the windows carry on
// throughout. Cancel stops before the next slice: what was saved stays, each reminder whole.

#include "exchange/calendar_import.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <memory>

namespace chimewise {
template <typename Result>
class OffThread;
}

namespace chimewise::viewer {

class CalendarImportRun final : public QObject {
  Q_OBJECT
 public:
  // Reminders saved in one slice, between two turns of the event loop.
  static constexpr size_t kSlice = 500;

  // `importer` outlives the run. Start() begins; the outcome comes once through finished(), and
  // the run then deletes itself (once the reading thread is done).
  CalendarImportRun(CalendarImporter& importer, const QString& path, const QDateTime& now, const ImportOptions& options,
                    QObject* parent = nullptr);
  ~CalendarImportRun() override;

  void Start();
  // Stops before the next slice (or drops the file still being read); finished() follows with
  // what was done so far.
  void Cancel();
  bool cancelled() const { return m_cancelled; }
  bool running() const { return m_running; }

 signals:
  // `done` of `total` events dealt with; total 0 while the file is still being read.
  void progress(int done, int total);
  // Once, at the end (also after Cancel). report.error: the file was not read, nothing changed.
  void finished(const chimewise::ImportReport& report, bool cancelled);

 private:
  // What the reading thread hands back: the file, and what to do with each of its events.
  struct Planned {
    CalendarFile file;
    ImportPlan plan;
  };
  void read(Planned planned);
  void nextSlice();
  void finish();

  CalendarImporter& m_importer;
  QString m_path;
  QDateTime m_now;
  ImportOptions m_options;
  std::unique_ptr<OffThread<Planned>> m_reading;
  CalendarFile m_file;
  ImportPlan m_plan;
  ImportReport m_report;
  size_t m_next = 0;
  bool m_read = false;  // the reading thread handed its result back
  bool m_running = false;
  bool m_cancelled = false;
};

}  // namespace chimewise::viewer
