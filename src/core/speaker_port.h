#pragma once
// What the program's spoken features ask of the character: a port. The running program speaks
// through the loaded character (CharacterHost); the command-line tool prints the same requests.

#include <QRect>
#include <QString>
#include <functional>

namespace chimewise {

class SpeakerPort {
 public:
  virtual ~SpeakerPort() = default;
  // A reminder sound 1-8 and its pause; 0 and out-of-range indexes do nothing. Returns at once:
  // the pause holds back whatever is said after it.
  virtual void PlaySoundEffect(int index) = 0;
  // Speech text with gesture tags: queued, shown first when hidden.
  virtual void SayText(const QString& text) = 0;
  // One utterance as it stands (service tags allowed, no gesture tags).
  virtual void speak(const QString& text) = 0;
  virtual void play(const QString& animation) = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool visible() const = 0;
  // Where the character is drawn on the screen, in pixels (a window is placed beside it); invalid
  // when it is not drawn or that is unknown.
  virtual QRect screenGeometry() const { return {}; }
  virtual bool soundEffectsOn() const = 0;
  virtual void SetSoundEffects(bool on) = 0;
  // While on, what is asked for goes ahead of everything queued before: it waits only for the line
  // under way and for what was asked for earlier while this was on. For what must be heard on time
  // (a reminder falling due, the talking clock) whatever the character still has to say.
  virtual void SetFirstInLine(bool on) { static_cast<void>(on); }

  // What became of the lines of one telling.
  enum class Hearing {
    Heard,     // every line was said to its end
    Silenced,  // the user stopped the speech (Stop Talking): dealt with as heard
    Unheard,   // a line was dropped before its end (another feature's stop, the character gone)
    Failed,    // the voice could not say a line
  };
  // The lines asked for between BeginTelling and EndTelling make one telling. EndTelling returns
  // false when none of them is on its way to be heard (no character: what was asked for has been
  // shown or written, and counts as told). Otherwise `done` is called once, later, from the event
  // loop, when the last of them has ended; never when the program ends first.
  virtual void BeginTelling() {}
  virtual bool EndTelling(std::function<void(Hearing)> done) {
    static_cast<void>(done);
    return false;
  }
};

// Puts a speaker's requests first in line for the life of the scope, and back as it was after.
class FirstInLine {
 public:
  explicit FirstInLine(SpeakerPort& speaker, bool on = true) : m_speaker(speaker), m_on(on) {
    if (m_on) m_speaker.SetFirstInLine(true);
  }
  ~FirstInLine() {
    if (m_on) m_speaker.SetFirstInLine(false);
  }
  FirstInLine(const FirstInLine&) = delete;
  FirstInLine& operator=(const FirstInLine&) = delete;

 private:
  SpeakerPort& m_speaker;
  bool m_on;
};

}  // namespace chimewise
