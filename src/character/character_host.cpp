#include "character/character_host.h"

#include "character/character_choice.h"
#include "character/character_tables.h"
#include "character/gesture_tags.h"
#include "character/keep_clear.h"
#include "character/wave_file.h"
#include "core/app_paths.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/value_reading.h"

#include <agent/agent_service.h>
#include <agent/audio_output.h>
#include <agent/character.h>
#include <agent/timer_clock.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTime>
#include <algorithm>
#include <cmath>

namespace chimewise {

namespace {

QSize screenSize() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().size() : QSize(1280, 800);
}

int roundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

// The slack a goodbye gets beyond its own length before the character is released anyway.
constexpr qint64 kGoodbyeSlackMs = 1000;

// How long the character takes to say `text` at `wordsPerMinute`: espeak-ng speaks at that rate.
qint64 SpokenLengthMs(const QString& text, int wordsPerMinute) {
  const qsizetype words = text.split(u' ', Qt::SkipEmptyParts).size();
  return wordsPerMinute > 0 ? words * 60000 / wordsPerMinute : 0;
}

}  // namespace

Problem CharacterLoadProblem(const agent::Failure& failure) {
  return {ProblemKind::CharacterNotLoaded, {}, failure.message};
}

CharacterHost::CharacterHost(SharedState& state, SettingsStore& settings, Prompter& prompter,
                             CharacterHostOptions options, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_prompter(prompter), m_options(std::move(options)) {
  agent::TimerClock* clock = m_options.clock;
  if (!clock) {
    m_ownClock = std::make_unique<agent::SystemTimerClock>();
    clock = m_ownClock.get();
  }
  m_clock = clock;
  agent::AgentOptions ao;
  ao.clock = clock;
  ao.audio = m_options.silentAudio ? agent::AgentOptions::Audio::Silent : agent::AgentOptions::Audio::Auto;
  ao.voiceName = m_options.voiceName;
  m_service = std::make_unique<agent::AgentService>(ao);
  m_sounds = agent::createAudioOutput(*clock, ao.audio);
  m_releaseTimer = clock->createTimer();
  connect(m_releaseTimer.get(), &agent::Timer::timeout, this, &CharacterHost::lookAtGoodbye);
  // The service shutting down ends any wait for its speech.
  connect(m_service.get(), &agent::AgentService::shutdown, this, [this] { m_state.events->EndSpeechWaits(); });
  m_keepClear = std::make_unique<KeepClear>([this] { return m_character.data(); });
}

CharacterHost::~CharacterHost() {
  // The sound outputs' own teardown may turn the event loop: nothing is called back from it, and
  // what it delivers still finds this host whole.
  m_keepClear.reset();
  m_afterRelease = nullptr;
  m_releaseTimer->stop();
  for (const QMetaObject::Connection& c : m_releaseWatch) disconnect(c);
  QCoreApplication::removePostedEvents(this);
  m_sounds.reset();
  m_service.reset();
}

agent::Character* CharacterHost::character() const { return m_character.data(); }

bool CharacterHost::Listen() { return m_character && m_character->listen(true); }

QString CharacterHost::soundFolder() const { return m_state.AppFolder + QStringLiteral("/sound"); }

void CharacterHost::OfferChoices(const QStringList& labels) {
  m_choices = labels;
  if (m_character) m_character->setBalloonActions(labels);
}

void CharacterHost::SetKeepClearOfDialogs(bool on) { m_keepClear->setAllDialogs(on); }
bool CharacterHost::keepsClearOfDialogs() const { return m_keepClear->allDialogs(); }

void CharacterHost::connectEvents(agent::Character* c) {
  connect(c, &agent::Character::balloonActionChosen, this, [this](int index) {
    if (index >= 0 && index < m_choices.size()) emit choiceChosen(m_choices[index]);
  });
  c->setBalloonActions(m_choices);
  connect(c, &agent::Character::bookmark, this, &CharacterHost::onBookmark);
  connect(c, &agent::Character::hidden, this, [this] {
    // The hide ran in the character's queue: the pauses queued behind it are still to come.
    const QScopedValueRollback keep(m_keepPauses, true);
    m_state.events->EndSpeechWaits();
  });
  connect(c, &agent::Character::click, this,
          [this](Qt::MouseButton button, Qt::KeyboardModifiers, int, int) { emit clicked(button); });
  connect(c, &agent::Character::dragComplete, this,
          [this](Qt::MouseButton button, Qt::KeyboardModifiers, int, int) { emit dragCompleted(button); });
  connect(c, &agent::Character::command, this, &CharacterHost::commandChosen);
  connect(c, &agent::Character::listenUnavailable, this, [this](const QString& reason) {
    if (m_listenUnavailableTold) return;
    m_listenUnavailableTold = true;
    emit listenUnavailable(reason);
  });
  // A queued Show stops being "on its way" once it runs, fails or is dropped.
  connect(c, &agent::Character::requestStarted, this, [this](agent::RequestId id) {
    if (id == m_pendingShow) m_pendingShow = 0;
  });
  connect(c, &agent::Character::requestCompleted, this, [this](agent::RequestId id, agent::RequestStatus status) {
    if (id == m_pendingShow) m_pendingShow = 0;
    m_pauses.removeOne(id);
    m_unheard.remove(id);
    // A line the transcript has that did not end as spoken is marked there as cut short.
    if (const QString saying = m_saying.take(id); !saying.isNull() && status != agent::RequestStatus::Complete)
      record(kCutShort + saying);
    if (m_asking)
      m_endedAtOnce.append({id, static_cast<int>(status)});
    else
      lineEnded(id, static_cast<int>(status));
  });
  connect(c, &agent::Character::speechStarted, this, [this](agent::RequestId id) {
    if (const auto line = m_unheard.constFind(id); line != m_unheard.cend()) {
      record(*line);
      m_saying.insert(id, *line);
    } else if (m_asking) {
      record(*m_asking);  // heard at once, before speak() returned its id
      m_heardAtOnce = true;
    }
    m_unheard.remove(id);
  });
  c->setQueueFirst(m_firstInLine);
}

void CharacterHost::requestShow() {
  if (!m_character) return;
  const agent::RequestId id = m_character->show();
  if (!m_character->isVisible()) m_pendingShow = id;
}

void CharacterHost::onBookmark(int id) {
  if (id == 100) {
    m_state.events->EndSpeechWaits();
  } else if (id == 200) {
    // The speech waits end once the box is closed.
    QPointer<CharacterHost> self(this);
    m_prompter.notice(QStringLiteral("Please Press OK to Continue"), QStringLiteral("Click to Continue"),
                      PromptIcon::None, [self] {
                        if (self) self->m_state.events->EndSpeechWaits();
                      });
  }
}

void CharacterHost::LoadCharacter(const QString& fileName, bool atStartUp) {
  const QString w = m_options.windowsFolder;
  const auto info = [this](const QString& text, const QString& title) {
    m_prompter.notice(text, title, PromptIcon::Information);
  };
  if (w.isEmpty() || !QFileInfo(w).isDir()) {
    info(QStringLiteral("Could not find Data Directory ") + w, QStringLiteral("Missing Data Directory"));
    return;
  }
  if (!QFileInfo(w + QStringLiteral("msagent")).isDir()) {
    info(QStringLiteral("Could not find Character Directory ") + w + QStringLiteral("msagent"),
         QStringLiteral("Missing Character Directory"));
    return;
  }
  const QString c = w + QStringLiteral("msagent/chars");
  if (!QFileInfo(c).isDir()) {
    info(QStringLiteral("Could not find Character Directory ") + c, QStringLiteral("Missing Character Directory"));
    return;
  }

  m_service->unload(kCharacterId);
  m_character = nullptr;
  m_pauses.clear();
  m_unheard.clear();
  cutShort();
  dropTellings();

  QString path;
  for (const QString& folder : m_options.characterFolders)
    if (auto p = FindPathNoCase(folder, fileName)) {
      path = *p;
      break;
    }
  if (path.isEmpty() || fileName.contains(u'/')) {
    info(QStringLiteral("Could not find Character ") + fileName + QStringLiteral(" in ") + c,
         QStringLiteral("Missing Character"));
    return;
  }
  const agent::Result<agent::Character*> first = m_service->load(kCharacterId, path);
  agent::Character* loaded = first.value();
  const Wording damaged = Describe(CharacterLoadProblem(first.failure()));
  if (!loaded && atStartUp) {
    // A damaged file: the program starts with another installed character (the preferred one
    // first) rather than with none, and says why; the stored choice stays for the user to mend.
    for (const QString& other : CharacterFiles(m_options.characterFolders)) {
      if (QFileInfo(other).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) continue;
      if ((loaded = m_service->load(kCharacterId, other).value())) {
        m_prompter.notice(damaged.text + QStringLiteral("\n\nOlm Chimewise uses %1 for now.").arg(loaded->name()),
                          damaged.title, damaged.icon);
        break;
      }
    }
  }
  if (!loaded) {
    // A damaged file: say what is wrong with it rather than go on without a word.
    m_prompter.notice(damaged.text, damaged.title, damaged.icon);
    return;
  }
  m_character = loaded;
  connectEvents(loaded);
  loaded->setLanguageId(1033);
  // A pause made while no character was there holds this one's first words back for the rest.
  if (const qint64 left = m_pauseEndMs - m_clock->nowMs(); m_pauseEndMs >= 0 && left > 0)
    m_pauses << loaded->wait(left);
  m_pauseEndMs = -1;

  SetCharacterSize(NumericReading(m_settings.read(settings::CharacterSize)));
  const QSize screen = screenSize();
  if (atStartUp)
    loaded->moveTo(roundHalfEven(screen.width() / 2.0 - loaded->width() / 2.0),
                   roundHalfEven(screen.height() / 2.0 - loaded->height() / 2.0));

  loaded->commands().removeAll();
  for (const CharacterCommand& cmd : CharacterCommands()) {
    const QString name = QString::fromUtf8(cmd.name);
    const bool enabled = cmd.enabled && (!m_commands || m_commands->CommandAvailable(name));
    loaded->commands().add(name, QString::fromUtf8(cmd.caption), cmd.voice ? QString::fromUtf8(cmd.voice) : QString(),
                           enabled, cmd.visible);
  }
  // "Turn Snoring On/Off" shows whether the snoring (the character's sound effects) is on.
  loaded->commands().setChecked(QStringLiteral("NoSound"),
                                [c = QPointer<agent::Character>(loaded)] { return c && c->soundEffectsOn(); });

  // Before the introduction, which turns the sound effects on for itself and back as it found them.
  loaded->setSoundEffectsOn(NumericReading(m_settings.read(settings::NoSoundEffects)) == 0);
  if (atStartUp) {
    if (auto marker = FindPathNoCase(m_state.AppFolder, QStringLiteral("CHIMINST.DLL"))) {
      requestShow();
      emit introductionDue();
      QFile::remove(*marker);
    } else if (NumericReading(m_settings.read(settings::ShowOnStart)) == 1) {
      loaded->moveTo(screen.width() - loaded->width(), screen.height() - loaded->height());
      requestShow();
      loaded->play(QStringLiteral("Announce"));
      loaded->speak(kReadyGreeting);
    }
  }
}

void CharacterHost::SetCharacterSize(int index) {
  if (!m_character) return;
  const QSize s = ScaledCharacterSize(index, m_character->originalWidth(), m_character->originalHeight());
  m_character->setHeight(s.height());
  m_character->setWidth(s.width());
}

void CharacterHost::record(const QString& text) const {
  if (m_options.transcriptPath.isEmpty()) return;
  QFile f(m_options.transcriptPath);
  if (!f.open(QIODevice::Append | QIODevice::Text)) return;
  QString line = text;
  line.replace(u'\n', u' ');
  f.write((QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + u'\t' + line + u'\n').toUtf8());
}

void CharacterHost::queueSpeech(agent::Character* c, const QString& text) {
  agent::RequestId id = 0;
  {
    const QScopedValueRollback asking(m_asking, std::optional<QString>(text));
    id = c->speak(text);
  }
  const QList<QPair<qint64, int>> ended = std::exchange(m_endedAtOnce, {});
  const auto endedNow = std::find_if(ended.begin(), ended.end(), [id](const auto& e) { return e.first == id; });
  if (m_telling) {
    m_telling->anyLine = true;
    if (endedNow == ended.end()) m_telling->open.append(id);
  }
  for (const auto& [other, status] : ended)
    if (other != id) lineEnded(other, status);
  if (m_heardAtOnce && endedNow == ended.end()) m_saying.insert(id, text);
  if (endedNow != ended.end()) {
    if (m_telling && endedNow->second != static_cast<int>(agent::RequestStatus::Complete))
      m_telling->outcome = Hearing::Failed;
    m_heardAtOnce = false;
    return;
  }
  // Not yet heard: written down when it is.
  if (!m_options.transcriptPath.isEmpty() && c->queuedRequests() > 0 && !m_heardAtOnce) m_unheard.insert(id, text);
  m_heardAtOnce = false;
}

void CharacterHost::BeginTelling() { m_telling.emplace(); }

bool CharacterHost::EndTelling(std::function<void(Hearing)> done) {
  if (!m_telling) return false;
  Telling t = std::move(*m_telling);
  m_telling.reset();
  if (!t.anyLine) return false;
  t.done = std::move(done);
  const qint64 key = m_nextTelling++;
  for (const qint64 id : t.open) m_tellingOf.insert(id, key);
  const bool over = t.open.isEmpty();
  m_tellings.insert(key, std::move(t));
  if (over) endTelling(key);
  return true;
}

void CharacterHost::lineEnded(qint64 id, int status) {
  const auto of = m_tellingOf.find(id);
  if (of == m_tellingOf.end()) return;
  const qint64 key = *of;
  m_tellingOf.erase(of);
  const auto t = m_tellings.find(key);
  if (t == m_tellings.end()) return;
  t->open.removeOne(id);
  // A line cut short by the user's Stop Talking was dealt with; one dropped otherwise, or one the
  // voice failed to say, was not heard.
  if (status != static_cast<int>(agent::RequestStatus::Complete)) {
    const Hearing h = status == static_cast<int>(agent::RequestStatus::Failed) ? Hearing::Failed
                      : m_userStops                                            ? Hearing::Silenced
                                                                               : Hearing::Unheard;
    if (t->outcome == Hearing::Heard || t->outcome == Hearing::Silenced) t->outcome = h;
  }
  if (t->open.isEmpty()) endTelling(key);
}

void CharacterHost::endTelling(qint64 key) {
  Telling t = m_tellings.take(key);
  for (const qint64 id : t.open) m_tellingOf.remove(id);
  if (!t.done) return;
  // From the event loop: the one told is not called back in the middle of what stopped the lines.
  QTimer::singleShot(0, this, [done = std::move(t.done), outcome = t.outcome] { done(outcome); });
}

void CharacterHost::cutShort() {
  for (const QString& line : std::exchange(m_saying, {})) record(kCutShort + line);
}

void CharacterHost::dropTellings() {
  for (auto it = m_tellings.begin(); it != m_tellings.end(); ++it) it->outcome = Hearing::Unheard;
  for (const qint64 key : m_tellings.keys()) endTelling(key);
}

void CharacterHost::SetFirstInLine(bool on) {
  m_firstInLine = on;
  if (m_character) m_character->setQueueFirst(on);
}

void CharacterHost::SayText(const QString& text) {
  agent::Character* c = m_character;
  if (!c) return;
  const auto steps = SplitGestureTags(text);
  if (steps.empty()) return;
  const bool effectsWereOn = c->soundEffectsOn();
  if (!effectsWereOn) SetSoundEffects(true);
  if (!visible()) requestShow();
  for (const SpeechStep& s : steps) {
    if (s.kind == SpeechStep::Play)
      c->play(s.text);
    else
      queueSpeech(c, s.text);
  }
  if (!effectsWereOn) SetSoundEffects(false);
}

void CharacterHost::SetSoundEffects(bool on) {
  if (m_character) m_character->setSoundEffectsOn(on);
}

void CharacterHost::QuietCharacter(bool usersStop) {
  m_state.events->EndSpeechWaits();
  m_pauseEndMs = -1;
  const QScopedValueRollback userStops(m_userStops, usersStop);
  // A reminder or the time told first in line is dropped by the user's stop alone: another feature
  // starting goes after it.
  if (m_character) usersStop ? m_character->stopAll() : m_character->stopAllButFirst();
  m_pendingShow = 0;
}

void CharacterHost::StopAll() {
  m_pauseEndMs = -1;
  // A reminder or the time told first in line is not another feature's to drop: it stays.
  if (m_character) m_character->stopAllButFirst();
  m_pendingShow = 0;
}

void CharacterHost::PlaySoundEffect(int index) {
  const auto sound = ReminderSoundAt(index);
  if (!sound) return;
  if (auto file = FindPathNoCase(soundFolder(), QString::fromUtf8(sound->fileName))) PlayWaveFile(*file);
  PauseSeconds(sound->pauseSeconds);  // the pause is made even when the file is missing
}

void CharacterHost::PlayWaveFile(const QString& path) {
  // A sound that cannot be played is left out; the pause after it is made all the same.
  if (WaveClip clip; ReadWaveFile(path, &clip).ok()) m_sounds->play(clip.pcm, clip.sampleRate);
}

void CharacterHost::PauseSeconds(double seconds) {
  // Shutdown ends pauses: what one holds back (the next words) is not wanted any more.
  if (!(seconds > 0) || m_state.events->closing() || QCoreApplication::closingDown()) return;
  const auto ms = static_cast<qint64>(std::llround(seconds * 1000.0));
  watchPauses();
  if (m_character) {
    m_pauses << m_character->wait(ms);
    return;
  }
  // One pause after another, as they would run in the character's queue.
  m_pauseEndMs = std::max(m_pauseEndMs, m_clock->nowMs()) + ms;
}

void CharacterHost::watchPauses() {
  ProgramEvents* events = m_state.events.get();
  if (m_pauseWatch && m_pauseEvents == events) return;
  disconnect(m_pauseWatch);
  m_pauseEvents = events;
  m_pauseWatch = connect(events, &ProgramEvents::waitInterrupted, this, &CharacterHost::endPauses);
}

void CharacterHost::endPauses() {
  if (m_keepPauses) return;
  m_pauseEndMs = -1;
  // Stopping a pause lets what is queued behind it go on at once.
  const QList<qint64> pauses = std::exchange(m_pauses, {});
  if (m_character)
    for (const qint64 id : pauses) m_character->stop(id);
}

void CharacterHost::SayGoodbye() {
  if (!m_character) return;
  m_character->stopAll();
  m_pendingShow = 0;
  const bool wasVisible = m_character->isVisible();
  requestShow();
  m_character->play(QStringLiteral("Wave"));
  SayText(kGoodbye);
  // The goodbye's length: the appearance (when hidden), the wave and the words.
  qint64 lengthMs = SpokenLengthMs(kGoodbye, m_character->definition().voice.rate);
  const auto& definition = m_character->definition();
  if (const agent::Animation* show = definition.findAnimation(QStringLiteral("Show")); show && !wasVisible)
    lengthMs += show->durationMs();
  if (const agent::Animation* wave = definition.findAnimation(QStringLiteral("Wave"))) lengthMs += wave->durationMs();
  m_goodbyeEndMs = m_clock->nowMs() + lengthMs + kGoodbyeSlackMs;
}

void CharacterHost::ReleaseCharacter(std::function<void()> then) {
  if (m_afterRelease) {
    // A release is already on its way: this one ends with it.
    const std::function<void()> earlier = std::move(m_afterRelease);
    m_afterRelease = [earlier, then] {
      earlier();
      if (then) then();
    };
    return;
  }
  m_afterRelease = then ? std::move(then) : [] {};
  if (!m_character || m_goodbyeEndMs < 0) {
    finishRelease();
    return;
  }
  // Let the goodbye be heard: the release waits for the queue to empty (the character hidden or
  // gone ends it too), though never longer than the goodbye's own length and a second.
  const auto look = [this] { lookAtGoodbye(); };
  m_releaseWatch = {connect(m_character.data(), &agent::Character::requestCompleted, this, look, Qt::QueuedConnection),
                    connect(m_character.data(), &agent::Character::hidden, this, look, Qt::QueuedConnection),
                    connect(m_character.data(), &QObject::destroyed, this, look, Qt::QueuedConnection)};
  lookAtGoodbye();
}

void CharacterHost::lookAtGoodbye() {
  if (!m_afterRelease) return;
  const qint64 leftMs = m_goodbyeEndMs - m_clock->nowMs();
  const bool over = !m_character || m_character->queuedRequests() == 0 || !visible() || leftMs <= 0;
  if (over) {
    finishRelease();
    return;
  }
  // Changes that come without a signal are looked for twice a second.
  m_releaseTimer->start(std::min<qint64>(leftMs, 500));
}

void CharacterHost::finishRelease() {
  m_releaseTimer->stop();
  for (const QMetaObject::Connection& c : m_releaseWatch) disconnect(c);
  m_releaseWatch.clear();
  m_goodbyeEndMs = -1;
  m_pendingShow = 0;
  if (m_character) m_character->hide();
  m_character = nullptr;
  m_service->unload(kCharacterId);
  cutShort();
  dropTellings();
  const std::function<void()> then = std::exchange(m_afterRelease, nullptr);
  if (then) then();
}

void CharacterHost::speak(const QString& text) {
  if (!m_character) return;
  queueSpeech(m_character, text);
}
void CharacterHost::play(const QString& animation) {
  if (m_character) m_character->play(animation);
}
void CharacterHost::show() { requestShow(); }
void CharacterHost::hide() {
  m_pendingShow = 0;
  if (m_character) m_character->hide();
}
bool CharacterHost::visible() const { return m_character && (m_character->isVisible() || m_pendingShow != 0); }
QRect CharacterHost::screenGeometry() const { return m_character ? m_character->drawnGeometry() : QRect(); }
bool CharacterHost::audible() const { return !m_options.silentAudio && agent::soundOutputExists(); }
bool CharacterHost::soundEffectsOn() const { return m_character && m_character->soundEffectsOn(); }

}  // namespace chimewise
