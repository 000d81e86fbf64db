#include "viewer/viewer_import.h"

#include "core/off_thread.h"

#include <QTimer>

#include <algorithm>

namespace chimewise::viewer {

CalendarImportRun::CalendarImportRun(CalendarImporter& importer, const QString& path, const QDateTime& now,
                                     const ImportOptions& options, QObject* parent)
    : QObject(parent), m_importer(importer), m_path(path), m_now(now), m_options(options) {}

CalendarImportRun::~CalendarImportRun() = default;

void CalendarImportRun::Start() {
  if (m_running) return;
  m_running = true;
  emit progress(0, 0);
  KnownReminders known;
  if (m_report.problem = m_importer.ReadKnown(&known); !m_report.problem.ok()) {
    m_read = true;
    QTimer::singleShot(0, this, [this] { finish(); });
    return;
  }
  m_reading = std::make_unique<OffThread<Planned>>(
      this,
      [path = m_path, now = m_now, options = m_options, known = std::move(known)](const std::atomic<bool>& stop) {
        Planned p;
        p.file = ReadCalendarFile(path, now);
        if (p.file.error.isEmpty() && !stop) p.plan = PlanImport(p.file, known, options, now);
        return p;
      },
      [this](Planned planned) { read(std::move(planned)); });
}

void CalendarImportRun::Cancel() {
  if (!m_running || m_cancelled) return;
  m_cancelled = true;
  // While the file is still being read nothing has changed: the run ends now, and goes once the
  // reading thread is done. While saving, the next slice ends it.
  if (!m_read) QTimer::singleShot(0, this, [this] { finish(); });
}

void CalendarImportRun::read(Planned planned) {
  m_read = true;
  m_file = std::move(planned.file);
  m_plan = std::move(planned.plan);
  if (m_cancelled) {
    if (!m_running) deleteLater();
    return;
  }
  if (!m_file.error.isEmpty()) {
    m_report.error = m_file.error;
    finish();
    return;
  }
  CountPlan(m_plan, &m_report);
  emit progress(0, static_cast<int>(m_plan.steps.size()));
  QTimer::singleShot(0, this, [this] { nextSlice(); });
}

void CalendarImportRun::nextSlice() {
  if (m_cancelled || m_next >= m_plan.steps.size()) {
    finish();
    return;
  }
  const size_t to = std::min(m_next + kSlice, m_plan.steps.size());
  m_importer.Apply(m_file, m_plan, m_next, to, &m_report);
  m_next = to;
  emit progress(static_cast<int>(m_next), static_cast<int>(m_plan.steps.size()));
  QTimer::singleShot(0, this, [this] { nextSlice(); });
}

void CalendarImportRun::finish() {
  if (!m_running) return;
  m_running = false;
  if (m_read && m_report.error.isEmpty()) m_importer.Finish(m_file, m_plan, m_next, &m_report);
  emit finished(m_report, m_cancelled);
  if (m_read) deleteLater();
}

}  // namespace chimewise::viewer
