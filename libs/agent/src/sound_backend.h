#pragma once
// What the sound module (Qt Multimedia, with the sound server's client libraries and codecs
// behind it) offers the audio output and the listener. It is loaded when a sound is first played
// or the microphone first opened: a program that sits hidden in the tray never loads it.

#include <QString>

class QIODevice;

namespace agent {
// Defined in agent/result.h, which the module itself goes without.
template <typename Pointer>
class Result;
}  // namespace agent

namespace agent::sound {

// Raised whenever a member is added, removed or changes its type.
inline constexpr int kVersion = 1;

// The sound device's output, reading 16-bit mono audio from a device of the caller's.
class Sink {
 public:
  virtual ~Sink() = default;
  // Starts (or starts again) reading `source`; false when the device refuses.
  virtual bool start(QIODevice* source) = 0;
  virtual bool stopped() const = 0;
  virtual qint64 processedUSecs() const = 0;
  virtual int sampleRate() const = 0;
};

// The microphone, recording 16-bit mono audio.
class Source {
 public:
  virtual ~Source() = default;
  // The recorded audio as it comes; null when the microphone could not be opened.
  virtual QIODevice* start() = 0;
};

struct Api {
  int version = kVersion;
  bool (*hasOutput)();
  // The default output at `preferredRate` (else at the device's own rate) with a buffer of
  // `bufferMs`; null when there is no device or it plays no 16-bit mono sound.
  Sink* (*openOutput)(int preferredRate, int bufferMs);
  bool (*hasInput)();
  // The default microphone at `sampleRate`; null with the reason when it cannot be had.
  Source* (*openInput)(int sampleRate, QString* reason);
};

inline constexpr const char* kModuleFile = "libagent-sound.so";
inline constexpr const char* kEntryPoint = "agent_sound_api";

// The module, loaded on the first call; NotInstalled when it cannot be.
Result<const Api*> Load();

}  // namespace agent::sound
