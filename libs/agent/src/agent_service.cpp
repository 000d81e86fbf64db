#include "agent/agent_service.h"

#include "agent/audio_output.h"
#include "agent/timer_clock.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

namespace agent {

BalloonPlace defaultBalloonPlace(const QString& qtPlatformName) {
  return qtPlatformName.startsWith(QLatin1String("wayland")) ? BalloonPlace::InsideCharacter : BalloonPlace::OwnWindow;
}

AgentService::AgentService(AgentOptions options, QObject* parent)
    : QObject(parent), m_options(options), m_speech(std::make_unique<SpeechEngine>()) {
  if (options.clock) {
    m_clock = options.clock;
  } else {
    m_ownClock = std::make_unique<SystemTimerClock>();
    m_clock = m_ownClock.get();
  }
  if (QCoreApplication::instance())
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &AgentService::close);
}

AgentService::~AgentService() {
  // Characters go before the clock whose timers they hold, the engine whose jobs they cancel
  // and the outputs they play on. Deleting one directly also drops its pending deferred delete.
  m_characters.clear();
  for (const QPointer<Character>& c : m_unloaded) delete c.data();
  m_unloaded.clear();
  m_speech.reset();
  for (auto& out : m_outputs) out->stop();
  m_freeOutputs.clear();
  m_outputs.clear();
}

AudioOutput* AgentService::takeOutput() {
  if (!m_freeOutputs.empty()) {
    AudioOutput* out = m_freeOutputs.back();
    m_freeOutputs.pop_back();
    return out;
  }
  m_outputs.push_back(createAudioOutput(*m_clock, m_options.audio));
  return m_outputs.back().get();
}

Result<Character*> AgentService::load(const QString& id, const QString& path) {
  if (m_characters.count(id))
    return Failure{FailureKind::IdTaken, QStringLiteral("a character is already loaded under the ID \"%1\"").arg(id)};
  LoadResult loaded = loadCharacterFile(path);
  if (!loaded) return loaded.failure();
  CharacterOptions o;
  o.clock = m_clock;
  o.speech = m_speech.get();
  o.speechOutput = takeOutput();
  o.effectsOutput = takeOutput();
  o.synthesizeOnCallerThread = m_options.synthesizeOnCallerThread;
  o.voiceName = m_options.voiceName;
  o.balloon = m_options.balloon.value_or(defaultBalloonPlace(QGuiApplication::platformName()));
  auto character = std::make_unique<Character>(id, loaded.value(), o);
  Character* raw = character.get();
  connect(raw, &QObject::destroyed, this, [this, lent = std::vector<AudioOutput*>{o.speechOutput, o.effectsOutput}] {
    m_freeOutputs.insert(m_freeOutputs.end(), lent.begin(), lent.end());
  });
  m_characters[id] = std::move(character);
  m_closed = false;
  return raw;
}

void AgentService::unload(const QString& id) {
  const auto it = m_characters.find(id);
  if (it == m_characters.end()) return;
  // Handlers may still be running inside this character's signal; delete it later.
  std::unique_ptr<Character> c = std::move(it->second);
  m_characters.erase(it);
  c->stopAll();
  if (c->window()) c->window()->hide();
  m_unloaded.removeAll(nullptr);
  m_unloaded.push_back(c.get());
  c.release()->deleteLater();
}

Character* AgentService::character(const QString& id) const {
  const auto it = m_characters.find(id);
  return it == m_characters.end() ? nullptr : it->second.get();
}

QStringList AgentService::ids() const {
  QStringList out;
  for (const auto& [id, c] : m_characters) out << id;
  return out;
}

void AgentService::close() {
  if (m_closed) return;
  m_closed = true;
  for (const QString& id : ids()) unload(id);
  emit shutdown();
}

}  // namespace agent
