#pragma once
// The rules of reminder alarms, as plain functions of a reminder's fields and the moment "now":
// what the character says when a reminder falls due, where its alarm moves next, and where a
// snooze puts it. Nothing here touches the table or the character.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace chimewise {

// Minutes after midnight of a moment (0-1439).
int MinuteOfDay(const QDateTime& when);

// Minute boundaries crossed from `from` to `to`, counted on the wall clock: negative when `to`
// lies in an earlier minute.
qint64 MinuteBoundaries(const QDateTime& from, const QDateTime& to);

// A date and a minute count that may run past the day's end, made into a moment on the right
// day: 1445 minutes on the 6th is 0:05 on the 7th. Alarms moved forward near midnight therefore
// roll over to the next day instead of sticking at 23:59.
QDateTime AlarmMoment(const QDate& date, int minutes);

// The text after the activity line: ". Your 2 Hours  and 5 minutes late." when late, ". In 1 Day "
// when ahead, for a non-zero count of minutes (the absolute value). Empty for 0.
QString RemarkText(qint64 minutes, bool late);

// The reminder fields the announcement reads.
struct ReminderFacts {
  QString activityText;    // APPT_TEXT, trimmed
  QString memo;            // COMMENT
  int sound = 0;           // SOUND
  int sayDate = 0;         // SAYDATE
  int sayTime = 0;         // SAYTIME
  int countdown = 0;       // COUNTDOWN, minutes
  QDateTime activity;      // DATETEXT read as a moment
  QDate eventDate;         // EVENTDATE
  int startTime = -1;      // STARTTIME; -1 for an activity without a time
  QString timeText;        // TIMETEXT
  QDate alarmDate;         // ALARMDATE; invalid when blank (no pending alarm)
  int alarmTime = 0;       // ALARMTIME
};

struct AnnounceSettings {
  int remindOn = 1;  // repeat late reminders...
  int waitTime = 5;  // ...every this many minutes
  QString timeFormat = QStringLiteral("h:mm am/pm");
};

// Who asks for the announcement, and so what is played.
enum class AnnounceMode { Alarm = 1, ReadFromViewer = -1, TextsOnly = 0, SoundOnly = 10 };

struct AlarmWrite {
  QDate date;         // ALARMDATE
  int minutes = 0;    // ALARMTIME
  QString text;       // ALARMTEXT
  bool operator==(const AlarmWrite&) const = default;
};

struct AnnouncementPlan {
  bool due = false;                  // the activity moment is now or past
  QString remark;
  QString datePhrase;
  int sound = 0;                     // 0: no sound
  std::vector<QString> sayTexts;     // each for SayText, in order
  std::optional<AlarmWrite> alarm;   // the record's new alarm, when it moves
};

// Plans one announcement. After it the alarm always lies in the future: repeated every waitTime
// minutes once the activity is past (when remindOn is 1), every countdown minutes while a
// countdown runs, otherwise in five minutes. A reminder without a pending alarm keeps none.
AnnouncementPlan PlanAnnouncement(const ReminderFacts& r, const AnnounceSettings& s, int readActivity, int readMemos,
                                  AnnounceMode mode, const QDateTime& now);

// The activity's moment: its display text (DATETEXT) read back, or, when that text is damaged,
// its date and start time. Invalid only when neither can be read.
QDateTime ActivityMoment(const QString& dateText, const QDate& eventDate, int startTime, const QString& timeFormat);

// Snooze choices 0-8 and their delays in minutes ("3 Hours" and "5 Hours" wait what they say).
struct SnoozeChoice {
  const char* caption;
  int minutes;
};
const std::array<SnoozeChoice, 9>& SnoozeChoices();

struct SnoozePlan {
  QDateTime alarm;          // the new alarm moment
  bool moveActivity = false;  // the activity lay before the new alarm and moves with it
};

// The snooze counts from the nearest whole minute (31 seconds and more round up).
std::optional<SnoozePlan> PlanSnooze(int choice, const QDateTime& activity, const QDateTime& now);

// A new record identifier: "E", four bytes encoding the creation moment, eight random digits
// (from randomFraction in [0, 1)). Thirteen bytes, none of them a quote, a tab or a zero byte.
std::string NewRecordId(const QDateTime& now, double randomFraction, char prefix = 'E');

}  // namespace chimewise
