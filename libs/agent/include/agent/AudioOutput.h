#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

class QAudioSink;

namespace agent {

class Clock;
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
  explicit SilentAudioOutput(Clock& clock);
  bool play(const QByteArray& pcm, int sampleRate) override;
  void append(const QByteArray& pcm) override;
  void stop() override;
  qint64 playedMs() const override;
  bool isPlaying() const override;

 private:
  Clock& m_clock;
  qint64 m_bytes = 0;
  int m_rate = 0;
  qint64 m_startMs = 0;
  qint64 m_lengthMs = 0;
  bool m_started = false;
};

// The sound device through Qt Multimedia. QAudioSink::processedUSecs() is the position.
class DeviceAudioOutput final : public AudioOutput {
  Q_OBJECT
 public:
  DeviceAudioOutput();
  ~DeviceAudioOutput() override;
  bool play(const QByteArray& pcm, int sampleRate) override;
  void append(const QByteArray& pcm) override;
  void stop() override;
  qint64 playedMs() const override;
  bool isPlaying() const override;

 private:
  class Stream;
  std::unique_ptr<QAudioSink> m_sink;
  std::unique_ptr<Stream> m_stream;
  int m_rate = 0;
  qint64 m_bytes = 0;
  bool m_finished = true;
};

// What the caller wants to hear. The library never decides this on its own: the program (or
// tool) passes its choice in.
enum class AudioChoice {
  Auto,    // the sound device when one exists, else silence on the clock
  Silent,  // always silence on the clock
};

// The sound device when `choice` is Auto and one exists; otherwise a silent output on `clock`.
std::unique_ptr<AudioOutput> createAudioOutput(Clock& clock, AudioChoice choice);

}  // namespace agent
