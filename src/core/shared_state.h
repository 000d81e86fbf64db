#pragma once
// The program's shared state: one instance per process, read and written by every subsystem on
// the user-interface thread. The flags are the program's only guards between a tick, a menu
// command and a character event that run inside one another's waits.

#include <QDateTime>
#include <QString>
#include <QTime>
#include <cstdint>

namespace chimewise {

struct SharedState {
  // Base of every data, sound, help and mail path. Never ends in "/".
  QString AppFolder;

  // Copied from the settings at start-up; the Options dialog may change them while running.
  std::int16_t ReadMemos = 1;
  std::int16_t ReadActivity = 1;
  std::int16_t RemindOn = 1;
  std::int16_t WaitTime = 5;
  QString TimeFormat = QStringLiteral("h:mm am/pm");
  bool TimeRangeOn = true;
  QTime RangeStart = QTime(7, 0);
  QTime RangeEnd = QTime(21, 0);

  // Next time announcement; invalid means none (the stored 0).
  QDateTime NextAnnounceTime;
  // Earliest pending alarm; invalid means none known (the stored -1).
  QDateTime NextAlarmTime;
  // Next automatic mail check; invalid means none.
  QDateTime NextMailCheck;

  bool ViewerOpen = false;
  bool ScheduleOpen = false;
  // The record the Schedule Activity dialog edits: -1 a new reminder, -2 none.
  std::int32_t EditRecNo = 0;

  // Inverted to end a pending speech wait.
  std::int16_t SpeechToggle = 0;
  // The user asked the character to stop; ends spoken sequences.
  bool StopRequested = false;
  // Shutdown has begun.
  bool Closing = false;
  // The user sent the character away (Go Away) and has not called it back since (a click on it,
  // or a start of the program that brings it back). Reminders then also reach the desktop's
  // notifications.
  bool CharacterSentAway = false;
};

}  // namespace chimewise
