// IMAP servers that never stop, drip, announce what no mailbox holds: each check ends within
// its budget with a failure that says why, and nothing the server claims is taken as "no mail".
#include "support/scripted_imap_server.h"

#include <mailbox/mailbox.h>

#include <gtest/gtest.h>

using namespace mailbox;
using testsupport::ScriptedImapServer;
using Fault = ScriptedImapServer::Fault;

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

enum class Step { Open, Count, Fetch };

}  // namespace

TEST(ImapBudget, EachMisbehavingServerEndsTheCheckWithAFailureThatSaysWhy) {
  const struct {
    Fault fault;
    Step failsAt;
    FailureKind kind;
    const char* reason;
    qint64 minBytesSent = 0;
    qint64 maxBytes = 4 * 1024 * 1024;
  } cases[] = {
      {Fault::Flood, Step::Open, FailureKind::Protocol, "sent more than 4 megabytes", 4 * 1024 * 1024},
      // Dripping, not silent: cut off at the time budget.
      {Fault::DripGreeting, Step::Open, FailureKind::Unreachable, "took longer than 3 seconds to give the mail", 2},
      // Refused as soon as announced, with a byte budget so large that only the announcement stops it in time.
      {Fault::HugeLiteral, Step::Fetch, FailureKind::Protocol, "announced a message of 4000000000 bytes", 0,
       1024LL * 1024 * 1024},
      // 2^31 unseen once came back as a negative count: "no new mail".
      {Fault::AbsurdUnseen, Step::Count, FailureKind::Protocol,
       "claimed 2147483648 messages, more than any mailbox holds"},
      // 4,000,000,000 messages once had 4 GB allocated for them on opening the inbox.
      {Fault::AbsurdExists, Step::Open, FailureKind::Protocol,
       "claimed 4000000000 messages, more than any mailbox holds"},
      {Fault::DeepNesting, Step::Fetch, FailureKind::Protocol, "sent an answer nested too deeply"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ScriptedImapServer server(c.fault);
    ImapAccount account = Account(server);
    account.maxBytes = c.maxBytes;
    auto box = OpenImap(account);
    Failure f = box->Open();
    if (c.failsAt != Step::Open) {
      ASSERT_TRUE(f.ok()) << f.reason.toStdString();
      EXPECT_FALSE(c.failsAt == Step::Count ? bool(box->UnseenCount(&f)) : bool(box->UnseenMessages(&f)));
    }
    EXPECT_EQ(f.kind, c.kind) << f.reason.toStdString();
    EXPECT_EQ(f.reason, QStringLiteral("the server 127.0.0.1 ") + c.reason);
    EXPECT_GE(server.bytesSent(), c.minBytesSent);
  }
}

TEST(ImapBudget, AWellBehavedServerIsReadWithinTheBudget) {
  ScriptedImapServer server(Fault::None);
  Failure f;
  EXPECT_EQ(OpenImap(Account(server))->UnseenCount(&f), 1) << f.reason.toStdString();
}
