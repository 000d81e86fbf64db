#pragma once
// A real Xandikos CalDAV server on 127.0.0.1 for the tests, beside Radicale (radicale_server.h):
// started on a free port with a storage folder of its own and its default calendar
// (/user/calendars/calendar/), ready once it accepts connections, killed and reaped when the
// object goes. Xandikos takes no credentials. A Debian package (xandikos).

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

namespace chimewise::testsupport {

class XandikosServer {
 public:
  // Why Xandikos cannot be run here; empty when it can.
  static QString Unavailable();

  XandikosServer();
  ~XandikosServer() { kill(); }
  XandikosServer(const XandikosServer&) = delete;
  XandikosServer& operator=(const XandikosServer&) = delete;

  bool ready() const { return m_ready; }
  QString error() const { return m_error; }
  // http://127.0.0.1:<port><path>
  QUrl url(const QString& path = QStringLiteral("/")) const;
  // Its calendar for events.
  QUrl calendar() const { return url(QStringLiteral("/user/calendars/calendar/")); }
  void kill();

 private:
  bool start(int port);

  QTemporaryDir m_dir;
  QProcess m_process;
  int m_port = 0;
  bool m_ready = false;
  QString m_error;
};

}  // namespace chimewise::testsupport
