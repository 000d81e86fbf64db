#pragma once
// The talking clock: announcing the time and scheduling the next announcement.

#include "core/program_options.h"

namespace chimewise {

class Clock;
class SettingsStore;
class Speaker;
struct SharedState;

class TalkingClock {
 public:
  TalkingClock(SharedState& state, const ProgramOptions& options, SettingsStore& settings, Clock& clock,
               Speaker& speaker);

  // The gesture, the greeting, the phrase with the time, the weekday and the date, as the settings
  // ask; then the next announcement is scheduled. The character is left as it was found.
  void AnnounceTime();
  // Sets NextAnnounceTime from an interval index 0-6, or the stored interval for -1.
  void ScheduleNextAnnouncement(int intervalIndex = -1);

 private:
  SharedState& m_state;
  const ProgramOptions& m_options;
  SettingsStore& m_settings;
  Clock& m_clock;
  Speaker& m_speaker;
};

}  // namespace chimewise
