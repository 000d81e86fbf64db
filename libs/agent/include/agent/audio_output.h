#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

namespace agent {

namespace sound {
class Sink;
}  // namespace sound

class TimerClock;
class Timer;

// Plays one buffer of 16-bit mono PCM at a time and reports how much of it has been played.
// The played position is the clock that words, mouth shapes and bookmarks follow.
class AudioOutput : public QObject {
  Q_OBJECT
 public:
  ~AudioOutput() override;
  // Replaces whatever is playing. Returns false when the buffer cannot be played at all.
  virtual bool play(const QByteArray& pcm, int sampleRate) = 0;
  // Adds audio after what play() (and earlier appends) gave, at the same sample rate.
  virtual void append(const QByteArray& pcm) = 0;
  // Cuts playback at once.
  virtual void stop() = 0;
  // Milliseconds of the current buffer played so far; the buffer's length once it is done.
  virtual qint64 playedMs() const = 0;
  // True while some of the buffer is still to be played.
  virtual bool isPlaying() const = 0;

 protected:
  AudioOutput() = default;
};

// Plays nothing: the position advances with the clock. Used by tests, by tools, and
// whenever no sound device exists.
class SilentAudioOutput final : public AudioOutput {
  Q_OBJECT
 public:
  explicit SilentAudioOutput(TimerClock& clock);
  bool play(const QByteArray& pcm, int sampleRate) override;
  void append(const QByteArray& pcm) override;
  void stop() override;
  qint64 playedMs() const override;
  bool isPlaying() const override;

 private:
  TimerClock& m_clock;
  qint64 m_bytes = 0;
  int m_rate = 0;
  qint64 m_startMs = 0;
  qint64 m_lengthMs = 0;
  bool m_started = false;
};

// The sound device through Qt Multimedia: one sink for the life of the output, fed through one
// stream. Every buffer is converted to the sink's rate and queued after a short tail of
// silence that pushes the last of it through the sound server's start-up buffering; the sink
// goes idle by itself when the stream runs dry and wakes when more comes. The sink is never
// stopped, recreated or deleted while the output lives: Qt 6.4's PulseAudio sink reports its
// state from the sound server's thread, and one destroyed while a report is on its way crashes
// the program.
//
// The position is what the sound server has played since the buffer's first byte. Where the
// device stops playing (the server went away), the position follows the clock instead, so a
// caller waiting for the end is never held.
class DeviceAudioOutput final : public AudioOutput {
  Q_OBJECT
 public:
  explicit DeviceAudioOutput(TimerClock& clock);
  // Stops the sink and lets it go. Destroy outputs only where no handler is running: Qt's sink
  // spins the event loop once in its destructor.
  ~DeviceAudioOutput() override;
  bool play(const QByteArray& pcm, int sampleRate) override;
  void append(const QByteArray& pcm) override;
  void stop() override;
  qint64 playedMs() const override;
  bool isPlaying() const override;
  // The rate the sink runs at; 0 until the first play().
  int deviceRate() const { return m_deviceRate; }

 private:
  class Stream;
  bool openSink();
  qint64 deviceBytesPlayed() const;
  TimerClock& m_clock;
  std::unique_ptr<Stream> m_stream;
  std::unique_ptr<sound::Sink> m_sink;
  // Set once the first sound finds no device (or no sound module): from then on the output
  // keeps time on the clock, as the silent one does.
  std::unique_ptr<SilentAudioOutput> m_silent;
  int m_deviceRate = 0;
  int m_inputRate = 0;
  qint64 m_startByte = 0;    // the stream's byte count where the current buffer begins
  qint64 m_lengthMs = 0;     // of the current buffer, appends included
  qint64 m_startedAtMs = 0;  // on the clock
  qint64 m_stoppedAtMs = -1;
  bool m_started = false;
};

// `pcm` (16-bit mono) at `toRate`, by linear interpolation; the length in time is kept.
QByteArray resamplePcm16(const QByteArray& pcm, int fromRate, int toRate);

// What the caller wants to hear. The library never decides this on its own: the program (or
// tool) passes its choice in.
enum class AudioChoice {
  Auto,    // the sound device when one exists, else silence on the clock
  Silent,  // always silence on the clock
};

// The sound device when `choice` is Auto (which plays on the clock, as the silent output does,
// when the first sound finds no device); otherwise a silent output on `clock`. Nothing of the
// sound system is loaded until something is played.
std::unique_ptr<AudioOutput> createAudioOutput(TimerClock& clock, AudioChoice choice);

// Whether the machine has a sound device to play on (loads the sound system).
bool soundOutputExists();

}  // namespace agent
