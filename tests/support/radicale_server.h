#pragma once
// A real Radicale CalDAV server on 127.0.0.1 for the tests: started on a free port with a storage
// folder and a configuration of its own, ready once it accepts connections, killed and reaped when
// the object goes. Radicale is a Debian package (radicale); run with the system's Python.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// In a test's SetUp or body: a CalDAV server this machine cannot run (`why` says why; empty: it
// can) skips the test outside CI and fails it under CI (CI=true), where the server must be there.
#define CHIMEWISE_REQUIRE_SERVER(why)                                      \
  if (const QString why_ = (why); why_.isEmpty()) {                        \
  } else if (qEnvironmentVariable("CI") == QLatin1String("true")) {        \
    FAIL() << "CI=true and the server is missing: " << why_.toStdString(); \
  } else                                                                   \
    GTEST_SKIP() << why_.toStdString()

namespace chimewise::testsupport {

struct RadicaleOptions {
  QString user;  // empty: no authentication; otherwise a plain htpasswd file with this one user
  QString password;
  QString certificate;  // both set: https with this certificate and key (PEM files)
  QString key;
};

class RadicaleServer {
 public:
  // Why Radicale cannot be run here; empty when it can.
  static QString Unavailable();
  // A port nothing listens on at the moment.
  static int FreePort();

  explicit RadicaleServer(RadicaleOptions options = {});
  ~RadicaleServer() { kill(); }
  RadicaleServer(const RadicaleServer&) = delete;
  RadicaleServer& operator=(const RadicaleServer&) = delete;

  // False when it did not come up (within a bounded wait); error() says why.
  bool ready() const { return m_ready; }
  QString error() const { return m_error; }
  // http://127.0.0.1:<port><path> (https with a certificate)
  QUrl url(const QString& path = QStringLiteral("/")) const;
  void kill();
  // Starts it again after kill(), on the same port and storage; false when it did not come up.
  bool restart() {
    kill();
    return m_ready = start(m_port);
  }
  // The folder of a collection's resources ("/u/cal/" is <storage>/collection-root/u/cal).
  QString storage(const QString& collectionPath) const;

 private:
  bool start(int port);

  RadicaleOptions m_options;
  QTemporaryDir m_dir;
  QProcess m_process;
  int m_port = 0;
  bool m_ready = false;
  QString m_error;
};

// Waits (a bounded while) until `process` accepts connections on 127.0.0.1:`port`; empty when it
// does, else why not, with what it wrote to `log`.
QString WaitUntilListening(QProcess& process, int port, const QString& log, const QString& name);

}  // namespace chimewise::testsupport
