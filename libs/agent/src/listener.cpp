#include "listener.h"

#include "agent/result.h"
#include "sound_backend.h"

#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace agent {

namespace {
constexpr int kFrameSamples = SpeechRecognizer::kSampleRate / 50;  // 20 ms
constexpr double kFloorRms = 60;                                   // quieter than this is silence on any microphone
}  // namespace

Listener::Listener(QObject* parent) : QObject(parent) {}

Listener::~Listener() { closeMicrophone(); }

bool Listener::begin(const std::vector<Command>& commands, QString* reason) {
  auto fail = [&](const QString& why) {
    if (reason) *reason = why;
    return false;
  };
  if (!m_recognizer.ready()) return fail(m_recognizer.error());
  if (!m_recognizer.setCommands(commands)) return fail(m_recognizer.error());
  m_partial.clear();
  m_samples = 0;
  m_noise = 0;
  m_loudRun = 0;
  m_quietRun = 0;
  m_speech = false;
  m_recognizer.begin();
  m_listening = true;
  return true;
}

bool Listener::startMicrophone(const std::vector<Command>& commands, QString* reason) {
  if (m_listening) return true;
  const Result<const sound::Api*> loaded = sound::Load();
  if (!loaded) {
    if (reason) *reason = loaded.error();
    return false;
  }
  const sound::Api* api = loaded.value();
  std::unique_ptr<sound::Source> source(api->openInput(SpeechRecognizer::kSampleRate, reason));
  if (!source) return false;
  if (!begin(commands, reason)) return false;
  m_source = std::move(source);
  m_input = m_source->start();
  if (!m_input) {
    m_listening = false;
    m_recognizer.end();
    closeMicrophone();
    if (reason) *reason = QStringLiteral("the microphone could not be opened");
    return false;
  }
  connect(m_input, &QIODevice::readyRead, this, &Listener::readMicrophone);
  return true;
}

bool Listener::startFed(const std::vector<Command>& commands, QString* reason) {
  if (m_listening) cancel();
  return begin(commands, reason);
}

void Listener::readMicrophone() {
  if (m_input) feed(m_input->readAll());
}

void Listener::feed(const QByteArray& pcm) {
  if (!m_listening || pcm.isEmpty()) return;
  m_partial.append(pcm);
  const qsizetype frameBytes = kFrameSamples * 2;
  qsizetype used = 0;
  const int endFrames = std::max(1, m_limits.endSilenceMs / 20);
  const int speechFrames = std::max(1, m_limits.minSpeechMs / 20);
  const qint64 maxSamples = qint64(m_limits.maxMs) * SpeechRecognizer::kSampleRate / 1000;
  bool over = false;
  while (!over && m_partial.size() - used >= frameBytes) {
    const auto* s = reinterpret_cast<const qint16*>(m_partial.constData() + used);
    double energy = 0;
    for (int k = 0; k < kFrameSamples; ++k) energy += double(s[k]) * s[k];
    const double rms = std::sqrt(energy / kFrameSamples);
    // The background is the quietest frame heard; speech is clearly louder than that.
    m_noise = m_samples == 0 ? rms : std::min(m_noise, rms);
    const double threshold = std::max(kFloorRms, m_noise * 4);
    const bool loud = rms > threshold;
    m_samples += kFrameSamples;
    if (loud) {
      ++m_loudRun;
      m_quietRun = 0;
      if (m_loudRun >= speechFrames) m_speech = true;
    } else {
      m_loudRun = 0;
      if (m_speech) ++m_quietRun;
    }
    used += frameBytes;
    over = (m_speech && m_quietRun >= endFrames) || m_samples >= maxSamples;
  }
  m_recognizer.feed(m_partial.left(used));
  m_partial.remove(0, used);
  if (over) finish();
}

void Listener::finish() {
  if (!m_listening) return;
  m_listening = false;
  closeMicrophone();
  const QString words = m_recognizer.end();
  const QString command = m_speech ? m_recognizer.commandFor(words) : QString();
  emit finished(command, words);
}

void Listener::cancel() {
  if (!m_listening) return;
  m_listening = false;
  closeMicrophone();
  m_recognizer.end();
}

void Listener::closeMicrophone() {
  if (m_input) disconnect(m_input, nullptr, this, nullptr);
  m_input = nullptr;
  if (m_source) {
    m_source.reset();
  }
}

}  // namespace agent
