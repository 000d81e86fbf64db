#include "libs/mailbox/sample_messages.h"

#include <mailbox/mail_message.h>
#include <mailbox/mailbox.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mailbox;
using namespace mailbox::testing;

// The sample messages: sender, subject and body as a reader shows them.
TEST(ParseMessage, EncodingsCharsetsAndAlternatives) {
  const struct {
    QByteArray raw;
    QString sender, subject, body;
  } cases[] = {
      {EncodedWordsMessage(), QString::fromUtf8("Jürgen Müller"), QString::fromUtf8("Grüße aus Köln"),
       QString::fromUtf8("Café at noon tomorrow.")},
      {Base64Latin1Message(), "sales@example.com", "Order", QString::fromUtf8("Die Größe passt.")},
      {AlternativeMessage(), "Ann Lee", "Lunch", "Plain words."},
      {HtmlOnlyMessage(), "News", "Weekly", QString::fromUtf8("Hello & welcome\r\nSecond\r\nline €")},
      // An unknown charset reads as Latin-1.
      {"From: a@b.c\r\nSubject: =?x-nonsense?Q?Caf=E9?=\r\nContent-Type: text/plain; charset=x-nonsense\r\n\r\n"
       "Caf\xe9\r\n",
       "a@b.c", QString::fromUtf8("Café"), QString::fromUtf8("Café")},
  };
  for (const auto& c : cases) {
    const MailMessage m = ParseMessage(c.raw);
    EXPECT_EQ(QStringList({m.problem, m.senderName, m.subject, m.body.trimmed()}),
              QStringList({"", c.sender, c.subject, c.body}));
  }
  const MailMessage m = ParseMessage(EncodedWordsMessage());
  EXPECT_EQ(m.body, QString::fromUtf8("Café at noon tomorrow.\r\n\r\n"));
  EXPECT_EQ(m.sent, QDateTime(QDate(2026, 12, 4), QTime(15, 45)));  // the tests run in Berlin time
  EXPECT_EQ(ParseMessage(MalformedMessage()).problem, QStringLiteral("it is not a mail message"));
  EXPECT_EQ(ParseMessage(" \r\n\r\n").problem, QStringLiteral("it is empty"));
  EXPECT_EQ(ParseMessage("Subject: only this\r\n").problem, "");  // a header without a body
}

TEST(HtmlToText, BlocksEntitiesAndHiddenParts) {
  const std::pair<const char*, const char*> cases[] = {
      {"<div>a&lt;b</div><div>c&#x41;&nbsp;d</div>", "a<b\ncA d"},
      {"<!-- x --><title>T</title>one\n two", "one two"},
      {"&bogus; &#0; &#1114112;", "&bogus; &#0; &#1114112;"},
      // A head never closed ends where the body begins; a script never closed hides the rest.
      {"<html><head><meta charset=utf-8><body><p>Hello</p>", "Hello"},
      {"<title>T<br>Text", "T\nText"},
      {"<p>Before</p><script>var a = 1 < 2;", "Before"},
      {"a <b>bold</b> and <i>italic</i><!-- x", "a bold and italic"},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(HtmlToText(html), QString::fromUtf8(text)) << html;
}

class MaildirTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  Maildir md{dir.filePath("Mail")};
};

// Unseen (new/, cur/ without S) in delivery order; marking seen adds S and keeps the other flags.
TEST_F(MaildirTest, UnseenInDeliveryOrderAndMarkSeenKeepsTheOtherFlags) {
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
  ASSERT_TRUE(messages && messages->size() == 4u);
  QStringList subjects;
  for (const auto& m : *messages) subjects << (m.problem.isEmpty() ? m.subject : "!" + m.problem);
  EXPECT_EQ(subjects.join('|'), QString::fromUtf8("Grüße aus Köln|Order|!it is not a mail message|Weekly"));
  EXPECT_EQ((*messages)[0].received, Berlin(2026, 12, 4, 15, 46));
  EXPECT_EQ((*messages)[3].sent, Berlin(2026, 11, 23, 9, 0));
  auto later = box->UnseenMessages(&failure, Berlin(2026, 12, 6, 8, 30));
  ASSERT_TRUE(later && later->size() == 4u);
  EXPECT_TRUE((*later)[0].subject.isEmpty());
  EXPECT_TRUE((*later)[2].problem.isEmpty());  // the malformed one was not even opened
  EXPECT_EQ((*later)[2].received, Berlin(2026, 12, 6, 8, 30));
  EXPECT_EQ((*later)[3].subject, "Weekly");
  EXPECT_EQ(md.Files("new").size(), 2);

  EXPECT_TRUE(box->MarkSeen({(*messages)[1].id, (*messages)[3].id, "no-such-message"}).ok());
  EXPECT_EQ(md.Files("new").size(), 1);
  EXPECT_EQ(md.Files("cur").filter(QRegularExpression(":2,FRS$")).size(), 1);
  EXPECT_EQ(md.Files("cur").filter(QRegularExpression(":2,S$")).size(), 2);
  EXPECT_EQ(box->UnseenCount(nullptr), 2);
  Failure f = OpenMaildir(dir.filePath("nothing"))->Open();
  EXPECT_EQ(f.kind, FailureKind::NotFound);
  EXPECT_TRUE(f.reason.contains("does not exist"));
  QDir().mkpath(dir.filePath("plain"));
  EXPECT_TRUE(OpenMaildir(dir.filePath("plain"))->Open().reason.contains("is not a mail folder"));
  EXPECT_FALSE(OpenMaildir(dir.filePath("plain"))->UnseenMessages(&f));
}

TEST_F(MaildirTest, EntriesThatAreNoRegularFilesAreReportedWithoutReadingOrWaiting) {
  alarm(60);  // each of these once made a check allocate without end or wait for ever
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
  const struct {
    const char* text;
    const char* host;
    int port;
    bool tls, plain;
  } imap[] = {{"imaps://mail.example.org", "mail.example.org", 0, true, false},
              {"IMAP://127.0.0.1:1143/", "127.0.0.1", 1143, false, true},
              {"imap://[::1]:143", "::1", 143, false, true}};
  for (const auto& c : imap) {
    a = ParseMailboxAddress(c.text);
    EXPECT_EQ(a.kind, MailboxAddress::Imap) << c.text;
    EXPECT_EQ(a.account.host, c.host);
    EXPECT_EQ(a.account.port, c.port);
    EXPECT_EQ(a.account.implicitTls, c.tls);
    EXPECT_EQ(a.account.allowPlain, c.plain);
  }
  for (const char* bad : {"", "imap://", "imap://host:x", "imap://user@host", "imap://host:70000", "imap://host/INBOX",
                          "imap://host?mailbox=INBOX", "imaps://host#top", "imap://host:143?x"})
    EXPECT_EQ(ParseMailboxAddress(bad).kind, MailboxAddress::None) << bad;
}
