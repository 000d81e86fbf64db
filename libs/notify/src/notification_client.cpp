#include "notify/notification_client.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QTimer>

namespace notify {

namespace {

QString Bounded(const QString& text) {
  return text.size() > NotificationClient::kMaxTextLength ? text.left(NotificationClient::kMaxTextLength) : text;
}

}  // namespace

NotificationClient::NotificationClient(QDBusConnection bus, QObject* parent) : QObject(parent), m_bus(std::move(bus)) {
  if (!m_bus.isConnected()) return;
  // Signals are taken from any sender here: naming the service would make the connection look up
  // its owner, a call that waits. Each signal is checked against the bus name that answered the
  // notification it names.
  const bool invoked = m_bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                                     SLOT(onActionInvoked(QDBusMessage)));
  const bool closedHook = m_bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                                        SLOT(onNotificationClosed(QDBusMessage)));
  m_listening = invoked && closedHook;
}

NotificationClient::~NotificationClient() {
  if (!m_listening) return;
  m_bus.disconnect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                   SLOT(onActionInvoked(QDBusMessage)));
  m_bus.disconnect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                   SLOT(onNotificationClosed(QDBusMessage)));
}

quint64 NotificationClient::notify(const Notification& n) {
  const quint64 handle = m_nextHandle++;
  if (!m_bus.isConnected()) {
    failLater(handle, QStringLiteral("no session bus"));
    return handle;
  }
  QStringList actions;
  for (const auto& [key, label] : n.actions) actions << key << Bounded(label);
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << Bounded(n.appName) << uint(0) << Bounded(n.appIcon) << Bounded(n.summary) << Bounded(n.body) << actions
       << n.hints << qint32(n.expireTimeoutMs);
  // Not started by the bus on our behalf: a server that is not running is a failure now, not a
  // wait for one to come up.
  call.setAutoStartService(false);
  track(handle);
  auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, handle](QDBusPendingCallWatcher* w) { onNotifyAnswered(handle, w); });
  return handle;
}

void NotificationClient::onNotifyAnswered(quint64 handle, QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  const QDBusPendingReply<uint> reply = *watcher;
  auto it = m_byHandle.find(handle);
  if (reply.isError()) {
    if (it != m_byHandle.end()) forget(handle);
    emit failed(handle, reply.error().name() + QStringLiteral(": ") + reply.error().message());
    return;
  }
  const uint id = reply.value();
  if (it == m_byHandle.end()) {
    // Forgotten meanwhile (too many notifications on their way): the server's one goes too.
    sendClose(id);
    return;
  }
  it->second.serverId = id;
  it->second.server = reply.reply().service();
  if (it->second.closeWanted) {
    sendClose(id);
    forget(handle);
    return;
  }
  emit sent(handle, id);
}

void NotificationClient::close(quint64 handle) {
  auto it = m_byHandle.find(handle);
  if (it == m_byHandle.end()) return;
  if (it->second.serverId == 0) {
    it->second.closeWanted = true;
    return;
  }
  sendClose(it->second.serverId);
  forget(handle);
}

void NotificationClient::sendClose(uint serverId) {
  if (!m_bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
  call << serverId;
  call.setAutoStartService(false);
  // Nobody waits for the answer: the watcher only takes the reply (or its error) away.
  auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

quint64 NotificationClient::handleOf(const QDBusMessage& message, uint serverId) const {
  if (serverId == 0) return 0;
  for (const auto& [handle, t] : m_byHandle)
    if (t.serverId == serverId && t.server == message.service()) return handle;
  return 0;
}

void NotificationClient::onActionInvoked(const QDBusMessage& message) {
  const QList<QVariant> args = message.arguments();
  if (message.signature() != QLatin1String("us") || args.size() != 2) return;
  const quint64 handle = handleOf(message, args.at(0).toUInt());
  if (handle == 0) return;
  emit actionInvoked(handle, args.at(1).toString().left(kMaxTextLength));
}

void NotificationClient::onNotificationClosed(const QDBusMessage& message) {
  const QList<QVariant> args = message.arguments();
  if (message.signature() != QLatin1String("uu") || args.size() != 2) return;
  const quint64 handle = handleOf(message, args.at(0).toUInt());
  if (handle == 0) return;
  uint reason = args.at(1).toUInt();
  if (reason < 1 || reason > 4) reason = static_cast<uint>(CloseReason::Undefined);
  forget(handle);
  emit closed(handle, static_cast<CloseReason>(reason));
}

void NotificationClient::track(quint64 handle) {
  m_byHandle.emplace(handle, Tracked{});
  m_order.push_back(handle);
  while (m_order.size() > static_cast<size_t>(kMaxTracked)) {
    const quint64 oldest = m_order.front();
    m_order.pop_front();
    m_byHandle.erase(oldest);
  }
}

void NotificationClient::forget(quint64 handle) {
  m_byHandle.erase(handle);
  for (auto it = m_order.begin(); it != m_order.end(); ++it)
    if (*it == handle) {
      m_order.erase(it);
      break;
    }
}

void NotificationClient::failLater(quint64 handle, const QString& why) {
  // From the event loop, as every other answer: the caller has its handle before it hears of it.
  QTimer::singleShot(0, this, [this, handle, why] { emit failed(handle, why); });
}

}  // namespace notify
