// IMAP servers that never stop, drip, announce what no mailbox holds: each check ends within
// its budget with a failure that says why, and nothing the server claims is taken as "no mail".
#include "support/scripted_imap_server.h"

#include <mailbox/mailbox.h>

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace mailbox;
using testsupport::ScriptedImapServer;

namespace {

ImapAccount Account(const ScriptedImapServer& server) {
  ImapAccount a = ParseMailboxAddress(QStringLiteral("imap://127.0.0.1:%1").arg(server.port())).account;
  a.user = "alice";
  a.password = "secret";
  a.timeoutSeconds = 20;  // the silence limit alone would never end these
  a.totalSeconds = 3;
  a.maxBytes = 4 * 1024 * 1024;
  return a;
}

}  // namespace

TEST(ImapBudget, AServerThatNeverStopsSendingIsCutOffAtTheByteBudget) {
  ScriptedImapServer server(ScriptedImapServer::Fault::Flood);
  QElapsedTimer t;
  t.start();
  const Failure f = OpenImap(Account(server))->Open();
  EXPECT_EQ(f.kind, FailureKind::Protocol) << f.reason.toStdString();
  EXPECT_EQ(f.reason, "the server 127.0.0.1 sent more than 4 megabytes");
  EXPECT_GE(server.bytesSent(), 4 * 1024 * 1024);  // the flood was on
  EXPECT_LT(t.elapsed(), 10000);
}

TEST(ImapBudget, AServerThatDripsIsCutOffAtTheTimeBudget) {
  ScriptedImapServer server(ScriptedImapServer::Fault::DripGreeting);
  QElapsedTimer t;
  t.start();
  const Failure f = OpenImap(Account(server))->Open();
  EXPECT_EQ(f.kind, FailureKind::Unreachable) << f.reason.toStdString();
  EXPECT_EQ(f.reason, "the server 127.0.0.1 took longer than 3 seconds to give the mail");
  EXPECT_GT(server.bytesSent(), 1);  // it was dripping, not silent
  EXPECT_GE(t.elapsed(), 2900);
  EXPECT_LT(t.elapsed(), 8000);
}

TEST(ImapBudget, ALiteralLargerThanAnyMessageIsRefusedAsSoonAsItIsAnnounced) {
  ScriptedImapServer server(ScriptedImapServer::Fault::HugeLiteral);
  ImapAccount account = Account(server);
  account.maxBytes = 1024LL * 1024 * 1024;  // so that only the announcement can stop it in time
  auto box = OpenImap(account);
  ASSERT_TRUE(box->Open().ok());
  Failure f;
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(box->UnseenMessages(&f));
  EXPECT_EQ(f.kind, FailureKind::Protocol);
  EXPECT_EQ(f.reason, "the server 127.0.0.1 announced a message of 4000000000 bytes");
  EXPECT_LT(t.elapsed(), 2900);  // refused, not run into the time budget
}

TEST(ImapBudget, AbsurdCountsAreAnErrorNotNoMail) {
  {
    // 2^31 unseen once came back as a negative count: "no new mail".
    ScriptedImapServer server(ScriptedImapServer::Fault::AbsurdUnseen);
    auto box = OpenImap(Account(server));
    ASSERT_TRUE(box->Open().ok());
    Failure f;
    EXPECT_FALSE(box->UnseenCount(&f));
    EXPECT_EQ(f.kind, FailureKind::Protocol);
    EXPECT_EQ(f.reason, "the server 127.0.0.1 claimed 2147483648 messages, more than any mailbox holds");
  }
  // 4,000,000,000 messages once had 4 GB allocated for them on opening the inbox.
  ScriptedImapServer server(ScriptedImapServer::Fault::AbsurdExists);
  QElapsedTimer t;
  t.start();
  const Failure f = OpenImap(Account(server))->Open();
  EXPECT_EQ(f.kind, FailureKind::Protocol);
  EXPECT_EQ(f.reason, "the server 127.0.0.1 claimed 4000000000 messages, more than any mailbox holds");
  EXPECT_LT(t.elapsed(), 2900);
}

TEST(ImapBudget, AnswersNestedPastAllReasonAreRefusedBeforeTheyAreParsed) {
  ScriptedImapServer server(ScriptedImapServer::Fault::DeepNesting);
  auto box = OpenImap(Account(server));
  ASSERT_TRUE(box->Open().ok());
  Failure f;
  EXPECT_FALSE(box->UnseenMessages(&f));
  EXPECT_EQ(f.kind, FailureKind::Protocol);
  EXPECT_EQ(f.reason, "the server 127.0.0.1 sent an answer nested too deeply");
}

TEST(ImapBudget, AWellBehavedServerIsReadWithinTheBudget) {
  ScriptedImapServer server(ScriptedImapServer::Fault::None);
  auto box = OpenImap(Account(server));
  Failure f;
  EXPECT_EQ(box->UnseenCount(&f), 1) << f.reason.toStdString();
}
