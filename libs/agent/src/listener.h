#pragma once

#include "agent/commands.h"
#include "agent/speech_recognizer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QIODevice;

namespace agent {

namespace sound {
class Source;
}  // namespace sound

// One spell of listening for a voice command: audio comes from the microphone (or is fed in
// by the caller), goes to the recogniser piece by piece, and the spell ends when the speaker
// falls silent after speaking, or after a few seconds in any case. Time is counted in audio,
// so a recording gives the same outcome as the same sound through a microphone.
class Listener final : public QObject {
  Q_OBJECT
 public:
  struct Limits {
    int maxMs = 5000;        // the longest spell
    int endSilenceMs = 700;  // quiet after speech that ends it
    int minSpeechMs = 100;   // loud stretch that counts as speech
  };

  explicit Listener(QObject* parent = nullptr);
  ~Listener() override;
  Q_DISABLE_COPY_MOVE(Listener)

  // Starts listening to the default microphone. False, with the reason, when there is no
  // microphone or it cannot be opened, when the recogniser is missing, or when no command has
  // a voice entry.
  bool startMicrophone(const std::vector<Command>& commands, QString* reason);
  // Starts a spell whose audio the caller feeds (16 kHz mono 16-bit).
  bool startFed(const std::vector<Command>& commands, QString* reason);
  void feed(const QByteArray& pcm);
  // Ends the spell at once without an outcome.
  void cancel();
  bool isListening() const { return m_listening; }

  void setLimits(Limits limits) { m_limits = limits; }
  SpeechRecognizer& recognizer() { return m_recognizer; }

 signals:
  // The spell is over: `command` is the name of the command heard, empty when nothing (or
  // nothing of the grammar) was; `words` what the recogniser made of it.
  void finished(const QString& command, const QString& words);

 private:
  bool begin(const std::vector<Command>& commands, QString* reason);
  void readMicrophone();
  void finish();
  void closeMicrophone();

  SpeechRecognizer m_recognizer;
  Limits m_limits;
  std::unique_ptr<sound::Source> m_source;
  QIODevice* m_input = nullptr;
  bool m_listening = false;

  // End of speech by loudness, in 20 ms frames.
  QByteArray m_partial;  // samples of an unfinished frame
  qint64 m_samples = 0;
  double m_noise = 0;  // quietest frame so far (RMS)
  int m_loudRun = 0;   // consecutive loud frames
  int m_quietRun = 0;  // consecutive quiet frames since speech began
  bool m_speech = false;
};

}  // namespace agent
