#pragma once
// The access keys of a window's controls, as a user reaches them with Alt: every button, check or
// radio box and every label with a buddy that is inside one of `pages` (each page looked at with
// the controls in `everywhere`, such as a dialog's own buttons, which every page shows). A key two
// controls of one page share only moves between them, so what is typed next lands in the wrong one.

#include <QAbstractButton>
#include <QKeySequence>
#include <QLabel>
#include <QMap>
#include <QStringList>
#include <QWidget>

namespace chimewise::testsupport {

struct AccessKeyProblems {
  QStringList repeated;  // "Alt+X: first caption / second caption"
  QStringList missing;   // captions without a key
};

inline QString CaptionOf(const QWidget* w) {
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->buddy() ? l->text() : QString();
  return {};
}

// `exempt`: controls that need no key of their own (OK and Cancel answer Enter and Escape).
inline AccessKeyProblems CheckAccessKeys(const QList<QWidget*>& pages, const QList<QWidget*>& everywhere,
                                         const QList<QWidget*>& exempt = {}) {
  AccessKeyProblems problems;
  for (QWidget* page : pages) {
    QList<QWidget*> controls = page->findChildren<QWidget*>();
    controls += everywhere;
    QMap<QString, QString> seen;
    for (QWidget* w : controls) {
      const QString caption = CaptionOf(w);
      if (caption.isEmpty() || exempt.contains(w)) continue;
      const QString key = QKeySequence::mnemonic(caption).toString();
      if (key.isEmpty()) {
        problems.missing << caption;
        continue;
      }
      if (seen.contains(key))
        problems.repeated << key + QStringLiteral(": ") + seen[key] + QStringLiteral(" / ") + caption;
      seen.insert(key, caption);
    }
  }
  return problems;
}

}  // namespace chimewise::testsupport
