#pragma once
// A throwaway Dovecot on 127.0.0.1, user "alice" (password "secret") whose Maildir the test fills
// first. It needs root (the mail user is uid 65534) and dovecot; Skipped() says why not.

#include "libs/mailbox/sample_messages.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

namespace mailbox::testing {

class DovecotServer {
 public:
  DovecotServer() : m_maildir(m_dir.filePath("home/alice/Maildir")) {
    m_binary = QStandardPaths::findExecutable("dovecot", {"/usr/sbin", "/usr/local/sbin"});
    if (m_binary.isEmpty())
      m_skip = "dovecot is not installed (package dovecot-imapd)";
    else if (geteuid() != 0)
      m_skip = "a throwaway dovecot needs root to run its mail user as uid 65534";
  }
  ~DovecotServer() { Stop(); }

  QString Skipped() const { return m_skip; }  // empty when the server can run here
  Maildir& maildir() { return m_maildir; }
  QString address() const { return QStringLiteral("imap://127.0.0.1:%1").arg(m_port); }

  // Starts the server and waits until it takes connections.
  bool Start(QString* error) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    m_port = probe.serverPort();
    probe.close();
    const QString t = m_dir.path();
    for (const char* d : {"run", "state"}) QDir().mkpath(t + u'/' + QLatin1String(d));
    chmod(t.toLocal8Bit().constData(), 0755);
    write(t + "/users", QStringLiteral("alice:{PLAIN}secret:65534:65534::%1/home/alice::\n").arg(t).toUtf8());
    write(t + "/dovecot.conf", QStringLiteral("base_dir = %1/run\nstate_dir = %1/state\nlog_path = %1/dovecot.log\n"
                                              "protocols = imap\nlisten = 127.0.0.1\nssl = no\n"
                                              "disable_plaintext_auth = no\nauth_failure_delay = 0\n"
                                              "mail_location = maildir:~/Maildir\n"
                                              "passdb {\n driver = passwd-file\n args = %1/users\n}\n"
                                              "userdb {\n driver = passwd-file\n args = %1/users\n}\n"
                                              "service imap-login {\n inet_listener imap {\n port = %2\n }\n"
                                              " inet_listener imaps {\n port = 0\n }\n}\n")
                                   .arg(t)
                                   .arg(m_port)
                                   .toUtf8());
    QProcess::execute("chown", {"-R", "65534:65534", t + "/home"});
    m_process.setProgram(m_binary);
    m_process.setArguments({"-F", "-c", t + "/dovecot.conf"});
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    m_process.waitForStarted(10000);
    // Ready once it accepts a connection; each try waits for the socket, nothing spins.
    for (int i = 0; i < 100 && m_process.state() == QProcess::Running; ++i) {
      QTcpSocket s;
      s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
      if (s.waitForConnected(200)) return true;
      m_process.waitForFinished(100);
    }
    *error = "dovecot did not come up: " + m_process.errorString() + QString::fromUtf8(m_process.readAll());
    return false;
  }

  void Stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) m_process.kill(), m_process.waitForFinished(5000);
  }

 private:
  static void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
  }

  QTemporaryDir m_dir;
  Maildir m_maildir;
  QString m_binary;
  QString m_skip;
  QProcess m_process;
  int m_port = 0;
};

}  // namespace mailbox::testing
