#pragma once

#include "agent/speech_engine.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace agent::flitevoice {

inline constexpr int kSampleRate = 16000;

// Synthesises the markup's spoken items with one of flite's voices. The text is cut where the
// prosody changes, at bookmarks, at pauses and at sentence ends, and each piece is one flite
// utterance; word and phone times come from the utterance's relations. With `chunks`, the audio
// is handed out while flite's filter makes it (a tenth of a second first, then longer pieces),
// each chunk with the events that fall inside it, and the result holds the rest. Together they
// are the audio and events made without `chunks`, but for a long first sentence: flite reads a
// whole piece before its first sample, so that one is cut at a comma or after ten words.
// `cancelled` stops the synthesis within a few milliseconds of audio.
// `formants` is where the voice's resonances lie, in per cent of its own (80-120).
Utterance synthesize(const SpeechMarkup& markup, const QString& voice, int rate, int pitch, int formants,
                     const std::atomic<bool>* cancelled, const std::function<void(Utterance)>& chunks = {});

// The mouth shape for one of flite's phones (CMU phone set, "pau" for silence).
MouthShape mouthShapeForPhone(const QString& phone);

// The pronunciation flite gives a word (its lexicon, else its letter-to-sound rules), as CMU
// phones without stress marks in upper case ("OW M" for "olm"). Empty when it has none.
QStringList pronounce(const QString& word);

}  // namespace agent::flitevoice
