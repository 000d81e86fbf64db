#pragma once

#include "agent/character_file.h"
#include "agent/timer_clock.h"

#include <functional>
#include <memory>

namespace agent {

// Moves a character's pose through an animation's key frames on a clock. Tweened frames are
// stepped at the character's frame rate; held frames wait without ticking. Nothing runs
// between animations.
class AnimationPlayer {
 public:
  AnimationPlayer(const CharacterDefinition& character, TimerClock& clock);
  ~AnimationPlayer();
  Q_DISABLE_COPY_MOVE(AnimationPlayer)

  // Starts `animation` from the current pose (or from its first key frame when `snapToStart`).
  // `finished` runs once when the last frame ends; a looping animation ends only when
  // `maxCycles` (> 0) cycles are done.
  void play(const Animation& animation, std::function<void()> finished, bool snapToStart = false, int maxCycles = 0);
  // Glides to the rest pose over `ms`.
  void returnToRest(int ms, std::function<void()> finished = {});
  // Stops where it is; `finished` is not called.
  void stop();
  void setPose(const Pose& pose);
  const Pose& pose() const { return m_current; }
  bool isPlaying() const { return m_animation != nullptr; }
  const Animation* animation() const { return m_animation; }

  std::function<void()> onFrame;           // the pose changed: draw it
  std::function<void(int sound)> onSound;  // a frame asks for a sound effect

 private:
  void startFrame(size_t index);
  void tick();

  const CharacterDefinition& m_character;
  TimerClock& m_clock;
  std::unique_ptr<Timer> m_timer;
  Pose m_from;
  Pose m_current;
  const Animation* m_animation = nullptr;
  Animation m_rest;
  std::function<void()> m_finished;
  size_t m_index = 0;
  qint64 m_frameStart = 0;
  int m_cyclesLeft = 0;
};

}  // namespace agent
