#pragma once
// An Xvfb of a test's own on a free display, stopped with it (also when the test is killed).

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

namespace chimewise::testsupport {

class PrivateXServer {
 public:
  explicit PrivateXServer(const QString& screen = QStringLiteral("1280x800x24")) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) return;
    // Xvfb picks a free display and writes its number to standard output.
    m_server.setProgram(xvfb);
    m_server.setArguments({"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"});
    m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_server.start();
    if (!m_server.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(15000);
    while (!m_server.canReadLine() && !deadline.hasExpired()) m_server.waitForReadyRead(100);
    if (m_server.canReadLine()) m_display = ":" + QString::fromUtf8(m_server.readLine()).trimmed();
  }
  ~PrivateXServer() {
    if (m_server.state() == QProcess::NotRunning) return;
    m_server.terminate();
    if (!m_server.waitForFinished(3000)) m_server.kill();
    m_server.waitForFinished(3000);
  }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;
  // ":N", or empty when no server could be started (Xvfb missing).
  QString display() const { return m_display; }

 private:
  QProcess m_server;
  QString m_display;
};

}  // namespace chimewise::testsupport
