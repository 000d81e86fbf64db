#pragma once
// A desktop of a test binary's own: an X server (Xvfb) with openbox, there before the application
// connects to the display, so windows are judged under a real window manager and keys and clicks
// come as real X events from xdotool. Register it as a global test environment; a test skips when
// `missing` says what could not be started.

#include "support/event_wait.h"
#include "support/private_x_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtGui/qwindowdefs.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace chimewise::testsupport {

class WindowManagerDesktop final : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) missing = QString::fromLatin1(tool);
    if (!missing.isEmpty()) return;
    server = std::make_unique<PrivateXServer>();
    if (server->display().isEmpty()) {
      missing = QStringLiteral("a display");
      return;
    }
    qputenv("DISPLAY", server->display().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    wm.setProgram(QStringLiteral("openbox"));
    wm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    wm.setStandardOutputFile(QProcess::nullDevice());
    wm.start();
    // Ready once it has announced itself on the root window.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && !run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"))
      QThread::msleep(50);
  }
  void TearDown() override {
    if (wm.state() != QProcess::NotRunning) {
      wm.terminate();
      wm.waitForFinished(3000);
    }
    server.reset();
  }
  // Runs a tool to its end, the application's events handled meanwhile when there is one; its output.
  static QString run(const QStringList& command) {
    QProcess p;
    p.start(command.first(), command.mid(1));
    if (!p.waitForStarted(5000)) return {};
    if (QCoreApplication::instance())
      RunEventsUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
    else
      p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
  }
  // xdotool with `args`.
  static QString xdotool(QStringList args) {
    args.prepend(QStringLiteral("xdotool"));
    return run(args);
  }
  // Gives the window manager's focus to the window with X id `window` (a window just hidden may
  // hold it for a moment); whether the application then sees `active()`.
  static bool activate(WId window, const std::function<bool()>& active) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      xdotool({"windowactivate", "--sync", QString::number(window)});
      if (RunEventsUntil(active, 1000)) return true;
    }
    return false;
  }

  QString missing;
  std::unique_ptr<PrivateXServer> server;
  QProcess wm;
};

}  // namespace chimewise::testsupport
