#include "libs/mailbox/sample_messages.h"

#include <mailbox/mail_message.h>
#include <mailbox/mailbox.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mailbox;
using namespace mailbox::testing;

TEST(ParseMessage, EncodedWordsAndQuotedPrintable) {
  const MailMessage m = ParseMessage(EncodedWordsMessage());
  EXPECT_TRUE(m.problem.isEmpty()) << m.problem.toStdString();
  EXPECT_EQ(m.senderName, QString::fromUtf8("Jürgen Müller"));
  EXPECT_EQ(m.subject, QString::fromUtf8("Grüße aus Köln"));
  EXPECT_EQ(m.body, QString::fromUtf8("Café at noon tomorrow.\r\n\r\n"));
  EXPECT_EQ(m.sent, QDateTime(QDate(2026, 12, 4), QTime(15, 45)));  // the tests run in Berlin time
}

TEST(ParseMessage, Base64InIso8859_1AndAnAddressAsTheName) {
  const MailMessage m = ParseMessage(Base64Latin1Message());
  EXPECT_TRUE(m.problem.isEmpty());
  EXPECT_EQ(m.senderName, QStringLiteral("sales@example.com"));
  EXPECT_EQ(m.body.trimmed(), QString::fromUtf8("Die Größe passt."));
}

TEST(ParseMessage, AlternativeGivesThePlainPartAndHtmlOnlyIsReadAsText) {
  MailMessage m = ParseMessage(AlternativeMessage());
  EXPECT_EQ(m.senderName, QStringLiteral("Ann Lee"));
  EXPECT_EQ(m.body.trimmed(), QStringLiteral("Plain words."));
  m = ParseMessage(HtmlOnlyMessage());
  EXPECT_TRUE(m.problem.isEmpty());
  EXPECT_EQ(m.body, QString::fromUtf8("Hello & welcome\r\nSecond\r\nline €"));
}

TEST(ParseMessage, AnUnknownCharsetReadsAsLatin1) {
  const MailMessage m = ParseMessage(
      "From: a@b.c\r\nSubject: =?x-nonsense?Q?Caf=E9?=\r\n"
      "Content-Type: text/plain; charset=x-nonsense\r\n\r\nCaf\xe9\r\n");
  EXPECT_TRUE(m.problem.isEmpty());
  EXPECT_EQ(m.body.trimmed(), QString::fromUtf8("Café"));
}

TEST(ParseMessage, WhatIsNoMessageSaysSo) {
  EXPECT_EQ(ParseMessage(MalformedMessage()).problem, QStringLiteral("it is not a mail message"));
  EXPECT_EQ(ParseMessage("").problem, QStringLiteral("it is empty"));
  EXPECT_EQ(ParseMessage(" \r\n\r\n").problem, QStringLiteral("it is empty"));
  // A header without a body is still a message.
  const MailMessage m = ParseMessage("Subject: only this\r\n");
  EXPECT_TRUE(m.problem.isEmpty());
  EXPECT_EQ(m.subject, QStringLiteral("only this"));
  EXPECT_FALSE(m.sent.isValid());
}

TEST(HtmlToText, BlocksEntitiesAndHiddenParts) {
  EXPECT_EQ(HtmlToText("<div>a&lt;b</div><div>c&#x41;&nbsp;d</div>"), QStringLiteral("a<b\nc\u0041 d"));
  EXPECT_EQ(HtmlToText("<!-- x --><title>T</title>one\n two"), QStringLiteral("one two"));
  EXPECT_EQ(HtmlToText("&bogus; &#0; &#1114112;"), QStringLiteral("&bogus; &#0; &#1114112;"));
  // A head never closed ends where the body begins; a script never closed hides the rest.
  EXPECT_EQ(HtmlToText("<html><head><meta charset=utf-8><body><p>Hello</p>"), QStringLiteral("Hello"));
  EXPECT_EQ(HtmlToText("<title>T<br>Text"), QStringLiteral("T\nText"));
  EXPECT_EQ(HtmlToText("<p>Before</p><script>var a = 1 < 2;"), QStringLiteral("Before"));
  EXPECT_EQ(HtmlToText("a <b>bold</b> and <i>italic</i><!-- x"), QStringLiteral("a bold and italic"));
}

class MaildirTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  Maildir md{dir.filePath("Mail")};
};

TEST_F(MaildirTest, UnseenAreNewAndCurWithoutSInDeliveryOrder) {
  md.Deliver(HtmlOnlyMessage(), Berlin(2026, 12, 6, 9, 0));            // new/
  md.Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46), "");  // cur/, no flags
  md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");  // seen
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6), "FR");  // flagged, replied, unseen
  md.Deliver(MalformedMessage(), Berlin(2026, 12, 6, 8, 30));          // new/, not a message
  auto box = OpenMaildir(md.folder());
  ASSERT_TRUE(box->Open().ok());
  Failure failure;
  EXPECT_EQ(box->UnseenCount(&failure), 4);
  auto messages = box->UnseenMessages(&failure);
  ASSERT_TRUE(messages);
  ASSERT_EQ(messages->size(), 4u);
  QStringList subjects;
  for (const auto& m : *messages) subjects << (m.problem.isEmpty() ? m.subject : "!" + m.problem);
  EXPECT_EQ(subjects.join('|'), QString::fromUtf8("Grüße aus Köln|Order|!it is not a mail message|Weekly"));
  EXPECT_EQ((*messages)[0].received, Berlin(2026, 12, 4, 15, 46));
  EXPECT_EQ((*messages)[3].received, Berlin(2026, 12, 6, 9, 0));
  EXPECT_EQ((*messages)[3].sent, Berlin(2026, 11, 23, 9, 0));

  // Delivered at or before the moment: not read, known by the delivery time only.
  messages = box->UnseenMessages(&failure, Berlin(2026, 12, 6, 8, 30));
  ASSERT_TRUE(messages);
  ASSERT_EQ(messages->size(), 4u);
  EXPECT_TRUE((*messages)[0].subject.isEmpty());
  EXPECT_TRUE((*messages)[2].problem.isEmpty());  // the malformed one was not even opened
  EXPECT_EQ((*messages)[2].received, Berlin(2026, 12, 6, 8, 30));
  EXPECT_EQ((*messages)[3].subject, "Weekly");
}

