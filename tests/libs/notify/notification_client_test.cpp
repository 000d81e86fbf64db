// The notification client against a notification server of the test's own on a private bus.
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
  std::vector<std::pair<quint64, QString>> failed, actions;
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
          {{"snooze", "Later"}},
          {{"urgency", QVariant::fromValue<uchar>(2)}},
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
    client = std::make_unique<NotificationClient>(*clientBus);
    heard.listen(*client);
    server = std::make_unique<NotificationServer>(bus.connect(QStringLiteral("server")));
    ASSERT_TRUE(server->registered());
  }
  void TearDown() override { server.reset(); }  // before its bus closes under it

  PrivateBus bus;
  std::unique_ptr<QDBusConnection> clientBus;
  std::unique_ptr<NotificationServer> server;
  std::unique_ptr<NotificationClient> client;
  Heard heard;
};

// What reaches the server; actions and closing are heard only from the server that answered, and
// only for notifications still held.
TEST_F(NotificationClientTest, SendsEverythingAndHearsItsOwnNotificationsOnly) {
  const quint64 first = client->notify(Sample()), second = client->notify(Sample());
  ASSERT_TRUE(RunEventsUntil([&] { return heard.sent.size() == 2; }, 10000));
  const auto call = server->calls()[0];
  EXPECT_EQ(QStringList({call.appName, call.appIcon, call.summary, call.body}),
            QStringList({"Chime Test", "chime-test", "Call the dentist", "Tuesday 10:30"}));
  EXPECT_EQ(call.actions, QStringList({"snooze", "Later"}));
  EXPECT_EQ(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
  EXPECT_EQ(heard.sent[1], std::make_pair(second, server->calls()[1].id));

  NotificationServer impostor(bus.connect(QStringLiteral("impostor")));
  impostor.invokeAction(call.id, QStringLiteral("snooze"));
  server->invokeAction(999, QStringLiteral("snooze"));
  server->invokeAction(server->calls()[1].id, QStringLiteral("snooze"));
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.actions.empty(); }, 10000));
  server->closeNotification(call.id, 2);
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.closed.empty(); }, 10000));
  server->invokeAction(call.id, QStringLiteral("snooze"));  // closed: no longer heard
  RunEventsFor(100);
  EXPECT_EQ(heard.actions, (std::vector<std::pair<quint64, QString>>{{second, "snooze"}}));
  EXPECT_EQ(heard.closed[0], std::make_pair(first, CloseReason::Dismissed));
  EXPECT_TRUE(heard.failed.empty());
}

// A close asked before the server gave the id still closes it; the client forgets the oldest of
// too many notifications by closing them.
TEST_F(NotificationClientTest, CloseBeforeTheIdCameAndABoundedMemory) {
  const quint64 early = client->notify(Sample());
  client->close(early);
  std::vector<quint64> handles;
  for (int i = 0; i < NotificationClient::kMaxTracked + 2; ++i) handles.push_back(client->notify(Sample()));
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 3; }, 10000));
  EXPECT_EQ(server->closeCalls()[0], server->calls()[0].id);
  EXPECT_FALSE(client->tracked(early) || client->tracked(handles[0]) || client->tracked(handles[1]));
  EXPECT_TRUE(client->tracked(handles.back()));
}

// No server that answers is a failure reported from the event loop, never before the caller holds
// its handle.
TEST_F(NotificationClientTest, ASilentServerIsAFailureNotAWait) {
  server->answer = false;
  client->setCallTimeout(300);
  const quint64 h = client->notify(Sample());
  EXPECT_TRUE(heard.failed.empty());
  ASSERT_TRUE(RunEventsUntil([&] { return !heard.failed.empty(); }, 10000));
  EXPECT_EQ(heard.failed[0].first, h);
  EXPECT_FALSE(client->tracked(h));
}

}  // namespace
