#include "core/repeat_rule.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

QString words(const char* rule, QDateTime start = {}, const char* pattern = "h:mm am/pm") {
  return RepeatSummary(QString::fromLatin1(rule), RepeatWords{QString::fromLatin1(pattern), start});
}

QDateTime at(int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi)); }

}  // namespace

TEST(RepeatRule, SummaryInPlainWordsOrCustom) {
  const QDateTime mon8 = at(2026, 12, 7, 8, 0);  // a Monday
  struct Case {
    const char* rule;
    QDateTime start;
    const char* pattern;
    const char* said;
  } cases[] = {
      {"FREQ=DAILY", mon8, "h:mm am/pm", "every day at 8:00 am"},
      {"FREQ=DAILY", mon8, "hh:mm", "every day at 08:00"},
      {"FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR", at(2026, 12, 7, 9, 30), "h:mm am/pm", "every weekday at 9:30 am"},
      {"FREQ=WEEKLY;BYDAY=TH,MO", {}, "h:mm", "every Monday and Thursday"},
      {"FREQ=WEEKLY", mon8, "h:mm", "every Monday at 8:00"},
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR", {}, "h:mm", "every 2 weeks on Monday, Wednesday and Friday"},
      {"FREQ=MONTHLY;BYDAY=-1FR", {}, "h:mm", "on the last Friday of every month"},
      {"FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", {}, "h:mm", "on the last weekday of every month"},
      {"FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=-1", {}, "h:mm", "on the last day of every 3 months"},
      {"FREQ=MONTHLY", at(2026, 1, 15, 17, 0), "h:mm", "on day 15 of every month at 17:00"},
      {"FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=14", {}, "h:mm", "every year on 14 March"},
      {"FREQ=YEARLY;BYMONTH=11;BYDAY=4TH", {}, "h:mm", "every year on the 4th Thursday of November"},
      {"FREQ=HOURLY;INTERVAL=2;BYHOUR=9,10,11,12,13,14,15,16,17", mon8, "h:mm am/pm",
       "every 2 hours from 9:00 am to 5:00 pm"},
      {"FREQ=MINUTELY;INTERVAL=15;BYHOUR=9,10,11,12,13,14,15,16;BYDAY=MO,TU,WE,TH,FR",
       {},
       "h:mm",
       "every 15 minutes from 9:00 to 17:00 on weekdays"},
      {"FREQ=DAILY;BYHOUR=8,20;BYMINUTE=0", {}, "h:mm am/pm", "every day at 8:00 am and 8:00 pm"},
      {"FREQ=DAILY;COUNT=10", mon8, "h:mm am/pm", "every day at 8:00 am, 10 times"},
      {"FREQ=DAILY;UNTIL=20270331", {}, "h:mm", "every day, until 31 March 2027"},
      // 22:30 UTC on 31 March is already 1 April in Berlin: the last day is said where the series is.
      {"FREQ=DAILY;UNTIL=20270331T223000Z", QDateTime(QDate(2026, 1, 1), QTime(8, 0), QTimeZone("Europe/Berlin")),
       "h:mm", "every day at 8:00, until 1 April 2027"},
      // What the words cannot say simply.
      {"FREQ=DAILY;BYHOUR=8,12,16,20;BYMINUTE=0", {}, "h:mm", "repeats (custom rule)"},
      {"FREQ=HOURLY;BYHOUR=9,10,14", {}, "h:mm", "repeats (custom rule)"},
      {"FREQ=MONTHLY;BYMONTHDAY=-2", {}, "h:mm", "repeats (custom rule)"},
      {"FREQ=FORTNIGHTLY", {}, "h:mm", "repeats (custom rule)"},
  };
  for (const Case& c : cases) EXPECT_EQ(words(c.rule, c.start, c.pattern).toStdString(), c.said) << c.rule;
}

TEST(RepeatRule, RefusalsNameThePartAndWritingBackKeepsEveryPart) {
  const struct {
    const char* text;
    const char* begins;
  } refused[] = {
      {"FREQ=FORTNIGHTLY", "FREQ=FORTNIGHTLY: not a frequency"},
      {"FREQ=DAILY;INTERVAL=0", "INTERVAL=0: \"0\" is not a number from 1"},
      {"FREQ=DAILY;FREQ=WEEKLY", "FREQ: given twice"},
      {"FREQ=WEEKLY;BYDAY=2MO", "BYDAY=2MO: a numbered weekday needs"},
      {"FREQ=MONTHLY;BYDAY=MO,XX", "BYDAY=MO,XX: \"XX\" is not a weekday"},
      {"FREQ=MONTHLY;BYDAY=6MO", "BYDAY=6MO: a month has at most 5"},
      {"FREQ=MONTHLY;BYMONTHDAY=0", "BYMONTHDAY=0: \"0\" is not a number from -31 to 31 other than 0"},
      {"FREQ=DAILY;BYHOUR=24", "BYHOUR=24"},
      {"FREQ=DAILY;BYSETPOS=1", "BYSETPOS: needs another BY part"},
      {"FREQ=DAILY;COUNT=3;UNTIL=20270101", "COUNT and UNTIL"},
      {"FREQ=DAILY;UNTIL=20270231", "UNTIL=20270231: not a date"},
      {"FREQ=WEEKLY;BYMONTHDAY=1", "BYMONTHDAY: not with FREQ=WEEKLY"},
      {"FREQ=YEARLY;BYWEEKNO=20", "BYWEEKNO: not understood here"},
      {"FREQ=DAILY;;COUNT=2", "\"FREQ=DAILY;;COUNT=2\": an empty part"},
  };
  for (const auto& r : refused) {
    const RepeatRuleRead read = ReadRepeatRule(QString::fromLatin1(r.text));
    EXPECT_FALSE(read.rule) << r.text;
    EXPECT_TRUE(read.error.startsWith(QString::fromLatin1(r.begins))) << r.text << ": " << read.error.toStdString();
  }
  // Written back in one order with every part kept; read again, the same rule.
  const struct {
    const char* text;
    const char* written;
  } kept[] = {
      {"rrule:freq=monthly;byday=-1fr,2MO;interval=2;count=5;wkst=su",
       "FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR,2MO;WKST=SU;COUNT=5"},
      {"FREQ=YEARLY;BYSETPOS=-1,1;BYMONTHDAY=-3,4;BYMONTH=2;UNTIL=20270331T070000Z",
       "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=-3,4;BYSETPOS=-1,1;UNTIL=20270331T070000Z"},
      {"FREQ=MINUTELY;BYMINUTE=0,30;BYHOUR=9;INTERVAL=1;UNTIL=20270331T235959",
       "FREQ=MINUTELY;BYHOUR=9;BYMINUTE=0,30;UNTIL=20270331T235959"},
  };
  for (const auto& k : kept) {
    const RepeatRuleRead read = ReadRepeatRule(QString::fromLatin1(k.text));
    ASSERT_TRUE(read.rule) << k.text << ": " << read.error.toStdString();
    EXPECT_EQ(RepeatRuleText(*read.rule).toStdString(), k.written);
    EXPECT_EQ(ReadRepeatRule(RepeatRuleText(*read.rule)).rule, read.rule) << k.text;
  }
}
