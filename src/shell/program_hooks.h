#pragma once
// The calls the shell makes into the other subsystems. Each subsystem fills its own entries when
// the program is put together (see main.cpp); an empty entry is skipped, so the shell runs on its
// own in tests.

#include <QString>
#include <functional>

namespace chimewise {

struct ProgramHooks {
  // Data engine: close every work area and set the engine's start-up properties.
  std::function<void()> setUpDataEngine;
  std::function<void()> closeAllTables;
  // Whether the reminder table's index is missing, foreign or damaged and must be rebuilt.
  std::function<bool()> indexNeedsRebuild;
  // Packs the reminder table and rebuilds its index (the optimize command).
  std::function<void()> rebuildDatabase;

  // Character: load the file (false when the program cannot go on), the goodbye, the release.
  std::function<bool(const QString& characterFile, bool atStartUp)> loadCharacter;
  std::function<void()> sayGoodbye;
  std::function<void()> releaseCharacter;

  // Alarms and the talking clock.
  std::function<void()> findNextAlarm;
  std::function<void()> scanDueAlarms;
  std::function<void()> announceTime;
  std::function<void(int interval)> scheduleNextAnnouncement;
  std::function<void(int interval)> scheduleNextMailCheck;

  // Windows.
  std::function<void()> showViewer;
  std::function<void()> unloadWindows;
};

}  // namespace chimewise
