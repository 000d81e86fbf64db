#include "agent/AudioOutput.h"

#include "agent/Clock.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cstring>

namespace agent {

AudioOutput::~AudioOutput() = default;

namespace {
qint64 lengthMs(const QByteArray& pcm, int rate) { return rate > 0 ? (qint64(pcm.size()) / 2) * 1000 / rate : 0; }
}  // namespace

SilentAudioOutput::SilentAudioOutput(Clock& clock) : m_clock(clock) {}

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

// The audio handed to the sound device: a buffer that can grow while it is being read.
class DeviceAudioOutput::Stream final : public QIODevice {
 public:
  explicit Stream(const QByteArray& pcm) : m_data(pcm) { open(QIODevice::ReadOnly); }
  void append(const QByteArray& more) {
    m_data.append(more);
    emit readyRead();
  }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return m_data.size() - m_pos + QIODevice::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 max) override {
    const qint64 n = std::min<qint64>(max, m_data.size() - m_pos);
    if (n <= 0) return 0;
    std::memcpy(data, m_data.constData() + m_pos, size_t(n));
    m_pos += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray m_data;
  qint64 m_pos = 0;
};

DeviceAudioOutput::DeviceAudioOutput() = default;

DeviceAudioOutput::~DeviceAudioOutput() {
  if (m_sink) m_sink->stop();
}

bool DeviceAudioOutput::play(const QByteArray& pcm, int sampleRate) {
  // A fresh sink for every buffer: Qt 6.4's PulseAudio sink, stopped and restarted a few
  // times, stops taking data; a new one also follows a change of the default device.
  if (m_sink) {
    m_sink->disconnect(this);
    m_sink->stop();
    m_sink.reset();
  }
  m_stream.reset();
  m_finished = true;
  QAudioFormat format;
  format.setSampleRate(sampleRate);
  format.setChannelCount(1);
  format.setSampleFormat(QAudioFormat::Int16);
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (sampleRate <= 0 || device.isNull() || !device.isFormatSupported(format)) return false;
  m_sink = std::make_unique<QAudioSink>(device, format);
  m_rate = sampleRate;
  connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
    if (state == QAudio::IdleState || state == QAudio::StoppedState) m_finished = true;
  });
  m_stream = std::make_unique<Stream>(pcm);
  m_bytes = pcm.size();
  m_finished = false;
  m_sink->start(m_stream.get());
  if (m_sink->error() != QAudio::NoError) {
    m_finished = true;
    return false;
  }
  return true;
}

void DeviceAudioOutput::append(const QByteArray& pcm) {
  if (!m_stream || !m_sink) return;
  m_bytes += pcm.size();
  m_stream->append(pcm);
  // A sink that ran dry has gone idle; wake it for the new audio.
  if (m_finished && m_sink->state() == QAudio::IdleState) {
    m_finished = false;
    m_sink->resume();
  }
}

void DeviceAudioOutput::stop() {
  if (m_sink) m_sink->stop();
  m_finished = true;
}

qint64 DeviceAudioOutput::playedMs() const {
  if (!m_sink) return 0;
  const qint64 length = m_rate > 0 ? (m_bytes / 2) * 1000 / m_rate : 0;
  if (m_finished) return length;
  return std::min(m_sink->processedUSecs() / 1000, length);
}

bool DeviceAudioOutput::isPlaying() const { return m_sink && !m_finished; }

std::unique_ptr<AudioOutput> createAudioOutput(Clock& clock, AudioChoice choice) {
  if (choice == AudioChoice::Auto && !QMediaDevices::audioOutputs().isEmpty())
    return std::make_unique<DeviceAudioOutput>();
  return std::make_unique<SilentAudioOutput>(clock);
}

}  // namespace agent
