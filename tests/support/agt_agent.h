#pragma once
// A character of the platform on a hand-driven clock and the silent output (AGENT_ASSETS_DIR: the
// shipped characters' folder).

#include "support/qt_app.h"
#include "support/qt_print.h"

#include <agent/agent_service.h>
#include <agent/character.h>
#include <agent/timer_clock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace chimewise::testsupport {

inline QString AgentAsset(const char* file) { return QStringLiteral(AGENT_ASSETS_DIR) + QString::fromUtf8(file); }

// `file` loaded as "CharacterID"; speech is synthesised in line unless `threaded`.
class AgentRig : public ::testing::Test {
 protected:
  void SetUp() override { load("Hoot.ochar"); }
  void load(const char* file, bool threaded = false) {
    EnsureQtApp();
    agent::AgentOptions o;
    o.clock = &clock;
    o.audio = agent::AgentOptions::Audio::Silent;
    o.synthesizeOnCallerThread = !threaded;
    o.balloon = balloonPlace;
    service = std::make_unique<agent::AgentService>(o);
    const agent::Result<agent::Character*> loaded = service->load(QStringLiteral("CharacterID"), AgentAsset(file));
    ASSERT_TRUE(loaded) << loaded.error().toStdString();
    c = loaded.value();
  }
  // Small steps, so events posted by handlers run close to when they would for real.
  void run(qint64 ms) {
    for (qint64 t = 0; t < ms; t += 10) {
      clock.advance(std::min<qint64>(10, ms - t));
      QCoreApplication::processEvents();
    }
  }

  std::optional<agent::BalloonPlace> balloonPlace;
  agent::ManualTimerClock clock;
  std::unique_ptr<agent::AgentService> service;
  agent::Character* c = nullptr;
};

}  // namespace chimewise::testsupport
