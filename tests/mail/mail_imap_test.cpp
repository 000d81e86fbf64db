#include "libs/mailbox/dovecot_server.h"
#include "mail/mail_fixture.h"
#include "support/qt_app.h"

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

// Over IMAP: nothing is marked seen by reading, by an automatic run or with "MarkRead" off; a
// message with neither Date nor Received is dated by the program's clock; a refused password is
// asked for again instead of the stored one, and a fresh account with a wrong one says so.
TEST_F(MailImapTest, MarkReadUndatedMessagesAndARefusedPassword) {
  server.maildir().Deliver("From: Ann <ann@example.net>\r\nSubject: Undated\r\n\r\nNo date at all.\r\n",
                           Berlin(2026, 12, 1, 9, 0));
  settings.write(settings::MarkRead, "0");
  reader->CheckNewMail(false, true);
  ASSERT_EQ(rows.rows.size(), 3u);
  EXPECT_EQ(unseenOnServer(), 3);
  speaker.lines.clear();
  reader->ReadMyMail(rows.rows[0]);
  EXPECT_EQ(rows.rows[0].text, "Undated");
  EXPECT_EQ(said().first(), "Message sent today \\map=\".at.\"=\" at \"\\10:41 in the Morning.");
  settings.write(settings::MarkRead, "1");
  reader->CheckNewMail(true, false);
  EXPECT_EQ(unseenOnServer(), 3);

  vault.kept[server.address() + "|alice"] = "wrong";
  reader->CheckNewMail(true, false);
  EXPECT_EQ(reader->lastFailure().kind, mailbox::FailureKind::LoginRefused);
  int asked = 0;
  account.askPassword = [&](const QString&, const QString&) -> std::optional<QString> {
    ++asked;
    return QString("secret");
  };
  rows.rows.clear();
  reader->CheckNewMail(false, true);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(rows.rows.size(), 3u);
  EXPECT_EQ(unseenOnServer(), 0);

  vault.kept[server.address() + "|alice"] = "wrong";
  MailAccount fresh(settings, vault);
  reader = std::make_unique<MailReader>(state, settings, clock, speaker, fresh, MessageFiles(dir.filePath("NewMail")));
  reader->setSynchronous(true);
  speaker.lines.clear();
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said(), QStringList{"Sorry, I could not reach your mailbox because the server refused the user name or "
                                "password."});
}
