#pragma once
// The talking clock: announcing the time and scheduling the next announcement.

#include "core/program_options.h"

#include <QDateTime>
#include <optional>

namespace chimewise {

class Clock;
class SettingsStore;
class SpeakerPort;

class TalkingClock {
 public:
  TalkingClock(const ProgramOptions& options, SettingsStore& settings, Clock& clock, SpeakerPort& speaker);

  // The gesture, the greeting, the phrase with the time, the weekday and the date, as the settings
  // ask; then the next announcement is scheduled. The character is left as it was found. All of it
  // goes first in the character's line: only the line under way is said before it.
  void AnnounceTime();
  // Schedules the next announcement from an interval index 0-6, or the stored interval for -1.
  void ScheduleNextAnnouncement(int intervalIndex = -1);
  // When the next announcement is due; none while one speaks, or when the clock is off.
  std::optional<QDateTime> nextAnnouncement() const { return m_next; }

 private:
  const ProgramOptions& m_options;
  SettingsStore& m_settings;
  Clock& m_clock;
  SpeakerPort& m_speaker;
  std::optional<QDateTime> m_next;
};

}  // namespace chimewise
