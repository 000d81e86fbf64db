#pragma once

#include <QPainterPath>
#include <QString>

namespace agent {

// Parses SVG path data (M L H V C S Q T A Z, absolute and relative). On failure returns false
// and says where in `error`. Stops, failing, as soon as `path` holds more than `maxElements`
// elements, so that a long path costs no more than the caller allows.
bool parsePathData(const QString& data, QPainterPath& path, QString& error, int maxElements);

}  // namespace agent
