#include "core/program_events.h"

namespace chimewise {

void ProgramEvents::EndSpeechWaits() {
  ++m_speechWaitsEnded;
  emit waitInterrupted();
}

void ProgramEvents::RequestStop() {
  m_stopRequested = true;
  emit waitInterrupted();
}

void ProgramEvents::BeginClosing() {
  m_closing = true;
  emit waitInterrupted();
}

}  // namespace chimewise
