#include "agent/character.h"

#include "agent/audio_output.h"
#include "agent/renderer.h"
#include "agent/timer_clock.h"
#include "animation_player.h"
#include "balloon_window.h"
#include "character_window.h"
#include "listener.h"

#include <QGuiApplication>
#include <QMenu>
#include <QRandomGenerator>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace agent {

namespace {
constexpr int kBalloonLingerMs = 1500;
constexpr int kSpeechPollMs = 30;
constexpr int kGlideStepMs = 16;
const QString kListeningText = QStringLiteral("Listening...");
}  // namespace

Character::Character(const QString& id, std::shared_ptr<const CharacterDefinition> definition, CharacterOptions options)
    : m_id(id),
      m_def(std::move(definition)),
      m_clock(*options.clock),
      m_speech(*options.speech),
      m_speechOut(options.speechOutput),
      m_effectsOut(options.effectsOutput),
      m_syncSpeech(options.synthesizeOnCallerThread),
      m_balloonPlace(options.balloon),
      m_voice(m_def->voice),
      m_kickTimer(m_clock.createTimer()),
      m_speechTimer(m_clock.createTimer()),
      m_moveTimer(m_clock.createTimer()),
      m_waitTimer(m_clock.createTimer()),
      m_idleTimer(m_clock.createTimer()),
      m_balloonTimer(m_clock.createTimer()) {
  if (!options.voiceName.isEmpty()) m_voice.name = options.voiceName;
  m_size = QSize(m_def->width, m_def->height);
  m_player = std::make_unique<AnimationPlayer>(*m_def, m_clock);
  m_window = std::make_unique<CharacterWindow>(*m_def, [this] { return pose(); });
  m_balloon =
      std::make_unique<BalloonWindow>(m_balloonPlace == BalloonPlace::InsideCharacter ? m_window.get() : nullptr);
  applyGeometry();
  m_player->onFrame = [this] { frameChanged(); };
  m_player->onSound = [this](int sound) { playEffect(sound); };
  connect(m_window.get(), &CharacterWindow::clicked, this, &Character::onWindowClick);
  connect(m_window.get(), &CharacterWindow::dragged, this, &Character::onWindowDragged);
  connect(m_window.get(), &CharacterWindow::menuAsked, this, [this](QPoint g) { showPopupMenu(g.x(), g.y()); });
  connect(m_balloon.get(), &BalloonWindow::actionChosen, this, &Character::balloonActionChosen);

  connect(m_kickTimer.get(), &Timer::timeout, this, [this] { runNext(); });
  connect(m_speechTimer.get(), &Timer::timeout, this, [this] { pollSpeech(); });
  connect(m_moveTimer.get(), &Timer::timeout, this, [this] { glide(); });
  connect(m_waitTimer.get(), &Timer::timeout, this, [this] {
    if (m_current && m_current->kind == Request::Wait) finishCurrent(RequestStatus::Complete);
  });
  connect(m_idleTimer.get(), &Timer::timeout, this, [this] { idleTimeout(); });
  // A balloon with controls stays for them to be used.
  connect(m_balloonTimer.get(), &Timer::timeout, this, [this] {
    if (m_balloon->actions().isEmpty()) m_balloon->hide();
  });
  m_lastActivity = m_clock.nowMs();

  const QImage rest = renderCharacter(*m_def, m_def->rest, m_size);
  QRect opaque;
  for (int y = 0; y < rest.height(); ++y)
    for (int x = 0; x < rest.width(); ++x)
      if (qAlpha(rest.pixel(x, y)) > 0) opaque |= QRect(x, y, 1, 1);
  if (opaque.isEmpty()) opaque = rest.rect();
  m_drawn = QRectF(double(opaque.x()) / rest.width(), double(opaque.y()) / rest.height(),
                   double(opaque.width()) / rest.width(), double(opaque.height()) / rest.height());
}

Character::~Character() {
  if (m_job) m_speech.cancel(m_job);
  m_player->onFrame = nullptr;
  m_player->onSound = nullptr;
  m_speechOut->stop();
  m_effectsOut->stop();
  // The menu may be inside one of its own handlers (a command chosen from it still running):
  // it goes once that has returned.
  if (m_menu) {
    m_menu->close();
    m_menu->deleteLater();
  }
}

Pose Character::pose() const {
  Pose p = m_player->pose();
  if (m_speaking && m_def->mouthPart >= 0 && size_t(m_def->mouthPart) < p.size())
    p[size_t(m_def->mouthPart)].variant = m_def->mouthVariants[size_t(m_mouth)];
  return p;
}

