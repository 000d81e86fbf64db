#include "mail/mail_rules.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "mail/message_files.h"
#include "support/files.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {
QDateTime at(int d, int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, d), QTime(h, m, s)); }
const QString kAt = "\\map=\".at.\"=\" at \"\\";
MailItem Item(const QString& subject, const QString& body = "Hi") {
  return {at(5, 15, 45), "Ann Lee", subject, body, {}};
}
}  // namespace

TEST(MailAnnouncement, OneAndMany) {
  EXPECT_EQ(MailAnnouncement(1), "You have 1 unread message.");
  EXPECT_EQ(MailAnnouncement(2), "You have 2 unread messages.");
  EXPECT_EQ(MailAnnouncement(0), "\\pl=Sad\\Sorry, there is no new mail.\\pl=Blink\\");
  EXPECT_EQ(MailboxUnreachableText("the server refused the user name or password"),
            "\\pl=Sad\\Sorry, I could not reach your mailbox because the server refused the user name or "
            "password.\\pl=Blink\\");
}

TEST(WhenPhrase, MidnightsCrossed) {
  const QDateTime now = at(16, 0, 5);  // a Wednesday, just after midnight
  EXPECT_EQ(WhenPhrase(at(15, 23, 59), now), "yesterday ");
  EXPECT_EQ(WhenPhrase(at(16, 0, 1), now), "today ");
  EXPECT_EQ(WhenPhrase(at(13, 12, 0), now), "Sunday");  // no blank after a weekday
  EXPECT_EQ(WhenPhrase(at(6, 12, 0), now), "a week ago Sunday");
  EXPECT_EQ(WhenPhrase(at(7, 12, 0), now), "a week ago Monday");  // 9 days
  // The edges: 6 days is a weekday, 7 and 13 are "a week ago", 14 is the date.
  EXPECT_EQ(WhenPhrase(at(10, 12, 0), now), "Thursday");
  EXPECT_EQ(WhenPhrase(at(9, 23, 59), now), "a week ago Wednesday");
  EXPECT_EQ(WhenPhrase(at(3, 0, 0), now), "a week ago Thursday");
  EXPECT_EQ(WhenPhrase(at(18, 12, 0), now), "Friday");  // sent in the future
  EXPECT_TRUE(WhenPhrase(at(2, 12, 0), now).startsWith("on "));
  EXPECT_TRUE(WhenPhrase(at(2, 12, 0), now).contains("2026"));
}

TEST(WhenLine, TwelveHourTimeAndPartOfDay) {
  EXPECT_EQ(WhenLine(at(5, 15, 45), at(6, 9, 0)), "yesterday " + kAt + "3:45 in the Afternoon.");
  EXPECT_EQ(WhenLine(at(6, 11, 30), at(6, 12, 0)), "today " + kAt + "11:30 in the Morning.");
  EXPECT_EQ(WhenLine(at(6, 0, 5), at(6, 12, 0)), "today " + kAt + "12:05 in the Morning.");
  EXPECT_EQ(WhenLine(at(6, 19, 0), at(6, 20, 0)), "today " + kAt + "7:00 in the Evening.");
}

TEST(AutomaticSpeech, EachFlagCombinationOpensItsLinesRightly) {
  const QDateTime now = at(6, 9, 0);
  MailFlags f;
  f.saySubject = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch"), f, now), QStringList{"Message Subject: Lunch."});
  f.sayWho = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch"), f, now), (QStringList{"Message sent by Ann Lee.", "Subject: Lunch."}));
  f.sayWhen = true;
  f.sayBody = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch", "  See you\r\n\r\n"), f, now),
            (QStringList{"Message sent yesterday " + kAt + "3:45 in the Afternoon.", "By Ann Lee.", "Subject: Lunch.",
                         "Message Reads: See you"}));
  // A blank subject and a body of blank lines are not spoken.
  EXPECT_EQ(AutomaticSpeech(Item("   ", "\r\n \r\n"), f, now).size(), 2);
}

TEST(AutomaticSpeech, MailTextCannotPlaceSpeechTags) {
  MailFlags f;
  f.saySubject = f.sayBody = true;
  const QStringList said = AutomaticSpeech(Item("\\pl=DoMagic2\\Win", "Click \\Mrk=200\\ now"), f, {});
  EXPECT_EQ(said, (QStringList{"Message Subject: /pl=DoMagic2/Win.", "Message Reads: Click /Mrk=200/ now"}));
}