TEST_F(MaildirTest, MarkSeenMovesNewToCurAndAddsSKeepingTheOtherFlags) {
  md.Deliver(HtmlOnlyMessage(), Berlin(2026, 12, 6, 9, 0));
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6), "FR");
  md.Deliver(AlternativeMessage(), Berlin(2026, 12, 6, 8, 7), "");
  auto box = OpenMaildir(md.folder());
  auto messages = box->UnseenMessages(nullptr);
  ASSERT_TRUE(messages);
  ASSERT_EQ(messages->size(), 3u);
  // Reading changed nothing.
  EXPECT_EQ(md.Files("new").size(), 1);
  EXPECT_TRUE(box->MarkSeen({(*messages)[0].id, (*messages)[2].id, "no-such-message"}).ok());
  EXPECT_TRUE(md.Files("new").isEmpty());
  const QStringList cur = md.Files("cur");
  ASSERT_EQ(cur.size(), 3);
  EXPECT_TRUE(cur[0].endsWith(":2,FRS")) << cur[0].toStdString();
  EXPECT_TRUE(cur[1].endsWith(":2,")) << cur[1].toStdString();  // not marked
  EXPECT_TRUE(cur[2].endsWith(":2,S")) << cur[2].toStdString();
  EXPECT_EQ(box->UnseenCount(nullptr), 1);
}

TEST_F(MaildirTest, MissingOrWrongFolderIsNotFound) {
  auto box = OpenMaildir(dir.filePath("nothing"));
  Failure f = box->Open();
  EXPECT_EQ(f.kind, FailureKind::NotFound);
  EXPECT_TRUE(f.reason.contains("does not exist"));
  QDir().mkpath(dir.filePath("plain"));
  f = OpenMaildir(dir.filePath("plain"))->Open();
  EXPECT_EQ(f.kind, FailureKind::NotFound);
  EXPECT_TRUE(f.reason.contains("is not a mail folder"));
  EXPECT_FALSE(OpenMaildir(dir.filePath("plain"))->UnseenMessages(&f));
}

TEST_F(MaildirTest, EntriesThatAreNoRegularFilesAreReportedWithoutReadingOrWaiting) {
  // Each of these once made a check allocate without end or wait for ever: guard the whole test.
  alarm(60);
  const QString kept = md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
  const auto entry = [&](const char* name) { return md.folder() + "/new/" + name; };
  ASSERT_EQ(symlink("/dev/zero", entry("1796450000.M1P1.zero").toLocal8Bit().constData()), 0);
  ASSERT_EQ(mkfifo(entry("1796450001.M2P1.fifo").toLocal8Bit().constData(), 0600), 0);
  // A link to a real message (as search tools leave in their result folders) is read.
  ASSERT_EQ(symlink(kept.toLocal8Bit().constData(), entry("1796450002.M3P1.link").toLocal8Bit().constData()), 0);
  // A file claiming more than the limit is not read at all (sparse: it costs no disk).
  ASSERT_EQ(truncate(md.Deliver("x", Berlin(2026, 12, 6, 9, 0)).toLocal8Bit().constData(), kMaxMessageBytes + 1), 0);
  auto box = OpenMaildir(md.folder());
  Failure failure;
  const auto messages = box->UnseenMessages(&failure);
  alarm(0);
  ASSERT_TRUE(messages) << failure.reason.toStdString();
  ASSERT_EQ(messages->size(), 4u);
  QStringList seen;
  for (const auto& m : *messages) seen << (m.problem.isEmpty() ? m.subject : "!" + m.problem);
  EXPECT_EQ(seen.join('|'), "!it is not a regular file|!it is not a regular file|Lunch|!it is too large to read");
}

TEST(MailboxAddress, FoldersAndImapAddresses) {
  auto a = ParseMailboxAddress("  /home/me/Maildir ");
  EXPECT_EQ(a.kind, MailboxAddress::Maildir);
  EXPECT_EQ(a.folder, "/home/me/Maildir");
  a = ParseMailboxAddress("imaps://mail.example.org");
  EXPECT_EQ(a.kind, MailboxAddress::Imap);
  EXPECT_TRUE(a.account.implicitTls);
  EXPECT_EQ(a.account.host, "mail.example.org");
  EXPECT_EQ(a.account.port, 0);
  EXPECT_FALSE(a.account.allowPlain);
  a = ParseMailboxAddress("IMAP://127.0.0.1:1143/");
  EXPECT_EQ(a.kind, MailboxAddress::Imap);
  EXPECT_FALSE(a.account.implicitTls);
  EXPECT_EQ(a.account.port, 1143);
  EXPECT_TRUE(a.account.allowPlain);
  a = ParseMailboxAddress("imap://[::1]:143");
  EXPECT_EQ(a.account.host, "::1");
  EXPECT_EQ(a.account.port, 143);
  for (const char* bad : {"imap://", "imap://host:x", "imap://user@host", "imap://host:70000", "imap://host/INBOX",
                          "imap://host?mailbox=INBOX", "imaps://host#top", "imap://host:143?x"})
    EXPECT_EQ(ParseMailboxAddress(bad).kind, MailboxAddress::None) << bad;
  EXPECT_EQ(ParseMailboxAddress("").kind, MailboxAddress::None);
}