QWidget* Character::window() const { return m_window.get(); }

QRect Character::balloonGeometry() const {
  if (!m_balloon->isVisible()) return {};
  return QRect(m_balloon->mapToGlobal(QPoint(0, 0)), m_balloon->size());
}

QRect Character::characterArea() const {
  if (m_balloonPlace == BalloonPlace::OwnWindow) return QRect(QPoint(0, 0), m_size);
  const QSize room = m_balloon->largestSize();
  return QRect(std::max(0, (room.width() - m_size.width()) / 2), room.height(), m_size.width(), m_size.height());
}

QRect Character::balloonTarget() const {
  if (m_balloonPlace == BalloonPlace::OwnWindow) return drawnGeometry();
  return drawnGeometry().translated(characterArea().topLeft() - m_pos);
}

QRect Character::balloonActionGeometry(int index) const {
  const QList<QRect> rects = m_balloon->actionRects();
  if (!m_balloon->isVisible() || index < 0 || index >= rects.size()) return {};
  return rects[index].translated(m_balloon->mapToGlobal(QPoint(0, 0)));
}

QString Character::balloonText() const { return m_balloon->shownText(); }

void Character::setBalloonActions(const QStringList& labels) {
  m_balloon->setActions(labels);
  // Withdrawn, they leave the balloon to go as it would have gone.
  if (labels.isEmpty() && m_balloon->isVisible() && !m_speaking && !m_balloonTimer->isActive()) m_balloon->hide();
}

QStringList Character::balloonActions() const { return m_balloon->actions(); }

QRect Character::drawnGeometry() const {
  return QRect(m_pos.x() + int(m_drawn.x() * m_size.width()), m_pos.y() + int(m_drawn.y() * m_size.height()),
               int(std::ceil(m_drawn.width() * m_size.width())), int(std::ceil(m_drawn.height() * m_size.height())));
}

bool Character::balloonVisible() const { return m_balloon->isVisible(); }

QString Character::currentAnimation() const {
  const Animation* a = m_player->animation();
  return a ? a->name : QString();
}

// ---- Requests -------------------------------------------------------------------------

RequestId Character::speak(const QString& text) { return enqueue({Request::Speak, 0, text, {}}); }

RequestId Character::play(const QString& animation) { return enqueue({Request::Play, 0, animation, {}}); }

RequestId Character::show() {
  // Whatever the character says once shown comes sooner with its voice ready.
  if (!m_syncSpeech && !isVisible()) m_speech.prepare(m_voice);
  return enqueue({Request::Show, 0, {}, {}});
}

RequestId Character::hide() { return enqueue({Request::Hide, 0, {}, {}}); }

RequestId Character::moveTo(int x, int y) { return enqueue({Request::Move, 0, {}, QPoint(x, y)}); }

RequestId Character::wait(qint64 ms) { return enqueue({Request::Wait, 0, {}, {}, std::max<qint64>(ms, 0)}); }

RequestId Character::enqueue(Request request) {
  request.id = m_nextId++;
  request.first = m_queueFirst;
  if (request.first)
    m_queue.insert(std::find_if(m_queue.begin(), m_queue.end(), [](const Request& r) { return !r.first; }), request);
  else
    m_queue.push_back(request);
  // An idle character starts at once, so its state answers for the request before the
  // caller looks again: after show() on an idle character, isVisible() is already true.
  if (!m_current && m_queue.size() == 1)
    runNext();
  else
    kick();
  return request.id;
}

void Character::kick() {
  if (!m_current && !m_queue.empty() && !m_kickTimer->isActive()) m_kickTimer->start(0);
}

