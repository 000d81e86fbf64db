#include "shell/optimize.h"

#include "core/clock.h"
#include "core/ports.h"
#include "core/problem.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/reminder_record.h"

#include <QCursor>
#include <QGuiApplication>
#include <xbase/engine.h>

namespace chimewise {

bool RebuildDatabase(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                     xbase::Engine& engine, SpeakerPort& speaker, WindowsPort& windows, ViewerPort& viewer,
                     SchedulePort& schedule) {
  if (QGuiApplication::instance()) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  speaker.SayText(QStringLiteral("Rebuilding your Reminder Database"));
  windows.CloseDialogs();
  schedule.CloseSchedule();
  const bool viewerWasOpen = viewer.CloseViewer();
  std::optional<xbase::TableRepair> repaired;
  bool foreignIndex = false;
  const xbase::Status s = data::RebuildDatabase(engine, state.AppFolder, &repaired, &foreignIndex);
  if (s.ok()) speaker.SayText(QStringLiteral("Your Reminder Database has been rebuilt and is ready to use."));
  if (viewerWasOpen) viewer.ReopenViewer();
  if (s.ok()) settings.write(settings::LastOptimize, FormatDateText(clock.now().addDays(20)));
  if (QGuiApplication::instance()) QGuiApplication::restoreOverrideCursor();
  if (repaired) {
    const Wording w =
        Describe({ProblemKind::TableCountRepaired, {}, QString::number(repaired->header_count), repaired->found_count});
    prompter.notice(w.text, w.title, w.icon);
  }
  // Said once: the index is the program's own from now on.
  if (foreignIndex) {
    const Wording w = Describe(ForeignIndexProblem(state.AppFolder));
    prompter.notice(w.text, w.title, w.icon);
  }
  if (!s.ok())
    prompter.notice(QStringLiteral("Your reminders could not be optimized: ") + QString::fromStdString(s.ToString()) +
                        QStringLiteral("\nNothing was lost; the reminders stay as they were."),
                    QString(), PromptIcon::Warning);
  return s.ok();
}

}  // namespace chimewise
