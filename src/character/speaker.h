#pragma once
// What the program's spoken features ask of the character. The running program speaks through
// the loaded character (CharacterHost); the command-line tool prints the same requests.

#include <QString>
#include <QStringList>

namespace chimewise {

class Speaker {
 public:
  virtual ~Speaker() = default;
  // A reminder sound 1-8, then its pause; 0 and out-of-range indexes do nothing.
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

// Prints every request as one line: "Sound: N", "Play: NAME", "Speak: TEXT", "Show", "Hide".
class TranscriptSpeaker : public Speaker {
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

}  // namespace chimewise
