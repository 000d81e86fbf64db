#include "core/screen_placement.h"

#include <algorithm>
#include <initializer_list>

namespace chimewise {

namespace {

// The first place that lies inside the screen without covering `avoid`; failing that, the first
// one that does not cover it once pulled onto the screen; failing that, the first pulled onto the
// screen (a screen too small for both).
QPoint FirstFree(std::initializer_list<QPoint> candidates, QSize character, const QRect& avoid, const QRect& screen) {
  for (const QPoint p : candidates) {
    const QRect box(p, character);
    if (screen.contains(box) && !box.intersects(avoid)) return p;
  }
  for (const QPoint p : candidates) {
    const QPoint q = ClampToArea(p, character, screen);
    if (!QRect(q, character).intersects(avoid)) return q;
  }
  return ClampToArea(*candidates.begin(), character, screen);
}

// The top that puts the character's middle level with the middle of `r`, and the left that puts
// it level with the middle of `r` across.
int MiddleTop(const QRect& r, QSize character) { return r.top() + (r.height() - character.height()) / 2; }
int MiddleLeft(const QRect& r, QSize character) { return r.left() + (r.width() - character.width()) / 2; }

}  // namespace

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
