// Where the character stands beside a control or window and steps aside to, on a laptop screen at
// the origin and a large one to its right whose top lies above the origin.
#include "core/screen_placement.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QRect kScreens[] = {QRect(0, 0, 1280, 800), QRect(1280, -300, 3840, 2160)};
const QSize kCharacter(128, 150);

QRect On(const QRect& screen, int x, int y, int w = 0, int h = 0) {
  return QRect(screen.left() + x, screen.top() + y, w, h);
}
// The character's window and its drawing inside (margins 20 left, 18 right, 30 above, 10 below).
QRect Window(QPoint at) { return QRect(at, kCharacter); }
QRect Drawn(QPoint at) { return QRect(at + QPoint(20, 30), QSize(90, 110)); }
QPoint DrawnAt(QPoint at) { return at - QPoint(20, 30); }
std::optional<QRect> DrawnAfterStep(QPoint at, const QRect& box, const QRect& s) {
  const auto to = StepAside(Window(at), Drawn(at), box, s);
  return to ? std::optional(Drawn(*to)) : std::nullopt;
}
bool Clear(const QRect& box, const QRect& target, const QRect& screen) {
  return screen.contains(box) && !box.intersects(target);
}
qint64 Covered(const QRect& drawn, const QRect& box) {
  const QRect r = drawn.intersected(box);
  return qint64(r.width()) * r.height();
}

}  // namespace

TEST(ScreenPlacement, BesideControlsAndWindowsWhereTheScreenHasRoom) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect picker = On(s, 300, 200, 120, 24), nearEdge = On(s, s.width() - 200, 200, 150, 24);
    const QRect wideLow = On(s, 0, s.height() - 40, s.width(), 30), high = On(s, 300, 0, 100, 20);
    EXPECT_EQ(BesideControl(picker, kCharacter, s), QPoint(picker.right() + 1, picker.top() - 63));
    EXPECT_EQ(BesideControl(nearEdge, kCharacter, s).x() + kCharacter.width(), nearEdge.left());
    EXPECT_EQ(BesideControl(wideLow, kCharacter, s).y() + kCharacter.height(), wideLow.top());
    EXPECT_EQ(BesideControl(high, kCharacter, s).y(), high.bottom() + 1);
    EXPECT_TRUE(s.contains(QRect(BesideControl(s, kCharacter, s), kCharacter)));

    const QRect window = On(s, 400, 150, 500, 400), box = On(s, 450, 420, 150, 20);
    EXPECT_EQ(LeftOfWindowAt(window, box, kCharacter, s), QPoint(window.left() - 128, box.top() - 65));
    // Exactly room on the left: there, its left edge on the screen's.
    const QRect snug = On(s, kCharacter.width(), 150, 500, 400);
    EXPECT_EQ(LeftOfWindowAt(snug, On(s, 178, 420, 150, 20), kCharacter, s).x(), s.left());
    EXPECT_EQ(LeftOfWindowAt(On(s, 0, 150, 500, 400), On(s, 50, 420, 150, 20), kCharacter, s).x(), s.left() + 500);
    const QRect fullBox = On(s, 20, 300, 200, 20);
    EXPECT_EQ(LeftOfWindowAt(s, fullBox, kCharacter, s).x(), fullBox.right() + 1);

    EXPECT_EQ(BesideWindow(On(s, 300, 100, 600, 450), kCharacter, s), On(s, 172, 100).topLeft());
    EXPECT_EQ(BesideWindow(On(s, 10, 100, 600, 450), kCharacter, s), On(s, 610, 100).topLeft());
    EXPECT_EQ(BesideWindow(On(s, 0, 0, s.width(), 300), kCharacter, s), On(s, 0, 300).topLeft());
    EXPECT_EQ(LowerRightCorner(kCharacter, s), s.bottomRight() - QPoint(127, 149));
    EXPECT_EQ(CentredOrigin(QSize(600, 400), s), On(s, (s.width() - 600) / 2, (s.height() - 400) / 2).topLeft());
    EXPECT_EQ(CentredOrigin(s.size() + QSize(100, 100), s), s.topLeft());
  }
}

TEST(StepAside, TheShortestWayOutOnTheScreenOrTheLeastCoverWithTheMarginsKept) {
  for (const QRect& s : kScreens) {
    SCOPED_TRACE(s.width());
    const QRect box = On(s, 500, 300, 300, 200);
    // Over the right edge: just past it, while the window's transparent margin may lie over the box.
    const auto to =
        StepAside(Window(DrawnAt(On(s, 770, 340).topLeft())), Drawn(DrawnAt(On(s, 770, 340).topLeft())), box, s);
    ASSERT_TRUE(to);
    EXPECT_EQ(*to, DrawnAt(On(s, 800, 340).topLeft()));
    EXPECT_TRUE(Window(*to).intersects(box));
    EXPECT_EQ(DrawnAfterStep(DrawnAt(On(s, 600, 200).topLeft()), box, s), On(s, 600, 190, 90, 110));
    // Only the margins over the box: stays; one pixel further in: moves.
    const QPoint margin = DrawnAt(On(s, 410, 320).topLeft());
    EXPECT_FALSE(StepAside(Window(margin), Drawn(margin), box, s));
    EXPECT_TRUE(StepAside(Window(margin + QPoint(1, 0)), Drawn(margin + QPoint(1, 0)), box, s));
    // A box against the right edge: the short way would leave the screen, so to its left.
    const QRect right = On(s, s.width() - 400, 0, 400, s.height());
    const auto drawn = DrawnAfterStep(DrawnAt(On(s, s.width() - 100, 300).topLeft()), right, s);
    ASSERT_TRUE(drawn);
    EXPECT_TRUE(Clear(*drawn, right, s));
    EXPECT_EQ(drawn->right() + 1, right.left());
    // Room for the drawing exactly below: it stands on the bottom edge, the window's foot off it.
    const QRect tall = On(s, 0, 0, s.width(), s.height() - 110);
    const QPoint mid = DrawnAt(On(s, 600, 300).topLeft());
    const auto down = StepAside(Window(mid), Drawn(mid), tall, s);
    ASSERT_TRUE(down);
    EXPECT_EQ(Drawn(*down).bottom(), s.bottom());
    EXPECT_FALSE(s.contains(Window(*down)));
    // No room on any side: the corner covering least, and asked again it does not wander.
    const QRect big = s.adjusted(40, 40, -40, -40);
    const QPoint centre = DrawnAt(s.center());
    const auto least = StepAside(Window(centre), Drawn(centre), big, s);
    ASSERT_TRUE(least);
    EXPECT_EQ(Covered(Drawn(*least), big), (90 - 40) * (110 - 40));
    EXPECT_FALSE(StepAside(Window(*least), Drawn(*least), big, s));
  }
}
