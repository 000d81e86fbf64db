#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace agent {

// A character's voice: a synthesiser and its voice ("flite:slt", "espeak:en-us+f3"; a name
// without a prefix is an espeak-ng voice), a speaking rate in words per minute and a pitch on
// a 0-100 scale where 50 is the voice's own pitch. `formants` places the resonances of the
// voice (the size of the speaker's throat and mouth, heard apart from the pitch) in per cent
// of the voice's own: below 100 a fuller, larger voice, above it a smaller one. flite voices
// only; espeak-ng voices keep their own.
struct Voice {
  QString name = QStringLiteral("en-us");
  int rate = 175;
  int pitch = 50;
  int formants = 100;
};

enum class Synthesizer { Espeak, Flite };

// Which synthesiser and which of its voices a voice name asks for. A name the synthesiser does
// not know falls back to its default voice, and `problem` says so.
struct VoiceChoice {
  Synthesizer synthesizer = Synthesizer::Espeak;
  QString voice;    // "en-us+f3" for espeak-ng, "slt", "rms" or "awb" for flite
  QString problem;  // empty when the name was understood as written
};
VoiceChoice resolveVoice(const QString& name);

// One step of speech in the order it is heard, for synthesisers that take plain text and no
// markup (flite): a word (or a mapped text) with the prosody in force, a pause or a bookmark.
struct SpokenItem {
  enum Kind { Word, Pause, Mark } kind = Word;
  QString text;      // Word: what to say (may be several words for a mapped text)
  int shownEnd = 0;  // Word: the balloon shows the shown text up to here once it is heard
  int rate = 0;      // Word: words per minute
  int pitchHz = 0;   // Word: pitch target in Hz, 0 for the voice's own
  bool emphasis = false;
  int value = 0;     // Pause: milliseconds; Mark: bookmark id
  QString language;  // Word: the espeak-ng language that says it ("ru"); empty for the voice's own
};

// One stretch of the SSML document that espeak-ng will report as a word. When the audio
// reaches it, the balloon shows the shown text up to `shownEnd` (in UTF-16 units).
struct WordSpan {
  int begin = 0;  // code points into the SSML document, inclusive
  int end = 0;    // exclusive
  int shownEnd = 0;
};

// Speech text with the service's inline tags, translated for espeak-ng.
//
// Tags: \Mrk=n\ bookmark, \Emp\ stress the next word, \Spd=n\ words per minute,
// \Pit=n\ pitch in Hz, \Pau=n\ pause in ms, \Map="spoken"="shown"\ say one text and show
// another, \Ctx="Address"|"E-Mail"|"Unknown"\ how to read what follows, \Rst\ back to the
// voice's own rate and pitch, and \\ for a literal backslash. Tag names match in any case.
// Anything else that starts with a backslash is not a tag and is spoken and shown as text.
struct SpeechMarkup {
  QString ssml;   // a complete <speak> document
  QString shown;  // the text the balloon shows once everything has been said
  std::vector<WordSpan> words;
  std::vector<int> bookmarks;          // bookmark ids in the order they occur
  std::vector<int> bookmarkPositions;  // where each one stands in the SSML, in code points
  QStringList problems;                // one line per piece of markup taken as plain text
  std::vector<SpokenItem> items;       // the same speech as plain steps
};

//
// Words in another script are said by an espeak-ng voice of their language (their items name
// it; see spokenPieces in spoken_text.h); digits and signs between two words of one language go
// with them. Emoji and other symbols are said by their names.
SpeechMarkup translateMarkup(const QString& text, const Voice& voice);

// A stretch of speech said by one voice: `language` empty for the character's own voice, else
// the espeak-ng language. Its markup is complete (SSML, word spans and bookmarks of its own);
// its shown positions are the whole speech's.
struct SpeechPart {
  QString language;
  SpeechMarkup markup;
};

// The speech cut where the language of its words changes; bookmarks and pauses stay with the
// words before them. `voice` gives the rate and pitch the parts' SSML is relative to.
std::vector<SpeechPart> splitByLanguage(const SpeechMarkup& markup, const Voice& voice);

// The espeak-ng voice that says `language` for a character with `own` voice: its rate and pitch,
// and a female variant for a female voice.
Voice voiceForLanguage(const QString& language, const Voice& own);

// espeak-ng's pitch scale (0-100, the voice's own pitch at 50) for a pitch given in Hz.
int espeakPitchForHz(int hz);

}  // namespace agent
