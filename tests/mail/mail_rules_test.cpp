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
const QString kMore = " and more.";
MailItem Item(const QString& subject, const QString& body = "Hi") {
  return {at(5, 15, 45), "Ann Lee", subject, body, {}};
}
}  // namespace

// The midnights crossed name the day: 6 days back a weekday, 7 to 13 "a week ago", 14 the date.
TEST(WhenPhrase, MidnightsCrossedAndTheTwelveHourTime) {
  const QDateTime now = at(16, 0, 5);  // a Wednesday, just after midnight
  const std::pair<QDateTime, const char*> cases[] = {
      {at(15, 23, 59), "yesterday "},
      {at(16, 0, 1), "today "},
      {at(13, 12, 0), "Sunday"},
      {at(10, 12, 0), "Thursday"},
      {at(9, 23, 59), "a week ago Wednesday"},
      {at(3, 0, 0), "a week ago Thursday"},
      {at(18, 12, 0), "Friday"},  // sent in the future
  };
  for (const auto& [sent, phrase] : cases) EXPECT_EQ(WhenPhrase(sent, now), phrase) << phrase;
  EXPECT_TRUE(WhenPhrase(at(2, 12, 0), now).startsWith("on "));
  EXPECT_EQ(WhenLine(at(5, 15, 45), at(6, 9, 0)), "yesterday " + kAt + "3:45 in the Afternoon.");
  EXPECT_EQ(WhenLine(at(6, 0, 5), at(6, 12, 0)), "today " + kAt + "12:05 in the Morning.");
  EXPECT_EQ(WhenLine(at(6, 19, 0), at(6, 20, 0)), "today " + kAt + "7:00 in the Evening.");
  EXPECT_EQ(MailAnnouncement(1), "You have 1 unread message.");
  EXPECT_EQ(MailAnnouncement(2), "You have 2 unread messages.");
}

TEST(AutomaticSpeech, EachFlagCombinationOpensItsLinesRightly) {
  const QDateTime now = at(6, 9, 0);
  MailFlags f;
  f.saySubject = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch"), f, now), QStringList{"Message Subject: Lunch."});
  f.sayWho = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch"), f, now), (QStringList{"Message sent by Ann Lee.", "Subject: Lunch."}));
  f.sayWhen = f.sayBody = true;
  EXPECT_EQ(AutomaticSpeech(Item("Lunch", "  See you\r\n\r\n"), f, now),
            (QStringList{"Message sent yesterday " + kAt + "3:45 in the Afternoon.", "By Ann Lee.", "Subject: Lunch.",
                         "Message Reads: See you"}));
  EXPECT_EQ(AutomaticSpeech(Item("   ", "\r\n \r\n"), f, now).size(), 2);  // blank subject and body unsaid
  MailItem nobody = Item("Hello");
  nobody.senderName = " ";
  EXPECT_EQ(AutomaticSpeech(nobody, f, now)[1], "By an unknown sender.");
  // Mail text cannot place speech tags.
  f.sayWhen = f.sayWho = false;
  EXPECT_EQ(AutomaticSpeech(Item("\\pl=DoMagic2\\Win", "Click \\Mrk=200\\ now"), f, {}),
            (QStringList{"Message Subject: /pl=DoMagic2/Win.", "Message Reads: Click /Mrk=200/ now"}));
  const MailItem bad{{}, "Ann Lee", {}, {}, "it is not a mail message"};
  EXPECT_EQ(AutomaticSpeech(bad, MailFlags{}, {}),
            QStringList{"\\pl=Uncertain\\I could not read a message from Ann Lee because it is not a mail message."});
}

