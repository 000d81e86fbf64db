#pragma once
// The two performances of the Options dialog as queues of character requests: the voice test
// (a time announcement from the dialog's current, not yet applied, choices) and the character
// demo (a fixed show of the voice and the animations). Building the queue is plain logic; the
// dialog hands it to the character.

#include <QDateTime>
#include <QPoint>
#include <QString>
#include <vector>

namespace chimewise {

struct VoiceStep {
  enum Kind {
    StopAll,  // drop everything the character has queued
    Play,     // an animation; one the character lacks fails alone
    Speak,    // one utterance as it stands (service tags allowed)
    SayText,  // speech text with gesture tags
    MoveTo,   // the point `at`, screen pixels
    Show,
  } kind;
  QString text;
  QPoint at;
  bool operator==(const VoiceStep&) const = default;
};

// What the voice test reads from the dialog.
struct VoiceTestChoices {
  QString gesture;  // the gesture list's text; "None" goes to the character as a name too
  QString phrase;   // the phrase box's text
  bool sayTimeOfDay = false;
  bool sayDayOfWeek = false;
  bool sayDate = false;
};

// The voice test at `now`, with the running time format: stop what is queued, the gesture, the
// greeting, the phrase and the time, the weekday, the date.
std::vector<VoiceStep> VoiceTestSteps(const VoiceTestChoices& choices, const QDateTime& now, const QString& timeFormat);

// The character demo: thirteen sentences and animations, the greeting naming the character
// (`characterName`, which may be empty), then a move to `foot` (the dialog's lower left corner)
// and Show.
std::vector<VoiceStep> DemoSteps(const QString& characterName, const QPoint& foot);

}  // namespace chimewise
