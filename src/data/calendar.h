// The program's view of the reminder table: aliases, opening and closing,
// the thirteen index tags, the "current reminders" query, time conversions and
// the engine half of rebuilding the database.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <string>

#include "xbase/engine.h"

namespace chimewise::data {

// Work-area aliases, one per part of the program that opens the table.
inline constexpr char kAliasCalendar[] = "CALENDAR";  // the viewer's data control
inline constexpr char kAliasAlarm[] = "ALARMDBF";     // alarm scan; rebuild (exclusive)
inline constexpr char kAliasTimer[] = "TIMERDBF";     // next-alarm lookup
inline constexpr char kAliasOneTime[] = "ONETIME";    // saving one reminder

// Open modes as the program passes them.
inline constexpr int kModeShared = 0;
inline constexpr int kModeExclusive = 2;

// How long the program's windows and its timer wait for the reminder table (or one of its
// records) while another program holds it, in milliseconds: briefly, so that nothing freezes. What
// gives up says so, or (the timer's routines) tries again on a later tick. The command-line tool
// keeps the engine's long wait.
inline constexpr int kInteractiveLockWaitMs = 200;

// "\data\CALENDAR.DBF" below the application folder.
QString CalendarPath(const QString& appFolder);

// The engine settings made once at start-up: deleted records hidden everywhere,
// four-digit years in date texts, soft seek on. The lock wait is the caller's: the program sets
// kInteractiveLockWaitMs, and the engines made here for a look at the table (the index checks)
// wait as long as the engine they are given.
void ApplyStartupSettings(xbase::Engine& engine);

// Returns the work area of `alias` when it is already open; otherwise opens the
// table (with its compound index) under `alias`. Returns 0 and opens nothing when
// the file is missing or cannot be opened; *why (optional) tells the reason.
int OpenTable(xbase::Engine& engine, const QString& path, const QString& alias, int mode, xbase::Status* why = nullptr);

struct TagDefinition {
  const char* name;
  const char* key;
  const char* condition;
};
// The calendar's index tags, in the order the rebuild creates them.
const std::array<TagDefinition, 13>& CalendarTags();

// OK when CALENDAR.CDX exists, is trusted by the engine, holds exactly the thirteen
// tags and every tag agrees, entry by entry, with the records (the engine's CheckIndex);
// otherwise the reason it must be rebuilt.
xbase::Status CalendarIndexProblem(xbase::Engine& engine, const QString& tablePath);
// Whether CalendarIndexProblem finds the index to be rebuilt. Not while another user holds the
// table (Busy): that says nothing of the index, which the first lookup looks at, and repairs, once
// the table is free.
bool CalendarIndexNeedsRebuild(xbase::Engine& engine, const QString& tablePath);

// Close every work area, open the table exclusively under ALARMDBF, remove
// deleted records, create the thirteen tags in order, close every work area.
// Other work areas are closed even when this fails. When the table's header was found damaged
// (its record count repaired from the file's length, see xbase::TableRepair) *repaired says so;
// the pack then stores the right count, and never fewer live records than it read.
// *foreignIndex (optional) is set when the index replaced was another program's file (a
// FoxPro CDX; see IndexIsForeign): a user who shares the table with that program is to be told.
xbase::Status RebuildDatabase(xbase::Engine& engine, const QString& appFolder,
                              std::optional<xbase::TableRepair>* repaired = nullptr, bool* foreignIndex = nullptr);
// Whether the table's index file is another program's: a FoxPro CDX, not the engine's own
// layout and not mere damage. Reads only.
bool IndexIsForeign(xbase::Engine& engine, const QString& tablePath);

// The minutes as the index keys render them: str(n,4,0), e.g. " 600".
QString KeyMinutes(int minutes);
// Reminders due now or already past, for WorkArea::Query:
//   QkeyVal('ALARM')<='yyyymmdd mmmm' .or. QKeyVal('EVNTDATE')<='yyyymmdd mmmm'
QString CurrentRemindersQuery(const QDateTime& now);
// The same test against a wall-clock reading (see WallReading) instead of now's wall time.
QString RemindersUpToQuery(const QDateTime& wallReading);

// Text of a Windows-1252 table (the jokes table); these convert to and from it ('?' for what it
// lacks).
std::string ToTableText(const QString& text);
// The distinct characters of `text` that Windows-1252 lacks, each once, in order of first
// appearance, separated by blanks; empty when the table can hold the whole text.
QString CharactersOutsideTable(const QString& text);
QString FromTableText(const std::string& bytes);

// Text of the table open in `area`, in the code page it declares (xbase::WorkArea::CodePage):
// Windows-1252 for the program's tables until a text needs more, then UTF-8 (MakeRoomForText);
// another program's code page as found. '?' for what the code page lacks.
std::string ToTableText(const xbase::WorkArea& area, const QString& text);
QString FromTableText(const xbase::WorkArea& area, const std::string& bytes);
// As CharactersOutsideTable, for the code page of the table open in `area`.
QString CharactersOutsideTable(const xbase::WorkArea& area, const QString& text);
// How many characters of `text`, from its start, a field of `bytes` bytes of that table holds
// whole (a character is never cut: in UTF-8 it may take up to four bytes).
long long CharactersThatFit(const xbase::WorkArea& area, const QString& text, uint32_t bytes);

// Whether the reminder table's code page is to stay whatever text comes (a table another
// program shares): then text it lacks is refused.
struct TextRoom {
  bool keepCodePage = false;
};
// Makes the reminder table able to hold every text of `texts`. A table whose code page lacks a
// character of them is converted to UTF-8 once (xbase::WorkArea::ConvertToUtf8), with an engine
// of its own; the table as it was stays beside it as data/CALENDAR_<code page>.DBF (and .FPT),
// REC_NO keeps its bytes (a key, not text), and the index is rebuilt. OK with nothing done when the table holds them,
// or when room.keepCodePage (the caller then refuses what the table lacks); Busy, changing nothing, while another user
// has the table open. *converted (optional) says the table was converted.
xbase::Status MakeRoomForText(xbase::Env* env, const QString& appFolder, const QStringList& texts, const TextRoom& room,
                              bool* converted = nullptr);

}  // namespace chimewise::data
