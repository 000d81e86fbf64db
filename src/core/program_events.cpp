#include "core/program_events.h"

#include "core/shared_state.h"

namespace chimewise {

ProgramEvents& ProgramEvents::instance() {
  static ProgramEvents events;
  return events;
}

void InvertSpeechToggle(SharedState& state) {
  state.SpeechToggle = static_cast<std::int16_t>(~state.SpeechToggle);
  emit ProgramEvents::instance().waitInterrupted();
}

void RequestStop(SharedState& state) {
  state.StopRequested = true;
  emit ProgramEvents::instance().waitInterrupted();
}

void BeginClosing(SharedState& state) {
  state.Closing = true;
  emit ProgramEvents::instance().waitInterrupted();
}

}  // namespace chimewise
