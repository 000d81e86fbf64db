#pragma once

#include "agent/commands.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace agent {

// pocketsphinx with its US English model, listening for the phrases of a command list. Audio
// is 16 kHz mono 16-bit PCM. The model is loaded on first use (about a sixth of a second);
// decoding a spoken command takes a few tens of milliseconds, so audio may be fed in small
// pieces on the user-interface thread as it arrives.
class SpeechRecognizer {
 public:
  static constexpr int kSampleRate = 16000;

  SpeechRecognizer();
  ~SpeechRecognizer();
  Q_DISABLE_COPY_MOVE(SpeechRecognizer)

  // Loads the model if that has not been done. False, with the reason in error(), when
  // pocketsphinx or its model is missing.
  bool ready();
  QString error() const { return m_error; }

  // Listens for these commands' voice grammars from now on. Words the model's dictionary
  // lacks ("jesterbox") get a pronunciation from flite's lexicon and letter-to-sound rules.
  // False when no command has a usable voice entry (or the model is missing).
  bool setCommands(const std::vector<Command>& commands);
  // The JSGF grammar in use and the faults found while making it.
  QString grammar() const { return m_grammar; }
  QStringList problems() const { return m_problems; }

  // One utterance fed in pieces.
  void begin();
  void feed(const QByteArray& pcm);
  // The words heard (lower case), or an empty string when nothing of the grammar was.
  QString end();

  // A whole utterance at once; the name of the command heard, or an empty string.
  QString recognizeCommand(const QByteArray& pcm);
  // The command whose grammar the words are a phrase of.
  QString commandFor(const QString& words) const;

  // Converts 16-bit mono PCM from one sample rate to another (low-pass filtered when the rate
  // drops), e.g. espeak-ng's 22050 Hz speech to the recogniser's 16 kHz.
  static QByteArray resample(const QByteArray& pcm, int fromRate, int toRate);

 private:
  struct Private;
  std::unique_ptr<Private> d;
  QString m_error;
  QString m_grammar;
  QString m_commandsGrammar;  // the commands' own grammar that m_grammar was made from
  QStringList m_problems;
  std::vector<Command> m_commands;
};

}  // namespace agent
