#pragma once
// What the voice module (flite, its lexicon and its voices) offers the speech engine and the
// recogniser, which load it when they first need a flite voice or a pronunciation.

#include "flite_voice.h"

namespace agent::flitevoice {

// Raised whenever a member is added, removed or changes its type.
inline constexpr int kVersion = 2;

struct Api {
  int version = kVersion;
  decltype(&flitevoice::synthesize) synthesizeText;
  decltype(&flitevoice::pronounce) pronounceWord;
};

inline constexpr const char* kModuleFile = "libagent-flite.so";
inline constexpr const char* kEntryPoint = "agent_flite_api";

}  // namespace agent::flitevoice
