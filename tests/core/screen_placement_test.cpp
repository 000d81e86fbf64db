// Where the character stands, on a screen at the origin and one whose top lies above the origin.
#include "core/screen_placement.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {
const QRect kScreens[] = {QRect(0, 0, 1280, 800), QRect(1280, -300, 3840, 2160)};
const QSize kCharacter(128, 150);
QRect On(const QRect& s, int x, int y, int w = 0, int h = 0) { return QRect(s.left() + x, s.top() + y, w, h); }
// The character's window and its drawing inside (margins 20 left, 18 right, 30 above, 10 below).
QRect Window(QPoint at) { return QRect(at, kCharacter); }
QRect Drawn(QPoint at) { return QRect(at + QPoint(20, 30), QSize(90, 110)); }
QPoint DrawnAt(QPoint at) { return at - QPoint(20, 30); }
}  // namespace

TEST(ScreenPlacement, LeftOfTheWindowOrWhereverTheScreenHasRoomAndStepAside) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect window = On(s, 400, 150, 500, 400), box = On(s, 450, 420, 150, 20);
    EXPECT_EQ(LeftOfWindowAt(window, box, kCharacter, s), QPoint(window.left() - 128, box.top() - 65));
    // Exactly room on the left: there, its left edge on the screen's.
    const QRect snug = On(s, kCharacter.width(), 150, 500, 400);
    EXPECT_EQ(LeftOfWindowAt(snug, On(s, 178, 420, 150, 20), kCharacter, s).x(), s.left());
    EXPECT_EQ(LeftOfWindowAt(On(s, 0, 150, 500, 400), On(s, 50, 420, 150, 20), kCharacter, s).x(), s.left() + 500);
    const QRect picker = On(s, 300, 200, 120, 24);
    EXPECT_EQ(BesideControl(picker, kCharacter, s), QPoint(picker.right() + 1, picker.top() - 63));
    EXPECT_EQ(CentredOrigin(s.size() + QSize(100, 100), s), s.topLeft());

    // Over a box's right edge: just past it; only the transparent margins over it: stays put.
    const QRect target = On(s, 500, 300, 300, 200);
    const QPoint over = DrawnAt(On(s, 770, 340).topLeft()), margin = DrawnAt(On(s, 410, 320).topLeft());
    EXPECT_EQ(StepAside(Window(over), Drawn(over), target, s), DrawnAt(On(s, 800, 340).topLeft()));
    EXPECT_FALSE(StepAside(Window(margin), Drawn(margin), target, s));
    EXPECT_TRUE(StepAside(Window(margin + QPoint(1, 0)), Drawn(margin + QPoint(1, 0)), target, s));
    // No room on any side: the corner covering least, and asked again it does not wander.
    const QRect big = s.adjusted(40, 40, -40, -40);
    const QPoint centre = DrawnAt(s.center());
    const auto least = StepAside(Window(centre), Drawn(centre), big, s);
    ASSERT_TRUE(least);
    EXPECT_EQ(Drawn(*least).intersected(big).size(), QSize(50, 70));
    EXPECT_FALSE(StepAside(Window(*least), Drawn(*least), big, s));
  }
}
