// Where the character stands during a tour, on two screens: a laptop's at the desktop's origin and
// a large one to its right whose top lies above the origin (coordinates of a two-monitor desktop).
#include "core/screen_placement.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QRect kScreens[] = {QRect(0, 0, 1280, 800), QRect(1280, -300, 3840, 2160)};
const QSize kCharacter(128, 150);

// A rectangle placed relative to a screen's top left corner.
QRect On(const QRect& screen, int x, int y, int w, int h) { return QRect(screen.left() + x, screen.top() + y, w, h); }

::testing::AssertionResult OnScreenAndOff(QPoint at, const QRect& target, const QRect& screen) {
  const QRect box(at, kCharacter);
  if (!screen.contains(box)) return ::testing::AssertionFailure() << "off the screen";
  if (box.intersects(target)) return ::testing::AssertionFailure() << "covers the target";
  return ::testing::AssertionSuccess();
}

int Middle(const QRect& r) { return r.top() + r.height() / 2; }
int CharacterMiddle(QPoint at) { return at.y() + kCharacter.height() / 2; }

}  // namespace

TEST(ScreenPlacement, BesideAControlOnItsRightOrWhereverTheScreenHasRoom) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    // Room on the right: just past the control's right edge, level with its middle.
    const QRect picker = On(s, 300, 200, 120, 24);
    QPoint at = BesideControl(picker, kCharacter, s);
    EXPECT_EQ(at.x(), picker.left() + picker.width());
    EXPECT_LE(std::abs(CharacterMiddle(at) - Middle(picker)), 1);
    EXPECT_TRUE(OnScreenAndOff(at, picker, s));
    // Against the right edge: on the left.
    const QRect nearEdge = On(s, s.width() - 200, 200, 150, 24);
    at = BesideControl(nearEdge, kCharacter, s);
    EXPECT_EQ(at.x() + kCharacter.width(), nearEdge.left());
    EXPECT_TRUE(OnScreenAndOff(at, nearEdge, s));
    // As wide as the screen: below it, or above it near the bottom.
    const QRect wide = On(s, 0, 100, s.width(), 30);
    at = BesideControl(wide, kCharacter, s);
    EXPECT_EQ(at.y(), wide.top() + wide.height());
    EXPECT_TRUE(OnScreenAndOff(at, wide, s));
    const QRect wideLow = On(s, 0, s.height() - 40, s.width(), 30);
    at = BesideControl(wideLow, kCharacter, s);
    EXPECT_EQ(at.y() + kCharacter.height(), wideLow.top());
    EXPECT_TRUE(OnScreenAndOff(at, wideLow, s));
    // At the top: level with it would stick out above the screen; below it does not.
    const QRect high = On(s, 300, 0, 100, 20);
    at = BesideControl(high, kCharacter, s);
    EXPECT_EQ(at.y(), high.top() + high.height());
    EXPECT_TRUE(OnScreenAndOff(at, high, s));
    // Partly off the screen (a dialog dragged half out): still on the screen.
    const QRect halfOut = On(s, -60, 300, 100, 24);
    EXPECT_TRUE(OnScreenAndOff(BesideControl(halfOut, kCharacter, s), halfOut, s));
    // A control as large as the screen leaves no room: the character stays on the screen.
    EXPECT_TRUE(s.contains(QRect(BesideControl(s, kCharacter, s), kCharacter)));
  }
}

TEST(ScreenPlacement, LeftOfTheWindowAtTheControlsHeightOrWhereverTheScreenHasRoom) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect window = On(s, 400, 150, 500, 400);
    const QRect box = On(s, 450, 420, 150, 20);
    QPoint at = LeftOfWindowAt(window, box, kCharacter, s);
    EXPECT_EQ(at.x() + kCharacter.width(), window.left());
    EXPECT_LE(std::abs(CharacterMiddle(at) - Middle(box)), 1);
    EXPECT_TRUE(OnScreenAndOff(at, box, s));
    // Exactly room on the left: the character stands there, its left edge on the screen's.
    const QRect snug = On(s, kCharacter.width(), 150, 500, 400);
    at = LeftOfWindowAt(snug, On(s, kCharacter.width() + 50, 420, 150, 20), kCharacter, s);
    EXPECT_EQ(at.x(), s.left());
    // A window at the screen's left edge: on its right.
    const QRect leftWindow = On(s, 0, 150, 500, 400);
    const QRect leftBox = On(s, 50, 420, 150, 20);
    at = LeftOfWindowAt(leftWindow, leftBox, kCharacter, s);
    EXPECT_EQ(at.x(), leftWindow.left() + leftWindow.width());
    EXPECT_TRUE(OnScreenAndOff(at, leftBox, s));
    // A window as large as the screen: over the window, beside the control.
    const QRect fullBox = On(s, 20, 300, 200, 20);
    at = LeftOfWindowAt(s, fullBox, kCharacter, s);
    EXPECT_EQ(at.x(), fullBox.left() + fullBox.width());
    EXPECT_TRUE(OnScreenAndOff(at, fullBox, s));
  }
}

TEST(ScreenPlacement, BesideAWindowCornerInTheScreensCornerAndCentredWindows) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect window = On(s, 300, 100, 600, 450);
    QPoint at = BesideWindow(window, kCharacter, s);
    EXPECT_EQ(at, QPoint(window.left() - kCharacter.width(), window.top()));
    const QRect leftWindow = On(s, 10, 100, 600, 450);
    EXPECT_EQ(BesideWindow(leftWindow, kCharacter, s), QPoint(leftWindow.left() + leftWindow.width(), 100 + s.top()));
    // As wide as the screen: above it, or below it when it is at the top.
    const QRect wide = On(s, 0, 200, s.width(), 300);
    EXPECT_EQ(BesideWindow(wide, kCharacter, s), QPoint(s.left(), wide.top() - kCharacter.height()));
    const QRect wideTop = On(s, 0, 0, s.width(), 300);
    EXPECT_EQ(BesideWindow(wideTop, kCharacter, s), QPoint(s.left(), wideTop.top() + wideTop.height()));

    EXPECT_EQ(LowerRightCorner(kCharacter, s),
              QPoint(s.left() + s.width() - kCharacter.width(), s.top() + s.height() - kCharacter.height()));
    EXPECT_EQ(CentredOrigin(QSize(600, 400), s),
              QPoint(s.left() + (s.width() - 600) / 2, s.top() + (s.height() - 400) / 2));
    // A window larger than the screen keeps its title bar on it.
    EXPECT_EQ(CentredOrigin(QSize(s.width() + 100, s.height() + 100), s), s.topLeft());
  }
}
