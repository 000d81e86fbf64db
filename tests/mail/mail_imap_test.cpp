#include "libs/mailbox/dovecot_server.h"
#include "mail/mail_fixture.h"
#include "support/qt_app.h"

#include <algorithm>

using namespace chimewise;
using namespace chimewise::testing;
using namespace mailbox::testing;

class MailImapTest : public MailFixture {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    if (!server.Skipped().isEmpty()) GTEST_SKIP() << server.Skipped().toStdString();
    server.maildir().Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
    server.maildir().Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
    server.maildir().Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6));
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    settings.write(settings::Mailbox, server.address());
    settings.write(settings::MailUser, "alice");
    vault.kept[server.address() + "|alice"] = "secret";
  }
  int unseenOnServer() {
    mailbox::ImapAccount a = mailbox::ParseMailboxAddress(server.address()).account;
    a.user = "alice";
    a.password = "secret";
    mailbox::Failure f;
    return mailbox::OpenImap(a)->UnseenCount(&f).value_or(-1);
  }
  DovecotServer server;
};

TEST_F(MailImapTest, ReadingLeavesMessagesUnseenUnlessMarkReadSaysSo) {
  settings.write(settings::MarkRead, "0");
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said().first(), "You have 2 unread messages.");
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[1].text, "Order");
  EXPECT_EQ(unseenOnServer(), 2);

  // Automatic runs never mark.
  settings.write(settings::MarkRead, "1");
  reader->CheckNewMail(true, false);
  EXPECT_EQ(unseenOnServer(), 2);

  rows.rows.clear();
  reader->CheckNewMail(false, true);
  EXPECT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(unseenOnServer(), 0);
}

TEST_F(MailImapTest, AWrongPasswordIsAMailboxNotReachedAndIsAskedAgain) {
  vault.kept[server.address() + "|alice"] = "wrong";
  int asked = 0;
  account.askPassword = [&](const QString&, const QString&) -> std::optional<QString> {
    ++asked;
    return QString("secret");
  };
  reader->CheckNewMail(true, false);
  EXPECT_TRUE(speaker.lines.isEmpty());
  EXPECT_EQ(reader->lastFailure().kind, mailbox::FailureKind::LoginRefused);

  reader->CheckNewMail(false, true);
  EXPECT_EQ(asked, 1);  // refused before: asked instead of the stored one
  EXPECT_EQ(said().first(), "You have 2 unread messages.");
  EXPECT_EQ(vault.kept[server.address() + "|alice"], "secret");

  vault.kept[server.address() + "|alice"] = "wrong";
  MailAccount fresh(settings, vault);
  reader = std::make_unique<MailReader>(state, settings, clock, speaker, fresh, MessageFiles(dir.filePath("NewMail")));
  reader->setSynchronous(true);
  speaker.lines.clear();
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said(), QStringList{"Sorry, I could not reach your mailbox because the server refused the user name or "
                                "password."});

  server.Stop();
  speaker.lines.clear();
  reader->CheckNewMail(false, true);
  // Refused before and nobody to ask: no password.
  EXPECT_EQ(said().first(), "Sorry, I could not reach your mailbox because no password is known for it.");
}

TEST_F(MailImapTest, AMessageWithNeitherDateNorReceivedIsDatedByTheProgramsClock) {
  server.maildir().Deliver("From: Ann <ann@example.net>\r\nSubject: Undated\r\n\r\nNo date at all.\r\n",
                           Berlin(2026, 12, 1, 9, 0));
  settings.write(settings::MarkRead, "0");
  reader->CheckNewMail(false, true);
  const auto undated =
      std::find_if(rows.rows.begin(), rows.rows.end(), [](const MailRow& r) { return r.text == "Undated"; });
  ASSERT_NE(undated, rows.rows.end());
  speaker.lines.clear();
  reader->ReadMyMail(*undated);
  // The pinned clock says 10:41 on 6 December; the machine's own clock would say otherwise.
  EXPECT_EQ(said().first(), "Message sent today \\map=\".at.\"=\" at \"\\10:41 in the Morning.");
}
