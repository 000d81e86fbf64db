#pragma once
// Where the character stands, as plain arithmetic on screen rectangles (Qt's device-independent
// pixels, so any DPI). For the guided tours: beside a control, at the side of a window, in the
// screen's corner, and where a toured window is centred. For every day: out of the way of a
// dialog it covers. Every position keeps the character wholly inside the screen's available area,
// and off the rectangle it must not cover whenever the screen has room for that anywhere around it.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>
#include <vector>

namespace chimewise {

// Keeps a box of `size` at `at` inside `area`; a box larger than the area keeps its top left corner
// on the area's top left.
QPoint ClampToArea(QPoint at, QSize size, const QRect& area);

// The first of `candidates` (top left corners of a box of `character`'s size) that lies inside the
// screen without covering `avoid`; failing that, the first that does not cover it once pulled onto
// the screen; failing that, the first pulled onto the screen (a screen too small for both).
QPoint FirstFree(const std::vector<QPoint>& candidates, QSize character, const QRect& avoid, const QRect& screen);

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

// Where the character's window goes so that its drawing no longer covers `avoid` (a dialog the
// user must read or answer): the new top left corner of the window, or nullopt when the drawing
// does not cover `avoid` now. `window` is the character's window and `drawn` its opaque drawing
// on the screen (the window minus its transparent margins, which may cover anything). The
// drawing moves the shortest way out: to the right of `avoid`, its left, below or above it,
// whichever is the shortest step that leaves it wholly on the screen. When no side has room, the
// drawing is pulled onto the screen at the side or corner that then covers least of `avoid`; nullopt too
// when none of them covers less than the drawing does where it is.
std::optional<QPoint> StepAside(const QRect& window, const QRect& drawn, const QRect& avoid, const QRect& screen);

}  // namespace chimewise
