#pragma once
// A speaker that writes down what it is asked to do, for the command-line tool and the tests.

#include "core/speaker.h"

#include <QString>
#include <QStringList>

namespace chimewise {

// Prints every request as one line: "Sound: N", "Play: NAME", "Speak: TEXT", "Show", "Hide". The
// lines come in the order they would be heard; a sound's pause, which only delays what follows,
// writes nothing.
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
