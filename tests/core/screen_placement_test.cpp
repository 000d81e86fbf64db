// Where the character stands during a tour and steps aside to from a dialog it covers, on a laptop
// screen at the origin and a large one to its right whose top lies above the origin.
#include "core/screen_placement.h"

#include <gtest/gtest.h>

#include <optional>

using namespace chimewise;

namespace {

const QRect kScreens[] = {QRect(0, 0, 1280, 800), QRect(1280, -300, 3840, 2160)};
const QSize kCharacter(128, 150);

// A rectangle placed relative to a screen's top left corner.
QRect On(const QRect& screen, int x, int y, int w, int h) { return QRect(screen.left() + x, screen.top() + y, w, h); }

// `box` (the character, or its drawing) lies on the screen and off the target.
::testing::AssertionResult Clear(const std::optional<QRect>& box, const QRect& target, const QRect& screen) {
  if (!box) return ::testing::AssertionFailure() << "did not move";
  if (!screen.contains(*box)) return ::testing::AssertionFailure() << "off the screen";
  if (box->intersects(target)) return ::testing::AssertionFailure() << "covers the target";
  return ::testing::AssertionSuccess();
}
::testing::AssertionResult OnScreenAndOff(QPoint at, const QRect& target, const QRect& screen) {
  return Clear(QRect(at, kCharacter), target, screen);
}

// The character's window and its drawing inside: transparent margins 20 left, 18 right, 30 above, 10 below.
QRect Window(QPoint at) { return QRect(at, kCharacter); }
QRect Drawn(QPoint at) { return QRect(at + QPoint(20, 30), QSize(90, 110)); }
// The window whose drawing has its top left corner at `at`.
QPoint DrawnAt(QPoint at) { return at - QPoint(20, 30); }

// Steps the character whose window stands at `at` aside from `box`; the drawing it then has.
std::optional<QRect> DrawnAfterStep(QPoint at, const QRect& box, const QRect& screen) {
  const auto to = StepAside(Window(at), Drawn(at), box, screen);
  if (!to) return std::nullopt;
  return Drawn(*to);
}

qint64 Covered(const QRect& drawn, const QRect& box) {
  const QRect r = drawn.intersected(box);
  return qint64(r.width()) * r.height();
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

TEST(StepAside, TheDrawingLeavesTheBoxTheShortestWayWithTheWindowsMarginsKept) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect box = On(s, 500, 300, 300, 200);
    // Over the right edge: just past it, at the same height; the window keeps its margins, so its
    // transparent left margin may lie over the box.
    QPoint at = DrawnAt(QPoint(box.left() + box.width() - 30, box.top() + 40));
    auto to = StepAside(Window(at), Drawn(at), box, s);
    ASSERT_TRUE(to);
    EXPECT_EQ(*to, DrawnAt(QPoint(box.left() + box.width(), box.top() + 40)));
    EXPECT_TRUE(Window(*to).intersects(box));
    EXPECT_TRUE(Clear(Drawn(*to), box, s));
    // Over the left edge: just before it.
    at = DrawnAt(QPoint(box.left() - 60, box.top() + 40));
    EXPECT_EQ(DrawnAfterStep(at, box, s), QRect(QPoint(box.left() - 90, box.top() + 40), QSize(90, 110)));
    // Over the bottom edge, in the middle: just below it, where it was across.
    at = DrawnAt(QPoint(box.left() + 100, box.top() + box.height() - 20));
    EXPECT_EQ(DrawnAfterStep(at, box, s), QRect(QPoint(box.left() + 100, box.top() + box.height()), QSize(90, 110)));
    // Over the top edge: just above it.
    at = DrawnAt(QPoint(box.left() + 100, box.top() - 100));
    EXPECT_EQ(DrawnAfterStep(at, box, s), QRect(QPoint(box.left() + 100, box.top() - 110), QSize(90, 110)));
    // Right in the middle of a wide box: up or down is the shorter way out.
    const QRect wide = On(s, 100, 300, 900, 200);
    at = DrawnAt(QPoint(500, 340) + s.topLeft());
    EXPECT_EQ(DrawnAfterStep(at, wide, s)->top(), wide.top() - 110);
  }
}

