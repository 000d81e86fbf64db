#pragma once
// A client of the desktop notification server (the org.freedesktop.Notifications interface on a
// D-Bus connection). It sends notifications and closes them, and reports back what the server
// says about them: the server's id, an action the user invoked, the notification closed, or a
// failure (no bus, no server, an error or no answer in time).
//
// Nothing here waits: every call to the server is asynchronous, and its answer comes back through
// the event loop as a signal. A missing server is a failure signal, never a hang. The client
// knows the notifications by handles of its own, given out at once by notify(); the server's ids
// arrive later. It remembers at most kMaxTracked notifications (the oldest is forgotten first), so
// a server that never closes anything cannot make it grow without bound.

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <deque>
#include <map>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace notify {

inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
inline const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

struct Notification {
  QString appName;
  QString appIcon;  // an icon name of the icon theme, or a file:// address; may be empty
  QString summary;
  QString body;
  // Pairs of (key, label): the label is shown, the key comes back in actionInvoked.
  QList<QPair<QString, QString>> actions;
  // Hints such as "urgency" (a byte: 0 low, 1 normal, 2 critical), "desktop-entry", "category".
  QVariantMap hints;
  int expireTimeoutMs = -1;  // -1: the server's default; 0: never
};

// Why the server closed a notification (the NotificationClosed reason).
enum class CloseReason : uint { Expired = 1, Dismissed = 2, Closed = 3, Undefined = 4 };

class NotificationClient final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxTracked = 64;
  static constexpr int kDefaultTimeoutMs = 5000;
  // Texts longer than this are cut before they are sent (a server may refuse a huge message).
  static constexpr int kMaxTextLength = 4000;

  // Talks to the server on `bus` (the session bus unless another connection is given).
  explicit NotificationClient(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~NotificationClient() override;
  Q_DISABLE_COPY_MOVE(NotificationClient)

  // How long a call may wait for the server's answer before it counts as failed.
  void setCallTimeout(int ms) { m_timeoutMs = ms; }

  // Sends a notification and returns its handle at once (never 0). Then either sent(handle, id)
  // or failed(handle, why) follows from the event loop.
  quint64 notify(const Notification& n);
  // Asks the server to close the notification (once its id is known: at once, else as soon as
  // it arrives). Unknown handles are ignored.
  void close(quint64 handle);

  // Whether the handle is still known (sent or on its way, not closed, not forgotten).
  bool tracked(quint64 handle) const { return m_byHandle.count(handle) != 0; }

 signals:
  void sent(quint64 handle, uint serverId);
  void failed(quint64 handle, const QString& why);
  void actionInvoked(quint64 handle, const QString& actionKey);
  void closed(quint64 handle, notify::CloseReason reason);

 private slots:
  void onActionInvoked(const QDBusMessage& message);
  void onNotificationClosed(const QDBusMessage& message);

 private:
  struct Tracked {
    uint serverId = 0;         // 0 until the server has answered
    QString server;            // the unique bus name that answered; signals must come from it
    bool closeWanted = false;  // close() came before the id
  };
  void onNotifyAnswered(quint64 handle, QDBusPendingCallWatcher* watcher);
  void sendClose(uint serverId);
  void track(quint64 handle);
  void forget(quint64 handle);
  quint64 handleOf(const QDBusMessage& message, uint serverId) const;
  void failLater(quint64 handle, const QString& why);

  QDBusConnection m_bus;
  int m_timeoutMs = kDefaultTimeoutMs;
  quint64 m_nextHandle = 1;
  std::map<quint64, Tracked> m_byHandle;
  std::deque<quint64> m_order;  // handles, oldest first
  bool m_listening = false;
};

}  // namespace notify
