#pragma once
// A QApplication for tests that need widgets or an event loop, created once per test binary.

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

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

// Runs the event loop for `ms` milliseconds of real time.
inline void RunEventsFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

// Runs the event loop until `done()` holds or `ms` milliseconds of real time have passed; the
// last look at `done()` decides.
template <typename Done>
bool RunEventsUntil(Done done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return done();
}

}  // namespace chimewise::testsupport
