#include "agent/AudioOutput.h"

#include "agent/Clock.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QElapsedTimer>
#include <QMediaDevices>

#include <algorithm>

namespace agent {

AudioOutput::~AudioOutput() = default;

namespace {
qint64 lengthMs(const QByteArray& pcm, int rate)
{
    return rate > 0 ? (qint64(pcm.size()) / 2) * 1000 / rate : 0;
}
}  // namespace

SilentAudioOutput::SilentAudioOutput(Clock& clock) : m_clock(clock) {}

bool SilentAudioOutput::play(const QByteArray& pcm, int sampleRate)
{
    if (sampleRate <= 0)
        return false;
    m_startMs = m_clock.nowMs();
    m_lengthMs = lengthMs(pcm, sampleRate);
    m_started = true;
    m_firstSampleUs = 0;
    return true;
}

void SilentAudioOutput::stop()
{
    if (m_started)
        m_lengthMs = std::min(m_lengthMs, m_clock.nowMs() - m_startMs);
    m_started = false;
}

qint64 SilentAudioOutput::playedMs() const
{
    if (!m_started)
        return m_lengthMs;
    return std::clamp<qint64>(m_clock.nowMs() - m_startMs, 0, m_lengthMs);
}

bool SilentAudioOutput::isPlaying() const { return m_started && playedMs() < m_lengthMs; }

DeviceAudioOutput::DeviceAudioOutput() = default;

DeviceAudioOutput::~DeviceAudioOutput()
{
    if (m_sink)
        m_sink->stop();
}

bool DeviceAudioOutput::play(const QByteArray& pcm, int sampleRate)
{
    QElapsedTimer sinceCall;
    sinceCall.start();
    if (m_sink)
        m_sink->stop();
    if (!m_sink || m_rate != sampleRate) {
        QAudioFormat format;
        format.setSampleRate(sampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !device.isFormatSupported(format))
            return false;
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_rate = sampleRate;
        connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::IdleState || state == QAudio::StoppedState)
                m_finished = true;
        });
    }
    m_buffer = std::make_unique<QBuffer>();
    m_pcm = pcm;
    m_buffer->setData(m_pcm);
    m_buffer->open(QIODevice::ReadOnly);
    m_lengthMs = lengthMs(pcm, sampleRate);
    m_finished = false;
    m_sink->start(m_buffer.get());
    if (m_sink->error() != QAudio::NoError) {
        m_finished = true;
        return false;
    }
    m_firstSampleUs = sinceCall.nsecsElapsed() / 1000;
    return true;
}

void DeviceAudioOutput::stop()
{
    if (m_sink)
        m_sink->stop();
    m_finished = true;
}

qint64 DeviceAudioOutput::playedMs() const
{
    if (!m_sink)
        return 0;
    if (m_finished)
        return m_lengthMs;
    return std::min(m_sink->processedUSecs() / 1000, m_lengthMs);
}

bool DeviceAudioOutput::isPlaying() const { return m_sink && !m_finished; }

std::unique_ptr<AudioOutput> createAudioOutput(Clock& clock)
{
    if (qEnvironmentVariable("CHIMEWISE_AUDIO") != QLatin1String("silent") &&
        !QMediaDevices::audioOutputs().isEmpty())
        return std::make_unique<DeviceAudioOutput>();
    return std::make_unique<SilentAudioOutput>(clock);
}

}  // namespace agent
