#pragma once
// Wakes whoever waits on the shared flags. A speech wait or a pause sleeps in an event loop; every
// change of SpeechToggle, StopRequested or Closing made through the functions below wakes it at
// once, so nothing has to poll.

#include <QObject>

namespace chimewise {

struct SharedState;

class ProgramEvents final : public QObject {
  Q_OBJECT
 public:
  static ProgramEvents& instance();

 signals:
  // SpeechToggle was inverted, a stop was requested or shutdown began.
  void waitInterrupted();
};

// Inverts SpeechToggle, which ends a pending speech wait.
void InvertSpeechToggle(SharedState& state);
// The user asked the character to stop: spoken sequences end at their next wait.
void RequestStop(SharedState& state);
// Shutdown has begun.
void BeginClosing(SharedState& state);

}  // namespace chimewise
