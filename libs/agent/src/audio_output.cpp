#include "agent/audio_output.h"

#include "agent/result.h"
#include "agent/timer_clock.h"
#include "sound_backend.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace agent {

AudioOutput::~AudioOutput() = default;

namespace {
qint64 lengthMs(const QByteArray& pcm, int rate) { return rate > 0 ? (qint64(pcm.size()) / 2) * 1000 / rate : 0; }
}  // namespace

SilentAudioOutput::SilentAudioOutput(TimerClock& clock) : m_clock(clock) {}

bool SilentAudioOutput::play(const QByteArray& pcm, int sampleRate) {
  if (sampleRate <= 0) return false;
  m_startMs = m_clock.nowMs();
  m_rate = sampleRate;
  m_bytes = pcm.size();
  m_lengthMs = lengthMs(pcm, sampleRate);
  m_started = true;
  return true;
}

void SilentAudioOutput::append(const QByteArray& pcm) {
  if (!m_started) return;
  // Had the audio run dry meanwhile, playing resumes now rather than in the past.
  const qint64 now = m_clock.nowMs();
  if (now - m_startMs > m_lengthMs) m_startMs = now - m_lengthMs;
  m_bytes += pcm.size();
  m_lengthMs = (m_bytes / 2) * 1000 / m_rate;
}

void SilentAudioOutput::stop() {
  if (m_started) m_lengthMs = std::min(m_lengthMs, m_clock.nowMs() - m_startMs);
  m_started = false;
}

qint64 SilentAudioOutput::playedMs() const {
  if (!m_started) return m_lengthMs;
  return std::clamp<qint64>(m_clock.nowMs() - m_startMs, 0, m_lengthMs);
}

bool SilentAudioOutput::isPlaying() const { return m_started && playedMs() < m_lengthMs; }

namespace {
// The sink's own buffer: what is still played after stop(), and how long the program thread
// may be busy before the sound stutters.
constexpr int kDeviceBufferMs = 200;
// Silence after every buffer, longer than the device buffer: the sound server starts playing
// only once its buffer has filled, so the tail pushes the last words out.
constexpr int kTailMs = 300;
// A device that has played nothing for this long after a buffer should have ended is taken to
// have gone; the position then follows the clock.
constexpr qint64 kStallMs = 1500;
constexpr int kPreferredRate = 48000;
}  // namespace

QByteArray resamplePcm16(const QByteArray& pcm, int fromRate, int toRate) {
  if (fromRate <= 0 || toRate <= 0 || fromRate == toRate) return pcm;
  const auto* in = reinterpret_cast<const qint16*>(pcm.constData());
  const qint64 n = pcm.size() / 2;
  if (n == 0) return {};
  const qint64 outCount = n * toRate / fromRate;
  QByteArray out(qsizetype(outCount * 2), Qt::Uninitialized);
  auto* o = reinterpret_cast<qint16*>(out.data());
  for (qint64 i = 0; i < outCount; ++i) {
    // Position in the input, in 1/toRate steps, kept exact in integers.
    const qint64 num = i * fromRate;
    const qint64 j = num / toRate;
    const qint64 frac = num % toRate;
    const int a = in[j];
    const int b = j + 1 < n ? in[j + 1] : a;
    o[i] = qint16(a + (b - a) * frac / toRate);
  }
  return out;
}

// The audio handed to the sound device: a queue the sink reads from the program thread.
// Real audio first, then the tail of silence; an empty queue reads as nothing, which lets
// the sink go idle until readyRead wakes it.
class DeviceAudioOutput::Stream final : public QIODevice {
 public:
  Stream() { open(QIODevice::ReadOnly); }
  // Drops what has not been read yet.
  void clear() {
    m_data.clear();
    m_pos = 0;
    m_silence = 0;
  }
  void push(const QByteArray& pcm, qint64 tailBytes) {
    if (m_pos > 0) {
      m_data.remove(0, m_pos);
      m_pos = 0;
    }
    m_data.append(pcm);
    m_silence = tailBytes;
    emit readyRead();
  }
  qint64 served() const { return m_served; }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return (m_data.size() - m_pos) + m_silence + QIODevice::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 max) override {
    qint64 n = std::min<qint64>(max, m_data.size() - m_pos);
    if (n > 0) {
      std::memcpy(data, m_data.constData() + m_pos, size_t(n));
      m_pos += n;
    } else {
      n = std::min<qint64>(max, m_silence) & ~qint64(1);
      if (n <= 0) return 0;
      std::memset(data, 0, size_t(n));
      m_silence -= n;
    }
    m_served += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray m_data;
  qsizetype m_pos = 0;
  qint64 m_silence = 0;
  qint64 m_served = 0;
};

