#pragma once
// How written words are said: which voice says which part of a word, what a symbol or an emoji
// is called, and plain ASCII for a synthesiser that reads nothing else.

#include <QString>
#include <QStringView>

#include <vector>

namespace agent {

// A stretch of one written word said by one voice.
struct SpokenPiece {
  QString text;
  QString language;  // the espeak-ng language that says it; empty for the character's own voice
};

// The espeak-ng language for a script's letters; empty for Latin and for the scripts it has no
// voice for. Han is Mandarin, also in Japanese text: espeak-ng's Japanese voice reads Kana only.
QString languageForScript(char32_t letter);

// One written word cut where the script changes. Letters of a script with a voice of its own go to
// that language; digits, punctuation and combining marks stay with the letters around them; an
// emoji or another symbol becomes its name ("birthday cake"), said by the character; joiners,
// variation selectors and skin tones are left out, a pair of regional indicators is "flag"; the
// letters of a script no voice knows are left out. With `asciiOnly`, what the character says is
// brought to ASCII (see asciiFolded). Empty pieces are dropped.
std::vector<SpokenPiece> spokenPieces(QStringView word, bool asciiOnly);

// The text in plain ASCII: accents taken off ("Zoë" as "Zoe"), ligatures and typographic quotes
// and dashes written out, whatever has no ASCII form left out.
QString asciiFolded(QStringView text);

// The lower-case Unicode name of a symbol or emoji ("birthday cake"), empty when it has none.
QString symbolName(char32_t symbol);

}  // namespace agent
