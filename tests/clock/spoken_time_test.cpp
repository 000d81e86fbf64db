#include "clock/spoken_time.h"
#include "character/transcript_speaker.h"
#include "clock/talking_clock.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/settings_store.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int h, int m, int s = 0, QDate d = QDate(2026, 12, 4)) { return QDateTime(d, QTime(h, m, s)); }
}  // namespace

TEST(SpokenTime, PhrasesOfTimeDateAndPartOfDay) {
  EXPECT_EQ(SpokenTime(at(15, 5), "h:mm am/pm"), "3:05 pm");
  EXPECT_EQ(SpokenTime(at(15, 5), "h:mm"), "15:05");
  EXPECT_EQ(SpokenTime(at(0, 7), "h:mm am/pm"), "12:07 am");
  EXPECT_EQ(SpokenTime(at(12, 0), "h:mm am/pm"), "12:00 pm");
  EXPECT_EQ(SpokenDate(QDate(2027, 1, 22)), "January 22nd, 2027");
  for (const char* o : {"1st", "2nd", "3rd", "4th", "11th", "12th", "13th", "21st", "22nd", "23rd", "31st"})
    EXPECT_EQ(QString::number(std::atoi(o)) + OrdinalSuffix(std::atoi(o)), o);
  for (int h = 0; h < 24; ++h) EXPECT_EQ(PartOfDayWord(h), h < 12 ? "Morning" : h < 17 ? "Afternoon" : "Evening") << h;
}

TEST(AnnouncementSchedule, NextWholeStepStrictlyAfterTheCurrentMinute) {
  const struct {
    QDateTime now;
    QString on;
    int index;
    QDateTime next;  // invalid: off
  } cases[] = {{at(10, 7, 40), "1", 3, at(10, 15)},
               {at(10, 15, 0), "1", 3, at(10, 30)},
               {at(10, 59, 59), "1", 3, at(11, 0)},
               {at(10, 0, 5), "1", 6, at(11, 0)},
               {at(10, 7, 40), "1", 0, at(10, 8)},
               {at(10, 29, 59), "1", 5, at(10, 30)},
               {at(23, 59, 30), "1", 1, at(0, 0, 0, QDate(2026, 12, 5))},
               {at(10, 0), "0", 6, {}},
               {at(10, 0), "", 6, at(11, 0)},
               {at(10, 0), "00", 6, at(11, 0)},
               // A damaged index never schedules the current minute (which would speak on every tick).
               {at(10, 7), "1", -1, at(11, 0)},
               {at(10, 7), "1", 7, at(11, 0)}};
  for (const auto& c : cases)
    EXPECT_EQ(NextAnnouncementTime(c.now, c.on, c.index), c.next) << c.now.toString().toStdString() << c.index;
}

// The time is told when it is due, whatever the character still has to say: only the line under
// way goes before it, and what was queued follows.
TEST(TalkingClock, TheAnnouncementWaitsOnlyForTheLineUnderWay) {
  QTemporaryDir dir;
  SettingsStore settings(dir.filePath("settings.ini"));
  ProgramOptions options;
  ManualClock clock(at(16, 59, 0));
  TimedTranscriptSpeaker speaker(clock);
  TalkingClock talking(options, settings, clock, speaker);
  for (int n = 0; n < 30; ++n) speaker.SayText(QStringLiteral("Line %1 of a guided tour that takes a while").arg(n));
  clock.set(at(17, 0, 1));
  talking.AnnounceTime();
  clock.set(at(17, 10));
  const auto& heard = speaker.heard();
  const auto said = std::find_if(heard.begin(), heard.end(), [](const auto& h) { return h.line.contains("5:00 pm"); });
  ASSERT_NE(said, heard.end());
  EXPECT_LE(at(17, 0, 1).secsTo(said->at), 5);  // a line of the tour is about 4 s
  EXPECT_EQ(heard.back().line, "Speak: Line 29 of a guided tour that takes a while");
}
