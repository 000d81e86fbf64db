#pragma once

#include "agent/character_file.h"

#include <QImage>
#include <QSize>

class QPainter;

namespace agent {

// Draws a character in a pose. `size` is the size on screen; the design is stretched to it,
// so every size is drawn from the vector parts and stays sharp.
void paintCharacter(QPainter& painter, const CharacterDefinition& character, const Pose& pose, QSizeF size);

// The pose drawn into a transparent image of `size`.
QImage renderCharacter(const CharacterDefinition& character, const Pose& pose, QSize size);

}  // namespace agent
