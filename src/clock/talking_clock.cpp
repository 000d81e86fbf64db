#include "clock/talking_clock.h"

#include "clock/spoken_time.h"
#include "core/clock.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "core/value_reading.h"

namespace chimewise {

TalkingClock::TalkingClock(const ProgramOptions& options, SettingsStore& settings, Clock& clock, SpeakerPort& speaker)
    : m_options(options), m_settings(settings), m_clock(clock), m_speaker(speaker) {}

void TalkingClock::AnnounceTime() {
  // The time is told when it is due: it waits for the line under way, not for a queue of them.
  const FirstInLine first(m_speaker);
  const bool wasVisible = m_speaker.visible();
  const bool effectsWereOn = m_speaker.soundEffectsOn();
  if (!effectsWereOn) m_speaker.SetSoundEffects(true);
  // No second announcement starts while this one speaks.
  m_next.reset();

  const QDateTime now = m_clock.now();
  const QString gesture = m_settings.read(settings::AnnounceGesture);
  if (!gesture.isEmpty()) {
    if (!wasVisible) m_speaker.show();  // the gesture is meant to be seen
    m_speaker.play(gesture);
  }
  const QString phrase = m_settings.read(settings::AnnouncePhrase);
  if (NumericFlag(m_settings.read(settings::SayTimeOfDay)))
    m_speaker.speak(QStringLiteral("Good ") + PartOfDayWord(now.time().hour()));
  m_speaker.SayText(phrase + u' ' + SpokenTime(now, m_options.timeFormat));
  if (NumericFlag(m_settings.read(settings::SayDayOfWeek)))
    m_speaker.speak(QStringLiteral(" on ") + SpokenWeekday(now.date()));
  if (NumericFlag(m_settings.read(settings::SayDate))) m_speaker.speak(SpokenDate(now.date()));
  if (!effectsWereOn) m_speaker.SetSoundEffects(false);
  if (!wasVisible) m_speaker.hide();
  ScheduleNextAnnouncement(-1);
}

void TalkingClock::ScheduleNextAnnouncement(int intervalIndex) {
  const int index = intervalIndex == -1 ? NumericReading(m_settings.read(settings::AnnounceInterval)) : intervalIndex;
  m_next = MomentOrNone(NextAnnouncementTime(m_clock.now(), m_settings.read(settings::AnnounceOn), index));
}

}  // namespace chimewise
