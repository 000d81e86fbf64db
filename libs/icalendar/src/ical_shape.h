#pragma once
// A cheap look at a calendar's text before libical parses it: how deep its components nest, how
// many there are, how long its lines are. libical frees components recursively, one stack frame
// per level, and keeps every line whole in memory: past these bounds a file is refused.

#include "icalendar/icalendar.h"

#include <QByteArray>
#include <QString>

namespace icalendar::backend {

// Why the text is refused; empty when it is within the bounds of `options`.
QString CheckShape(const QByteArray& text, const ReadOptions& options);

}  // namespace icalendar::backend
