#pragma once
// The program's character for tests: Hoot from the source tree on the silent output, whose audio
// clock a 1 ms timer moves on 20 ms at a time, so speech plays far faster than real time and
// every bookmark and request end still arrives in order.

#include "character/character_host.h"
#include "core/prompts.h"
#include "core/settings_store.h"
#include "core/shared_state.h"

#include <agent/timer_clock.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

namespace chimewise::testsupport {

// Sets AppFolder to dir/app and the user's character store to dir/base; the character is not
// loaded yet. The pump runs from here on.
inline std::unique_ptr<CharacterHost> FastCharacterHost(const QTemporaryDir& dir, SharedState& state,
                                                        SettingsStore& settings, Prompter& prompter,
                                                        agent::ManualTimerClock& clock, QTimer& pump) {
  state.AppFolder = dir.filePath("app");
  QDir().mkpath(state.AppFolder);
  QDir().mkpath(dir.filePath("base/msagent/chars"));
  pump.setInterval(1);
  QObject::connect(&pump, &QTimer::timeout, [&clock] { clock.advance(20); });
  pump.start();
  CharacterHostOptions o;
  o.characterFolders = {qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + QStringLiteral("/assets/characters")};
  o.windowsFolder = dir.filePath("base") + "/";
  o.silentAudio = true;
  o.clock = &clock;
  // What is said matters here, not how it sounds: espeak-ng says it in a fraction of flite's time.
  o.voiceName = QStringLiteral("espeak:en-us");
  return std::make_unique<CharacterHost>(state, settings, prompter, o);
}

}  // namespace chimewise::testsupport
