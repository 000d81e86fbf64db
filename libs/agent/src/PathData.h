#pragma once

#include <QPainterPath>
#include <QString>

namespace agent {

// Parses SVG path data (M L H V C S Q T A Z, absolute and relative). On failure returns false
// and says where in `error`.
bool parsePathData(const QString& data, QPainterPath& path, QString& error);

}  // namespace agent