void Character::runNext() {
  if (m_current || m_queue.empty()) return;
  interruptIdle();
  m_idleTimer->stop();
  m_current = std::make_unique<Request>(m_queue.front());
  m_queue.pop_front();
  const Request r = *m_current;
  emit requestStarted(r.id);
  if (!m_current || m_current->id != r.id) return;  // stopped from a slot
  switch (r.kind) {
    case Request::Speak: startSpeak(r); break;
    case Request::Play: {
      const Animation* a = m_def->findAnimation(r.text);
      if (!a) {
        finishCurrent(RequestStatus::Failed,
                      QStringLiteral("%1 has no animation named \"%2\"").arg(m_def->name, r.text.trimmed()));
        return;
      }
      if (!m_visible) {
        finishCurrent(RequestStatus::Complete);
        return;
      }
      playThenFinish(*a, r.id, false);
      break;
    }
    case Request::Show: {
      if (m_visible) {
        finishCurrent(RequestStatus::Complete);
        return;
      }
      m_visible = true;
      applyGeometry();
      m_player->setPose(m_def->rest);
      m_window->show();
      m_window->raise();
      const Animation* a = m_def->findAnimation(QStringLiteral("Show"));
      if (!a) {
        finishCurrent(RequestStatus::Complete);
        return;
      }
      playThenFinish(*a, r.id, true);
      break;
    }
    case Request::Hide: {
      if (!m_visible) {
        finishCurrent(RequestStatus::Complete);
        return;
      }
      const RequestId id = r.id;
      auto done = [this, id] {
        if (!m_current || m_current->id != id) return;
        m_player->stop();
        m_window->hide();
        m_balloon->hide();
        m_balloonTimer->stop();
        m_visible = false;
        m_player->setPose(m_def->rest);
        finishCurrent(RequestStatus::Complete);
        emit hidden(HideCause::Program);
      };
      m_balloon->hide();
      if (const Animation* a = m_def->findAnimation(QStringLiteral("Hide")))
        m_player->play(*a, done, false, 1);
      else
        done();
      break;
    }
    case Request::Move: startMove(r); break;
    case Request::Wait:
      if (r.ms == 0) {
        finishCurrent(RequestStatus::Complete);
        return;
      }
      m_waitTimer->start(r.ms);
      break;
  }
}

// Plays an animation for the running request, which completes when the animation ends (unless
// the request was stopped meanwhile).
void Character::playThenFinish(const Animation& animation, RequestId id, bool snapToStart) {
  m_player->play(
      animation,
      [this, id] {
        if (m_current && m_current->id == id) finishCurrent(RequestStatus::Complete);
      },
      snapToStart, 1);
}

void Character::finishCurrent(RequestStatus status, const QString& message) {
  if (!m_current) return;
  const RequestId id = m_current->id;
  m_current.reset();
  m_lastActivity = m_clock.nowMs();
  kick();
  armIdle();
  emit requestCompleted(id, status, message);
}

// Cuts the running request short, leaving the character where it is.
void Character::abortCurrent() {
  if (!m_current) return;
  switch (m_current->kind) {
    case Request::Speak:
      if (m_job) m_speech.cancel(m_job);
      m_job = 0;
      m_speechTimer->stop();
      if (m_playing) m_playing->stop();
      m_speaking = false;
      m_mouth = MouthShape::Closed;
      m_balloon->hide();
      m_balloonTimer->stop();
      frameChanged();
      break;
    case Request::Play:
    case Request::Show:
      m_player->stop();
      if (m_visible) m_player->returnToRest(150);
      break;
    case Request::Hide:
      m_player->stop();
      if (m_visible) m_player->returnToRest(150);
      break;
    case Request::Move: m_moveTimer->stop(); break;
    case Request::Wait: m_waitTimer->stop(); break;
  }
}

void Character::stop() {
  std::vector<RequestId> dropped;
  if (m_current) {
    dropped.push_back(m_current->id);
    abortCurrent();
    m_current.reset();
  }
  for (const Request& r : m_queue) dropped.push_back(r.id);
  m_queue.clear();
  m_kickTimer->stop();
  m_lastActivity = m_clock.nowMs();
  armIdle();
  for (RequestId id : dropped) emit requestCompleted(id, RequestStatus::Interrupted, QString());
}

void Character::stop(RequestId request) {
  if (m_current && m_current->id == request) {
    abortCurrent();
    m_current.reset();
    kick();
    armIdle();
    emit requestCompleted(request, RequestStatus::Interrupted, QString());
    return;
  }
  const auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const Request& r) { return r.id == request; });
  if (it == m_queue.end()) return;
  m_queue.erase(it);
  emit requestCompleted(request, RequestStatus::Interrupted, QString());
}

void Character::stopAll() { stop(); }

void Character::stopAllButFirst() {
  std::vector<RequestId> dropped;
  if (m_current && !m_current->first) {
    dropped.push_back(m_current->id);
    abortCurrent();
    m_current.reset();
  }
  std::deque<Request> kept;
  for (const Request& r : m_queue) {
    if (r.first)
      kept.push_back(r);
    else
      dropped.push_back(r.id);
  }
  m_queue.swap(kept);
  if (!m_current) kick();
  armIdle();
  for (RequestId id : dropped) emit requestCompleted(id, RequestStatus::Interrupted, QString());
}

