#pragma once
// chimewise-cli sync: one two-way sync of the reminders with the CalDAV calendar the settings name
// (or the one given), carried out before the command returns.

#include "exchange/calendar_import.h"
#include "schedule/save_event.h"

#include <QString>
#include <QTextStream>

namespace chimewise {

class SettingsStore;

inline constexpr const char* kSyncUsage =
    "  sync [--server URL] [--user NAME] [--lead MINUTES] [--all-day-at HH:MM]\n"
    "                      one two-way sync with the CalDAV calendar of the settings' [Sync]\n"
    "                      Server (or URL); the password comes from the secret store, else from\n"
    "                      CHIMEWISE_SYNC_PASSWORD, else it is asked for on the terminal\n";

struct SyncCommand {
  QString server;  // empty: the settings' [Sync] Server
  QString user;    // empty: the settings' [Sync] User
  ImportOptions import;
};

struct SyncTools {
  ReminderStore store;
  const SettingsStore& settings;
};

// The exit code of a sync that worked with the server but left steps for the next sync (a change
// refused there, a reminder changed here meanwhile): each one is in the notes.
inline constexpr int kSyncIncompleteExit = 3;

// Exit code as RunCli's, or kSyncIncompleteExit. *changedHere: reminders were stored or deleted here.
int RunSyncCommand(const SyncCommand& command, SyncTools tools, QTextStream& out, QTextStream& err, bool* changedHere);

}  // namespace chimewise
