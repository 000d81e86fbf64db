#pragma once
// The names a screen reader gives a window's controls: every control a person can reach with the
// keyboard (on any page of a tab widget) has a name, and no two share one, or the user hears the
// same words for both and cannot tell which one is which.

#include <QAccessible>
#include <QHash>
#include <QStackedWidget>
#include <QStringList>
#include <QWidget>

namespace chimewise::testsupport {

struct AccessibleNameProblems {
  QStringList unnamed;   // "QLineEdit txtWait"
  QStringList repeated;  // "name: first / second"
};

// Hidden only as a page of a stack (an unchosen tab) counts as shown: its controls are a click
// away.
inline bool ShownInWindow(const QWidget* w, const QWidget* window) {
  for (; w && w != window; w = w->parentWidget())
    if (w->isHidden() && !qobject_cast<const QStackedWidget*>(w->parentWidget())) return false;
  return true;
}

inline QString Described(const QWidget* w) {
  return QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
}

inline AccessibleNameProblems CheckAccessibleNames(QWidget* window) {
  AccessibleNameProblems problems;
  QHash<QString, QString> seen;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !ShownInWindow(w, window)) continue;
    // The editor inside a spin box or an editable list speaks for its owner.
    if (QWidget* owner = w->parentWidget(); owner && owner->focusProxy() == w) continue;
    if (w->parentWidget() &&
        (w->parentWidget()->inherits("QComboBox") || w->parentWidget()->inherits("QAbstractSpinBox")))
      continue;
    // A tab widget is named by its tabs, which its tab bar carries.
    if (w->inherits("QTabWidget")) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a) continue;
    const QString name = a->text(QAccessible::Name).trimmed();
    if (name.isEmpty()) {
      problems.unnamed << Described(w);
      continue;
    }
    if (seen.contains(name))
      problems.repeated << name + QStringLiteral(": ") + seen[name] + QStringLiteral(" / ") + Described(w);
    seen.insert(name, Described(w));
  }
  return problems;
}

// Both kinds of problem in one list.
inline QStringList NameProblems(QWidget* window) {
  const AccessibleNameProblems problems = CheckAccessibleNames(window);
  return problems.unnamed + problems.repeated;
}

}  // namespace chimewise::testsupport
