// Events changed in place as text: only what was changed differs, byte for byte.

#include <icalendar/resource_text.h>

#include <gtest/gtest.h>

#include <QTimeZone>

namespace {

using icalendar::EventChanges;
using icalendar::PatchEvent;

// A phone's event as a CalDAV server keeps it: LF line ends, a folded line, properties this
// program has no field for, two alarms, and an occurrence moved on its own.
const QByteArray kPhone =
    "BEGIN:VCALENDAR\n"
    "VERSION:2.0\n"
    "PRODID:-//Phone//Calendar 7//EN\n"
    "BEGIN:VTIMEZONE\n"
    "TZID:America/New_York\n"
    "BEGIN:STANDARD\n"
    "DTSTART:19701101T020000\n"
    "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\n"
    "TZOFFSETFROM:-0400\n"
    "TZOFFSETTO:-0500\n"
    "END:STANDARD\n"
    "END:VTIMEZONE\n"
    "BEGIN:VEVENT\n"
    "UID:meet-1@phone\n"
    "DTSTAMP:20270101T120000Z\n"
    "SEQUENCE:2\n"
    "DTSTART;TZID=America/New_York:20270105T090000\n"
    "DTEND;TZID=America/New_York:20270105T110000\n"
    "SUMMARY;LANGUAGE=en:Design review\n"
    "LOCATION:Room 4\\, floor 2\n"
    "DESCRIPTION:Bring the long agenda that goes on and on past the seventy-five \n"
    " octet mark\n"
    "X-PHONE-COLOR:#ff0000\n"
    "ATTENDEE;CN=\"Doe, Jane\";PARTSTAT=ACCEPTED:mailto:jane@example.org\n"
    "BEGIN:VALARM\n"
    "ACTION:DISPLAY\n"
    "DESCRIPTION:Soon\n"
    "TRIGGER:-PT30M\n"
    "END:VALARM\n"
    "BEGIN:VALARM\n"
    "ACTION:AUDIO\n"
    "TRIGGER;RELATED=END:-PT5M\n"
    "END:VALARM\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\n"
    "UID:meet-1@phone\n"
    "RECURRENCE-ID;TZID=America/New_York:20270105T090000\n"
    "DTSTART;TZID=America/New_York:20270106T090000\n"
    "SUMMARY:Design review (moved)\n"
    "END:VEVENT\n"
    "END:VCALENDAR\n";

const QDateTime kStart(QDate(2027, 1, 5), QTime(9, 0), QTimeZone("America/New_York"));

// `text` with each pair's first line replaced by its second (an empty second: removed).
QByteArray With(QByteArray text, const std::vector<std::pair<QByteArray, QByteArray>>& lines) {
  for (const auto& [from, to] : lines) {
    const qsizetype at = text.indexOf(from + '\n');
    EXPECT_GE(at, 0) << from.constData();
    if (at >= 0) text.replace(at, from.size() + 1, to.isEmpty() ? QByteArray() : to + '\n');
  }
  return text;
}

TEST(PatchEvent, ChangesOnlyWhatChangedAndKeepsEveryOtherByte) {
  const QDateTime stamp(QDate(2027, 1, 2), QTime(8, 0), QTimeZone::utc());
  struct Case {
    const char* what;
    EventChanges changes;
    std::vector<std::pair<QByteArray, QByteArray>> lines;
  };
  EventChanges summary;
  summary.summary = QStringLiteral("Design review; with Ann, Bo");
  EventChanges later;  // an hour later: DTEND moves with it, the relative alarms with the start
  later.start = kStart.addSecs(3600);
  EventChanges alarm;  // the 30-minute alarm made a 45-minute one; the end-related one untouched
  alarm.alarm = kStart.addSecs(-45 * 60);
  alarm.alarmWas = kStart.addSecs(-30 * 60);
  EventChanges nothing;
  nothing.summary = QStringLiteral("Design review");
  nothing.alarm = kStart.addSecs(-30 * 60);
  nothing.alarmWas = kStart.addSecs(-30 * 60);
  EventChanges extras;
  extras.description = QString();
  extras.categories = QStringList{QStringLiteral("Work"), QStringLiteral("A,B")};
  extras.extras = {{QStringLiteral("X-CHIMEWISE-SOUND"), QStringLiteral("3")}};
  const Case cases[] = {
      {"summary",
       summary,
       {{"SUMMARY;LANGUAGE=en:Design review", "SUMMARY;LANGUAGE=en:Design review\\; with Ann\\, Bo"}}},
      {"start",
       later,
       {{"SEQUENCE:2", "SEQUENCE:3"},
        {"DTSTART;TZID=America/New_York:20270105T090000", "DTSTART;TZID=America/New_York:20270105T100000"},
        {"DTEND;TZID=America/New_York:20270105T110000", "DTEND;TZID=America/New_York:20270105T120000"}}},
      {"alarm", alarm, {{"TRIGGER:-PT30M", "TRIGGER:-PT45M"}}},
      {"nothing", nothing, {}},
      {"description, categories, own property",
       extras,
       {{"DESCRIPTION:Bring the long agenda that goes on and on past the seventy-five \n octet mark", ""},
        {"ATTENDEE;CN=\"Doe, Jane\";PARTSTAT=ACCEPTED:mailto:jane@example.org",
         "ATTENDEE;CN=\"Doe, Jane\";PARTSTAT=ACCEPTED:mailto:jane@example.org\nCATEGORIES:Work,A\\,B\n"
         "X-CHIMEWISE-SOUND:3"}}},
  };
  for (Case c : cases) {
    c.changes.stamp = stamp;
    const icalendar::PatchResult r = PatchEvent(kPhone, c.changes);
    ASSERT_TRUE(r.error.isEmpty()) << c.what;
    QByteArray expected = With(kPhone, c.lines);
    if (!c.lines.empty()) expected = With(expected, {{"DTSTAMP:20270101T120000Z", "DTSTAMP:20270102T080000Z"}});
    if (!c.lines.empty()) {
      // LAST-MODIFIED is added before the first alarm.
      const qsizetype at = expected.indexOf("BEGIN:VALARM");
      expected.insert(at, "LAST-MODIFIED:20270102T080000Z\n");
    }
    EXPECT_EQ(r.text, expected) << c.what;
    EXPECT_EQ(r.changed, !c.lines.empty()) << c.what;
  }
}

TEST(PatchEvent, StartsKeepTheirFormAndAnAlarmIsAddedWhenNoneWasTheOne) {
  const QDateTime to(QDate(2027, 7, 1), QTime(16, 30), QTimeZone("Europe/Berlin"));
  struct Case {
    QByteArray start, end, expectedStart, expectedEnd;
  };
  const Case cases[] = {
      // UTC stays UTC, floating stays floating (this computer's wall time), a zone not known here is
      // moved by the same real time as the reminder.
      {"DTSTART:20270105T080000Z", "DTEND:20270105T090000Z", "DTSTART:20270701T143000Z", "DTEND:20270701T153000Z"},
      {"DTSTART:20270105T090000", "DTEND:20270105T100000", "DTSTART:20270701T163000", "DTEND:20270701T173000"},
      {"DTSTART;TZID=Olson/Nowhere:20270105T090000", "DURATION:PT1H", "DTSTART;TZID=Olson/Nowhere:20270701T163000",
       "DURATION:PT1H"},
      {"DTSTART;TZID=/mozilla.org/20070129_1/Asia/Kolkata:20270105T133000", "DURATION:PT1H",
       "DTSTART;TZID=/mozilla.org/20070129_1/Asia/Kolkata:20270701T200000", "DURATION:PT1H"},
  };
  for (const Case& c : cases) {
    const QByteArray text = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\n" + c.start + "\r\n" + c.end +
                            "\r\nSUMMARY:s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    EventChanges ch;
    ch.start = to;
    ch.startWas = QDateTime(QDate(2027, 1, 5), QTime(9, 0), QTimeZone("Europe/Berlin"));
    ch.alarm = to.addSecs(-600);
    const icalendar::PatchResult r = PatchEvent(text, ch);
    EXPECT_TRUE(r.text.contains("\r\n" + c.expectedStart + "\r\n")) << r.text.constData();
    EXPECT_TRUE(r.text.contains("\r\n" + c.expectedEnd + "\r\n")) << r.text.constData();
    EXPECT_TRUE(r.text.contains("BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT10M\r\n"))
        << r.text.constData();
  }
  // An all-day event moves by whole days, its end with it.
  const QByteArray day =
      "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:d\nDTSTART;VALUE=DATE:20270105\nDTEND;VALUE=DATE:20270107\nEND:VEVENT\n"
      "END:VCALENDAR\n";
  EventChanges ch;
  ch.date = QDate(2027, 2, 1);
  const QByteArray moved = PatchEvent(day, ch).text;
  EXPECT_TRUE(moved.contains("DTSTART;VALUE=DATE:20270201\nDTEND;VALUE=DATE:20270203\n")) << moved.constData();
  // A series' start is never moved here, and a resource without an event is refused untouched.
  const QByteArray series =
      "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:s\nDTSTART:20270105T090000Z\nRRULE:FREQ=DAILY\n"
      "END:VEVENT\nEND:VCALENDAR\n";
  ch = EventChanges();
  ch.start = to;
  EXPECT_FALSE(PatchEvent(series, ch).changed);
  EXPECT_FALSE(PatchEvent("BEGIN:VCALENDAR\nEND:VCALENDAR\n", ch).error.isEmpty());
}

TEST(ResourceText, SplitsByUidWithTheZonesNamedAndJoinsWithEachZoneOnce) {
  const QByteArray second =
      "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:other\nDTSTART:20270105T090000Z\n"
      "END:VEVENT\nEND:VCALENDAR\n";
  const auto split = icalendar::ResourcesByUid(kPhone + second);
  ASSERT_EQ(split.size(), 2u);
  // The series keeps its zone and its moved occurrence; the other event gets no zone.
  EXPECT_EQ(split.at(QStringLiteral("meet-1@phone")), kPhone);
  EXPECT_EQ(split.at(QStringLiteral("other")), second);
  const QByteArray joined = icalendar::JoinResources({kPhone, kPhone, second}, QStringLiteral("-//T//EN"));
  EXPECT_EQ(joined.count("BEGIN:VTIMEZONE"), 1);
  EXPECT_EQ(joined.count("BEGIN:VEVENT"), 5);
  EXPECT_TRUE(joined.startsWith("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//EN\r\n"));
  EXPECT_FALSE(joined.contains("\r\r")) << "line ends are made CRLF once";
  EXPECT_EQ(joined.count('\n'), joined.count("\r\n"));
}

}  // namespace
