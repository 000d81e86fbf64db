#pragma once
// What the program's spoken features ask of the character: a port. The running program speaks
// through the loaded character (CharacterHost); the command-line tool prints the same requests.

#include <QString>

namespace chimewise {

class Speaker {
 public:
  virtual ~Speaker() = default;
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
  virtual bool soundEffectsOn() const = 0;
  virtual void SetSoundEffects(bool on) = 0;
};

}  // namespace chimewise
