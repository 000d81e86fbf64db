#pragma once
// A desktop notification server of a test's own on the given connection: records every Notify and
// CloseNotification, answers with ids from 1 on (never, with `answer` false), and sends
// ActionInvoked and NotificationClosed when told. QtCore and QtDBus only.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <vector>

namespace chimewise::testsupport {

struct NotifyCall {
  QString appName;
  uint replacesId = 0;
  QString appIcon;
  QString summary;
  QString body;
  QStringList actions;
  QVariantMap hints;
  int expireTimeout = 0;
  uint id = 0;  // the id answered
};

class NotificationServer : public QDBusVirtualObject {
 public:
  static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
  static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
  static inline const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
  explicit NotificationServer(QDBusConnection bus) : m_bus(bus) {
    m_registered =
        m_bus.registerVirtualObject(kPath, this, QDBusConnection::SingleNode) && m_bus.registerService(kService);
  }
  ~NotificationServer() override {
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
  }
  bool registered() const { return m_registered; }
  std::atomic<bool> answer{true};  // read on the bus's thread
  std::vector<NotifyCall> calls() const {
    QMutexLocker lock(&m_mutex);
    return m_calls;
  }
  std::vector<uint> closeCalls() const {
    QMutexLocker lock(&m_mutex);
    return m_closeCalls;
  }
  void invokeAction(uint id, const QString& key) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"));
    signal << id << key;
    m_bus.send(signal);
  }
  void closeNotification(uint id, uint reason) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("NotificationClosed"));
    signal << id << reason;
    m_bus.send(signal);
  }
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.freedesktop.Notifications\">"
        "<method name=\"Notify\"><arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/>"
        "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"as\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"in\"/><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"u\" direction=\"out\"/></method>"
        "<method name=\"CloseNotification\"><arg type=\"u\" direction=\"in\"/></method>"
        "<signal name=\"ActionInvoked\"><arg type=\"u\"/><arg type=\"s\"/></signal>"
        "<signal name=\"NotificationClosed\"><arg type=\"u\"/><arg type=\"u\"/></signal>"
        "</interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.interface() != kInterface) return false;
    const QList<QVariant> a = message.arguments();
    if (message.member() == QLatin1String("Notify") && a.size() == 8) {
      NotifyCall c;
      c.appName = a[0].toString();
      c.replacesId = a[1].toUInt();
      c.appIcon = a[2].toString();
      c.summary = a[3].toString();
      c.body = a[4].toString();
      c.actions = a[5].toStringList();
      c.hints = qdbus_cast<QVariantMap>(a[6]);
      c.expireTimeout = a[7].toInt();
      {
        QMutexLocker lock(&m_mutex);
        c.id = ++m_lastId;
        m_calls.push_back(c);
      }
      if (answer) connection.send(message.createReply(QVariant::fromValue(c.id)));
      return true;
    }
    if (message.member() == QLatin1String("CloseNotification") && a.size() == 1) {
      {
        QMutexLocker lock(&m_mutex);
        m_closeCalls.push_back(a[0].toUInt());
      }
      if (answer) connection.send(message.createReply());
      return true;
    }
    return false;
  }

 private:
  QDBusConnection m_bus;
  bool m_registered = false;
  mutable QMutex m_mutex;
  std::vector<NotifyCall> m_calls;
  std::vector<uint> m_closeCalls;
  uint m_lastId = 0;
};

}  // namespace chimewise::testsupport
