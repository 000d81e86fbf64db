// The viewer's arithmetic and decisions, without a window.
#include "viewer/viewer_rules.h"

#include <gtest/gtest.h>

using namespace chimewise::viewer;

TEST(ViewerSize, ASmallWindowGrowsToTheMinimumOneSideAtATime) {
  EXPECT_EQ(EnforceMinimumSize({6000, 1500}), (TwipsSize{7200, 2040}));
  EXPECT_EQ(EnforceMinimumSize({9000, 1500}), (TwipsSize{9000, 2040}));
  EXPECT_EQ(EnforceMinimumSize({6000, 5000}), (TwipsSize{7200, 5000}));
  EXPECT_EQ(EnforceMinimumSize({7200, 2040}), (TwipsSize{7200, 2040}));
}

TEST(ViewerColumns, WideWindowsGiveTheActivityEverythingBeyondTwoDateColumns) {
  EXPECT_EQ(ColumnWidths(10000), (std::array<int, 3>{2000, 5670, 2000}));
  // 30 % of the room just above 2300: still the wide rule.
  EXPECT_EQ(ColumnWidths(7997), (std::array<int, 3>{2000, 3667, 2000}));
}

TEST(ViewerColumns, NarrowWindowsShareTheRoomThirtyFortyThirty) {
  EXPECT_EQ(ColumnWidths(7000), (std::array<int, 3>{2001, 2668, 2001}));
  // 30 % of the room just below 2300: the shares, which here are wider than the fixed 2000.
  EXPECT_EQ(ColumnWidths(7996), (std::array<int, 3>{2300, 3066, 2300}));
  // The minimum window's inside width still gives three usable columns.
  const auto min = ColumnWidths(kMinimumWidth - 120);
  EXPECT_GT(min[0], 1500);
  EXPECT_EQ(min[0], min[2]);
}

// A time that needs more than the rule gives widens both date columns; the activity gives up the
// room. A time that fits changes nothing.
TEST(ViewerColumns, ALargeFontWidensTheDateColumnsAndTheWindow) {
  EXPECT_EQ(ColumnWidths(10000, 2000), ColumnWidths(10000));
  EXPECT_EQ(ColumnWidths(7000, 2001), ColumnWidths(7000));
  EXPECT_EQ(ColumnWidths(10000, 3100), (std::array<int, 3>{3100, 3470, 3100}));
  EXPECT_EQ(ColumnWidths(7000, 2500), (std::array<int, 3>{2500, 1670, 2500}));
  EXPECT_EQ(ColumnWidths(5000, 3000), (std::array<int, 3>{3000, 0, 3000}));
  // The smallest window keeps both dates whole beside an activity as wide, and three rows of the
  // list in view; a small font keeps the old minimum.
  EXPECT_EQ(MinimumViewerSize(1500, 200, 1200), (TwipsSize{kMinimumWidth, 1200 + 1534}));
  EXPECT_EQ(MinimumViewerSize(3100, 400, 1500), (TwipsSize{330 + 9300, 1500 + 2867}));
  EXPECT_EQ(MinimumViewerSize(0, 0, 0), (TwipsSize{kMinimumWidth, kMinimumHeight}));
  const TwipsSize large = MinimumViewerSize(3100, 400, 1500);
  const auto columns = ColumnWidths(large.width, 3100);
  EXPECT_GE(columns[1], 3100);
}

TEST(ViewerLayoutTest, GridTakesSixTenthsBelowTheBannerAndTheMemoTheRestWithGaps) {
  const ViewerLayout l = LayoutViewer(10000, 6000, 600, 600);
  EXPECT_EQ(l.gridTop, 600);
  EXPECT_EQ(l.gridHeight, 3240);                   // (6000 - 600) * 0.6
  EXPECT_EQ(l.memoHeight, 2040);                   // 6000 - 3240 - 600 - 120
  EXPECT_EQ(l.memoTop, 3900);                      // 60 below the grid's end...
  EXPECT_EQ(l.memoTop + l.memoHeight, 6000 - 60);  // ...and 60 above the bottom edge
  EXPECT_EQ(l.width, 10000);
  EXPECT_EQ(l.columns, (std::array<int, 3>{2000, 5670, 2000}));
  // Rounding of the grid height: (1001 * 0.6) = 600.6 -> 601.
  EXPECT_EQ(LayoutViewer(8000, 1601, 600, 600).gridHeight, 601);
}

TEST(ViewerLayoutTest, ATooSmallClientAreaGivesEmptyBoxesNotNegativeOnes) {
  const ViewerLayout l = LayoutViewer(7000, 500, 600, 600);
  EXPECT_EQ(l.gridHeight, 0);
  EXPECT_EQ(l.memoHeight, 0);
}

TEST(ViewerCommands, RecordCommandsNeedARow) {
  EXPECT_FALSE(RecordCommandsEnabled(0));
  EXPECT_TRUE(RecordCommandsEnabled(1));
}

TEST(ViewerHighlight, StaysOnItsReminderOrPassesToTheNextOrThePreviousAtTheEnd) {
  // Still listed (moved by a snooze from row 0 to row 3): follows it.
  EXPECT_EQ(RowToHighlight(3, 0, 5), 3);
  // Gone from the middle: the next one moved into its row.
  EXPECT_EQ(RowToHighlight(-1, 1, 2), 1);
  // Gone from the end: the previous one, now last.
  EXPECT_EQ(RowToHighlight(-1, 2, 2), 1);
  // Gone, and the list empty.
  EXPECT_EQ(RowToHighlight(-1, 0, 0), -1);
  // A list that shrank by more than one (another program deleted too): the last row.
  EXPECT_EQ(RowToHighlight(-1, 7, 3), 2);
}

TEST(ViewerCharacter, HidesWithTheViewerOnlyWhenNotKeptOnScreenAndNotForUpkeep) {
  EXPECT_TRUE(HideCharacterWithViewer("0", false));
  EXPECT_TRUE(HideCharacterWithViewer("", false));      // no number reads as 0
  EXPECT_FALSE(HideCharacterWithViewer("0.2", false));  // a number, compared with 0 as it stands
  EXPECT_FALSE(HideCharacterWithViewer("1", false));
  EXPECT_FALSE(HideCharacterWithViewer("-1", false));
  EXPECT_FALSE(HideCharacterWithViewer("0", true));  // closed for the upkeep
}

TEST(ViewerShowFuture, OnlyAnExactZeroMeansCurrentReminders) {
  EXPECT_FALSE(ShowFutureFromText("0"));
  EXPECT_TRUE(ShowFutureFromText("1"));
  EXPECT_TRUE(ShowFutureFromText(" 0"));
  EXPECT_TRUE(ShowFutureFromText(""));
  EXPECT_EQ(ShowFutureText(true), "1");
  EXPECT_EQ(ShowFutureText(false), "0");
}
