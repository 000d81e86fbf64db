#pragma once
// One running instance per user. The first start holds a lock file and listens on a local socket;
// a later start finds the lock taken, hands its command line to the running instance and ends.

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QSocketNotifier;

namespace instance {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // key names the instance: its lock file and its socket in the user's runtime folder.
  explicit SingleInstance(QString key, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is now the running instance (it then listens for later starts).
  bool becomePrimary();

  // From a later start: hands commandLine to the running instance. False when it could not be
  // delivered within timeoutMs.
  bool sendToPrimary(const QString& commandLine, int timeoutMs = 3000) const;

  QString serverName() const;

 signals:
  // A later start's command line, as it was typed.
  void commandLineReceived(const QString& commandLine);

 private:
  void onNewConnection();
  void onReadable(int fd);
  void closeConnection(int fd);

  struct Connection {
    QSocketNotifier* notifier = nullptr;
    QByteArray pending;  // bytes of a line not yet complete
  };

  QString m_key;
  std::unique_ptr<QLockFile> m_lock;
  int m_listener = -1;
  QSocketNotifier* m_listening = nullptr;
  std::map<int, Connection> m_connections;
};

}  // namespace instance
