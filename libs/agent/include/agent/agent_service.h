#pragma once

#include "agent/audio_output.h"
#include "agent/character.h"
#include "agent/result.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace agent {

class TimerClock;

struct AgentOptions {
  using Audio = AudioChoice;
  TimerClock* clock = nullptr;  // null: real time
  Audio audio = Audio::Auto;    // Auto: the sound device when there is one, else silent
  bool synthesizeOnCallerThread = false;
  // Unset: inside the character's window on a Wayland desktop (where the program cannot place
  // windows), in a window of its own elsewhere.
  std::optional<BalloonPlace> balloon;
  // Set: every character speaks with this voice ("espeak:en-us", "flite:rms") at its own rate and
  // pitch instead of its own voice. For tools and tests that want a quick synthesiser.
  QString voiceName;
};

// Where the balloon goes on this Qt platform when nothing else is asked for.
BalloonPlace defaultBalloonPlace(const QString& qtPlatformName);

// The character service: loads characters from character files under IDs of the caller's
// choosing and hands out the loaded characters. It owns what the characters share: the speech
// engine with its thread, and the sound outputs, which are made once and lent to one character
// at a time. Destroy the service where no handler of its characters is running (the program
// does it after its event loop has ended): it joins the speech thread and closes the sound
// device, which spins the event loop once.
class AgentService final : public QObject {
  Q_OBJECT
 public:
  explicit AgentService(AgentOptions options = {}, QObject* parent = nullptr);
  ~AgentService() override;
  Q_DISABLE_COPY_MOVE(AgentService)

  // Loads the character file at `path` under `id`. Fails when the file is missing or damaged
  // (as loadCharacterFile, with a message naming the file and the fault) or `id` is taken
  // (IdTaken: unload it first).
  Result<Character*> load(const QString& id, const QString& path);
  // Removes the character; its window closes at once. Unknown IDs are ignored.
  void unload(const QString& id);
  Character* character(const QString& id) const;
  QStringList ids() const;
  // Unloads everything and raises shutdown(); used when the program quits.
  void close();

  TimerClock& clock() { return *m_clock; }
  SpeechEngine& speech() { return *m_speech; }

 signals:
  void shutdown();

 private:
  std::unique_ptr<TimerClock> m_ownClock;
  TimerClock* m_clock;
  AgentOptions m_options;
  std::unique_ptr<SpeechEngine> m_speech;
  // Every output ever made, and those no character holds; a character gives its own back
  // when it is destroyed.
  std::vector<std::unique_ptr<AudioOutput>> m_outputs;
  std::vector<AudioOutput*> m_freeOutputs;
  AudioOutput* takeOutput();
  std::map<QString, std::unique_ptr<Character>> m_characters;
  QList<QPointer<Character>> m_unloaded;  // deleted later: they may be inside a signal
  bool m_closed = false;
};

}  // namespace agent
