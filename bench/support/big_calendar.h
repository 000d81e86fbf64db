#pragma once
// A reminder table of many reminders for benchmarks, built once per process in a temporary folder:
// `due` reminders due on the morning of `now`'s day (their activities tomorrow), the rest spread
// over the next year, each with its display texts, and the thirteen index tags.

#include "data/calendar.h"
#include "support/must.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <xbase/engine.h>

#include <cstdio>
#include <string>

namespace chimewise::bench {

inline QString BigCalendarFolder(int reminders, int due, const QDateTime& now) {
  static QTemporaryDir dir;
  static bool built = false;
  if (built) return dir.path();
  built = true;
  QDir().mkpath(dir.filePath("data"));
  for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT"}) {
    QFile::copy(QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets/data/") + f, dir.filePath("data/") + f);
    QFile(dir.filePath("data/") + f).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
  xbase::Engine engine;
  int area = 0;
  xbase::Status s =
      engine.Use(dir.filePath("data/CALENDAR.DBF").toStdString(), "BUILD", xbase::OpenMode::kExclusive, &area);
  xbase::WorkArea* wa = engine.Current();
  for (int i = 0; s.ok() && i < reminders; ++i) {
    const bool isDue = i % (reminders / due) == 0;
    const QDate day = isDue ? now.date() : QDate(now.date().year() + 1, 1, 1).addDays(i % 365);
    const int minutes = isDue ? 8 * 60 + i % 180 : (i * 7) % 1440;
    const std::string ymd = day.toString("yyyyMMdd").toStdString();
    const std::string text = day.toString("MM/dd/yyyy").toStdString() + " " + std::to_string(minutes / 60) + ":" +
                             std::to_string(10 + minutes % 50);
    s = wa->AppendBlank();
    if (s.ok()) s = wa->Replace("APPT_TEXT", "Reminder number " + std::to_string(i));
    if (s.ok()) s = wa->Replace("EVENTDATE", isDue ? now.date().addDays(1).toString("yyyyMMdd").toStdString() : ymd);
    if (s.ok()) s = wa->Replace("ALARMDATE", ymd);
    if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", minutes);
    if (s.ok()) s = wa->ReplaceInteger("STARTTIME", minutes);
    if (s.ok()) s = wa->Replace("ALARMTEXT", text);
    if (s.ok()) s = wa->Replace("DATETEXT", text);
    if (s.ok()) s = wa->Replace("USERID", "  1");
    if (s.ok()) s = wa->Replace("STATUS", "S");
  }
  Must(engine.CloseAll());
  if (s.ok()) s = data::RebuildDatabase(engine, dir.path());
  if (!s.ok()) std::fprintf(stderr, "building the table failed: %s\n", s.ToString().c_str());
  return dir.path();
}

}  // namespace chimewise::bench
