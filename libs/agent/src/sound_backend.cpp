// The sound module: the sound device and the microphone through Qt Multimedia.

#include "sound_backend.h"

#include <modules/module.h>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QMediaDevices>

#include <memory>

namespace agent::sound {

namespace {

QAudioFormat MonoFormat(int rate) {
  QAudioFormat format;
  format.setChannelCount(1);
  format.setSampleFormat(QAudioFormat::Int16);
  format.setSampleRate(rate);
  return format;
}

class QtSink final : public Sink {
 public:
  QtSink(const QAudioDevice& device, const QAudioFormat& format, int bufferMs)
      : m_sink(std::make_unique<QAudioSink>(device, format)), m_rate(format.sampleRate()) {
    m_sink->setBufferSize(qsizetype(m_rate) * 2 * bufferMs / 1000);
  }
  ~QtSink() override {
    m_sink->disconnect();
    m_sink->stop();
  }
  bool start(QIODevice* source) override {
    m_sink->start(source);
    return m_sink->error() == QAudio::NoError && m_sink->state() != QAudio::StoppedState;
  }
  bool stopped() const override { return m_sink->state() == QAudio::StoppedState; }
  qint64 processedUSecs() const override { return m_sink->processedUSecs(); }
  int sampleRate() const override { return m_rate; }

 private:
  std::unique_ptr<QAudioSink> m_sink;
  int m_rate;
};

class QtSource final : public Source {
 public:
  QtSource(const QAudioDevice& device, const QAudioFormat& format)
      : m_source(std::make_unique<QAudioSource>(device, format)) {}
  ~QtSource() override { m_source->stop(); }
  QIODevice* start() override {
    QIODevice* input = m_source->start();
    return input && m_source->error() == QAudio::NoError ? input : nullptr;
  }

 private:
  std::unique_ptr<QAudioSource> m_source;
};

bool HasOutput() { return !QMediaDevices::audioOutputs().isEmpty(); }

Sink* OpenOutput(int preferredRate, int bufferMs) {
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return nullptr;
  QAudioFormat format = MonoFormat(preferredRate);
  if (!device.isFormatSupported(format)) {
    format.setSampleRate(device.preferredFormat().sampleRate());
    if (!device.isFormatSupported(format)) return nullptr;
  }
  return new QtSink(device, format, bufferMs);
}

bool HasInput() { return !QMediaDevices::defaultAudioInput().isNull(); }

Source* OpenInput(int sampleRate, QString* reason) {
  const QAudioDevice device = QMediaDevices::defaultAudioInput();
  if (device.isNull()) {
    if (reason) *reason = QStringLiteral("no microphone was found");
    return nullptr;
  }
  const QAudioFormat format = MonoFormat(sampleRate);
  if (!device.isFormatSupported(format)) {
    if (reason) *reason = QStringLiteral("the microphone cannot record %1 kHz mono sound").arg(sampleRate / 1000);
    return nullptr;
  }
  return new QtSource(device, format);
}

}  // namespace

}  // namespace agent::sound

MODULES_ENTRY_POINT const agent::sound::Api* agent_sound_api() {
  using namespace agent::sound;
  static const Api api{kVersion, &HasOutput, &OpenOutput, &HasInput, &OpenInput};
  return &api;
}
