#include "character/speaker.h"

#include "character/character_tables.h"
#include "character/speech_markup.h"

#include <QStringList>

namespace chimewise {

void TranscriptSpeaker::PlaySoundEffect(int index) {
  if (ReminderSoundAt(index)) lines << QStringLiteral("Sound: %1").arg(index);
}

void TranscriptSpeaker::SayText(const QString& text) {
  for (const SpeechStep& s : SplitGestureTags(text)) {
    if (s.kind == SpeechStep::Play)
      play(s.text);
    else
      speak(s.text);
  }
}

void TranscriptSpeaker::speak(const QString& text) { lines << QStringLiteral("Speak: ") + text; }
void TranscriptSpeaker::play(const QString& animation) { lines << QStringLiteral("Play: ") + animation; }
void TranscriptSpeaker::show() {
  m_visible = true;
  if (showAndHide) lines << QStringLiteral("Show");
}
void TranscriptSpeaker::hide() {
  m_visible = false;
  if (showAndHide) lines << QStringLiteral("Hide");
}

}  // namespace chimewise
