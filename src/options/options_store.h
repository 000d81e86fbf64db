#pragma once
// What the Options dialog shows and stores, as one plain value: read from the settings and the
// running program's options when the dialog opens, written back by Apply, and the few values
// written whenever the dialog closes.

#include <QDate>
#include <QString>
#include <QTime>

namespace chimewise {

class SettingsStore;
struct ProgramOptions;

struct OptionsValues {
  // Characters
  QString characterName;   // the character list's text
  int characterIndex = 0;  // its position
  int size = 2;            // position in the size list

  // Time announcements
  bool announceOn = true;
  int interval = 6;       // position in the interval list
  QString phrase;         // said before the time
  int gestureIndex = -1;  // position in the gesture list
  QString gestureText;    // its text
  bool sayTimeOfDay = false;
  bool sayDayOfWeek = false;
  bool sayDate = false;
  bool amPm = true;  // shown from the running time format; stored through it
  bool timeOn = true;
  QTime rangeStart;  // invalid: the picker keeps its own time
  QTime rangeEnd;

  // Reminders
  bool showOnStart = false;
  bool noSoundEffects = false;
  bool showFuture = true;
  bool readMemos = true;
  bool readActivity = true;
  bool remindOn = true;
  QString waitTime;             // the minutes box's text
  bool desktopNotices = false;  // every reminder also as a desktop notification

  // Mail
  QString mailbox;
  QString mailUser;
  bool checkMail = true;
  QString mailInterval;  // the minutes box's text
  bool readAll = false;  // "Read all unread mail" rather than "Read only new mail"
  bool autoWhen = true;
  bool autoWho = false;
  bool autoSubject = true;
  bool autoBody = false;
  bool when = true;
  bool who = false;
  bool subject = true;
  bool body = true;
  bool markRead = true;

  // Sync
  QString syncServer;  // the calendar collection's URL
  QString syncUser;
};

// The values the dialog opens with: the settings, and for the reminder switches, the wait time
// and the time format the running program's own values. Without a kept gesture position the
// gesture list shows the stored gesture ("Announce" on a fresh store, "None" for "").
OptionsValues ReadOptions(const SettingsStore& settings, const ProgramOptions& running);

// Apply's stores, in order: the character, the mail rules, the announcement range (also into the
// running program), the interval, phrase and gesture, the announcement switches, the time format
// (from the running program), the wait time and the reminder switches (also into the running
// program), the size and the viewer and sound switches, keep-on-screen. Returns "" when every
// value was written, else what went wrong with the first one that was not (the others are still
// tried).
QString StoreOptions(const OptionsValues& values, SettingsStore& settings, ProgramOptions& running);

// Written whenever the dialog closes, however: the two read switches from the running program and
// the day the dialog was closed ("yyyyMMdd"). Returns "" or what went wrong.
QString StoreOnClose(SettingsStore& settings, const ProgramOptions& running, const QDate& today);

// A checked box's stored text, "1" or "0"; a selected option button's, "-1" or "0".
QString CheckText(bool checked);
QString OptionText(bool selected);

}  // namespace chimewise
