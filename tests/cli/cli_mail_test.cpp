// chimewise-cli mail over a Maildir in a temporary folder.
#include "cli/cli.h"
#include "core/app_paths.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "libs/mailbox/sample_messages.h"
#include "support/cli_fixture.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace chimewise;
using namespace mailbox::testing;

namespace {

class CliMailTest : public testsupport::CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    QDir().mkpath(dir.filePath("tmp"));
    qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
    md.Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
    md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
    md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6));
  }
  void TearDown() override { qunsetenv("TMPDIR"); }
  int run(const QStringList& args) { return runCli(QStringList{"--now", "2026-12-06 10:41:37", "mail"} + args); }
  SettingsStore settings() { return SettingsStore(SettingsFilePath()); }

  Maildir md{dir.filePath("Maildir")};
};

const QString kAt = "\\\\map=\".at.\"=\" at \"\\\\";  // as printed: backslashes doubled

}  // namespace

TEST_F(CliMailTest, AsTheWindowReadsEachRowAndMarksAsTheSettingsSay) {
  ASSERT_EQ(run({"--mailbox", md.folder()}), 0) << errors.toStdString();
  EXPECT_EQ(lines, (QStringList{"Speak: You have 2 unread messages.", "Play: Blink",
                                "Speak: Message sent Friday" + kAt + "3:45 in the Afternoon.",
                                QString::fromUtf8("Speak: Subject: Grüße aus Köln."),
                                QString::fromUtf8("Speak: Message Reads: Café at noon tomorrow."), "Play: Blink",
                                "Speak: Message sent today " + kAt + "8:05 in the Morning.", "Speak: Subject: Order.",
                                QString::fromUtf8("Speak: Message Reads: Die Größe passt.")}))
      << lines.join('\n').toStdString();
  // "MarkRead" is on unless the settings say otherwise; no message file is left anywhere.
  EXPECT_TRUE(md.Files("new").isEmpty());
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 3);
  EXPECT_TRUE(QDir(dir.filePath("tmp")).isEmpty());
  EXPECT_FALSE(QDir(dir.filePath("app/NewMail")).exists());
}

TEST_F(CliMailTest, AutoAppliesTheAutomaticRules) {
  {
    SettingsStore s = settings();
    s.write(settings::Mailbox, md.folder());
    s.write(settings::LastCheck, "2026-12-05 00:00:00");
    s.write(settings::AutoWho, "1");
  }
  ASSERT_EQ(run({"--auto"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, (QStringList{"Speak: You have 1 unread message.",
                                "Speak: Message sent today " + kAt + "8:05 in the Morning.",
                                "Speak: By sales@example.com.", "Speak: Subject: Order."}))
      << lines.join('\n').toStdString();
  EXPECT_EQ(md.Files("new").size(), 2);  // never marked
  EXPECT_EQ(settings().read(settings::LastCheck), "2026-12-06 08:06:00");
  // Nothing new since: nothing said.
  ASSERT_EQ(run({"--auto"}), 0);
  EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
}

TEST_F(CliMailTest, AMailboxOutOfReachAndWrongArguments) {
  EXPECT_EQ(run({"--mailbox", dir.filePath("none")}), 1);
  EXPECT_EQ(lines, (QStringList{"Play: Sad",
                                "Speak: Sorry, I could not reach your mailbox because the folder " +
                                    dir.filePath("none") + " does not exist.",
                                "Play: Blink"}));
  EXPECT_TRUE(errors.contains("does not exist"));
  EXPECT_EQ(run({"--auto", "--mailbox", dir.filePath("none")}), 1);
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_EQ(run({"--mailbox"}), 2);
  EXPECT_EQ(run({"--all"}), 2);
  EXPECT_TRUE(errors.contains("mail does not take --all"));
}

TEST_F(CliMailTest, NothingFromTheMailboxReachesTheTerminalRaw) {
  // A subject and a name carrying escape sequences, raw and RFC 2047 encoded.
  md.Deliver("From: =?utf-8?Q?Eve=1B=5D0=3Bx=07?= <eve@example.org>\r\nSubject: \x1b[2JClear =?utf-8?B?" +
                 QByteArray("\x1b]2;title\x07\xc2\x9b").toBase64() +
                 "?=\r\nDate: Sun, 6 Dec 2026 09:00:00 +0100\r\n\r\nBody \x07\x1b[5m\r\n",
             Berlin(2026, 12, 6, 9, 1));
  {
    SettingsStore s = settings();
    s.write(settings::MailWho, "1");
  }
  ASSERT_EQ(run({"--mailbox", md.folder()}), 0) << errors.toStdString();
  EXPECT_TRUE(lines.contains("Speak: By Eve ]0;x.")) << lines.join('\n').toStdString();
  ExpectNoControls(lines);
}

TEST_F(CliMailTest, TheFilesOfARunThatWasKilledGoWithTheNextRun) {
  // What a killed run left: its folder, named after a process that is no more. A running one's
  // (process 1 always runs) stays.
  const QString dead = dir.filePath("tmp/chimewise-mail-999999999-AbCdEf");
  const QString alive = dir.filePath("tmp/chimewise-mail-1-AbCdEf");
  for (const QString& f : {dead, alive}) {
    QDir().mkpath(f);
    QFile file(f + "/mail0.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  ASSERT_EQ(run({"--mailbox", md.folder()}), 0) << errors.toStdString();
  EXPECT_FALSE(QDir(dead).exists());
  EXPECT_TRUE(QFile::exists(alive + "/mail0.txt"));
}