TEST(AutomaticSpeech, AnUnreadableMessageIsSaidToBeSo) {
  MailItem bad{{}, "Ann Lee", {}, {}, "it is not a mail message"};
  EXPECT_EQ(AutomaticSpeech(bad, MailFlags{}, {}),
            QStringList{"\\pl=Uncertain\\I could not read a message from Ann Lee because it is not a mail message."});
}

TEST(AutomaticSpeech, AMessageWithoutASenderIsFromAnUnknownSender) {
  MailFlags who;
  who.sayWho = true;
  MailItem item = Item("Hello");
  item.senderName = " ";
  EXPECT_EQ(AutomaticSpeech(item, who, at(5, 16, 0)), QStringList{"Message sent by an unknown sender."});
  who.sayWhen = true;
  EXPECT_EQ(AutomaticSpeech(item, who, at(5, 16, 0))[1], "By an unknown sender.");
  // The window's file says the same, and reads it back under the sender's heading.
  const std::array<bool, 4> flags{false, true, false, false};
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(item, flags, at(5, 16, 0)), flags, false),
            QStringList{"Message sent by an unknown sender."});
}

TEST(AutomaticSpeech, ALongBodyIsReadToAboutTwoThousandCharactersThenAndMore) {
  MailFlags body;
  body.sayBody = true;
  QString text;
  for (int i = 0; text.size() < 31 * 1024; ++i) text += QStringLiteral("word%1 ").arg(i % 10);
  text += QString::fromUtf8("😀");  // a character of two UTF-16 units at the very end
  const QStringList said = AutomaticSpeech(Item("Long", text), body, at(5, 16, 0));
  ASSERT_EQ(said.size(), 1);
  const QString spoken = said[0];
  EXPECT_TRUE(spoken.endsWith(" and more.")) << spoken.right(40).toStdString();
  EXPECT_LE(spoken.size(), QString("Message Reads: ").size() + kMaxSpokenBody + 10);
  EXPECT_GE(spoken.size(), kMaxSpokenBody * 3 / 4);
  // Cut after a whole word, never inside one.
  EXPECT_TRUE(QRegularExpression("word[0-9]$").match(spoken.chopped(QString(" and more.").size())).hasMatch())
      << spoken.right(40).toStdString();
  // The window's file keeps all of it; only what is read aloud is cut.
  const std::array<bool, 4> flags{false, false, false, true};
  const QStringList lines = MessageFileLines(Item("Long", text), flags, at(5, 16, 0));
  EXPECT_EQ(lines.join(""), text);
  EXPECT_TRUE(ListedMessageSpeech(lines, flags, false)[0].endsWith(" and more."));
  // A body of exactly the limit is read whole; a word without any blank is cut at the limit,
  // never inside a surrogate pair.
  const QString exact(kMaxSpokenBody, u'a');
  EXPECT_EQ(SpeechPortion(exact), exact);
  QString pairs = "a";  // so that the limit falls between the two halves of a pair
  while (pairs.size() < kMaxSpokenBody + 10) pairs += QString::fromUtf8("😀");
  const QString cut = SpeechPortion(pairs).chopped(QString(" and more.").size());
  EXPECT_TRUE(cut.back().isLowSurrogate());
  EXPECT_EQ(cut.size(), kMaxSpokenBody - 1);
}

TEST(MessageFiles, LinesWrittenAndReadWithTheSameFlags) {
  const QDateTime now = at(6, 9, 0);
  const MailItem item{at(6, 8, 5), "Bob\r\nSmith", "Two\nlines", "First\r\nSecond\r\n", {}};
  const std::array<bool, 4> all{true, true, true, true};
  const QStringList lines = MessageFileLines(item, all, now);
  EXPECT_EQ(lines,
            (QStringList{"today " + kAt + "8:05 in the Morning.", "Bob  Smith", "Two lines", "First\r\nSecond\r\n"}));
  // As the file reads back: one line per line.
  const QStringList fileLines{lines[0], lines[1], lines[2], "First", "Second"};
  EXPECT_EQ(ListedMessageSpeech(fileLines, all, false),
            (QStringList{"\\pl=Blink\\Message sent today " + kAt + "8:05 in the Morning.", "By Bob  Smith.",
                         "Subject: Two lines.", "Message Reads: First\nSecond"}));
  // Who off when written: the subject is read as the subject.
  const std::array<bool, 4> noWho{false, false, true, true};
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(item, noWho, now), noWho, false),
            (QStringList{"Message subject: Two lines.", "Message Reads: First\nSecond"}));
  // Who on and when off: the sender opens the message, and the subject follows it as "Subject".
  const std::array<bool, 4> whoNoWhen{false, true, true, false};
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(item, whoNoWhen, now), whoNoWhen, false),
            (QStringList{"Message sent by Bob  Smith.", "Subject: Two lines."}));
  // A blank subject is not spoken; the body still is.
  EXPECT_EQ(ListedMessageSpeech({"  ", "Body"}, noWho, false), QStringList{"Message Reads: Body"});
  // A short file gives fewer lines.
  EXPECT_EQ(ListedMessageSpeech({}, noWho, false), QStringList{});
}