DeviceAudioOutput::DeviceAudioOutput(TimerClock& clock) : m_clock(clock), m_stream(std::make_unique<Stream>()) {}

DeviceAudioOutput::~DeviceAudioOutput() { m_sink.reset(); }

bool DeviceAudioOutput::openSink() {
  if (m_sink && !m_sink->stopped()) return true;
  if (m_sink) {
    // The sound server went away and came back: the same sink connects again.
    m_stream->clear();
    return m_sink->start(m_stream.get());
  }
  const sound::Api* api = sound::Load().value();
  if (!api || !api->hasOutput()) {
    m_silent = std::make_unique<SilentAudioOutput>(m_clock);
    return false;
  }
  m_sink.reset(api->openOutput(kPreferredRate, kDeviceBufferMs));
  if (!m_sink) return false;
  m_deviceRate = m_sink->sampleRate();
  return m_sink->start(m_stream.get());
}

qint64 DeviceAudioOutput::deviceBytesPlayed() const {
  if (!m_sink || m_deviceRate <= 0) return 0;
  return (m_sink->processedUSecs() * m_deviceRate / 1000000) * 2;
}

bool DeviceAudioOutput::play(const QByteArray& pcm, int sampleRate) {
  stop();
  if (m_silent) return m_silent->play(pcm, sampleRate);
  if (sampleRate <= 0) return false;
  if (!openSink()) return m_silent ? m_silent->play(pcm, sampleRate) : false;
  m_inputRate = sampleRate;
  m_stream->clear();
  m_startByte = m_stream->served();
  const QByteArray converted = resamplePcm16(pcm, sampleRate, m_deviceRate);
  m_lengthMs = (qint64(converted.size()) / 2) * 1000 / m_deviceRate;
  m_startedAtMs = m_clock.nowMs();
  m_stoppedAtMs = -1;
  m_started = true;
  m_stream->push(converted, qint64(m_deviceRate) * 2 * kTailMs / 1000);
  return true;
}

void DeviceAudioOutput::append(const QByteArray& pcm) {
  if (m_silent) return m_silent->append(pcm);
  if (!m_started) return;
  const QByteArray converted = resamplePcm16(pcm, m_inputRate, m_deviceRate);
  // Had the audio run dry meanwhile, the server plays the new audio after the silence it
  // was given: the buffer's start moves on by the silence that was played.
  const qint64 expectedEnd = m_startByte + (m_lengthMs * m_deviceRate / 1000) * 2;
  if (m_stream->served() > expectedEnd) m_startByte += m_stream->served() - expectedEnd;
  m_lengthMs += (qint64(converted.size()) / 2) * 1000 / m_deviceRate;
  m_stream->push(converted, qint64(m_deviceRate) * 2 * kTailMs / 1000);
}

void DeviceAudioOutput::stop() {
  if (m_silent) return m_silent->stop();
  if (!m_started) return;
  m_lengthMs = std::min(m_lengthMs, playedMs());
  m_started = false;
  // What the server already holds plays out (at most the device buffer); the silence
  // pushes it through so that it never precedes the next buffer.
  m_stream->clear();
  if (m_sink) m_stream->push({}, qint64(m_deviceRate) * 2 * kTailMs / 1000);
}

qint64 DeviceAudioOutput::playedMs() const {
  if (m_silent) return m_silent->playedMs();
  if (!m_started) return m_lengthMs;
  const qint64 byClock = m_clock.nowMs() - m_startedAtMs;
  if (!m_sink || m_sink->stopped() || byClock > m_lengthMs + kStallMs)
    return std::clamp<qint64>(byClock, 0, m_lengthMs);
  const qint64 played = (deviceBytesPlayed() - m_startByte) / 2 * 1000 / m_deviceRate;
  return std::clamp<qint64>(played, 0, m_lengthMs);
}

bool DeviceAudioOutput::isPlaying() const {
  if (m_silent) return m_silent->isPlaying();
  return m_started && playedMs() < m_lengthMs;
}

std::unique_ptr<AudioOutput> createAudioOutput(TimerClock& clock, AudioChoice choice) {
  if (choice == AudioChoice::Auto) return std::make_unique<DeviceAudioOutput>(clock);
  return std::make_unique<SilentAudioOutput>(clock);
}

bool soundOutputExists() {
  const sound::Api* api = sound::Load().value();
  return api && api->hasOutput();
}

}  // namespace agent
