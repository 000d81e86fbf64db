#pragma once
// Jokes and quotes: the character tells the next record of a small table that ships beside the
// program, one per request, so the user hears the whole collection in turn.
//
// The table (AppFolder/JOKES.dbf with its memo file) has two fields: TYPE, the record's kind, and
// SAYWHAT, a memo holding the speech text (gesture tags allowed). Only records whose trimmed,
// upper-cased TYPE is "JOKE" or "QUOTE" are told. The physical record number to try next is kept
// in the settings, section = the table name, key "NextRec".
//
// The collection is written by hand in assets/jokes/jokes.txt (its format is described at the top
// of that file); ParseJokeSource reads it and WriteJokesTable turns it into the table.

#include "core/problem.h"

#include <QString>
#include <xbase/engine.h>

#include <cstdint>
#include <vector>

namespace chimewise {

class SettingsStore;
class SpeakerPort;

inline const QString kJokesTable = QStringLiteral("JOKES");

// The width of the TYPE field.
inline constexpr int kJokeKindWidth = 10;

struct JokeRecord {
  QString kind;     // TYPE
  QString sayWhat;  // SAYWHAT
  bool operator==(const JokeRecord&) const = default;
};

// Reads the collection's source text into *records, or says which line is wrong and how; *records
// is then left unspecified.
Problem ParseJokeSource(const QString& text, std::vector<JokeRecord>* records);

// Writes the table at `path` (and its memo file) afresh from `records`, in order. The table is
// built beside the target and renamed into place, so a failure leaves an existing table alone.
xbase::Status WriteJokesTable(const QString& path, const std::vector<JokeRecord>& records);

// Every record of the table at `path`, in physical order, deleted ones included.
xbase::Status ReadJokesTable(const QString& path, std::vector<JokeRecord>* records);

// The table's file under the application folder, whatever the letter case of its name on disk;
// empty when there is none.
QString FindJokesTable(const QString& appFolder, const QString& tableName);

struct JokeOutcome {
  bool told = false;
  std::uint32_t record = 0;  // the record that was spoken
  // A table that is there but cannot be read: nothing was said. "NextRec" is as it was, except
  // when only the record to be told was unreadable: it then points past that record.
  Problem problem;
  // Set when the spoken record was not stored as the place to go on from (the settings file
  // could not be written): the next request repeats it.
  QString settingsError;
};

// Tells the next joke or quote of `tableName` through the speaker and stores the record after it
// under tableName / "NextRec":
//  - "NextRec" is read as a whole number; below 1 or beyond the table it starts again at 1;
//  - records of other kinds (and deleted ones) are passed over;
//  - when none is left up to the end, record 1 is spoken, whatever its kind.
// A missing table or one without records says nothing and leaves the setting alone. The table's
// work area (alias = the table name) is opened for this call and closed again; the engine's
// settings (deleted records hidden) are the caller's.
JokeOutcome TellJokeOrQuote(xbase::Engine& engine, SettingsStore& settings, SpeakerPort& speaker,
                            const QString& appFolder, const QString& tableName = kJokesTable);

}  // namespace chimewise
