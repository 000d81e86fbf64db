#pragma once
// Loading a module (a shared object built with the program) when it is first needed, and finding
// its entry point. A module is looked for beside the running program as installed, then in the
// build's own module folder; it is loaded once and stays for the life of the process.

#include <QString>
#include <QStringList>

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

// A module's table of functions, as its entry point hands it out.
template <typename Api>
struct Table {
  const Api* api = nullptr;
  QString error;  // why there is none
};

// Loads `fileName` and asks its entry point for its table, which must be of `version` (a module
// of another build is refused rather than called wrongly). `what` names the module in the error:
// "<what> is not installed properly (...)".
template <typename Api>
Table<Api> LoadTable(const QString& fileName, const char* entryPoint, int version, const QString& what) {
  Table<Api> table;
  const Loaded loaded = Load(fileName, entryPoint);
  if (!loaded.entry) {
    table.error = QStringLiteral("%1 is not installed properly (%2)").arg(what, loaded.error);
    return table;
  }
  using EntryPoint = const Api* (*)();
  const Api* api = reinterpret_cast<EntryPoint>(loaded.entry)();
  if (!api || api->version != version)
    table.error = QStringLiteral("%1 belongs to another version of this program").arg(what);
  else
    table.api = api;
  return table;
}

}  // namespace modules
