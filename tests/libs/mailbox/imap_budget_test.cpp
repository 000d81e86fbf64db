// Misbehaving IMAP servers: each check ends within its budget with a failure that says why.
#include "support/scripted_imap_server.h"

#include <mailbox/mailbox.h>

#include <gtest/gtest.h>

using namespace mailbox;
using testsupport::ScriptedImapServer;
using Fault = ScriptedImapServer::Fault;

namespace {
enum class Step { Open, Count, Fetch, Never };
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
      {Fault::None, Step::Never, FailureKind::None, ""},  // well behaved: read within the budget
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ScriptedImapServer server(c.fault);
    ImapAccount account = ParseMailboxAddress(QStringLiteral("imap://127.0.0.1:%1").arg(server.port())).account;
    account.user = "alice";
    account.password = "secret";
    account.timeoutSeconds = 20;  // the silence limit alone would never end these
    account.totalSeconds = 3;
    account.maxBytes = c.maxBytes;
    auto box = OpenImap(account);
    Failure f = box->Open();
    if (c.failsAt == Step::Never) {
      EXPECT_EQ(box->UnseenCount(&f), 1) << f.reason.toStdString();
      continue;
    }
    if (c.failsAt != Step::Open) {
      ASSERT_TRUE(f.ok()) << f.reason.toStdString();
      EXPECT_FALSE(c.failsAt == Step::Count ? bool(box->UnseenCount(&f)) : bool(box->UnseenMessages(&f)));
    }
    EXPECT_EQ(f.kind, c.kind) << f.reason.toStdString();
    EXPECT_EQ(f.reason, QStringLiteral("the server 127.0.0.1 ") + c.reason);
    EXPECT_GE(server.bytesSent(), c.minBytesSent);
  }
}
