#pragma once
// One speech engine for the free functions of a test binary that synthesise outside a character
// service. It is made on first use and ended, its thread joined, once every test has run, before
// the process's static destructors.

#include <agent/speech_engine.h>
#include <gtest/gtest.h>

#include <memory>

namespace chimewise::testsupport {

inline std::unique_ptr<agent::SpeechEngine>& SpeechEngineSlot() {
  static std::unique_ptr<agent::SpeechEngine> engine;
  return engine;
}

inline agent::SpeechEngine& TestSpeechEngine() {
  auto& engine = SpeechEngineSlot();
  if (!engine) engine = std::make_unique<agent::SpeechEngine>();
  return *engine;
}

class SpeechEngineEnding final : public ::testing::Environment {
 public:
  void TearDown() override { SpeechEngineSlot().reset(); }
};

inline const bool kSpeechEngineEnds = (::testing::AddGlobalTestEnvironment(new SpeechEngineEnding), true);

}  // namespace chimewise::testsupport