// ---- Speech ---------------------------------------------------------------------------

void Character::startSpeak(const Request& r) {
  const SpeechMarkup markup = translateMarkup(r.text, m_voice);
  m_shown = markup.shown;
  if (m_visible) {
    m_player->returnToRest(150);
    m_balloonTimer->stop();
    m_balloon->begin(m_shown, balloonTarget());
  }
  const RequestId id = r.id;
  if (m_syncSpeech) {
    speechChunk(id, m_speech.synthesizeNow(markup, m_voice), true);
    return;
  }
  m_job = m_speech.synthesize(markup, m_voice, this,
                              [this, id](Utterance u, bool last) { speechChunk(id, std::move(u), last); });
}

void Character::speechChunk(RequestId id, Utterance chunk, bool last) {
  if (!m_current || m_current->id != id || m_current->kind != Request::Speak) return;  // stopped meanwhile
  if (last) m_job = 0;
  if (m_speaking) {
    // More of an utterance that is already playing.
    m_playing->append(chunk.pcm);
    m_utterance.pcm.append(chunk.pcm);
    m_utterance.events.insert(m_utterance.events.end(), chunk.events.begin(), chunk.events.end());
    m_synthesisDone = last;
    return;
  }
  if (!chunk.error.isEmpty()) {
    m_balloon->hide();
    finishCurrent(RequestStatus::Failed, chunk.error);
    return;
  }
  m_utterance = std::move(chunk);
  m_synthesisDone = last;
  m_eventIndex = 0;
  m_shownEnd = 0;
  m_speaking = true;
  m_playing = m_speechOut;
  if (!m_playing->play(m_utterance.pcm, m_utterance.sampleRate)) {
    // The device went away: keep time with a silent output so the words, the mouth and
    // the bookmarks still come in order.
    if (!m_silentFallback) m_silentFallback = std::make_unique<SilentAudioOutput>(m_clock);
    m_playing = m_silentFallback.get();
    m_playing->play(m_utterance.pcm, m_utterance.sampleRate);
  }
  if (m_visible && !m_shown.isEmpty()) {
    m_balloon->show();
    m_balloon->raise();
  }
  emit speechStarted(id);
  if (!m_current || m_current->id != id) return;
  pollSpeech();
}

void Character::pollSpeech() {
  if (!m_speaking || !m_current) return;
  const RequestId id = m_current->id;
  const qint64 position = m_playing->playedMs();
  // Running dry before the rest of the utterance arrives is a pause, not the end.
  const bool done = m_synthesisDone && !m_playing->isPlaying();
  while (m_eventIndex < m_utterance.events.size() && (done || m_utterance.events[m_eventIndex].ms <= position)) {
    const SpeechEvent e = m_utterance.events[m_eventIndex++];
    switch (e.kind) {
      case SpeechEvent::Word:
        m_shownEnd = std::max(m_shownEnd, e.value);
        m_balloon->reveal(m_shown.left(m_shownEnd));
        break;
      case SpeechEvent::Mouth:
        if (m_mouth != MouthShape(e.value)) {
          m_mouth = MouthShape(e.value);
          frameChanged();
        }
        break;
      case SpeechEvent::Bookmark:
        emit bookmark(e.value);
        if (!m_current || m_current->id != id) return;  // a handler stopped the speech
        break;
    }
  }
  if (done) {
    m_speaking = false;
    m_balloon->reveal(m_shown);
    if (m_mouth != MouthShape::Closed) {
      m_mouth = MouthShape::Closed;
      frameChanged();
    }
    if (m_balloon->isVisible()) m_balloonTimer->start(kBalloonLingerMs);
    finishCurrent(RequestStatus::Complete);
    return;
  }
  // Wake for the next event or the end of the audio, and at least every poll interval,
  // since a sound device's clock moves on its own.
  qint64 next = m_utterance.lengthMs();
  if (m_eventIndex < m_utterance.events.size()) next = std::min(next, m_utterance.events[m_eventIndex].ms);
  const qint64 wait = next > position ? std::clamp<qint64>(next - position, 1, kSpeechPollMs) : kSpeechPollMs;
  m_speechTimer->start(wait);
}

// ---- Moving ---------------------------------------------------------------------------

