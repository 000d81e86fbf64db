#include "schedule/schedule_rules.h"

#include "alarms/repeat_series.h"
#include "core/moment_words.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"

#include <xbase/engine.h>

#include <QRegularExpression>
#include <algorithm>

namespace chimewise {

const QStringList& EventTypes() {
  static const QStringList types = {
      QStringLiteral("Phone Call"),  QStringLiteral("Meeting"), QStringLiteral("Follow up"),
      QStringLiteral("To Do"),       QStringLiteral("Social"),  QStringLiteral("Personal"),
      QStringLiteral("Other"),       QStringLiteral("Travel"),  QStringLiteral("Birthday"),
      QStringLiteral("Anniversary"), QStringLiteral("Holiday")};
  return types;
}

const QStringList& SoundNames() {
  static const QStringList names = {QStringLiteral("None"),  QStringLiteral("Koo-Koo"), QStringLiteral("Bell"),
                                    QStringLiteral("Horn"),  QStringLiteral("Train"),   QStringLiteral("Fog Horn"),
                                    QStringLiteral("Uh-Oh"), QStringLiteral("Clap"),    QStringLiteral("Explode")};
  return names;
}

const QStringList& CountdownSteps() {
  static const QStringList steps = {QStringLiteral("1 minute"),   QStringLiteral("2 minutes"),
                                    QStringLiteral("3 minutes"),  QStringLiteral("5 minutes"),
                                    QStringLiteral("10 minutes"), QStringLiteral("15 minutes"),
                                    QStringLiteral("30 minutes"), QStringLiteral("60 minutes")};
  return steps;
}

int CountdownMinutes(const QString& text) {
  const QString t = text.trimmed();
  qsizetype digits = 0;
  while (digits < t.size() && digits < 9 && t.at(digits).isDigit()) ++digits;
  return digits == 0 ? 0 : t.left(digits).toInt();
}

int CountdownPosition(int minutes) {
  const QStringList& steps = CountdownSteps();
  for (qsizetype i = 0; i < steps.size(); ++i)
    if (CountdownMinutes(steps.at(i)) == minutes) return static_cast<int>(i);
  return -1;
}

CountdownList CountdownAfterToggle(bool checked, int position) {
  if (!checked) return {false, -1};
  return {true, position < 0 ? 0 : position};
}

QString PickerTimeFormat(const QString& timeFormat) {
  return timeFormat == QStringLiteral("h:mm am/pm") ? QStringLiteral("h:mm ap") : QStringLiteral("h:mm");
}

QString PickerDateFormat() { return QStringLiteral("MM/dd/yyyy"); }

std::optional<QDate> DraggedActivityDate(const QDate& remindDate, const QDate& activityDate) {
  if (remindDate.isValid() && activityDate.isValid() && remindDate > activityDate) return remindDate;
  return std::nullopt;
}

std::optional<QTime> DraggedActivityTime(const QDate& remindDate, const QTime& remindTime, const QDate& activityDate,
                                         const QTime& activityTime) {
  if (!remindTime.isValid() || !activityTime.isValid()) return std::nullopt;
  if (remindDate.isValid() && activityDate.isValid() && remindDate < activityDate) return std::nullopt;
  // Whole minutes: the pickers show no seconds, so seconds left from "now" must not decide.
  if (MinuteOfDay(remindTime) > MinuteOfDay(activityTime)) return remindTime;
  return std::nullopt;
}

bool ActivityIsBlank(const QString& text) { return text.trimmed().isEmpty(); }

bool NamesNoDay(const QString& text) {
  static const QRegularExpression fullForm(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d\\d\\d$"));
  return fullForm.match(text).hasMatch() && !QDate::fromString(text, PickerDateFormat()).isValid();
}

QDate TypedPickerDate(const QString& text, const QDate& value) { return NamesNoDay(text) ? QDate() : value; }

std::optional<PickerMoment> TypedWhen(const QString& typed, const QDateTime& now, const QLocale& locale) {
  if (!now.isValid()) return std::nullopt;
  const QString text = typed.trimmed();
  if (text.compare(QLatin1String("t"), Qt::CaseInsensitive) == 0)
    return PickerMoment{now.date(), QTime(now.time().hour(), now.time().minute())};
  const MomentReading r = ReadMoment(text, now, locale);
  if (!r.ok() || !r.repeat.isEmpty()) return std::nullopt;
  return PickerMoment{r.date, r.time};
}

PickerMoment SteppedTime(const QDate& date, const QTime& time, TimeStep unit, int steps) {
  if (!date.isValid() || !time.isValid()) return {date, time};
  const qint64 perStep = unit == TimeStep::Hour ? 60 : 1;
  const qint64 minutes = MinuteOfDay(time) + perStep * steps;
  // Floor division: a step back from 0:00 lands on the day before.
  const qint64 days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
  const qint64 ofDay = minutes - days * 1440;
  return {date.addDays(days), QTime(static_cast<int>(ofDay / 60), static_cast<int>(ofDay % 60), time.second())};
}

bool AsksToRemindNow(const EventInput& in, const QDateTime& now) {
  if (!in.activityDate.isValid() || !in.activityTime.isValid() || !in.remindDate.isValid() ||
      !in.remindTime.isValid() || ActivityIsBlank(in.activity))
    return false;
  const QDateTime thisMinute = now.addSecs(-now.time().second()).addMSecs(-now.time().msec());
  return TypedMoment(in.remindDate, in.remindTime, now) < thisMinute;
}

EventInput RemindingNow(EventInput in, const QDateTime& now) {
  in.remindDate = now.date();
  in.remindTime = QTime(now.time().hour(), now.time().minute());
  return in;
}

TwipsPoint ScheduleOrigin(const std::optional<TwipsRect>& viewer, std::int32_t width, std::int32_t height,
                          std::int32_t screenWidth, std::int32_t screenHeight) {
  TwipsPoint p;
  if (viewer) {
    p.top = viewer->top;
    if (height + p.top > screenHeight) p.top = screenHeight - height;
    p.left = viewer->left;
    if (width + p.left > screenWidth) p.left = screenWidth - width;
  } else {
    p.top = (screenHeight - height) / 2;
    p.left = (screenWidth - width) / 2;
  }
  // A title bar pushed off the top could not be reached to move the dialog back.
  p.top = std::max(p.top, 0);
  p.left = std::max(p.left, 0);
  return p;
}

std::optional<EventInput> ReadEditEntry(xbase::Engine& engine, const QString& appFolder, qint64 recno, Problem* problem,
                                        std::string* recordId) {
  const QString alias = QString::fromLatin1(data::kAliasOneTime);
  if (Problem place = CalendarPlaceProblem(appFolder); !place.ok()) {
    *problem = place;
    return std::nullopt;
  }
  data::TableHandle wa(engine, data::CalendarPath(appFolder), alias, data::kModeShared);
  if (!wa) {
    *problem = ProblemOf(wa.status());
    return std::nullopt;
  }
  if (recno < 1 || recno > wa->RecCount()) {
    *problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
    return std::nullopt;
  }
  if (const xbase::Status s = wa->Go(static_cast<uint32_t>(recno)); !s.ok()) {
    *problem = ProblemOf(s);
    return std::nullopt;
  }
  if (wa->Deleted()) {
    *problem = {ProblemKind::NoSuchReminder, {}, {}, recno};
    return std::nullopt;
  }
  std::string id;
  if (const xbase::Status s = wa->GetString("REC_NO", &id); !s.ok()) {
    *problem = ProblemOf(s);
    return std::nullopt;
  }
  if (recordId) *recordId = id;
  const ReminderFacts facts = ReadReminderFacts(*wa);
  EventInput in;
  in.event = TableText(*wa, "EVENT");
  wa.Close().IgnoreError();  // only read
  // How it repeats, as its kept series says.
  if (const std::optional<KeptEvent> kept = KeptEvents(appFolder).Get(QByteArray::fromStdString(id)))
    in.repeat = RuleOfSeries(kept->series);

  in.activity = facts.activityText;
  in.memo = facts.memo;
  in.sound = facts.sound;
  in.sayDate = facts.sayDate;
  in.sayTime = facts.sayTime;
  in.countdown = facts.countdown;
  in.countdownOn = CountdownPosition(facts.countdown) >= 0;
  if (facts.activity.isValid()) {
    in.activityDate = facts.activity.date();
    in.activityTime = facts.activity.time();
  }
  if (facts.alarmDate.isValid()) {
    // Through AlarmMoment, so a minute count past the day's end shows on the day it means.
    const QDateTime alarm = AlarmMoment(facts.alarmDate, facts.alarmTime);
    in.remindDate = alarm.date();
    in.remindTime = alarm.time();
  } else {
    const int m = std::clamp(facts.alarmTime, 0, 1439);
    in.remindTime = QTime(m / 60, m % 60);
  }
  *problem = {};
  return in;
}

}  // namespace chimewise
