#pragma once
// The rules of reminder alarms, as plain functions of a reminder's fields and the moment "now":
// what the character says when a reminder falls due, where its alarm moves next, and where a
// snooze puts it. Nothing here touches the table or the character.

#include "data/reminder_record.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chimewise {

// The text after the activity line: ". You're 2 hours and 5 minutes late." when late, ". In 1 day
// and 1 hour" when ahead, for a non-zero count of minutes (the absolute value). Empty for 0. The
// balloon and the windows show it as it stands, so it is written as a sentence, not as the voice
// would be fed it.
QString RemarkText(qint64 minutes, bool late);

// The alarm fields that store `moment` (its minute), with its display text.
AlarmWrite StoredAlarm(const QDateTime& moment, const QString& timeFormat);

struct AnnounceSettings {
  int remindOn = 1;  // repeat late reminders...
  int waitTime = 5;  // ...every this many minutes
  QString timeFormat = QStringLiteral("h:mm am/pm");
};

// Who asks for the announcement, and so what is played.
enum class AnnounceMode { Alarm = 1, ReadFromViewer = -1, TextsOnly = 0, SoundOnly = 10 };

struct AnnouncementPlan {
  bool due = false;  // the activity moment is now or past
  QString remark;
  QString datePhrase;
  int sound = 0;                    // 0: no sound
  std::vector<QString> sayTexts;    // each for SayText, in order
  std::optional<AlarmWrite> alarm;  // the record's new alarm, when it moves
};

// Plans one announcement. After it the alarm always lies in the future: repeated every waitTime
// minutes once the activity is past (when remindOn is 1), every countdown minutes while a
// countdown runs, otherwise in five minutes. A reminder without a pending alarm keeps none.
AnnouncementPlan PlanAnnouncement(const ReminderFacts& r, const AnnounceSettings& s, int readActivity, int readMemos,
                                  AnnounceMode mode, const QDateTime& now);

// Whether a reminder the current-reminders query selected is really due: its pending alarm has come
// by `now` in real time. Only the alarm counts: a late reminder comes back when its own repeat is
// due, not whenever another reminder falls due; one without a pending alarm has been dealt with.
// Wall times are read as AlarmMoment reads them, so on the night the clocks go forward an alarm at
// the skipped 02:30 comes at 03:30, after one at 03:05.
bool ReminderCurrent(const ReminderFacts& r, const QDateTime& now);

// A reminder whose alarm lies after its activity has been told already and comes back because it
// is late (the announcement moved its alarm on); one falling due for the first time has its alarm
// at or before its activity.
bool RepeatOfLateReminder(const ReminderFacts& r);

// From this many repeats falling due together they are said as one line.
inline constexpr int kLateSummaryFrom = 3;
// "You have 30 late reminders; the latest is Call the plumber."
QString LateSummaryText(int count, const QString& latest);

// Snooze choices 0-8 and their delays in minutes ("3 Hours" and "5 Hours" wait what they say).
struct SnoozeChoice {
  const char* caption;
  int minutes;
};
const std::array<SnoozeChoice, 9>& SnoozeChoices();

struct SnoozePlan {
  QDateTime alarm;            // the new alarm moment
  bool moveActivity = false;  // the activity lay before the new alarm and moves with it
};

// The snooze counts from the nearest whole minute (31 seconds and more round up).
std::optional<SnoozePlan> PlanSnooze(int choice, const QDateTime& activity, const QDateTime& now);

// One occurrence of a repeating reminder: a day (an all-day series) or a moment.
struct SeriesOccurrence {
  bool allDay = false;
  QDate date;
  QDateTime start;
};

// Where a repeating reminder moves once its occurrence has gone by.
struct SeriesMove {
  QDateTime activity;
  QDateTime alarm;
};

// A reminder read from a repeating calendar event (`series`: the lines its kept event holds, see
// data/kept_events.h) whose activity lies before `now` moves to the series' next occurrence
// after it, its alarm as long before that as the calendar's alarm was (the series'
// X-CHIMEWISE-LEAD, seconds; otherwise the activity itself). An all-day series keeps the time of
// day it is reminded at. `next` gives the first occurrence not before a moment, or nullopt when
// the series has ended. nullopt: no series, the activity is still to come, or no occurrence left.
std::optional<SeriesMove> PlanSeriesMove(
    const ReminderFacts& r, const QStringList& series, const QDateTime& now,
    const std::function<std::optional<SeriesOccurrence>(const QStringList& series, const QDateTime& after)>& next);

// A new record identifier: "E", four bytes encoding the creation moment, eight random digits
// (from randomFraction in [0, 1)). Thirteen bytes, none of them a quote, a tab or a zero byte.
std::string NewRecordId(const QDateTime& now, double randomFraction, char prefix = 'E');

}  // namespace chimewise
