#pragma once
// A picture of a tour moment: the toured window and the character where they stand on the screen,
// drawn into one image (for the screenshot script and for looking at placements without a
// desktop). Taken at a wait, the character has finished its move.

#include <QImage>

class QWidget;

namespace agent {
class Character;
}

namespace chimewise {

// The smallest part of the screen holding the window and the character, with the window's
// contents and the character in its present pose drawn where they are; the rest is light grey.
QImage TourSnapshot(QWidget& window, const agent::Character& character);

}  // namespace chimewise
