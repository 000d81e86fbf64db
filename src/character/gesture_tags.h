#pragma once
// The program's own gesture tag inside speech text: "\pl=Name\" plays the animation Name at that
// point of the speech. Letter case does not matter and blanks may stand between the backslash
// and "pl=". Every other tag ("\Mrk=100\", "\spd=160\", ...) belongs to the character service
// and passes through untouched.

#include <QString>
#include <vector>

namespace chimewise {

struct SpeechStep {
  enum Kind { Speak, Play } kind;
  QString text;  // what to speak, or the animation name as written
  bool operator==(const SpeechStep&) const = default;
};

// Splits a speech text into the requests to queue, in order: "Hello \pl=Wave\ there" gives
// Speak "Hello", Play "Wave", Speak "there". A text of blanks gives nothing. A marker without a
// closing backslash ("\pl=Wave hello") is dropped and the rest spoken; a bare marker at the end
// ("Hello \pl=") is dropped.
std::vector<SpeechStep> SplitGestureTags(const QString& text);

}  // namespace chimewise
