#pragma once
// Running the event loop from a test while something asynchronous happens: for a time, or until a
// condition holds. QtCore only, for the tests of the platform libraries as well.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace chimewise::testsupport {

// Runs the event loop for `ms` milliseconds of real time.
inline void RunEventsFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

// Runs the event loop until `done()` holds or timeoutMs has passed; true when it holds.
inline bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

}  // namespace chimewise::testsupport
