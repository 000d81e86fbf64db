#pragma once
// One speech engine for a test binary's free functions that synthesise outside a character service,
// made on first use and ended (its thread joined) after every test, before the static destructors.

#include <agent/speech_engine.h>
#include <gtest/gtest.h>

#include <memory>

namespace chimewise::testsupport {

inline std::unique_ptr<agent::SpeechEngine>& SpeechEngineSlot() {
  static std::unique_ptr<agent::SpeechEngine> engine;
  return engine;
}

inline agent::SpeechEngine& TestSpeechEngine() {
  if (!SpeechEngineSlot()) SpeechEngineSlot() = std::make_unique<agent::SpeechEngine>();
  return *SpeechEngineSlot();
}

class SpeechEngineEnding final : public ::testing::Environment {
 public:
  void TearDown() override { SpeechEngineSlot().reset(); }
};

inline const bool kSpeechEngineEnds = (::testing::AddGlobalTestEnvironment(new SpeechEngineEnding), true);

}  // namespace chimewise::testsupport
