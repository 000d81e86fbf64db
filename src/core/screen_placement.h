#pragma once
// Where the character stands, as plain arithmetic on screen rectangles (Qt's device-independent
// pixels, so any DPI). For the guided tours: beside a control, at the side of a window, in the
// screen's corner, and where a toured window is centred. Every position keeps the character
// wholly inside the screen's available area, and off the control it talks about whenever the
// screen has room for that anywhere around it.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace chimewise {

// Keeps a box of `size` at `at` inside `area`; a box larger than the area keeps its top left corner
// on the area's top left.
QPoint ClampToArea(QPoint at, QSize size, const QRect& area);

// Beside a control, right of it by preference: the character's middle level with the control's
// middle. When there is no room on the right it stands left of the control, then below, then above.
QPoint BesideControl(const QRect& control, QSize character, const QRect& screen);

// Left of a window at the height of one of its controls (the character's middle level with the
// control's middle); when the window is too near the screen's left edge, right of the window; then
// beside the control itself.
QPoint LeftOfWindowAt(const QRect& window, const QRect& control, QSize character, const QRect& screen);

// Outside a window's upper left corner (the character's top level with the window's top); when
// there is no room there, outside its upper right corner; then above the window, then below it.
QPoint BesideWindow(const QRect& window, QSize character, const QRect& screen);

// The screen's lower right corner.
QPoint LowerRightCorner(QSize character, const QRect& screen);

// The top left corner that centres a window of `size` on the screen (a window larger than the
// screen keeps its top left corner on the screen).
QPoint CentredOrigin(QSize size, const QRect& screen);

}  // namespace chimewise
