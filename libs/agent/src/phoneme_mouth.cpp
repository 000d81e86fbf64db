// The mouth shape for an espeak-ng phoneme: used by the speech engine and by the espeak-ng module.

#include "agent/speech_engine.h"

namespace agent {

MouthShape mouthShapeForPhoneme(const QString& phoneme) {
  // espeak-ng's phoneme mnemonics: lips together for p b m, rounded for the back vowels
  // and w, spread for the front vowels, wide open for the open vowels, and the teeth
  // showing for the remaining consonants.
  if (phoneme.isEmpty() || phoneme.startsWith(QLatin1Char('_')) || phoneme == QLatin1String(";"))
    return MouthShape::Closed;
  const QChar c = phoneme[0];
  switch (c.toLatin1()) {
    case 'p':
    case 'b':
    case 'm': return MouthShape::Closed;
    case 'o':
    case 'O':
    case 'u':
    case 'U':
    case 'w':
    case '0': return MouthShape::Round;
    case 'i':
    case 'I':
    case 'e':
    case 'E':
    case 'j': return MouthShape::Wide;
    case 'a':
    case 'A':
    case 'V':
    case '@':
    case '3':
    case 'Q': return MouthShape::Open;
    default: return MouthShape::Teeth;
  }
}

}  // namespace agent
