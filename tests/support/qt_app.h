#pragma once
// A QApplication for tests that need widgets or an event loop, created once per test binary.

#include "support/event_wait.h"

#include <QApplication>

namespace chimewise::testsupport {

inline QApplication& EnsureQtApp() {
  static int argc = 1;
  static char name[] = "chimewise-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Olm Chimewise"));
    return a;
  }();
  return *app;
}

// The first shown top-level window of type W; null when none.
template <class W>
W* Shown() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) return found;
  return nullptr;
}

}  // namespace chimewise::testsupport