void Character::startMove(const Request& r) {
  if (!m_visible || r.target == m_pos) {
    m_pos = r.target;
    applyGeometry();
    finishCurrent(RequestStatus::Complete);
    return;
  }
  m_moveFrom = m_pos;
  m_moveTo = r.target;
  m_moveStart = m_clock.nowMs();
  const double distance = std::hypot(double(m_moveTo.x() - m_moveFrom.x()), double(m_moveTo.y() - m_moveFrom.y()));
  m_moveDuration = std::clamp<qint64>(qint64(distance * 1.2), 200, 1500);
  glide();
}

void Character::glide() {
  const double t = std::clamp(double(m_clock.nowMs() - m_moveStart) / double(m_moveDuration), 0.0, 1.0);
  const double e = t * t * (3 - 2 * t);
  m_pos = QPoint(int(std::lround(m_moveFrom.x() + (m_moveTo.x() - m_moveFrom.x()) * e)),
                 int(std::lround(m_moveFrom.y() + (m_moveTo.y() - m_moveFrom.y()) * e)));
  applyGeometry();
  if (t >= 1.0) {
    finishCurrent(RequestStatus::Complete);
    return;
  }
  m_moveTimer->start(kGlideStepMs);
}

// ---- Idle -----------------------------------------------------------------------------

void Character::armIdle() {
  if (!m_visible || m_current || !m_queue.empty() || m_idleAnimation) {
    if (!m_visible) m_idleTimer->stop();
    return;
  }
  if (m_def->idle.variants.isEmpty() && m_def->idle.sleep.isEmpty()) return;
  const int lo = m_def->idle.minIntervalMs;
  const int hi = std::max(lo, m_def->idle.maxIntervalMs);
  m_idleTimer->start(lo + QRandomGenerator::global()->bounded(hi - lo + 1));
}

void Character::idleTimeout() {
  if (!m_visible || m_current || !m_queue.empty()) return;
  const Animation* a = nullptr;
  const bool sleepy = !m_def->idle.sleep.isEmpty() && m_clock.nowMs() - m_lastActivity >= m_def->idle.sleepAfterMs;
  if (sleepy)
    a = m_def->findAnimation(m_def->idle.sleep);
  else if (!m_def->idle.variants.isEmpty())
    a = m_def->findAnimation(
        m_def->idle.variants[QRandomGenerator::global()->bounded(int(m_def->idle.variants.size()))]);
  if (!a) return;
  m_idleAnimation = true;
  // The sleep animation loops until something wakes the character.
  m_player->play(
      *a,
      [this] {
        m_idleAnimation = false;
        armIdle();
      },
      false, sleepy ? 0 : 1);
}

void Character::interruptIdle() {
  if (!m_idleAnimation) return;
  m_idleAnimation = false;
  m_effectsOut->stop();
  m_player->returnToRest(150);
}

// ---- Window ---------------------------------------------------------------------------

void Character::setLeft(int x) {
  m_pos.setX(x);
  applyGeometry();
}

void Character::setTop(int y) {
  m_pos.setY(y);
  applyGeometry();
}

void Character::setWidth(int w) {
  m_size.setWidth(std::clamp(w, 1, 8192));
  applyGeometry();
}

void Character::setHeight(int h) {
  m_size.setHeight(std::clamp(h, 1, 8192));
  applyGeometry();
}

void Character::applyGeometry() {
  // Inside the window, the balloon's room lies above the drawing, which stays where the
  // character's position says.
  const QRect area = characterArea();
  const QSize windowSize =
      m_balloonPlace == BalloonPlace::OwnWindow
          ? m_size
          : QSize(std::max(m_size.width(), m_balloon->largestSize().width()), area.top() + m_size.height());
  const QPoint windowPos = m_pos - area.topLeft();
  if (m_window->pos() != windowPos) m_window->move(windowPos);
  if (m_window->size() != windowSize) m_window->resize(windowSize);
  m_window->setCharacterArea(area);
  if (m_balloon->isVisible()) m_balloon->follow(balloonTarget());
}

void Character::frameChanged() {
  if (m_visible) m_window->frameChanged();
}

void Character::setSoundEffectsOn(bool on) {
  m_soundEffects = on;
  if (!on) m_effectsOut->stop();
}

void Character::playEffect(int sound) {
  if (!m_soundEffects || !m_visible || sound < 0 || size_t(sound) >= m_def->sounds.size()) return;
  const SoundEffect& e = m_def->sounds[size_t(sound)];
  m_effectsOut->play(e.pcm, e.sampleRate);
  emit soundEffect(e.name);
}

