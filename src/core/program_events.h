#pragma once
// What ends the program's waits. A speech wait, a pause or a tour's wait ends at once when the
// character is quietened, the user asks it to stop or shutdown begins: each of those is made
// through this object, which signals it, so nothing has to poll.

#include <QObject>

namespace chimewise {

class ProgramEvents final : public QObject {
  Q_OBJECT
 public:
  // How many times the speech waits have been ended: a wait that began at one count is over once
  // the count differs.
  quint64 speechWaitsEnded() const { return m_speechWaitsEnded; }
  bool stopRequested() const { return m_stopRequested; }
  bool closing() const { return m_closing; }

  // Ends every pending speech wait.
  void EndSpeechWaits();
  // The user asked the character to stop: spoken sequences end at their next wait.
  void RequestStop();
  // The stop has been acted on: the next sequence starts clean.
  void ClearStop() { m_stopRequested = false; }
  // Shutdown has begun; it is never taken back.
  void BeginClosing();

 signals:
  // The speech waits were ended, a stop was requested or shutdown began.
  void waitInterrupted();

 private:
  quint64 m_speechWaitsEnded = 0;
  bool m_stopRequested = false;
  bool m_closing = false;
};

}  // namespace chimewise
