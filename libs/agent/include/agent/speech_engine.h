#pragma once

#include "agent/speech_markup.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace agent {

// Mouth shapes for lip-sync, from the phonemes being spoken.
enum class MouthShape { Closed, Open, Wide, Round, Teeth };
inline constexpr int kMouthShapeCount = 5;
QString mouthShapeName(MouthShape shape);
MouthShape mouthShapeForPhoneme(const QString& phoneme);

// Something that happens at a point of the audio.
struct SpeechEvent {
  enum Kind { Word, Bookmark, Mouth };
  Kind kind;
  qint64 ms;  // position in the audio
  int value;  // Word: end of the shown text reached; Bookmark: its id; Mouth: a MouthShape
};

// A synthesised utterance: mono 16-bit PCM and its events in time order.
struct Utterance {
  QByteArray pcm;
  int sampleRate = 0;
  std::vector<SpeechEvent> events;
  QString error;           // empty when synthesis worked
  qint64 synthesisUs = 0;  // how long the synthesis took
  bool cancelled = false;
  QStringList voices;  // final piece: the voices that said it, in order ("flite:slt", "espeak:ru+f3")
  qint64 lengthMs() const { return sampleRate > 0 ? (qint64(pcm.size()) / 2) * 1000 / sampleRate : 0; }
};

// The synthesisers (flite and espeak-ng, each one per process and not thread-safe): every
// synthesis runs on the engine's own thread, one at a time, in the order asked. The voice's
// name chooses the synthesiser (see resolveVoice). Words in another language (see
// translateMarkup) are said by espeak-ng's voice of that language within the same utterance:
// their audio is brought to the character's sample rate and their events follow on.
//
// The engine has one owner (the character service, or a tool's main), made and destroyed on
// the user-interface thread while QCoreApplication exists. Destroying it cuts the running
// synthesis short and joins the speech thread. Two engines in one process take turns, since
// the synthesisers are shared.
class SpeechEngine {
 public:
  SpeechEngine();
  ~SpeechEngine();
  Q_DISABLE_COPY_MOVE(SpeechEngine)

  using Job = quint64;
  // Receives an utterance piece by piece: each piece's audio follows the previous one's,
  // its events are timed from the start of the utterance, and `last` is set on the final
  // piece (which carries the error, if any).
  using ChunkHandler = std::function<void(Utterance chunk, bool last)>;

  // Synthesises on the speech thread and hands the audio over in pieces as it is made (the
  // first after a fraction of a second of speech), so long texts start playing at once.
  // `chunk` runs on the thread that first used the engine (the user-interface thread),
  // never after `receiver` is destroyed and never for a cancelled job.
  Job synthesize(const SpeechMarkup& markup, const Voice& voice, QObject* receiver, ChunkHandler chunk);
  // Drops a queued job or cuts short the running one.
  void cancel(Job job);
  // Synthesises on the calling thread, waiting for the speech thread to be free.
  Utterance synthesizeNow(const SpeechMarkup& markup, const Voice& voice);
  // Gets the voice's synthesiser ready on the speech thread (loaded and its voice set up), so
  // that the first words said with it come sooner. Nothing is said or handed out.
  void prepare(const Voice& voice);

 private:
  struct Private;
  std::unique_ptr<Private> d;
};

}  // namespace agent