TEST(StepAside, ABoxAgainstAnEdgeOfTheScreenSendsTheCharacterTheOtherWay) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    // Against each edge, as long as that edge, with the drawing over the strip next to the edge:
    // the short way would leave the screen.
    const QRect right = On(s, s.width() - 400, 0, 400, s.height());
    std::optional<QRect> drawn = DrawnAfterStep(DrawnAt(On(s, s.width() - 100, 300, 0, 0).topLeft()), right, s);
    EXPECT_TRUE(Clear(drawn, right, s));
    EXPECT_EQ(drawn->left() + drawn->width(), right.left());
    const QRect left = On(s, 0, 0, 400, s.height());
    drawn = DrawnAfterStep(DrawnAt(On(s, 10, 300, 0, 0).topLeft()), left, s);
    EXPECT_TRUE(Clear(drawn, left, s));
    EXPECT_EQ(drawn->left(), left.left() + left.width());
    const QRect top = On(s, 0, 0, s.width(), 300);
    drawn = DrawnAfterStep(DrawnAt(On(s, 600, 10, 0, 0).topLeft()), top, s);
    EXPECT_TRUE(Clear(drawn, top, s));
    EXPECT_EQ(drawn->top(), top.top() + top.height());
    const QRect bottom = On(s, 0, s.height() - 300, s.width(), 300);
    drawn = DrawnAfterStep(DrawnAt(On(s, 600, s.height() - 120, 0, 0).topLeft()), bottom, s);
    EXPECT_TRUE(Clear(drawn, bottom, s));
    EXPECT_EQ(drawn->top() + drawn->height(), bottom.top());
    // Room for the drawing exactly, below a box that fills the rest: the drawing stands on the
    // screen's bottom edge while the window's transparent foot hangs off it.
    const QRect tall = On(s, 0, 0, s.width(), s.height() - 110);
    const auto to = StepAside(Window(DrawnAt(On(s, 600, 300, 0, 0).topLeft())),
                              Drawn(DrawnAt(On(s, 600, 300, 0, 0).topLeft())), tall, s);
    ASSERT_TRUE(to);
    EXPECT_TRUE(Clear(Drawn(*to), tall, s));
    EXPECT_EQ(Drawn(*to).top() + Drawn(*to).height(), s.top() + s.height());
    EXPECT_FALSE(s.contains(Window(*to)));
  }
}

TEST(StepAside, WithNoRoomAroundTheBoxItCoversLessAndThenStaysPut) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    // A box that leaves 40 pixels around it, too narrow for the drawing on every side.
    const QRect box = s.adjusted(40, 40, -40, -40);
    const QPoint at = DrawnAt(On(s, s.width() / 2, s.height() / 2, 0, 0).topLeft());
    const auto to = StepAside(Window(at), Drawn(at), box, s);
    ASSERT_TRUE(to);
    EXPECT_TRUE(s.contains(Drawn(*to)));
    EXPECT_LT(Covered(Drawn(*to), box), Covered(Drawn(at), box));
    // A corner of the screen, where 40 pixels stay free on two sides, covers least.
    EXPECT_EQ(Covered(Drawn(*to), box), (90 - 40) * (110 - 40));
    // Asked again from there, it does not wander.
    EXPECT_FALSE(StepAside(Window(*to), Drawn(*to), box, s));
  }
}

TEST(StepAside, NothingToDoWhileOnlyTheTransparentMarginsCoverTheBox) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect box = On(s, 500, 300, 300, 200);
    // The drawing ends just before the box's left edge; the window's right margin lies over it.
    const QPoint at = DrawnAt(QPoint(box.left() - 90, box.top() + 20));
    ASSERT_TRUE(Window(at).intersects(box));
    EXPECT_FALSE(StepAside(Window(at), Drawn(at), box, s));
    // Far away.
    EXPECT_FALSE(StepAside(Window(s.topLeft()), Drawn(s.topLeft()), box, s));
    // One pixel further in, and it moves.
    EXPECT_TRUE(StepAside(Window(at + QPoint(1, 0)), Drawn(at + QPoint(1, 0)), box, s));
  }
}
