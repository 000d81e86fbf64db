#pragma once
// The program's shared state: one instance per process, owned by the composition root and read
// and written by every subsystem on the user-interface thread.

#include "core/program_events.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace chimewise {

struct SharedState {
  // Base of every data, sound, help and mail path. Never ends in "/".
  QString AppFolder;

  // Next time announcement; invalid means none (the stored 0).
  QDateTime NextAnnounceTime;
  // Earliest pending alarm; invalid means none known (the stored -1).
  QDateTime NextAlarmTime;
  // Next automatic mail check; invalid means none.
  QDateTime NextMailCheck;

  bool ViewerOpen = false;
  bool ScheduleOpen = false;

  // Ends the speech waits, asks for a stop, says that shutdown has begun. Never null.
  std::unique_ptr<ProgramEvents> events = std::make_unique<ProgramEvents>();
  // The user sent the character away (Go Away) and has not called it back since (a click on it,
  // or a start of the program that brings it back). Reminders then also reach the desktop's
  // notifications.
  bool CharacterSentAway = false;
};

}  // namespace chimewise
