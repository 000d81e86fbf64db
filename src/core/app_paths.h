#pragma once
// Where the program keeps its files, and the first-start seeding of a data folder from the
// installed template.

#include <QString>
#include <QStringList>
#include <optional>

namespace chimewise {

// The per-user data folder (e.g. ~/.local/share/Olm Chimewise): the default application folder
// and the base of the character store.
QString DefaultAppFolder();

// The key of the user's one running program (its lock file and the socket a later start or the
// command-line tool talks to).
QString InstanceKey();

// The settings file (e.g. ~/.config/Olm Chimewise/settings.ini).
QString SettingsFilePath();

// The installed, read-only template: $CHIMEWISE_TEMPLATE_DIR, else share/olm-chimewise beside the
// installed program, else the source tree's assets folder. Empty when none exists.
QString TemplateFolder();

// The base folder of the character store, always ending in "/" (empty when it cannot be found).
QString WindowsFolderPath();

// The folders searched for characters, in order: the user's store, then the installed ones.
QStringList CharacterFolders();

// Looks up a path below folder, matching each name without regard to letter case (users bring
// folders from systems where case does not count). Returns the existing path, or nullopt.
std::optional<QString> FindPathNoCase(const QString& folder, const QString& relativePath);

struct SeedResult {
  bool seeded = false;  // the template was copied in
  QString error;        // non-empty when something could not be created or copied
};

// Seeds an application folder on its first start: when it holds no data/CALENDAR.DBF, the template's
// tables, sounds, help pages and first-run marker are copied in, never overwriting a file that exists.
SeedResult SeedAppFolder(const QString& appFolder, const QString& templateFolder);

}  // namespace chimewise
