#pragma once
// The Options dialog's rules as plain functions: what its lists offer, how a character file is
// named in the list, the checks made on the mail interval and the announcement range, how a
// gesture is stored, which tab Ctrl+Tab selects, and where the character stands beside the
// dialog. The dialog calls them; nothing here knows a widget.

#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>
#include <vector>

namespace chimewise {

// The list captions, in list order (the stored value is the position).
QStringList CharacterSizeNames();     // "Petite" ... "Gigantic"
QStringList AnnounceIntervalNames();  // "Minute" ... "Hour"
QStringList AnnouncePhraseChoices();  // what the phrase box offers; the user may type another
QStringList AnnounceGestureNames();   // "None" first, then the animations

// The time format the am/pm box stands for.
QString TimeFormatFor(bool amPm);
// Whether the am/pm box shows ticked for a time format: only for the 12-hour pattern itself.
bool AmPmTicked(const QString& timeFormat);

// The name a character file has in the list: its file name up to the first ".", the first letter
// upper-case and the rest lower-case ("hoot.ochar" -> "Hoot", "MERLIN.v2.ochar" -> "Merlin").
QString CharacterEntryName(const QString& fileName);

struct CharacterEntry {
  QString name;      // as listed
  QString fileName;  // the file found ("hoot.ochar"), loaded when the entry is chosen
  QString path;      // where it was found
};

// Every character file in the folders, the first folder's first (the user's own before the
// installed ones), each folder's files by name. A name already listed from an earlier folder
// (letter case aside) is not listed again, so the user's own copy of a character wins.
std::vector<CharacterEntry> CharacterEntries(const QStringList& folders);

// The entry to select when the dialog opens: the stored character's name where it is listed
// (letter case aside), so a character added or removed since never changes the choice; else the
// stored position, when it lies inside the list; else none (-1).
int CharacterListPosition(const std::vector<CharacterEntry>& entries, const QString& storedName, int storedIndex);

// The mail interval box on leaving it: a number below 1 becomes "1", one above 999 becomes
// "999"; any other text stays as it is. Text that is no number counts as 0.
QString ClampedMailInterval(const QString& text);

// The announcement range's pickers drag each other. When the end was moved before the start, the
// start moves to the end; when the start was moved past the end, the end moves to the start.
// nullopt: the other picker stays.
std::optional<QTime> DraggedRangeStart(const QTime& start, const QTime& end);
std::optional<QTime> DraggedRangeEnd(const QTime& start, const QTime& end);

// What Apply stores for the gesture list: "Gesture" and "GestureIndex". Position 0 ("None") and
// no choice (-1) store "" as the gesture, which plays no animation.
struct GestureSetting {
  QString gesture;
  int index = -1;
};
GestureSetting GestureToStore(int position, const QString& text);

// Why a mailbox text cannot be used, or "" when it can: empty (no mailbox), a Maildir folder
// (an absolute path, or one starting with "~/"), or "imap://host[:port]" / "imaps://host[:port]".
QString MailboxProblem(const QString& text);

// "Remind Me Every": a whole number of minutes from 1 to a day. Empty when the text is one (spaces
// around it allowed); otherwise what the user is told.
inline constexpr int kMaxWaitMinutes = 1440;
QString WaitTimeProblem(const QString& text);

// The mailbox text as stored: trimmed, with a leading "~/" made into the home folder.
QString MailboxToStore(const QString& text, const QString& homeFolder);

// A help page ("options.htm") of the application folder's "helpfile" folder (letter case aside);
// where an older application folder lacks it, the installed template's copy; else the path it
// would have in the application folder.
QString HelpPagePath(const QString& appFolder, const QString& templateFolder, const QString& page);

// The tab Ctrl+Tab selects: the next one, from the last back to the first.
int NextTab(int current, int count);

// Placements of the character beside the dialog, in screen pixels. `dialog` is the dialog's frame
// on the screen, `character` the character's size, `screen` the screen's available area; the
// character always ends up wholly on the screen.
//
// Upper right: the character stands outside the dialog against its right edge, level with its
// top; where the screen has no room on the right it stands against the left edge instead, then
// above the dialog's right end, then below it; never over the dialog while the screen has room.
QPoint CharacterBesideDialog(const QRect& dialog, const QSize& character, const QRect& screen);
// At the foot: just below the dialog's lower edge, the character's left edge a little inside the
// dialog's (100 twips); where the screen has no room below, beside the dialog with its feet level
// with the dialog's bottom edge (right, then left), then above it; never over the dialog while the
// screen has room for that. twipsPerPixel turns the 100 twips into pixels.
QPoint CharacterAtDialogFoot(const QRect& dialog, const QSize& character, const QRect& screen, double twipsPerPixel);

// How the last calendar sync went, as the Sync tab shows it.
struct LastSync {
  QDateTime at;       // when it ended
  QString outcome;    // "Synced: ..." or what went wrong
  QStringList notes;  // what was not taken or sent, one line each
};
// "Last sync: 12/08/2026 7:10 pm. Synced: ..." then each note on a line of its own (the first ten,
// then how many more); "Not synced yet." when there was none.
QString LastSyncText(const std::optional<LastSync>& last, const QString& timeFormat);

}  // namespace chimewise
