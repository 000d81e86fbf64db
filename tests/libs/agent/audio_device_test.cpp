// The sound device through a real PulseAudio (run by with_sound_server.sh on a null sink): many
// short buffers back to back on one output, outputs made and dropped while they play, and a
// character speaking on the device, as the program uses them.
#include "agent/agent_service.h"
#include "agent/audio_output.h"
#include "agent/character.h"
#include "agent/timer_clock.h"
#include "support/qt_app.h"

#include <QApplication>
#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>

using namespace agent;

namespace {

QByteArray tone(int ms, int rate, double hz) {
  const int n = rate * ms / 1000;
  QByteArray pcm(n * 2, Qt::Uninitialized);
  auto* s = reinterpret_cast<qint16*>(pcm.data());
  for (int i = 0; i < n; ++i) s[i] = qint16(8000 * std::sin(2 * M_PI * hz * i / rate));
  return pcm;
}

using chimewise::testsupport::RunEventsFor;
using chimewise::testsupport::RunEventsUntil;

class AudioDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    chimewise::testsupport::EnsureQtApp();
    ASSERT_FALSE(QMediaDevices::audioOutputs().isEmpty()) << "no sound device: run under with_sound_server.sh";
  }
  SystemTimerClock clock;
};

TEST_F(AudioDevice, HundredsOfShortBuffersBackToBackAllPlayToTheirEnd) {
  DeviceAudioOutput out(clock);
  QRandomGenerator random(22);
  const int rates[] = {16000, 22050, 44100, 11025};
  int endedByDevice = 0;
  const int rounds = 100;
  for (int i = 0; i < rounds; ++i) {
    const int rate = rates[random.bounded(4)];
    const int ms = 20 + random.bounded(60);
    ASSERT_TRUE(out.play(tone(ms, rate, 440 + 10 * (i % 40)), rate)) << "round " << i;
    const int kind = random.bounded(4);
    if (kind == 0) {
      // More of the same utterance while it plays.
      out.append(tone(30, rate, 660));
    } else if (kind == 1) {
      // Cut short at once, or a moment in.
      if (random.bounded(2)) RunEventsFor(10);
      const qint64 at = out.playedMs();
      out.stop();
      EXPECT_FALSE(out.isPlaying());
      EXPECT_GE(out.playedMs(), at);
      continue;
    } else if (kind == 2) {
      // The next buffer replaces this one before it is heard.
      continue;
    }
    QElapsedTimer t;
    t.start();
    const qint64 length = kind == 0 ? ms + 30 : ms;
    ASSERT_TRUE(RunEventsUntil([&] { return !out.isPlaying(); }, 5000)) << "round " << i << " never ended";
    EXPECT_NEAR(double(out.playedMs()), double(length), 2.0) << "round " << i;
    // The device's own position ended it, not the clock standing in for a stalled device.
    if (t.elapsed() < length + 1400) ++endedByDevice;
  }
  EXPECT_GT(endedByDevice, 0);
}

// Outputs made and dropped while they play, and the next buffer at every moment around the end of
// the one before: while it plays, as the device runs dry, and after it drained.
TEST_F(AudioDevice, BuffersReplacedAtEveryMomentAndOutputsDroppedWhilePlaying) {
  for (int i = 0; i < 40; ++i) {
    auto out = std::make_unique<DeviceAudioOutput>(clock);
    ASSERT_TRUE(out->play(tone(200, 16000, 500), 16000));
    RunEventsFor(i % 3 == 0 ? 1 : 30);
  }
  DeviceAudioOutput out(clock);
  QRandomGenerator random(7);
  for (int i = 0; i < 250; ++i) {
    ASSERT_TRUE(out.play(tone(30, 16000, 500 + i % 300), 16000)) << "round " << i;
    RunEventsFor(random.bounded(90));
  }
  out.stop();
  EXPECT_FALSE(out.isPlaying());
}

TEST_F(AudioDevice, ACharacterSpeaksManySentencesOnTheDeviceAndIsUnloadedWhileSpeaking) {
  for (int round = 0; round < 3; ++round) {
    AgentOptions o;
    o.audio = AgentOptions::Audio::Auto;
    auto service = std::make_unique<AgentService>(o);
    const Result<Character*> loaded = service->load(QStringLiteral("C"), QStringLiteral(AGENT_ASSETS_DIR "Bolt.ochar"));
    ASSERT_TRUE(loaded) << loaded.error().toStdString();
    Character* c = loaded.value();
    int completed = 0;
    QObject::connect(c, &Character::requestCompleted, [&](RequestId, RequestStatus, const QString&) { ++completed; });
    c->show();
    const int sentences = 6;
    for (int i = 0; i < sentences; ++i) c->speak(i % 2 ? QStringLiteral("Yes.") : QStringLiteral("One, two."));
    // Everything is said, through the device's own clock, within a generous time.
    if (round == 0) {
      ASSERT_TRUE(RunEventsUntil([&] { return completed >= sentences + 1; }, 60000)) << completed;
    }
    // Unloaded while speaking, then the service goes with a deferred delete pending.
    if (round == 1) {
      RunEventsUntil([&] { return completed >= 3; }, 20000);
      service->unload(QStringLiteral("C"));
    }
    service.reset();
    RunEventsFor(50);
  }
}

}  // namespace
