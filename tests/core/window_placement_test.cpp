#include "core/window_placement.h"
#include "core/settings_store.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(WindowPlacement, TwipsPerPixelFollowsTheScreenDpi) {
  EXPECT_DOUBLE_EQ(TwipsPerPixel(96), 15);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(120), 12);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(0), 15);
}

TEST(WindowPlacement, FitsSizeToTheScreenAndCentresOffScreenPositions) {
  // A screen of 19200 x 14400 twips (1280 x 960 pixels at 96 DPI).
  const int W = 19200, H = 14400;
  EXPECT_EQ(FitPlacement({100, 200, 6000, 4000}, W, H), (TwipsRect{100, 200, 6000, 4000}));
  // larger than the screen: cut to it, and then the only position that fits is 0
  EXPECT_EQ(FitPlacement({500, 500, 30000, 20000}, W, H), (TwipsRect{0, 0, W, H}));
  // negative and past-the-edge positions are centred, each axis on its own
  EXPECT_EQ(FitPlacement({-15, 100, 6000, 4000}, W, H), (TwipsRect{6600, 100, 6000, 4000}));
  EXPECT_EQ(FitPlacement({100, 10401, 6000, 4000}, W, H), (TwipsRect{100, 5200, 6000, 4000}));
  // exactly at the far edge still fits
  EXPECT_EQ(FitPlacement({13200, 10400, 6000, 4000}, W, H), (TwipsRect{13200, 10400, 6000, 4000}));
  // centring rounds toward zero on odd remainders
  EXPECT_EQ(FitPlacement({-1, -1, 6001, 4001}, W, H), (TwipsRect{6599, 5199, 6001, 4001}));
}

TEST(WindowPlacement, ReadsTheSectionWithDefaultsAndDamagedValues) {
  QTemporaryDir dir;
  SettingsStore s(dir.filePath("s.ini"));
  // nothing stored: current size, placed at 0,0
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, 19200, 14400), (TwipsRect{0, 0, 7000, 5000}));
  s.write("reminderview", "Top", "1200.5");
  s.write("ReminderView", "LEFT", "900 twips");
  s.write("ReminderView", "Width", "junk");
  s.write("ReminderView", "Height", "-300");
  // junk and negative sizes keep the current size; 1200.5 rounds to the even 1200
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, 19200, 14400), (TwipsRect{900, 1200, 7000, 5000}));
  s.write("ReminderView", "Width", "99999999999");
  EXPECT_EQ(ReadPlacement(s, "ReminderView", 7000, 5000, 19200, 14400), (TwipsRect{0, 1200, 19200, 5000}));
}

// Saved, then put back with a move and a resize, a window stands where it stood: a frame 4 px wide
// with a 24 px title bar does not push it down or to the right at each reopen.
TEST(WindowPlacement, TheSavedPlacementPutsTheWindowBackWhereItWas) {
  const QRect frame(100, 80, 648, 452);
  const QRect inside(104, 104, 640, 424);
  EXPECT_EQ(PlacementToSave(frame, inside, QRect()), QRect(100, 80, 640, 424));
  // Maximized: the normal state's inside, with the same frame around it.
  const QRect maxFrame(0, 0, 1024, 768);
  const QRect maxInside(4, 24, 1016, 740);
  EXPECT_EQ(PlacementToSave(maxFrame, maxInside, inside), QRect(100, 80, 640, 424));
  // Without a frame (no window manager) inside and frame are one.
  EXPECT_EQ(PlacementToSave(inside, inside, QRect()), inside);
}