// A file is the user's alone from its first moment, whatever held its name before: an old file
// of wider permissions, a link leading elsewhere. What cannot be replaced is refused, not
// written through.
TEST(MessageFiles, WrittenForTheUserOnlyWhateverHeldTheName) {
  QTemporaryDir dir;
  const MessageFiles files(dir.filePath("app/NewMail"));
  ASSERT_TRUE(files.Write(3, {"Today", "First\r\nSecond"}).ok());
  EXPECT_EQ(QFileInfo(files.folder()).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(files.Read(3), (QStringList{"Today", "First", "Second"}));

  testsupport::Touch(files.path(4), "an older and longer message of someone else's");
  QFile::setPermissions(files.path(4), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
  const QString elsewhere = dir.filePath("elsewhere.txt");
  testsupport::Touch(elsewhere, "keep me");
  ASSERT_TRUE(QFile::link(elsewhere, files.path(5)));
  for (int index : {4, 5}) {
    const Problem written = files.Write(index, {"New"});
    ASSERT_TRUE(written.ok()) << Describe(written).text.toStdString();
    EXPECT_EQ(testsupport::Slurp(files.path(index)), "New\r\n");
    EXPECT_FALSE(QFileInfo(files.path(index)).isSymLink());
    EXPECT_EQ(QFileInfo(files.path(index)).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
  }
  EXPECT_EQ(testsupport::Slurp(elsewhere), "keep me");

  ASSERT_TRUE(QDir().mkpath(files.path(6)));
  const QString error = Describe(files.Write(6, {"New"})).text;
  EXPECT_TRUE(error.contains(files.path(6))) << error.toStdString();
  EXPECT_TRUE(QFileInfo(files.path(6)).isDir());
}

class MailSettingsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  SettingsStore settings{dir.filePath("settings.ini")};
};

TEST_F(MailSettingsTest, FlagsOnRequestAndAutomatic) {
  MailFlags f = ReadMailFlags(settings, true);
  EXPECT_TRUE(f.sayWhen && !f.sayWho && f.saySubject && f.sayBody && f.markRead && !f.readAll);
  f = ReadMailFlags(settings, false);
  EXPECT_TRUE(f.sayWhen && !f.sayWho && f.saySubject && !f.sayBody && !f.markRead && !f.readAll);
  settings.write(settings::ReadAll, "2");
  settings.write(settings::MarkRead, "1");
  settings.write(settings::AutoWho, "yes");  // not a number: off
  f = ReadMailFlags(settings, false);
  EXPECT_TRUE(f.readAll && !f.markRead && !f.sayWho);
  EXPECT_FALSE(ReadMailFlags(settings, true).readAll);
}

TEST_F(MailSettingsTest, NextCheckFromTheMinuteAndTheInterval) {
  int interval = -1;
  EXPECT_FALSE(NextMailCheckTime(settings, interval, at(6, 10, 41, 37)).isValid());  // checking is off
  settings.write(settings::CheckMail, "1");
  settings.write(settings::MailInterval, "15");
  EXPECT_EQ(NextMailCheckTime(settings, interval, at(6, 10, 41, 37)), at(6, 10, 56));
  EXPECT_EQ(interval, 15);
  interval = 5;  // as the options dialog passes its box
  EXPECT_EQ(NextMailCheckTime(settings, interval, at(6, 23, 58, 2)), at(7, 0, 3));
  settings.write(settings::MailInterval, "0");  // damaged: not a check on every tick
  interval = -1;
  EXPECT_EQ(NextMailCheckTime(settings, interval, at(6, 10, 41, 37)), at(6, 10, 42));
}
