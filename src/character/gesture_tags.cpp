#include "character/gesture_tags.h"

#include <QRegularExpression>

namespace chimewise {

namespace {
// Position of the first gesture marker ("\", any blanks, "PL="), or -1.
qsizetype findMarker(const QString& text) {
  static const QRegularExpression marker(QStringLiteral("\\\\ *pl="), QRegularExpression::CaseInsensitiveOption);
  const auto m = marker.match(text);
  return m.hasMatch() ? m.capturedStart() : -1;
}
}  // namespace

std::vector<SpeechStep> SplitGestureTags(const QString& input) {
  std::vector<SpeechStep> steps;
  QString text = input.trimmed();
  if (text.isEmpty()) return steps;
  for (qsizetype p = findMarker(text); p >= 0; p = findMarker(text)) {
    if (p > 0) {
      const QString before = text.left(p).trimmed();
      if (!before.isEmpty()) steps.push_back({SpeechStep::Speak, before});
      text = text.mid(p).trimmed();
      continue;
    }
    // The text starts with a marker: drop the blanks inside it, then "\PL=".
    while (text.size() > 3 && text.startsWith(QStringLiteral("\\ "))) text.remove(1, 1);
    text = text.size() >= 5 ? text.mid(4).trimmed() : QString();
    const qsizetype close = text.indexOf(u'\\');
    if (close > 0) {
      steps.push_back({SpeechStep::Play, text.left(close).trimmed()});
      text = text.mid(close + 1).trimmed();
    }
    // Without a closing backslash the marker is gone and the rest is spoken as it stands.
  }
  if (!text.isEmpty()) steps.push_back({SpeechStep::Speak, text});
  return steps;
}

}  // namespace chimewise