namespace {

bool IsSeparatorCaption(const QString& caption) {
  const QString t = caption.trimmed();
  return t.isEmpty() || std::all_of(t.begin(), t.end(), [](QChar ch) { return ch == u'_' || ch == u'-'; });
}

}  // namespace

QMenu* Character::popupMenu() const { return m_menu; }

void Character::showPopupMenu(int x, int y) {
  if (m_menu) {
    m_menu->close();
    m_menu->deleteLater();
    m_menu = nullptr;
  }
  m_menu = new QMenu;
  m_menu->setAttribute(Qt::WA_DeleteOnClose, false);
  for (const Command& c : m_commands.items()) {
    if (!c.visible) continue;
    // A caption of nothing but a rule ("____", "----") divides the menu: a line, not a row.
    if (IsSeparatorCaption(c.caption)) {
      if (!m_menu->isEmpty() && !m_menu->actions().constLast()->isSeparator()) m_menu->addSeparator();
      continue;
    }
    QAction* action = m_menu->addAction(c.caption);
    action->setEnabled(c.enabled);
    action->setData(c.name);
    if (c.checked) {
      action->setCheckable(true);
      action->setChecked(c.checked());
    }
    const QString name = c.name;
    connect(action, &QAction::triggered, this, [this, name] {
      m_lastActivity = m_clock.nowMs();
      emit command(name);
    });
  }
  if (m_menu->isEmpty()) return;
  m_menu->popup(QPoint(x, y));
}

// ---- Listening ------------------------------------------------------------------------

Listener& Character::listener() {
  if (!m_listener) {
    m_listener = std::make_unique<Listener>();
    connect(m_listener.get(), &Listener::finished, this,
            [this](const QString& command, const QString& words) { listeningFinished(command, words); });
  }
  return *m_listener;
}

bool Character::isListening() const { return m_listener && m_listener->isListening(); }

bool Character::listen(bool on) {
  if (!on) {
    if (isListening()) {
      m_listener->cancel();
      if (!m_speaking) m_balloon->hide();
    }
    return true;
  }
  if (isListening()) return true;
  QString reason;
  if (!listener().startMicrophone(m_commands.items(), &reason)) {
    emit listenUnavailable(reason);
    return false;
  }
  listeningStarted();
  return true;
}

bool Character::listenToRecording(const QByteArray& pcm, int sampleRate) {
  QString reason;
  if (!listener().startFed(m_commands.items(), &reason)) {
    emit listenUnavailable(reason);
    return false;
  }
  listeningStarted();
  const QByteArray audio = SpeechRecognizer::resample(pcm, sampleRate, SpeechRecognizer::kSampleRate);
  constexpr qsizetype kPiece = SpeechRecognizer::kSampleRate / 10 * 2;  // 100 ms, as a microphone delivers
  for (qsizetype at = 0; at < audio.size() && m_listener->isListening(); at += kPiece)
    m_listener->feed(audio.mid(at, kPiece));
  // A recording that ends before the spell does is followed by silence.
  const QByteArray quiet(kPiece, '\0');
  while (m_listener->isListening()) m_listener->feed(quiet);
  return true;
}

void Character::listeningStarted() {
  m_lastActivity = m_clock.nowMs();
  if (m_visible && !m_speaking) {
    m_balloonTimer->stop();
    m_balloon->begin(kListeningText, balloonTarget());
    m_balloon->reveal(kListeningText);
    m_balloon->show();
    m_balloon->raise();
  }
}

void Character::listeningFinished(const QString& command, const QString& words) {
  m_lastActivity = m_clock.nowMs();
  if (!m_speaking && m_balloon->text() == kListeningText) m_balloon->hide();
  emit listenComplete(command, words);
  if (command.isEmpty()) {
    if (m_visible) play(QStringLiteral("DontRecognize"));
    return;
  }
  emit this->command(command);
}

void Character::onWindowClick(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global) {
  m_lastActivity = m_clock.nowMs();
  if (m_idleAnimation && !m_current) {
    interruptIdle();
    armIdle();
  }
  emit click(button, modifiers, global.x(), global.y());
}

void Character::onWindowDragged(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global,
                                QPoint topLeft) {
  m_lastActivity = m_clock.nowMs();
  m_pos = topLeft + characterArea().topLeft();
  if (m_balloon->isVisible()) m_balloon->follow(balloonTarget());
  emit dragComplete(button, modifiers, global.x(), global.y());
}

}  // namespace agent
