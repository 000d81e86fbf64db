#include "core/window_placement.h"
#include "core/settings_store.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(WindowPlacement, FitsToTheScreenReadsDamagedValuesAndSavesWhereTheWindowStood) {
  EXPECT_DOUBLE_EQ(TwipsPerPixel(120), 12);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(0), 15);
  const int W = 19200, H = 14400;  // 1280 x 960 pixels at 96 DPI
  EXPECT_EQ(FitPlacement({500, 500, 30000, 20000}, W, H), (TwipsRect{0, 0, W, H}));
  EXPECT_EQ(FitPlacement({-15, 100, 6000, 4000}, W, H), (TwipsRect{6600, 100, 6000, 4000}));
  EXPECT_EQ(FitPlacement({100, 10401, 6000, 4000}, W, H), (TwipsRect{100, 5200, 6000, 4000}));
  EXPECT_EQ(FitPlacement({13200, 10400, 6000, 4000}, W, H), (TwipsRect{13200, 10400, 6000, 4000}));
  EXPECT_EQ(FitPlacement({-1, -1, 6001, 4001}, W, H), (TwipsRect{6599, 5199, 6001, 4001}));

  QTemporaryDir dir;
  SettingsStore s(dir.filePath("s.ini"));
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, W, H), (TwipsRect{0, 0, 7000, 5000}));
  s.write("reminderview", "Top", "1200.5");
  s.write("ReminderView", "LEFT", "900 twips");
  s.write("ReminderView", "Width", "junk");
  s.write("ReminderView", "Height", "-300");
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, W, H), (TwipsRect{900, 1200, 7000, 5000}));
  s.write("ReminderView", "Width", "99999999999");
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, W, H), (TwipsRect{0, 1200, W, 5000}));

  // A 4 px frame with a 24 px title bar does not push the window on at each reopen; maximized, the
  // normal inside is kept with the same frame.
  const QRect inside(104, 104, 640, 424);
  EXPECT_EQ(PlacementToSave(QRect(100, 80, 648, 452), inside, QRect()), QRect(100, 80, 640, 424));
  EXPECT_EQ(PlacementToSave(QRect(0, 0, 1024, 768), QRect(4, 24, 1016, 740), inside), QRect(100, 80, 640, 424));
  EXPECT_EQ(PlacementToSave(inside, inside, QRect()), inside);
}
