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

// Wide windows give the activity all beyond two 2000-twip dates; narrow ones share 30/40/30 (the
// switch is at 30 % of the room = 2300); a time that needs more widens both dates.
TEST(ViewerColumns, WidthsFollowTheWindowAndTheTimesFont) {
  using W = std::array<int, 3>;
  const struct {
    int inside, dateNeed;
    W widths;
  } cases[] = {{10000, 0, {2000, 5670, 2000}},    {7997, 0, {2000, 3667, 2000}},     {7000, 0, {2001, 2668, 2001}},
               {7996, 0, {2300, 3066, 2300}},     {10000, 2000, {2000, 5670, 2000}}, {7000, 2001, {2001, 2668, 2001}},
               {10000, 3100, {3100, 3470, 3100}}, {7000, 2500, {2500, 1670, 2500}},  {5000, 3000, {3000, 0, 3000}}};
  for (const auto& c : cases) EXPECT_EQ(ColumnWidths(c.inside, c.dateNeed), c.widths) << c.inside << "/" << c.dateNeed;
  const auto min = ColumnWidths(kMinimumWidth - 120);  // the minimum window: three usable columns
  EXPECT_GT(min[0], 1500);
  EXPECT_EQ(min[0], min[2]);
  // The smallest window keeps both dates whole beside an activity as wide, and three rows in view.
  EXPECT_EQ(MinimumViewerSize(1500, 200, 1200), (TwipsSize{kMinimumWidth, 1200 + 1534}));
  EXPECT_EQ(MinimumViewerSize(3100, 400, 1500), (TwipsSize{330 + 9300, 1500 + 2867}));
  EXPECT_EQ(MinimumViewerSize(0, 0, 0), (TwipsSize{kMinimumWidth, kMinimumHeight}));
  EXPECT_GE(ColumnWidths(MinimumViewerSize(3100, 400, 1500).width, 3100)[1], 3100);
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
  EXPECT_EQ(LayoutViewer(8000, 1601, 600, 600).gridHeight, 601);  // 1001 * 0.6 = 600.6
  const ViewerLayout tiny = LayoutViewer(7000, 500, 600, 600);    // empty boxes, not negative ones
  EXPECT_EQ(tiny.gridHeight, 0);
  EXPECT_EQ(tiny.memoHeight, 0);
}

TEST(ViewerRules, HighlightCharacterAndFutureSwitch) {
  EXPECT_FALSE(RecordCommandsEnabled(0));
  EXPECT_TRUE(RecordCommandsEnabled(1));
  // Highlight (kept row, previous row, rows): follows its reminder; else the next one moved into
  // its row; else the last.
  EXPECT_EQ(RowToHighlight(3, 0, 5), 3);
  EXPECT_EQ(RowToHighlight(-1, 1, 2), 1);
  EXPECT_EQ(RowToHighlight(-1, 2, 2), 1);
  EXPECT_EQ(RowToHighlight(-1, 0, 0), -1);
  EXPECT_EQ(RowToHighlight(-1, 7, 3), 2);
  // The character hides with the viewer only when not kept on screen ("0" or no number) and not
  // closed for the upkeep.
  for (const char* kept : {"0.2", "1", "-1"}) EXPECT_FALSE(HideCharacterWithViewer(kept, false)) << kept;
  EXPECT_TRUE(HideCharacterWithViewer("0", false));
  EXPECT_TRUE(HideCharacterWithViewer("", false));
  EXPECT_FALSE(HideCharacterWithViewer("0", true));
  // Only an exact "0" means current reminders only.
  EXPECT_FALSE(ShowFutureFromText("0"));
  for (const char* future : {"1", " 0", ""}) EXPECT_TRUE(ShowFutureFromText(future)) << future;
}
