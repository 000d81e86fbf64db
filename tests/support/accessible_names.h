#pragma once
// Every control reachable with the keyboard (on any page of a tab widget) has a name for a screen
// reader, and no two share one.

#include <QAccessible>
#include <QHash>
#include <QStackedWidget>
#include <QStringList>
#include <QWidget>

namespace chimewise::testsupport {

// Hidden only as a page of a stack (an unchosen tab) counts as shown.
inline bool ShownInWindow(const QWidget* w, const QWidget* window) {
  for (; w && w != window; w = w->parentWidget())
    if (w->isHidden() && !qobject_cast<const QStackedWidget*>(w->parentWidget())) return false;
  return true;
}

inline QString Described(const QWidget* w) {
  return QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
}

// "QLineEdit txtWait" for a control without a name, "name: first / second" for a name given twice.
inline QStringList NameProblems(QWidget* window) {
  QStringList problems;
  QHash<QString, QString> seen;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !ShownInWindow(w, window)) continue;
    if (QWidget* owner = w->parentWidget(); owner && owner->focusProxy() == w) continue;
    if (w->parentWidget() &&
        (w->parentWidget()->inherits("QComboBox") || w->parentWidget()->inherits("QAbstractSpinBox")))
      continue;
    if (w->inherits("QTabWidget")) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a) continue;
    const QString name = a->text(QAccessible::Name).trimmed();
    if (name.isEmpty()) {
      problems << Described(w);
      continue;
    }
    if (seen.contains(name))
      problems << name + QStringLiteral(": ") + seen[name] + QStringLiteral(" / ") + Described(w);
    seen.insert(name, Described(w));
  }
  return problems;
}

}  // namespace chimewise::testsupport
