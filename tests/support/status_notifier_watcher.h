#pragma once
// A StatusNotifierWatcher of a test's own on the given connection: says a host is registered and
// records the items that register. Serve it from another process than the program's (Qt asks it
// with calls that wait). QtCore and QtDBus only.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QVariantMap>

namespace chimewise::testsupport {

class StatusNotifierWatcher : public QDBusVirtualObject {
 public:
  static inline const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
  static inline const QString kPath = QStringLiteral("/StatusNotifierWatcher");
  explicit StatusNotifierWatcher(QDBusConnection bus) : m_bus(bus) {
    m_registered =
        m_bus.registerVirtualObject(kPath, this, QDBusConnection::SingleNode) && m_bus.registerService(kService);
  }
  ~StatusNotifierWatcher() override {
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
  }
  bool registered() const { return m_registered; }
  // The bus names of the items registered so far.
  QStringList items() const {
    QMutexLocker lock(&m_mutex);
    return m_items;
  }
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
        "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
        "</interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QList<QVariant> a = message.arguments();
    if (message.interface() == kService) {
      if (message.member() == QLatin1String("RegisterStatusNotifierItem") && a.size() == 1) {
        QString item = a[0].toString();
        if (item.startsWith(u'/')) item = message.service();
        {
          QMutexLocker lock(&m_mutex);
          m_items << item;
        }
        connection.send(message.createReply());
        return true;
      }
      if (message.member() == QLatin1String("RegisterStatusNotifierHost")) {
        connection.send(message.createReply());
        return true;
      }
      return false;
    }
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
      const QVariantMap all = properties();
      if (message.member() == QLatin1String("Get") && a.size() == 2 && all.contains(a[1].toString())) {
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(a[1].toString())))));
        return true;
      }
      if (message.member() == QLatin1String("GetAll")) {
        connection.send(message.createReply(all));
        return true;
      }
    }
    return false;
  }

 private:
  QVariantMap properties() const {
    return {{QStringLiteral("IsStatusNotifierHostRegistered"), true},
            {QStringLiteral("ProtocolVersion"), 0},
            {QStringLiteral("RegisteredStatusNotifierItems"), items()}};
  }
  QDBusConnection m_bus;
  bool m_registered = false;
  mutable QMutex m_mutex;
  QStringList m_items;
};

}  // namespace chimewise::testsupport
