#pragma once
// The Reminder Viewer's rules with numbers in them, as plain functions: the size and layout
// arithmetic in twips, which commands a list enables, where the highlight goes after the list
// changes, and what the character does when the window closes. The window only applies them.

#include <QString>
#include <array>
#include <cstdint>

namespace chimewise::viewer {

// The smallest window the viewer allows, in twips.
inline constexpr int kMinimumWidth = 7200;
inline constexpr int kMinimumHeight = 2040;
// Gaps around the memo box: 60 twips below the grid and 60 above the bottom edge.
inline constexpr int kMemoGap = 60;
// What the grid's record selector and scroll bar take from the width of the columns.
inline constexpr int kGridChrome = 330;
// The memo is saved once the user has stopped typing this long.
inline constexpr int kMemoIdleSaveMs = 1000;

struct TwipsSize {
  int width = 0;
  int height = 0;
  bool operator==(const TwipsSize&) const = default;
};

// A window smaller than the minimum grows to it, one side at a time.
TwipsSize EnforceMinimumSize(TwipsSize window);

// Widths of the "Reminder", "Activity" and "Activity Date" columns for an inside width: the two
// date columns 2000 each with the rest for the activity while 30 % of the room exceeds 2300,
// otherwise 30 %, 40 % and 30 % of the room. `dateNeed` is what the widest reminder time takes
// in the list's font: the date columns are never narrower (a large font widens them; the
// activity gives up the room).
std::array<int, 3> ColumnWidths(int insideWidth, int dateNeed = 0);

// The smallest window for the list's font, in twips: wide enough for both date columns whole
// (`dateNeed` each) beside an activity column as wide, and high enough for the list to show its
// heading and three rows (`rowHeight` each) with the memo box below. `chromeHeight` is what the
// menu bar, toolbar and banner take above the list. Never below kMinimumWidth x kMinimumHeight.
TwipsSize MinimumViewerSize(int dateNeed, int rowHeight, int chromeHeight);

struct ViewerLayout {
  int gridTop = 0;
  int gridHeight = 0;
  int memoTop = 0;
  int memoHeight = 0;
  int width = 0;  // grid and memo box
  std::array<int, 3> columns{};
  bool operator==(const ViewerLayout&) const = default;
};

// Places the grid and the memo box inside the window's client area (all twips). The grid starts
// below the banner (at gridTop) and takes 60 % of the height the banner leaves; the memo box
// fills the rest, 60 twips below the grid and 60 above the bottom edge. A window too small for
// that gives zero heights, never negative ones.
ViewerLayout LayoutViewer(int insideWidth, int insideHeight, int bannerHeight, int gridTop, int dateNeed = 0);

// The commands that act on the highlighted reminder (Read, Snooze, Properties, Delete) are
// enabled exactly while the list has a row.
bool RecordCommandsEnabled(int rowCount);

// The row to highlight after the list was read again. `keptRow` is the row at which the
// previously highlighted reminder now stands (-1 when it left the list, e.g. deleted);
// `previousRow` the row it stood at before. A reminder that left the list hands the highlight to
// the one that moved into its place, or to the new last row when it was the last. -1 for an empty
// list.
int RowToHighlight(int keptRow, int previousRow, int rowCount);

// Whether the character hides as the viewer closes or is minimized: only when the user does not
// keep it on screen ("ShowOnStart" read as a number is 0) and the viewer is not merely being
// closed for the table's upkeep.
bool HideCharacterWithViewer(const QString& showOnStart, bool keepCharacter);

// "1" when the viewer lists every reminder, "0" when only the current ones; and back ("0" exactly
// means current only, anything else every reminder).
QString ShowFutureText(bool showFuture);
bool ShowFutureFromText(const QString& text);

}  // namespace chimewise::viewer
