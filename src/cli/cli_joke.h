#pragma once
// chimewise-cli joke: the character's next joke or quote, as the tray menu's entry tells it.

#include <QString>
#include <QTextStream>

namespace xbase {
class Engine;
}

namespace chimewise {

class Prompter;
class SettingsStore;

// Tells the next joke or quote of the application folder's jokes table: prints what the character
// is asked to do, one line each ("Speak: TEXT", "Play: NAME"), and stores the record to go on
// from. Returns 0 when one was told; 1 when there is no table, it holds no records, it cannot be
// read (told through the prompter) or the place to go on from could not be stored.
int CliJoke(xbase::Engine& engine, SettingsStore& settings, Prompter& prompter, const QString& appFolder,
            QTextStream& out, QTextStream& err);

}  // namespace chimewise
