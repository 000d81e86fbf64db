// The calendar reader and writer against calendars as real programs write them: every time zone
// name read as its zone or refused with the name, series kept and written in their own zone, old
// series followed to now, and hostile files ended with a reason. Runs with TZ=Europe/Berlin.
// Expected recurrences were checked with python3-dateutil's rrule.

#include <icalendar/icalendar.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QTimeZone>

#include <optional>

namespace {

QDateTime Utc(const char* text) {
  const QString s = QString::fromLatin1(text);
  const QDateTime t = QDateTime::fromString(
      s, s.size() > 16 ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm"));
  return QDateTime(t.date(), t.time(), QTimeZone::utc());
}

QByteArray Calendar(const QByteArray& body) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

QByteArray Event(const QByteArray& lines) {
  return Calendar("BEGIN:VEVENT\r\nUID:e\r\nDTSTAMP:20261201T100000Z\r\nSUMMARY:x\r\n" + lines + "END:VEVENT\r\n");
}

QByteArray Fixture(const char* name) {
  QFile f(QStringLiteral(CALENDARS_DIR "/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

icalendar::ReadResult ReadAt(const QByteArray& text, const QDateTime& now) {
  icalendar::ReadOptions o;
  o.now = now;
  return icalendar::Read(text, o);
}

const icalendar::ReadEvent* Find(const icalendar::ReadResult& r, const QString& uid) {
  for (const auto& e : r.events)
    if (e.uid == uid) return &e;
  return nullptr;
}

// Every TZID is read as its zone through the system's zone data, or refused with its name: never
// taken for UTC.
TEST(IcalendarZones, EachNameIsReadAsItsZoneOrRefusedWithIt) {
  struct Case {
    const char* tzid;
    const char* utc;  // of 2027-07-06 09:30 there; nullptr: refused
  } cases[] = {
      {"America/New_York", "2027-07-06 13:30"},
      {"US/Eastern", "2027-07-06 13:30"},  // a link, not listed by Qt
      {"Asia/Calcutta", "2027-07-06 04:00"},
      {"Etc/UTC", "2027-07-06 09:30"},
      {"/mozilla.org/20070129_1/America/New_York", "2027-07-06 13:30"},
      {"/freeassociation.sourceforge.net/Tzfile/Europe/London", "2027-07-06 08:30"},
      {"/freeassociation.sourceforge.net/Europe/London", "2027-07-06 08:30"},
      {"/softwarestudio.org/Olson_20011030_5/America/Argentina/Buenos_Aires", "2027-07-06 12:30"},
      {"W. Europe Standard Time", "2027-07-06 07:30"},
      {"India Standard Time", "2027-07-06 04:00"},
      {"Lord Howe Standard Time", "2027-07-05 23:00"},
      {"Yukon Standard Time", "2027-07-06 16:30"},
      {"Eastern", "2027-07-06 13:30"},
      {"Pacific", "2027-07-06 16:30"},
      {"Central", "2027-07-06 14:30"},
      {"Mountain", "2027-07-06 15:30"},
      {"GMT", "2027-07-06 09:30"},
      {"Tokyo", nullptr},
      {"IST", nullptr},
      {"FOO", nullptr},
      {"Europe/Nowhere", nullptr},
      {"/mozilla.org/20070129_1/Nowhere", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tzid);
    const auto r =
        ReadAt(Event("DTSTART;TZID=\"" + QByteArray(c.tzid) + "\":20270706T093000\r\n"), Utc("2027-01-01 00:00"));
    ASSERT_EQ(r.events.size(), 1u);
    if (c.utc) {
      EXPECT_EQ(r.events[0].refused, QString());
      EXPECT_EQ(r.events[0].start, Utc(c.utc));
    } else {
      EXPECT_EQ(r.events[0].refused, QStringLiteral("unknown time zone \"%1\"").arg(QLatin1String(c.tzid)));
    }
  }
}

// Files as Google, Outlook/Exchange, khal, Thunderbird, Evolution and Apple write them. A known
// name is read with the system's zone data even when the file's VTIMEZONE says otherwise (khal's
// holds one change only; a hostile one changes every minute); an unknown name's VTIMEZONE is used
// only when its rules are bounded.
TEST(IcalendarZones, RealProducersAndHostileZones) {
  struct Case {
    const char* file;
    const char* uid;
    const char* now;
    const char* start;   // UTC; nullptr: refused
    const char* reason;  // part of the refusal
  } cases[] = {
      // EXDATE on the 12th, the 19th moved to 10:30 on its own (RECURRENCE-ID)
      {"google.ics", "kolkata-weekly@google.com", "2027-01-06 00:00", "2027-01-26 04:00", nullptr},
      {"google.ics", "kolkata-weekly@google.com/20270119T040000Z", "2027-01-06 00:00", "2027-01-19 05:00", nullptr},
      {"outlook.ics", "040000008200E00074C5B7101A82E00800000000windows", "2027-01-01 00:00", "2027-07-06 07:30",
       nullptr},
      {"outlook.ics", "040000008200E00074C5B7101A82E00800000000custom", "2027-01-01 00:00", "2027-07-06 13:30",
       nullptr},
      {"khal.ics", "khal-weekly-new-york", "2026-12-01 00:00", "2026-12-01 14:00", nullptr},
      {"thunderbird.ics", "8f4c2e1a-lightning", "2027-01-01 00:00", "2027-01-12 20:00", nullptr},
      {"evolution.ics", "20261201T100000Z-1234-evolution", "2027-01-01 00:00", "2027-07-06 08:30", nullptr},
      {"apple.ics", "A1B2C3D4-LORD-HOWE", "2027-07-01 00:00", "2027-07-04 23:00", nullptr},
      {"apple.ics", "A1B2C3D4-LORD-HOWE", "2027-01-05 00:00", "2027-01-10 22:30", nullptr},
      {"minutely_zone.ics", "known-name", "2027-01-01 00:00", "2027-07-06 07:30", nullptr},
      {"minutely_zone.ics", "unknown-name", "2027-01-01 00:00", nullptr,
       "the time zone \"Nowhere Standard Time\" has a change rule that is not yearly"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.uid + " " + c.now);
    const auto r = ReadAt(Fixture(c.file), Utc(c.now));
    ASSERT_EQ(r.error, QString());
    const auto* e = Find(r, QString::fromLatin1(c.uid));
    ASSERT_NE(e, nullptr);
    if (c.start) {
      EXPECT_EQ(e->refused, QString());
      EXPECT_FALSE(e->past);
      EXPECT_EQ(e->start, Utc(c.start));
    } else {
      EXPECT_TRUE(e->refused.startsWith(QLatin1String(c.reason))) << e->refused.toStdString();
    }
  }
}

// A series' lines keep the zone the file meant: an IANA id (after the names are resolved), UTC,
// floating or a date; EXDATE and RDATE in the same form, whatever zone the file wrote them in.
TEST(IcalendarSeries, LinesKeepTheZoneTheFileMeant) {
  struct Case {
    QByteArray lines;
    QStringList series;
  } cases[] = {
      {"DTSTART;TZID=India Standard Time:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\nEXDATE:20270112T040000Z\r\n",
       {"DTSTART;TZID=Asia/Calcutta:20270105T093000", "RRULE:FREQ=WEEKLY",
        "EXDATE;TZID=Asia/Calcutta:20270112T093000"}},
      {"DTSTART:20270105T093000Z\r\nRRULE:FREQ=WEEKLY\r\nEXDATE;TZID=Europe/Berlin:20270112T103000\r\n",
       {"DTSTART;VALUE=DATE-TIME:20270105T093000Z", "RRULE:FREQ=WEEKLY", "EXDATE;VALUE=DATE-TIME:20270112T093000Z"}},
      {"DTSTART:20270105T093000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nRDATE:20270301T120000\r\n",
       {"DTSTART:20270105T093000", "RRULE:FREQ=WEEKLY;COUNT=3", "RDATE:20270301T120000"}},
      {"DTSTART;VALUE=DATE:20270105\r\nRRULE:FREQ=YEARLY\r\nEXDATE;VALUE=DATE:20280105\r\n",
       {"DTSTART;VALUE=DATE:20270105", "RRULE:FREQ=YEARLY", "EXDATE;VALUE=DATE:20280105"}},
      {"DTSTART;TZID=/mozilla.org/20070129_1/Australia/Lord_Howe:20270104T093000\r\n"
       "RDATE;TZID=Australia/Lord_Howe:20270704T093000,20270705T093000\r\n",
       {"DTSTART;TZID=Australia/Lord_Howe:20270104T093000", "RDATE;TZID=Australia/Lord_Howe:20270704T093000",
        "RDATE;TZID=Australia/Lord_Howe:20270705T093000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.toStdString());
    const auto r = ReadAt(Event(c.lines), Utc("2027-01-01 00:00"));
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].refused, QString());
    EXPECT_EQ(r.events[0].series, c.series);
  }
}

// Outlook's zone of its own: a name no zone database knows, its rules only in the file.
QByteArray CustomZone(const char* name, const char* standard, const char* daylight, const char* toStandard,
                      const char* toDaylight) {
  return QByteArray("BEGIN:VTIMEZONE\r\nTZID:") + name + "\r\nBEGIN:STANDARD\r\nDTSTART:16010101T020000\r\n" +
         "TZOFFSETFROM:" + daylight + "\r\nTZOFFSETTO:" + standard + "\r\nRRULE:FREQ=YEARLY;INTERVAL=1;" + toStandard +
         "\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\nTZOFFSETFROM:" + standard +
         "\r\nTZOFFSETTO:" + daylight + "\r\nRRULE:FREQ=YEARLY;INTERVAL=1;" + toDaylight +
         "\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
}
const QByteArray kCustomEurope =
    CustomZone("Customized Time Zone", "+0100", "+0200", "BYDAY=-1SU;BYMONTH=10", "BYDAY=-1SU;BYMONTH=3");
const QByteArray kCustomEastern =
    CustomZone("Customized Time Zone 1", "-0500", "-0400", "BYDAY=1SU;BYMONTH=11", "BYDAY=2SU;BYMONTH=3");

// A series written back by Write and read again (and followed by NextOccurrence) stays at its wall
// time in its own zone, summer and winter, whatever zone single starts are written in (also a
// zone only the file's VTIMEZONE tells); a UTC series stays in UTC and off its EXDATE.
TEST(IcalendarSeries, WrittenBackInItsZoneAndReadAtTheSameWallTime) {
  struct Case {
    QByteArray lines;
    const char* written;  // the DTSTART line in the file written
    const char* now;
    const char* next;      // UTC
    QByteArray zone = {};  // the file's own VTIMEZONE
  } cases[] = {
      {"DTSTART;TZID=Customized Time Zone:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Customized Time Zone:20270105T093000", "2027-07-01 00:00", "2027-07-06 07:30", kCustomEurope},
      {"DTSTART;TZID=Customized Time Zone:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Customized Time Zone:20270105T093000", "2027-11-01 00:00", "2027-11-02 08:30", kCustomEurope},
      {"DTSTART;TZID=Customized Time Zone 1:20270104T090000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Customized Time Zone 1:20270104T090000", "2027-03-20 00:00", "2027-03-22 13:00", kCustomEastern},
      {"DTSTART;TZID=Customized Time Zone 1:20270104T090000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Customized Time Zone 1:20270104T090000", "2027-11-08 00:00", "2027-11-08 14:00", kCustomEastern},
      {"DTSTART;TZID=Asia/Kolkata:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Asia/Kolkata:20270105T093000", "2027-07-01 00:00", "2027-07-06 04:00"},
      {"DTSTART;TZID=Asia/Kolkata:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Asia/Kolkata:20270105T093000", "2027-01-06 00:00", "2027-01-12 04:00"},
      {"DTSTART;TZID=Australia/Lord_Howe:20270104T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Australia/Lord_Howe:20270104T093000", "2027-07-01 00:00", "2027-07-04 23:00"},
      {"DTSTART;TZID=Australia/Lord_Howe:20270104T093000\r\nRRULE:FREQ=WEEKLY\r\n",
       "DTSTART;TZID=Australia/Lord_Howe:20270104T093000", "2027-01-05 00:00", "2027-01-10 22:30"},
      {"DTSTART:20270105T093000Z\r\nRRULE:FREQ=WEEKLY\r\nEXDATE:20270706T093000Z\r\n", "DTSTART:20270105T093000Z",
       "2027-07-01 00:00", "2027-07-13 09:30"},
      {"DTSTART:20270105T093000\r\nRRULE:FREQ=WEEKLY\r\n", "DTSTART:20270105T093000", "2027-07-01 00:00",
       "2027-07-06 07:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.toStdString() + c.now);
    const QByteArray file = c.zone.isEmpty() ? Event(c.lines)
                                             : Calendar(c.zone +
                                                        "BEGIN:VEVENT\r\nUID:e\r\nDTSTAMP:20261201T100000Z\r\n"
                                                        "SUMMARY:x\r\n" +
                                                        c.lines + "END:VEVENT\r\n");
    const auto read = ReadAt(file, Utc("2027-01-01 00:00"));
    ASSERT_EQ(read.events.size(), 1u);
    icalendar::WriteEvent w;
    w.uid = QStringLiteral("s");
    w.summary = QStringLiteral("x");
    w.series = read.events[0].series;
    icalendar::WriteOptions o;
    o.timeZone = QStringLiteral("Europe/Berlin");
    o.stamp = Utc("2027-01-01 00:00");
    const auto written = icalendar::Write({w}, o);
    ASSERT_EQ(written.error, QString());
    EXPECT_TRUE(written.text.contains(QByteArray(c.written) + "\r\n")) << written.text.toStdString();
    const auto again = ReadAt(written.text, Utc(c.now));
    ASSERT_EQ(again.events.size(), 1u);
    EXPECT_EQ(again.events[0].start, Utc(c.next));
    EXPECT_EQ(icalendar::NextOccurrence(read.events[0].series, Utc(c.now)).start, Utc(c.next));
  }
}

// A zone of the series' own is bounded as the file's was: one changing every minute is refused.
TEST(IcalendarSeries, AnOwnZoneThatChangesEveryMinuteIsRefused) {
  QStringList series{"DTSTART;TZID=Customized Time Zone:20270105T093000", "RRULE:FREQ=WEEKLY"};
  series << QString(QByteArray(kCustomEurope).replace("YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3", "MINUTELY"))
                .split("\r\n", Qt::SkipEmptyParts);
  EXPECT_TRUE(icalendar::NextOccurrence(series, Utc("2027-07-01 00:00")).refused.contains("not yearly"));
}

// Every zone a series names has its VTIMEZONE in the file; a UTC zone writes plain UTC times
// (RFC 5545 forbids a TZID on a UTC time).
TEST(IcalendarWrite, ZonesNamedHaveTheirVtimezoneAndUtcHasNone) {
  icalendar::WriteEvent single;
  single.uid = QStringLiteral("one");
  single.start = Utc("2027-07-06 09:30");
  icalendar::WriteEvent series = single;
  series.uid = QStringLiteral("two");
  series.series = {"DTSTART;TZID=Asia/Kolkata:20270105T093000", "RRULE:FREQ=WEEKLY",
                   "EXDATE;VALUE=DATE-TIME:20270112T040000Z"};
  icalendar::WriteOptions o;
  o.timeZone = QStringLiteral("Etc/UTC");
  o.stamp = Utc("2027-01-01 00:00");
  const QByteArray text = icalendar::Write({single, series}, o).text;
  EXPECT_TRUE(text.contains("DTSTART:20270706T093000Z\r\n")) << text.toStdString();
  EXPECT_FALSE(text.contains("TZID=Etc/UTC"));
  EXPECT_TRUE(text.contains("BEGIN:VTIMEZONE\r\nTZID:Asia/Kolkata\r\n"));
  EXPECT_TRUE(text.contains("EXDATE;TZID=Asia/Kolkata:20270112T093000\r\n"));
  EXPECT_EQ(text.count("BEGIN:VTIMEZONE"), 1);
}

// A series stored before its zone went on DTSTART ("DTSTART:...Z", its zone on an
// X-CHIMEWISE-TZID line or the system's) keeps its meaning; the newer forms are read as written.
TEST(IcalendarSeries, OlderStoredSeriesKeepTheirMeaning) {
  struct Case {
    QStringList series;
    const char* next;  // after 2027-07-01 00:00 UTC
  } cases[] = {
      {{"DTSTART:20270105T083000Z", "RRULE:FREQ=WEEKLY", "X-CHIMEWISE-LEAD:600"}, "2027-07-06 07:30"},
      {{"DTSTART:20270105T040000Z", "RRULE:FREQ=WEEKLY", "X-CHIMEWISE-TZID:Asia/Kolkata"}, "2027-07-06 04:00"},
      {{"DTSTART;VALUE=DATE-TIME:20270105T083000Z", "RRULE:FREQ=WEEKLY"}, "2027-07-06 08:30"},
      {{"DTSTART;TZID=Asia/Kolkata:20270105T093000", "RDATE;TZID=Asia/Kolkata:20270801T100000"}, "2027-08-01 04:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.series.join(u' ').toStdString());
    const auto e = icalendar::NextOccurrence(c.series, Utc("2027-07-01 00:00"));
    EXPECT_EQ(e.refused, QString());
    EXPECT_FALSE(e.past);
    EXPECT_EQ(e.start, Utc(c.next));
  }
}

// A series is followed to now however long ago it began; a rule with COUNT is walked, and one too
// long to walk is refused with the reason, never called past.
TEST(IcalendarSeries, OldSeriesReachNow) {
  struct Case {
    QByteArray lines;
    const char* next;    // UTC, after 2026-12-08 12:10 UTC; nullptr: none
    const char* reason;  // part of the refusal; nullptr: none
  } cases[] = {
      {"DTSTART:20080101T093000Z\r\nRRULE:FREQ=DAILY\r\n", "2026-12-09 09:30", nullptr},
      {"DTSTART;TZID=Europe/Berlin:19310105T093000\r\nRRULE:FREQ=WEEKLY;INTERVAL=2\r\n", "2026-12-14 08:30", nullptr},
      {"DTSTART:20250101T003000Z\r\nRRULE:FREQ=HOURLY;INTERVAL=2\r\n", "2026-12-08 12:30", nullptr},
      {"DTSTART:20200101T000000Z\r\nRRULE:FREQ=HOURLY\r\n", "2026-12-08 13:00", nullptr},
      {"DTSTART:20200101T000000Z\r\nRRULE:FREQ=SECONDLY;INTERVAL=7\r\n", "2026-12-08 12:10:05", nullptr},
      {"DTSTART:20261001T000000Z\r\nRRULE:FREQ=MINUTELY;COUNT=600000\r\n", "2026-12-08 12:10", nullptr},
      {"DTSTART:20200101T000000Z\r\nRRULE:FREQ=MINUTELY;COUNT=9000000\r\n", nullptr, "takes more than"},
      {"DTSTART:20080101T093000Z\r\nRRULE:FREQ=DAILY;COUNT=100\r\n", nullptr, nullptr},
      {"DTSTART:20080101T093000Z\r\nRRULE:FREQ=DAILY;UNTIL=20100101T000000Z\r\n", nullptr, nullptr},
      {"DTSTART:20200101T000000Z\r\nRRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\n", nullptr, "within the hour"},
      {"DTSTART:20080101T093000Z\r\nRRULE:FREQ=DAILY;COUNT=100\r\nRDATE:20270101T120000Z\r\n", "2027-01-01 12:00",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.toStdString());
    const auto r = ReadAt(Event(c.lines), Utc("2026-12-08 12:10"));
    ASSERT_EQ(r.events.size(), 1u);
    const auto& e = r.events[0];
    if (c.reason) {
      EXPECT_TRUE(e.refused.contains(QLatin1String(c.reason))) << e.refused.toStdString();
      continue;
    }
    EXPECT_EQ(e.refused, QString());
    EXPECT_EQ(e.past, c.next == nullptr);
    if (c.next) {
      EXPECT_EQ(e.start, Utc(c.next));
    }
  }
}

// An end or an alarm that cannot be used is left aside with a note; the event itself is read.
TEST(IcalendarEvents, UnusableEndsAndAlarmsAreLeftAsideNotTheEvent) {
  struct Case {
    QByteArray lines;
    qint64 length;
    std::optional<const char*> alarm;  // UTC
    bool noted;
  } cases[] = {
      {"DTEND;TZID=Nowhere:20270706T103000\r\nBEGIN:VALARM\r\nTRIGGER;RELATED=END:-PT15M\r\nEND:VALARM\r\n", 0,
       "2027-07-06 07:15", true},
      {"DTEND:tomorrow\r\n", 0, std::nullopt, true},
      {"DURATION:PT2H\r\nBEGIN:VALARM\r\nTRIGGER;RELATED=END:-PT15M\r\nEND:VALARM\r\n", 7200, "2027-07-06 09:15",
       false},
      {"BEGIN:VALARM\r\nTRIGGER:-P99999999W\r\nEND:VALARM\r\n", 0, std::nullopt, true},
      {"BEGIN:VALARM\r\nTRIGGER:-P520W\r\nEND:VALARM\r\n", 0, "2017-07-18 07:30", false},
      {"DURATION:P99999999W\r\n", 0, std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.toStdString());
    const auto r = ReadAt(Event("DTSTART;TZID=Europe/Berlin:20270706T093000\r\n" + c.lines), Utc("2027-01-01 00:00"));
    ASSERT_EQ(r.events.size(), 1u);
    const auto& e = r.events[0];
    EXPECT_EQ(e.refused, QString());
    EXPECT_EQ(e.start, Utc("2027-07-06 07:30"));
    EXPECT_EQ(e.length, c.length);
    EXPECT_EQ(e.alarms.size(), c.alarm ? 1u : 0u);
    if (c.alarm && !e.alarms.empty()) {
      EXPECT_EQ(e.alarms[0], Utc(*c.alarm));
    }
    EXPECT_EQ(!e.notes.isEmpty(), c.noted) << e.notes.join(u'|').toStdString();
  }
}

// Files past the bounds end with a reason before libical sees them (it frees components one stack
// frame per level); a large file within them is read whole.
TEST(IcalendarHostile, FilesPastTheBoundsEndWithAReason) {
  const auto nested = [](int levels) {
    QByteArray body;
    for (int i = 0; i < levels - 1; ++i) body += "BEGIN:X-N\r\n";
    for (int i = 0; i < levels - 1; ++i) body += "END:X-N\r\n";
    return Calendar("BEGIN:VEVENT\r\nUID:e\r\nDTSTART:20270101T000000Z\r\nEND:VEVENT\r\n" + body);
  };
  QByteArray many;
  for (int i = 0; i < 100000; ++i)
    many += "BEGIN:VEVENT\r\nUID:" + QByteArray::number(i) + "\r\nDTSTART:20270101T000000Z\r\nEND:VEVENT\r\n";
  struct Case {
    const char* what;
    QByteArray text;
    const char* error;  // part of it; nullptr: read
  } cases[] = {
      {"300,000 levels", nested(300000), "nest more than 20 levels"},
      {"21 levels", nested(21), "nest more than 20 levels"},
      {"20 levels", nested(20), nullptr},
      {"a 15 MB line", Event("DESCRIPTION:" + QByteArray(15 << 20, 'a') + "\r\n"), "bytes long"},
      {"a 15 MB folded line", Event("DESCRIPTION:" + QByteArray(2 << 20, 'a').replace("aaaa", "aa\r\n a") + "\r\n"),
       "bytes long"},
      {"100,000 events", Calendar(many), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = ReadAt(c.text, Utc("2026-12-01 00:00"));
    if (c.error) {
      EXPECT_TRUE(r.error.contains(QLatin1String(c.error))) << r.error.toStdString();
    } else {
      EXPECT_EQ(r.error, QString());
      EXPECT_FALSE(r.events.empty());
    }
  }
}

}  // namespace
