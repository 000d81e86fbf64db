#pragma once
// A speaker that writes down what it is asked to do, for the command-line tool and the tests.

#include "core/speaker_port.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace chimewise {

// Prints every request as one line: "Sound: N", "Play: NAME", "Speak: TEXT", "Show", "Hide". The
// lines come in the order they would be heard; a sound's pause, which only delays what follows,
// writes nothing.
class TranscriptSpeaker : public SpeakerPort {
 public:
  void PlaySoundEffect(int index) override;
  void SayText(const QString& text) override;
  void speak(const QString& text) override;
  void play(const QString& animation) override;
  void show() override;
  void hide() override;
  bool visible() const override { return m_visible; }
  bool soundEffectsOn() const override { return m_effects; }
  void SetSoundEffects(bool on) override { m_effects = on; }

  QStringList lines;
  bool showAndHide = false;  // record Show and Hide too

 private:
  bool m_visible = true;
  bool m_effects = true;
};

class Clock;

// A speaker that keeps time as the character does: requests wait in one queue and take their time
// (words at a steady rate, a sound its pause, an animation a second), and a line is written down
// when it is heard, with the moment it started. Requests made first in line go behind the one
// under way and the earlier first ones only. The queue plays out as the clock moves: tests judge
// by when a line was heard, not by when it was asked for.
class TimedTranscriptSpeaker : public SpeakerPort {
 public:
  struct Heard {
    QDateTime at;
    QString line;  // as TranscriptSpeaker writes it: "Speak: TEXT", "Sound: N", "Play: NAME"
  };
  explicit TimedTranscriptSpeaker(const Clock& clock, int wordsPerMinute = 150);

  void PlaySoundEffect(int index) override;
  void SayText(const QString& text) override;
  void speak(const QString& text) override;
  void play(const QString& animation) override;
  void show() override { m_visible = true; }
  void hide() override { m_visible = false; }
  bool visible() const override { return m_visible; }
  bool soundEffectsOn() const override { return m_effects; }
  void SetSoundEffects(bool on) override { m_effects = on; }
  void SetFirstInLine(bool on) override { m_first = on; }
  void BeginTelling() override { m_telling = m_nextTelling++; }
  bool EndTelling(std::function<void(Hearing)> done) override;

  // Everything heard by the clock's now, in order.
  const std::vector<Heard>& heard();
  // Requests not yet begun.
  int waiting();
  // Calls back each telling whose lines have all ended by the clock's now, as the event loop would.
  void settle();
  // Drops the line under way and everything queued, their tellings ending as `how` says: the user's
  // Stop Talking (Silenced), another feature's stop (Unheard), a voice that failed (Failed).
  void stop(Hearing how);

 private:
  struct Request {
    QString line;
    qint64 ms = 0;
    bool first = false;
    QDateTime asked;
    qint64 telling = 0;
  };
  struct Telling {
    int open = 0;   // lines not yet begun
    QDateTime end;  // when the last begun line ends
    Hearing outcome = Hearing::Heard;
    std::function<void(Hearing)> done;  // set once the telling is complete
  };
  void add(const QString& line, qint64 ms);
  void playOut(const QDateTime& now);

  const Clock& m_clock;
  int m_wordsPerMinute;
  bool m_visible = true;
  bool m_effects = true;
  bool m_first = false;
  std::deque<Request> m_queue;
  std::optional<QDateTime> m_busyUntil;  // the end of the request under way
  std::vector<Heard> m_heard;
  qint64 m_telling = 0;  // the telling being asked for, 0 when none
  qint64 m_nextTelling = 1;
  qint64 m_underWay = 0;  // the telling of the line under way
  std::map<qint64, Telling> m_tellings;
};

}  // namespace chimewise
