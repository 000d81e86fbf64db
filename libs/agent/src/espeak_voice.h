#pragma once

#include "agent/speech_engine.h"

#include <QString>

#include <atomic>
#include <functional>

namespace agent::espeakvoice {

// Synthesises the markup's SSML with one of espeak-ng's voices (else en-us) at `rate` words a
// minute and `pitch` (0-100). Word, mouth and bookmark events come from espeak-ng's own; a
// bookmark espeak-ng loses still fires, in order. With `chunks`, the audio is handed out in
// pieces while it is being made and the result holds only what was not handed out yet.
Utterance synthesize(const SpeechMarkup& markup, const QString& voice, int rate, int pitch,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks = {});

// The module's table (espeak-ng and the sound libraries it links are loaded when an espeak-ng
// voice first speaks). Raise kVersion whenever a member changes.
inline constexpr int kVersion = 2;

struct Api {
  int version = kVersion;
  decltype(&espeakvoice::synthesize) synthesizeText;
};

inline constexpr const char* kModuleFile = "libagent-espeak.so";
inline constexpr const char* kEntryPoint = "agent_espeak_api";

}  // namespace agent::espeakvoice
