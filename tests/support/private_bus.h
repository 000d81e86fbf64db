#pragma once
// A dbus-daemon of a test's own, stopped with it: nothing reaches the user's session bus.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

namespace chimewise::testsupport {

class PrivateBus {
 public:
  PrivateBus() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                           QStringLiteral("--print-address=1")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    // The bus goes with the test also when the test is killed before its destructors run.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired()) m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
  }
  ~PrivateBus() {
    for (const QString& name : m_connections) QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
      m_daemon.terminate();
      if (!m_daemon.waitForFinished(3000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(3000);
      }
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // Empty when no bus could be started (dbus-daemon missing).
  QString address() const { return m_address; }
  bool running() const { return !m_address.isEmpty() && m_daemon.state() == QProcess::Running; }
  // A new connection to the bus under a name of its own; closed with the bus.
  QDBusConnection connect(const QString& name) {
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
  }

 private:
  QProcess m_daemon;
  QString m_address;
  QStringList m_connections;
};

}  // namespace chimewise::testsupport
