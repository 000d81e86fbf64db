// The machinery under the character: the clock and the audio outputs.
#include "agent/audio_output.h"
#include "agent/timer_clock.h"
#include "support/qt_print.h"

#include <gtest/gtest.h>

using namespace agent;

TEST(AgentClock, ManualTimersFireInOrderAtTheirOwnTimes) {
  ManualTimerClock clock;
  auto a = clock.createTimer(), b = clock.createTimer(), c = clock.createTimer(), d = clock.createTimer();
  std::vector<std::pair<char, qint64>> fired;
  QObject::connect(a.get(), &Timer::timeout, [&] { fired.emplace_back('a', clock.nowMs()); });
  QObject::connect(b.get(), &Timer::timeout, [&] {
    fired.emplace_back('b', clock.nowMs());
    b->start(100);  // re-arming from its own handler
  });
  QObject::connect(c.get(), &Timer::timeout, [&] { fired.emplace_back('c', clock.nowMs()); });
  a->start(50);
  b->start(30);
  c->start(500);
  EXPECT_EQ(clock.activeTimers(), 3);
  c->stop();
  EXPECT_EQ(clock.activeTimers(), 2);
  clock.advance(250);
  EXPECT_EQ(fired, (std::vector<std::pair<char, qint64>>{{'b', 30}, {'a', 50}, {'b', 130}, {'b', 230}}));
  EXPECT_EQ(clock.nowMs(), 250);
  EXPECT_EQ(clock.activeTimers(), 1);
  b.reset();  // a destroyed armed timer no longer counts
  EXPECT_EQ(clock.activeTimers(), 0);
  // A timer that keeps firing at once cannot hang time.
  int count = 0;
  QObject::connect(d.get(), &Timer::timeout, [&] { ++count, d->start(0); });
  d->start(0);
  clock.advance(10);
  EXPECT_GT(count, 0);
  EXPECT_EQ(clock.nowMs(), 260);
}

TEST(AgentAudioOutput, SilentOutputKeepsTimeWithTheClock) {
  ManualTimerClock clock;
  SilentAudioOutput out(clock);
  const QByteArray second(22050 * 2, '\0');
  ASSERT_TRUE(out.play(second, 22050));
  EXPECT_TRUE(out.isPlaying());
  clock.advance(400);
  EXPECT_EQ(out.playedMs(), 400);
  out.append(second);
  clock.advance(1000);
  EXPECT_EQ(out.playedMs(), 1400);
  EXPECT_TRUE(out.isPlaying());
  clock.advance(1000);
  EXPECT_EQ(out.playedMs(), 2000);
  EXPECT_FALSE(out.isPlaying());
  // Audio added after running dry plays from now on, not from the past.
  clock.advance(5000);
  out.append(second);
  EXPECT_EQ(out.playedMs(), 2000);
  clock.advance(300);
  EXPECT_EQ(out.playedMs(), 2300);
  // Stopping ends it where it is.
  out.stop();
  clock.advance(300);
  EXPECT_EQ(out.playedMs(), 2300);
  EXPECT_FALSE(out.isPlaying());
  EXPECT_FALSE(out.play(second, 0));
}

// The sound device runs at one rate; every buffer is brought to it keeping its length and shape.
TEST(AgentAudioOutput, ResamplingKeepsLengthAndShape) {
  QByteArray ramp(16000 * 2, Qt::Uninitialized);
  auto* in = reinterpret_cast<qint16*>(ramp.data());
  for (int i = 0; i < 16000; ++i) in[i] = qint16(i);
  for (const int to : {48000, 44100, 22050, 11025}) {
    const QByteArray out = resamplePcm16(ramp, 16000, to);
    ASSERT_EQ(out.size(), qsizetype(to) * 2) << to;
    const auto* o = reinterpret_cast<const qint16*>(out.constData());
    // At each output sample, the input value at the same moment.
    for (int i = 0; i < to; i += 997) EXPECT_NEAR(o[i], double(i) * 16000 / to, 1.0) << to << " at " << i;
  }
  EXPECT_EQ(resamplePcm16(ramp, 16000, 16000), ramp);
  EXPECT_TRUE(resamplePcm16(QByteArray(), 16000, 48000).isEmpty());
}

// Whether the library reads the program's CHIMEWISE_AUDIO is no_program_settings_test.sh's to say.
TEST(AgentAudioOutput, TheCallerChoosesBetweenDeviceAndSilence) {
  ManualTimerClock clock;
  const auto chosen = createAudioOutput(clock, AudioChoice::Auto);
  EXPECT_NE(dynamic_cast<DeviceAudioOutput*>(chosen.get()), nullptr);
  EXPECT_NE(dynamic_cast<SilentAudioOutput*>(createAudioOutput(clock, AudioChoice::Silent).get()), nullptr);
  // Without a device the first sound finds none, and the output keeps time on the clock like the silent one.
  if (soundOutputExists()) return;
  ASSERT_TRUE(chosen->play(QByteArray(22050 * 2, '\0'), 22050));
  clock.advance(400);
  EXPECT_EQ(chosen->playedMs(), 400);
  EXPECT_TRUE(chosen->isPlaying());
  chosen->stop();
  EXPECT_FALSE(chosen->isPlaying());
}
