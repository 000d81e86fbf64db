#include <notify/notification_client.h>

#include "support/event_wait.h"
#include "support/notification_server.h"
#include "support/private_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using chimewise::testsupport::NotificationServer;
using chimewise::testsupport::PrivateBus;
using chimewise::testsupport::RunEventsFor;
using chimewise::testsupport::RunEventsUntil;
using notify::CloseReason;
using notify::Notification;
using notify::NotificationClient;

// What the client reported, in order.
struct Heard {
  std::vector<std::pair<quint64, uint>> sent;
  std::vector<std::pair<quint64, QString>> failed;
  std::vector<std::pair<quint64, QString>> actions;
  std::vector<std::pair<quint64, CloseReason>> closed;

  void listen(NotificationClient& c) {
    QObject::connect(&c, &NotificationClient::sent, [this](quint64 h, uint id) { sent.emplace_back(h, id); });
    QObject::connect(&c, &NotificationClient::failed,
                     [this](quint64 h, const QString& w) { failed.emplace_back(h, w); });
    QObject::connect(&c, &NotificationClient::actionInvoked,
                     [this](quint64 h, const QString& k) { actions.emplace_back(h, k); });
    QObject::connect(&c, &NotificationClient::closed, [this](quint64 h, CloseReason r) { closed.emplace_back(h, r); });
  }
};

Notification Sample() {
  return {"Chime Test",
          "chime-test",
          "Call the dentist",
          "Tuesday 10:30",
          {{"snooze", "Later"}, {"open", "Open"}},
          {{"urgency", QVariant::fromValue<uchar>(2)}, {"desktop-entry", "chime-test"}},
          0};
}

class NotificationClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "notify-tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    (void)app;
  }
  void SetUp() override {
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not be started";
    clientBus = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("client")));
    serverBus = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("server")));
    ASSERT_TRUE(clientBus->isConnected());
    ASSERT_TRUE(serverBus->isConnected());
    client = std::make_unique<NotificationClient>(*clientBus);
    heard.listen(*client);
  }
  void TearDown() override { server.reset(); }  // before its bus closes under it
  void startServer() {
    server = std::make_unique<NotificationServer>(*serverBus);
    ASSERT_TRUE(server->registered());
  }

  PrivateBus bus;
  std::unique_ptr<QDBusConnection> clientBus;
  std::unique_ptr<QDBusConnection> serverBus;
  std::unique_ptr<NotificationServer> server;
  std::unique_ptr<NotificationClient> client;
  Heard heard;
};

// Everything reaches the server; only the server's own signals about our notifications are heard,
// and a closed one's actions no longer are.
TEST_F(NotificationClientTest, SendsEverythingAndHearsActionsAndClosingOfItsOwnNotificationsOnly) {
  startServer();
  const quint64 first = client->notify(Sample());
  const quint64 second = client->notify(Sample());
  EXPECT_NE(first, second);
  ASSERT_TRUE(RunEventsUntil([&] { return heard.sent.size() == 2; }, 10000));
  const auto call = server->calls()[0];
  EXPECT_EQ(QStringList({call.appName, call.appIcon, call.summary, call.body}),
            QStringList({"Chime Test", "chime-test", "Call the dentist", "Tuesday 10:30"}));
  EXPECT_EQ(call.actions, QStringList({"snooze", "Later", "open", "Open"}));
  EXPECT_EQ(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
  EXPECT_EQ(call.hints.value("desktop-entry").toString(), "chime-test");
  EXPECT_EQ(heard.sent[1], std::make_pair(second, server->calls()[1].id));

  NotificationServer impostor(bus.connect(QStringLiteral("impostor")));
  impostor.invokeAction(server->calls()[0].id, QStringLiteral("open"));
  server->invokeAction(server->calls()[1].id, QStringLiteral("snooze"));
  server->invokeAction(999, QStringLiteral("open"));  // not ours
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.actions.empty(); }, 10000));
  server->closeNotification(server->calls()[0].id, 2);
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.closed.empty(); }, 10000));
  EXPECT_EQ(heard.closed[0], std::make_pair(first, CloseReason::Dismissed));
  EXPECT_FALSE(client->tracked(first));
  server->invokeAction(server->calls()[0].id, QStringLiteral("open"));
  RunEventsFor(100);
  ASSERT_EQ(heard.actions.size(), 1u);
  EXPECT_EQ(heard.actions[0], std::make_pair(second, QStringLiteral("snooze")));
  // Closed when asked, also before the server's id came.
  const quint64 early = client->notify(Sample());
  client->close(early);
  client->close(second);
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 2; }, 10000));
  EXPECT_EQ(server->closeCalls(), std::vector<uint>({server->calls()[1].id, server->calls()[2].id}));
  EXPECT_EQ(heard.sent.size(), 2u);  // the early one never counted as shown
  EXPECT_TRUE(heard.failed.empty());
}

// No server, a server that never answers, no bus at all: each is a failure reported from the
// event loop, soon, and the client stays usable.
TEST_F(NotificationClientTest, AMissingOrSilentServerOrBusIsAFailureNotAWait) {
  const quint64 h = client->notify(Sample());
  EXPECT_TRUE(heard.failed.empty());  // never before the caller has its handle
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.failed.empty(); }, 10000));
  EXPECT_EQ(heard.failed[0].first, h);
  EXPECT_TRUE(heard.failed[0].second.contains("NameHasNoOwner")) << heard.failed[0].second.toStdString();
  EXPECT_FALSE(client->tracked(h));

  startServer();
  server->answer = false;
  client->setCallTimeout(300);
  const quint64 unanswered = client->notify(Sample());
  ASSERT_TRUE(RunEventsUntil([&] { return heard.failed.size() == 2; }, 10000));
  EXPECT_EQ(heard.failed[1].first, unanswered);
  EXPECT_EQ(server->calls().size(), 1u);

  NotificationClient offline(
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("offline")));
  Heard offlineHeard;
  offlineHeard.listen(offline);
  const quint64 lost = offline.notify(Sample());
  offline.close(lost);
  ASSERT_TRUE(RunEventsUntil([&] { return !offlineHeard.failed.empty(); }, 10000));
  EXPECT_EQ(offlineHeard.failed[0].first, lost);
  QDBusConnection::disconnectFromBus(QStringLiteral("offline"));
  EXPECT_TRUE(heard.sent.empty());
}

TEST_F(NotificationClientTest, RemembersABoundedNumberOfNotifications) {
  startServer();
  std::vector<quint64> handles;
  for (int i = 0; i < NotificationClient::kMaxTracked + 5; ++i) handles.push_back(client->notify(Sample()));
  // The five oldest are forgotten: their notifications are closed as their ids come back.
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 5; }, 10000));
  EXPECT_FALSE(client->tracked(handles[4]));
  EXPECT_TRUE(client->tracked(handles[5]));
}

}  // namespace
