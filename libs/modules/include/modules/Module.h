#pragma once
// Loading a module (a shared object built with the program) when it is first needed, and finding
// its entry point. A module is looked for beside the running program as installed, then in the
// build's own module folder; it is loaded once and stays for the life of the process.

#include <QString>

// Declares a module's entry point: the one symbol a module shows (the rest is hidden, so nothing
// of it can stand in for the program's own code or the other way round).
#define MODULES_ENTRY_POINT extern "C" __attribute__((visibility("default")))

namespace modules {

struct Loaded {
  // The module's entry point; null when it could not be loaded, and then `error` says why.
  void* entry = nullptr;
  QString error;
};

// Loads `fileName` (such as "libmailbox-backend.so") and looks up `symbol` in it. Thread-safe;
// a module already loaded is not loaded again.
Loaded Load(const QString& fileName, const char* symbol);

// The folders looked in, in order.
QStringList SearchFolders();

}  // namespace modules