// About 2,000 characters are read, cut after a word (or at the limit, never inside a surrogate pair),
// then " and more."; a body of exactly the limit is whole; the window's file keeps all of it.
TEST(AutomaticSpeech, ALongBodyIsReadToTheLimitThenAndMore) {
  MailFlags body;
  body.sayBody = true;
  QString text;
  for (int i = 0; text.size() < 31 * 1024; ++i) text += QStringLiteral("word%1 ").arg(i % 10);
  text += QString::fromUtf8("😀");
  const QStringList said = AutomaticSpeech(Item("Long", text), body, at(5, 16, 0));
  ASSERT_EQ(said.size(), 1);
  EXPECT_TRUE(said[0].endsWith(kMore));
  EXPECT_LE(said[0].size(), QString("Message Reads: ").size() + kMaxSpokenBody + 10);
  EXPECT_GE(said[0].size(), kMaxSpokenBody * 3 / 4);
  EXPECT_TRUE(QRegularExpression("word[0-9]$").match(said[0].chopped(kMore.size())).hasMatch());
  const std::array<bool, 4> flags{false, false, false, true};
  const QStringList lines = MessageFileLines(Item("Long", text), flags, at(5, 16, 0));
  EXPECT_EQ(lines.join(""), text);
  EXPECT_TRUE(ListedMessageSpeech(lines, flags, false)[0].endsWith(kMore));
  const QString exact(kMaxSpokenBody, u'a');
  EXPECT_EQ(SpeechPortion(exact), exact);
  QString pairs = "a";
  while (pairs.size() < kMaxSpokenBody + 10) pairs += QString::fromUtf8("😀");
  const QString cut = SpeechPortion(pairs).chopped(kMore.size());
  EXPECT_TRUE(cut.back().isLowSurrogate());
  EXPECT_EQ(cut.size(), kMaxSpokenBody - 1);
}

TEST(MessageFiles, LinesWrittenAndReadWithTheSameFlags) {
  const QDateTime now = at(6, 9, 0);
  const MailItem item{at(6, 8, 5), "Bob\r\nSmith", "Two\nlines", "First\r\nSecond\r\n", {}};
  const std::array<bool, 4> all{true, true, true, true}, noWho{false, false, true, true},
      whoNoWhen{false, true, true, false};
  const QStringList lines = MessageFileLines(item, all, now);
  EXPECT_EQ(lines,
            (QStringList{"today " + kAt + "8:05 in the Morning.", "Bob  Smith", "Two lines", "First\r\nSecond\r\n"}));
  EXPECT_EQ(ListedMessageSpeech({lines[0], lines[1], lines[2], "First", "Second"}, all, false),
            (QStringList{"\\pl=Blink\\Message sent today " + kAt + "8:05 in the Morning.", "By Bob  Smith.",
                         "Subject: Two lines.", "Message Reads: First\nSecond"}));
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(item, noWho, now), noWho, false),
            (QStringList{"Message subject: Two lines.", "Message Reads: First\nSecond"}));
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(item, whoNoWhen, now), whoNoWhen, false),
            (QStringList{"Message sent by Bob  Smith.", "Subject: Two lines."}));
  EXPECT_EQ(ListedMessageSpeech({"  ", "Body"}, noWho, false), QStringList{"Message Reads: Body"});
  EXPECT_EQ(ListedMessageSpeech({}, noWho, false), QStringList{});
  // Text that could not be decoded is said to be so, aloud and from the file, never read out.
  MailItem undecoded = item;
  undecoded.body = "R0lGODlhZAAEAIAAAABm";
  undecoded.textUnreadable = true;
  const QString says = "\\pl=Uncertain\\" + kUnreadableText;
  EXPECT_EQ(ListedMessageSpeech(MessageFileLines(undecoded, noWho, now), noWho, false).value(1), says);
  MailFlags f;
  f.sayBody = true;
  EXPECT_EQ(AutomaticSpeech(undecoded, f, now), QStringList{says});
}

// A file is the user's alone, whatever held its name (a wider file, a link); a folder is refused.
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
    ASSERT_TRUE(files.Write(index, {"New"}).ok());
    EXPECT_EQ(testsupport::Slurp(files.path(index)), "New\r\n");
    EXPECT_EQ(QFileInfo(files.path(index)).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
  }
  EXPECT_EQ(testsupport::Slurp(elsewhere), "keep me");
  ASSERT_TRUE(QDir().mkpath(files.path(6)));
  EXPECT_TRUE(Describe(files.Write(6, {"New"})).text.contains(files.path(6)));
}

TEST(MailSettings, FlagsAndTheNextCheckFromTheMinuteAndTheInterval) {
  QTemporaryDir dir;
  SettingsStore settings{dir.filePath("settings.ini")};
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
