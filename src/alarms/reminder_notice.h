#pragma once
// When an announced reminder is also shown as a desktop notification, and what that notification
// says. Plain functions of what they are given: nothing here reads the settings, the character or
// the desktop.

#include "data/reminder_record.h"

#include <QString>

namespace chimewise {

// What decides whether the user also gets a desktop notification for an announcement.
struct NoticeConditions {
  bool alwaysNotify = false;       // "Also show reminders as desktop notifications" is ticked
  bool characterLoaded = true;     // a character is there to speak at all
  bool characterSentAway = false;  // the user sent it away (Go Away) and has not called it back
  bool audible = true;             // its speech and sounds reach a sound device
  bool canPlaceItself = true;      // the desktop lets the character place itself and stay on top
};

// True when the box is ticked, or when the character cannot be seen or heard: none is loaded,
// it was sent away, there is no sound device, or the desktop will not let it show itself.
bool ShouldNotifyDesktop(const NoticeConditions& c);

// Whether the character window can place itself and stay on top on this Qt platform: a plain
// Wayland client cannot (the program runs on XWayland where the session offers it).
bool CharacterCanPlaceItself(const QString& qtPlatformName);

// Why the character may stand in the wrong place, told once where it cannot place itself.
inline const QString kPlacementLimitSummary = QStringLiteral("Olm Chimewise cannot place its character here");
inline const QString kPlacementLimitText = QStringLiteral(
    "This Wayland desktop decides where every window goes, so the character may not stand where it should or stay "
    "above other windows. Reminders also come as desktop notifications. To let the character place itself, start "
    "Olm Chimewise under XWayland: QT_QPA_PLATFORM=xcb chimewise");

struct NoticeTexts {
  QString summary;  // the activity line ("Reminder" when it is empty)
  QString body;     // the activity's date and time (the date alone without a time), then the memo
};

// Whether a reminder is already late at `now`: its activity's minute has passed (for an activity
// without a time, its day). Only a late reminder's notification is urgent.
bool ReminderLate(const ReminderFacts& r, const QDateTime& now);

// The texts of a reminder's notification, the time written in the user's time format. Plain text:
// the caller escapes it for a server that reads markup.
NoticeTexts ReminderNoticeTexts(const ReminderFacts& r, const QString& timeFormat);

}  // namespace chimewise
