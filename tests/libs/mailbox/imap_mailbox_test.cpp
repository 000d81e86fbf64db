#include "libs/mailbox/dovecot_server.h"

#include <mailbox/mailbox.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace mailbox;
using namespace mailbox::testing;

namespace {

ImapAccount Alice(const DovecotServer& server, const QString& password = "secret") {
  ImapAccount a = ParseMailboxAddress(server.address()).account;
  a.user = "alice";
  a.password = password;
  a.timeoutSeconds = 10;
  return a;
}

}  // namespace

class ImapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "mailbox-tests", *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);  // for the server's process
    if (!server.Skipped().isEmpty()) GTEST_SKIP() << server.Skipped().toStdString();
    server.maildir().Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
    server.maildir().Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
    server.maildir().Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6), "");
    server.maildir().Deliver(HtmlOnlyMessage(), Berlin(2026, 12, 6, 9, 0));
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
  }
  DovecotServer server;
};

// Fetching marks nothing seen (peek); marking seen lasts; a wrong password and no server fail apart.
TEST_F(ImapTest, CountsFetchesWithPeekMarksSeenAndFails) {
  {
    auto box = OpenImap(Alice(server));
    ASSERT_TRUE(box->Open().ok());
    Failure f;
    auto messages = box->UnseenMessages(&f);
    ASSERT_TRUE(messages && messages->size() == 3u) << f.reason.toStdString();
    EXPECT_EQ((*messages)[0].senderName, QString::fromUtf8("Jürgen Müller"));
    EXPECT_EQ((*messages)[1].body.trimmed(), QString::fromUtf8("Die Größe passt."));
    EXPECT_EQ(box->UnseenCount(&f), 3);
    messages = box->UnseenMessages(&f, Berlin(2026, 12, 5, 0, 0));
    ASSERT_TRUE(messages && messages->size() == 3u);
    EXPECT_TRUE((*messages)[0].subject.isEmpty());
    EXPECT_EQ((*messages)[0].received, Berlin(2026, 12, 4, 15, 45));
    EXPECT_EQ((*messages)[1].subject, QStringLiteral("Order"));
    EXPECT_TRUE((*messages)[2].subject.isEmpty());  // dated 23 November
    EXPECT_TRUE(box->MarkSeen({(*messages)[1].id}).ok());
  }
  Failure f;
  EXPECT_EQ(OpenImap(Alice(server))->UnseenCount(&f), 2) << f.reason.toStdString();
  f = OpenImap(Alice(server, "wrong"))->Open();
  EXPECT_EQ(f.kind, FailureKind::LoginRefused);
  EXPECT_EQ(f.reason, QStringLiteral("the server refused the user name or password"));
  const ImapAccount gone = Alice(server);
  server.Stop();
  f = OpenImap(gone)->Open();
  EXPECT_EQ(f.kind, FailureKind::Unreachable) << f.reason.toStdString();
}
