#include "clock/talking_clock.h"

#include "character/speaker.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace chimewise;

namespace {

QDateTime at(int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, 4), QTime(h, m, s)); }

// Notes, at every sentence, when the clock it speaks for has its next announcement.
class WatchingSpeaker final : public TranscriptSpeaker {
 public:
  void SayText(const QString& text) override {
    nextWhileSpeaking = clock ? clock->nextAnnouncement() : std::nullopt;
    TranscriptSpeaker::SayText(text);
  }
  const TalkingClock* clock = nullptr;
  std::optional<QDateTime> nextWhileSpeaking = at(0, 0);
};

class TalkingClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.write(settings::AnnounceGesture, "");
    speaker.clock = &talking;
  }
  QTemporaryDir dir;
  SettingsStore settings{dir.filePath("settings.ini")};
  ManualClock clock{at(10, 7, 40)};
  WatchingSpeaker speaker;
  ProgramOptions options;
  TalkingClock talking{options, settings, clock, speaker};
};

}  // namespace

TEST_F(TalkingClockTest, KeepsItsNextAnnouncementNoneWhileSpeakingAndWhenOff) {
  EXPECT_EQ(talking.nextAnnouncement(), std::nullopt);  // nothing scheduled yet
  talking.ScheduleNextAnnouncement(3);
  EXPECT_EQ(talking.nextAnnouncement(), at(10, 15));
  talking.ScheduleNextAnnouncement();  // the stored interval: hourly
  EXPECT_EQ(talking.nextAnnouncement(), at(11, 0));

  clock.set(at(11, 0, 5));
  talking.AnnounceTime();
  EXPECT_EQ(speaker.nextWhileSpeaking, std::nullopt);  // no second announcement starts meanwhile
  EXPECT_EQ(talking.nextAnnouncement(), at(12, 0));

  settings.write(settings::AnnounceOn, "0");
  talking.ScheduleNextAnnouncement(3);
  EXPECT_EQ(talking.nextAnnouncement(), std::nullopt);
}

TEST_F(TalkingClockTest, SaysTheTimeInTheFormatTheOptionsHoldNow) {
  clock.set(at(15, 5, 10));
  talking.AnnounceTime();
  options.timeFormat = "h:mm";  // the Options dialog's am/pm box, while the program runs
  talking.AnnounceTime();
  EXPECT_EQ(speaker.lines, (QStringList{"Speak: The time is 3:05 pm", "Speak: The time is 15:05"}));
}
