#include "animation_player.h"

#include <algorithm>
#include <cmath>

namespace agent {

namespace {
double eased(Ease ease, double t) {
  t = std::clamp(t, 0.0, 1.0);
  switch (ease) {
    case Ease::Linear: return t;
    case Ease::In: return t * t;
    case Ease::Out: return 1 - (1 - t) * (1 - t);
    case Ease::InOut: return t * t * (3 - 2 * t);
  }
  return t;
}

PartState mix(const PartState& a, const PartState& b, double t) {
  PartState s;
  s.rotate = a.rotate + (b.rotate - a.rotate) * t;
  s.dx = a.dx + (b.dx - a.dx) * t;
  s.dy = a.dy + (b.dy - a.dy) * t;
  s.sx = a.sx + (b.sx - a.sx) * t;
  s.sy = a.sy + (b.sy - a.sy) * t;
  s.opacity = a.opacity + (b.opacity - a.opacity) * t;
  s.variant = b.variant;
  return s;
}
}  // namespace

AnimationPlayer::AnimationPlayer(const CharacterDefinition& character, TimerClock& clock)
    : m_character(character), m_clock(clock), m_timer(clock.createTimer()), m_current(character.rest) {
  QObject::connect(m_timer.get(), &Timer::timeout, m_timer.get(), [this] { tick(); });
  m_rest.name = QStringLiteral("(rest)");
  m_rest.frames.push_back(KeyFrame{character.rest, 150, true, Ease::InOut, -1});
}

AnimationPlayer::~AnimationPlayer() = default;

void AnimationPlayer::play(const Animation& animation, std::function<void()> finished, bool snapToStart,
                           int maxCycles) {
  m_timer->stop();
  m_animation = &animation;
  m_finished = std::move(finished);
  m_cyclesLeft = animation.loop ? maxCycles : 1;
  if (snapToStart && !animation.frames.empty()) {
    m_current = animation.frames.front().pose;
    if (onFrame) onFrame();
  }
  startFrame(0);
}

void AnimationPlayer::returnToRest(int ms, std::function<void()> finished) {
  m_rest.frames.front().durationMs = std::max(1, ms);
  play(m_rest, std::move(finished));
}

void AnimationPlayer::stop() {
  m_timer->stop();
  m_animation = nullptr;
  m_finished = nullptr;
}

void AnimationPlayer::setPose(const Pose& pose) {
  stop();
  m_current = pose;
  if (onFrame) onFrame();
}

void AnimationPlayer::startFrame(size_t index) {
  m_index = index;
  m_from = m_current;
  m_frameStart = m_clock.nowMs();
  const KeyFrame& frame = m_animation->frames[index];
  if (frame.sound >= 0 && onSound) onSound(frame.sound);
  if (!frame.tween) {
    if (m_current != frame.pose) {
      m_current = frame.pose;
      if (onFrame) onFrame();
    }
    m_timer->start(frame.durationMs);
    return;
  }
  tick();
}

void AnimationPlayer::tick() {
  if (!m_animation) return;
  const KeyFrame& frame = m_animation->frames[m_index];
  const qint64 elapsed = m_clock.nowMs() - m_frameStart;
  if (frame.tween) {
    const double t = eased(frame.ease, double(elapsed) / frame.durationMs);
    Pose next(m_current.size());
    for (size_t i = 0; i < next.size(); ++i) next[i] = mix(m_from[i], frame.pose[i], t);
    if (next != m_current) {
      m_current = std::move(next);
      if (onFrame) onFrame();
    }
  }
  if (elapsed < frame.durationMs) {
    const int fps = m_animation->fps > 0 ? m_animation->fps : m_character.fps;
    const qint64 interval = std::max(1, 1000 / std::max(1, fps));
    m_timer->start(frame.tween ? std::min(interval, frame.durationMs - elapsed) : frame.durationMs - elapsed);
    return;
  }
  m_current = frame.pose;
  if (m_index + 1 < m_animation->frames.size()) {
    startFrame(m_index + 1);
    return;
  }
  if (m_animation->loop && (m_cyclesLeft <= 0 || --m_cyclesLeft > 0)) {
    startFrame(0);
    return;
  }
  m_animation = nullptr;
  auto finished = std::move(m_finished);
  m_finished = nullptr;
  if (finished) finished();
}

}  // namespace agent
