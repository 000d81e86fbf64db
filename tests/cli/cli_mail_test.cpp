// chimewise-cli mail over a Maildir in a temporary folder.
#include "cli/cli.h"
#include "libs/mailbox/sample_messages.h"
#include "support/cli_fixture.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace chimewise;
using namespace mailbox::testing;

class CliMailTest : public testsupport::CliFixture {
 protected:
  int run(const QStringList& args) { return runCli(QStringList{"--now", "2026-12-06 10:41:37", "mail"} + args); }
  Maildir md{dir.filePath("Maildir")};
};

// Each message read, marked read, and nothing from the mailbox reaches the terminal raw.
TEST_F(CliMailTest, ReadsEachMessageMarksItAndPrintsNoControls) {
  md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6));
  md.Deliver("From: =?utf-8?Q?Eve=1B=5D0=3Bx=07?= <eve@example.org>\r\nSubject: \x1b[2JClear =?utf-8?B?" +
                 QByteArray("\x1b]2;title\x07\xc2\x9b").toBase64() +
                 "?=\r\nDate: Sun, 6 Dec 2026 09:00:00 +0100\r\n\r\nBody \x07\x1b[5m\r\n",
             Berlin(2026, 12, 6, 9, 1));
  ASSERT_EQ(run({"--mailbox", md.folder()}), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "Speak: You have 2 unread messages.");
  EXPECT_TRUE(lines.contains(QString::fromUtf8("Speak: Message Reads: Die Größe passt.")))
      << lines.join('\n').toStdString();
  ExpectNoControls(lines);
  EXPECT_TRUE(md.Files("new").isEmpty());

  EXPECT_EQ(run({"--mailbox", dir.filePath("none")}), 1);
  EXPECT_EQ(run({"--all"}), 2);
}
