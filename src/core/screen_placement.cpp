#include "core/screen_placement.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace chimewise {

namespace {

// The first place that lies inside the screen without covering `avoid`; failing that, the first
// one that does not cover it once pulled onto the screen.
std::optional<QPoint> FirstClear(const std::vector<QPoint>& candidates, QSize character, const QRect& avoid,
                                 const QRect& screen) {
  for (const QPoint p : candidates) {
    const QRect box(p, character);
    if (screen.contains(box) && !box.intersects(avoid)) return p;
  }
  for (const QPoint p : candidates) {
    const QPoint q = ClampToArea(p, character, screen);
    if (!QRect(q, character).intersects(avoid)) return q;
  }
  return std::nullopt;
}

// How much of `avoid` a box covers.
qint64 CoveredArea(const QRect& box, const QRect& avoid) {
  const QRect common = box.intersected(avoid);
  return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

// The top that puts the character's middle level with the middle of `r`, and the left that puts
// it level with the middle of `r` across.
int MiddleTop(const QRect& r, QSize character) { return r.top() + (r.height() - character.height()) / 2; }
int MiddleLeft(const QRect& r, QSize character) { return r.left() + (r.width() - character.width()) / 2; }

}  // namespace

QPoint FirstFree(const std::vector<QPoint>& candidates, QSize character, const QRect& avoid, const QRect& screen) {
  if (candidates.empty()) return ClampToArea(QPoint(), character, screen);
  if (const auto p = FirstClear(candidates, character, avoid, screen)) return *p;
  return ClampToArea(candidates.front(), character, screen);
}

std::optional<QPoint> StepAside(const QRect& window, const QRect& drawn, const QRect& avoid, const QRect& screen) {
  if (!drawn.intersects(avoid)) return std::nullopt;
  const QSize size = drawn.size();
  // The four sides, the shortest step first (on a tie: right, left, below, above).
  std::vector<QPoint> sides = {
      QPoint(avoid.left() + avoid.width(), drawn.top()), QPoint(avoid.left() - size.width(), drawn.top()),
      QPoint(drawn.left(), avoid.top() + avoid.height()), QPoint(drawn.left(), avoid.top() - size.height())};
  const auto step = [&drawn](QPoint p) { return std::abs(p.x() - drawn.left()) + std::abs(p.y() - drawn.top()); };
  std::stable_sort(sides.begin(), sides.end(), [&step](QPoint a, QPoint b) { return step(a) < step(b); });
  QPoint at = drawn.topLeft();
  if (const auto clear = FirstClear(sides, size, avoid, screen)) {
    at = *clear;
  } else {
    // No room anywhere: on the screen, covering as little of `avoid` as it can; it stays where it
    // is unless that is less than now, so that looking again never moves it on.
    // The corners count too: a corner of the screen may cover less than any side.
    qint64 least = CoveredArea(drawn, avoid);
    for (const int x : {avoid.left() + avoid.width(), avoid.left() - size.width(), drawn.left()})
      for (const int y : {avoid.top() + avoid.height(), avoid.top() - size.height(), drawn.top()}) {
        const QPoint q = ClampToArea(QPoint(x, y), size, screen);
        if (const qint64 covered = CoveredArea(QRect(q, size), avoid); covered < least) {
          least = covered;
          at = q;
        }
      }
    if (at == drawn.topLeft()) return std::nullopt;
  }
  // The window keeps its margins around the drawing.
  return window.topLeft() + (at - drawn.topLeft());
}

QPoint ClampToArea(QPoint at, QSize size, const QRect& area) {
  const int x = std::max(area.left(), std::min(at.x(), area.left() + area.width() - size.width()));
  const int y = std::max(area.top(), std::min(at.y(), area.top() + area.height() - size.height()));
  return {x, y};
}

QPoint BesideControl(const QRect& control, QSize character, const QRect& screen) {
  const int top = MiddleTop(control, character);
  const int left = MiddleLeft(control, character);
  return FirstFree({QPoint(control.left() + control.width(), top), QPoint(control.left() - character.width(), top),
                    QPoint(left, control.top() + control.height()), QPoint(left, control.top() - character.height())},
                   character, control, screen);
}

QPoint LeftOfWindowAt(const QRect& window, const QRect& control, QSize character, const QRect& screen) {
  const int top = MiddleTop(control, character);
  const int left = MiddleLeft(control, character);
  return FirstFree({QPoint(window.left() - character.width(), top), QPoint(window.left() + window.width(), top),
                    QPoint(control.left() + control.width(), top), QPoint(control.left() - character.width(), top),
                    QPoint(left, control.top() + control.height()), QPoint(left, control.top() - character.height())},
                   character, control, screen);
}

QPoint BesideWindow(const QRect& window, QSize character, const QRect& screen) {
  return FirstFree(
      {QPoint(window.left() - character.width(), window.top()), QPoint(window.left() + window.width(), window.top()),
       QPoint(window.left(), window.top() - character.height()), QPoint(window.left(), window.top() + window.height())},
      character, window, screen);
}

QPoint LowerRightCorner(QSize character, const QRect& screen) {
  return ClampToArea(
      QPoint(screen.left() + screen.width() - character.width(), screen.top() + screen.height() - character.height()),
      character, screen);
}

QPoint CentredOrigin(QSize size, const QRect& screen) {
  return ClampToArea(
      QPoint(screen.left() + (screen.width() - size.width()) / 2, screen.top() + (screen.height() - size.height()) / 2),
      size, screen);
}

}  // namespace chimewise
