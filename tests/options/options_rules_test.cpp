// The Options dialog's rules: character list names, the checks on typed values, the stored
// gesture, the tab order, help pages, the character's places and the voice test and demo queues.
#include "options/options_rules.h"
#include "options/voice_demo.h"

#include "support/files.h"
#include "support/qt_print.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;
using testsupport::Touch;

TEST(OptionsCharacterList, EntriesAreNamedFromTheFileAndTheUsersOwnCopyWins) {
  EXPECT_EQ(CharacterEntryName("hoot.ochar"), "Hoot");
  EXPECT_EQ(CharacterEntryName("MERLIN.v2.ochar"), "Merlin");
  EXPECT_EQ(CharacterEntryName("bOLT.OCHAR"), "Bolt");
  EXPECT_EQ(CharacterEntryName(".ochar"), "");
  QTemporaryDir dir;
  const QString user = dir.filePath("user"), installed = dir.filePath("installed");
  for (const char* f : {"/zed.ochar", "/HOOT.ochar", "/notes.txt", "/.ochar"}) Touch(user + f);
  for (const char* f : {"/Bolt.ochar", "/Hoot.ochar", "/ancient.OCHAR"}) Touch(installed + f);
  const std::vector<CharacterEntry> entries = CharacterEntries({user, installed, dir.filePath("missing")});
  QStringList names, files;
  for (const CharacterEntry& e : entries) {
    names << e.name;
    files << e.fileName;
  }
  // The user's folder first, each folder by name; the installed Hoot is the user's already.
  EXPECT_EQ(names, QStringList({"Hoot", "Zed", "Ancient", "Bolt"}));
  EXPECT_EQ(files, QStringList({"HOOT.ochar", "zed.ochar", "ancient.OCHAR", "Bolt.ochar"}));
  EXPECT_EQ(entries.front().path, user + "/HOOT.ochar");
  EXPECT_EQ(entries.back().path, installed + "/Bolt.ochar");
  // The stored name chooses; the stored position only helps when the name is not listed.
  EXPECT_EQ(CharacterListPosition(entries, "BOLT", 0), 3);
  EXPECT_EQ(CharacterListPosition(entries, " Zed ", 3), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 2), 2);
  EXPECT_EQ(CharacterListPosition(entries, "", 1), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 4), -1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", -1), -1);
  EXPECT_EQ(CharacterListPosition({}, "Hoot", 0), -1);
}

TEST(OptionsChecks, TypedValuesAreKeptInRangeOrRefused) {
  // The mail interval stays between 1 and 999; in range it is left as typed.
  const std::pair<const char*, const char*> intervals[] = {{"0", "1"},       {"often", "1"},   {"0.5", "1"},
                                                           {"1", "1"},       {" 15 ", " 15 "}, {"999", "999"},
                                                           {"999.5", "999"}, {"1500", "999"}};
  for (const auto& [typed, kept] : intervals) EXPECT_EQ(ClampedMailInterval(typed), kept) << typed;
  // The end moved before the start takes the start along; the start moved past the end, the end.
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(8, 0)), QTime(8, 0));
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(9, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeStart(QTime(7, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(22, 0), QTime(21, 0)), QTime(22, 0));
  EXPECT_EQ(DraggedRangeEnd(QTime(21, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(), QTime(21, 0)), std::nullopt);
  // A mailbox is a folder or an IMAP server and nothing else.
  for (const char* good : {"", "  ", "/home/ann/Maildir", "~/Maildir", "imap://mail.example.org",
                           "imaps://mail.example.org:993", "IMAPS://Mail.Example.org/", " imap://127.0.0.1:1143 "})
    EXPECT_EQ(MailboxProblem(good), "") << good;
  for (const char* bad : {"Maildir", "pop3://mail.example.org", "imaps://", "imaps://host:99999",
                          "imaps://ann@mail.example.org", "imaps://mail.example.org/INBOX", "http://example.org"})
    EXPECT_NE(MailboxProblem(bad), "") << bad;
  EXPECT_TRUE(MailboxProblem("imaps://ann@mail.example.org").contains("User box"));
  EXPECT_EQ(MailboxToStore(" ~/Maildir ", "/home/ann"), "/home/ann/Maildir");
  EXPECT_EQ(MailboxToStore(" imaps://mail.example.org ", "/home/ann"), "imaps://mail.example.org");
  for (const char* good : {"1", " 5 ", "1440"}) EXPECT_EQ(WaitTimeProblem(good), "") << good;
  for (const char* bad : {"", "0", "-5", "1441", "99999", "2.5", "ten", "5 minutes"})
    EXPECT_TRUE(WaitTimeProblem(bad).contains("from 1 to 1440")) << bad;
}

TEST(OptionsChecks, GestureTabOrderTimeFormatAndHelpPages) {
  ASSERT_EQ(AnnounceGestureNames().size(), 24);
  // "None" and no choice store no gesture; a gesture is stored trimmed, with its position.
  for (const auto& [position, text, gesture] :
       {std::tuple{0, "None", ""}, std::tuple{-1, "", ""}, std::tuple{3, " Announce ", "Announce"}}) {
    EXPECT_EQ(GestureToStore(position, text).gesture, gesture);
    EXPECT_EQ(GestureToStore(position, text).index, position);
  }
  const std::tuple<int, int, int> tabs[] = {{0, 4, 1}, {2, 4, 3}, {3, 4, 0}, {-1, 4, 0}, {0, 0, -1}};
  for (const auto& [current, count, next] : tabs) EXPECT_EQ(NextTab(current, count), next) << current << "/" << count;
  EXPECT_TRUE(AmPmTicked(TimeFormatFor(true)));
  EXPECT_FALSE(AmPmTicked(TimeFormatFor(false)));
  EXPECT_FALSE(AmPmTicked("hh:mm AM/PM"));  // another pattern is left alone, not ticked

  // Help pages come from the application folder, else the installed template.
  QTemporaryDir dir;
  const QString app = dir.filePath("app"), templ = dir.filePath("template");
  Touch(templ + "/helpfile/options.htm");
  Touch(templ + "/helpfile/characters.htm");
  Touch(app + "/HelpFile/OPTIONS.HTM");
  EXPECT_EQ(HelpPagePath(app, templ, "options.htm"), app + "/HelpFile/OPTIONS.HTM");
  EXPECT_EQ(HelpPagePath(app, templ, "characters.htm"), templ + "/helpfile/characters.htm");
  EXPECT_EQ(HelpPagePath(app, "", "characters.htm"), app + "/helpfile/characters.htm");
  EXPECT_EQ(HelpPagePath(app, templ, "about.htm"), app + "/helpfile/about.htm");
}

TEST(OptionsPlacement, TheCharacterStandsBesideTheDialogAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1280, 800);
  const QSize character(160, 140);
  // Beside: upper right; else left; else above the right end; else below it. A second screen
  // keeps its own coordinates.
  EXPECT_EQ(CharacterBesideDialog(QRect(300, 200, 500, 400), character, screen), QPoint(800, 200));
  EXPECT_EQ(CharacterBesideDialog(QRect(700, 200, 500, 400), character, screen), QPoint(540, 200));
  EXPECT_EQ(CharacterBesideDialog(QRect(100, 700, 1100, 400), character, screen), QPoint(1040, 560));
  EXPECT_EQ(CharacterBesideDialog(QRect(100, 0, 1100, 400), character, screen), QPoint(1040, 400));
  EXPECT_EQ(CharacterBesideDialog(QRect(1500, 100, 400, 300), character, QRect(1280, 0, 1920, 1080)),
            QPoint(1900, 100));
  // At the foot: below, 100 twips in (7 pixels at 96 DPI, 10 at 144); else right or left with the
  // feet level with the bottom edge; else above; half off the screen, pulled onto it.
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 200, 500, 400), character, screen, 15.0), QPoint(307, 600));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 200, 500, 400), character, screen, 10.0), QPoint(310, 600));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 350, 500, 400), character, screen, 15.0), QPoint(800, 610));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(700, 350, 500, 400), character, screen, 15.0), QPoint(540, 610));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(100, 400, 1100, 400), character, screen, 15.0), QPoint(107, 260));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(1200, -50, 500, 150), character, screen, 15.0), QPoint(1120, 100));
  // Wherever the dialog stands, the character is on the screen and off the dialog.
  for (int x = -200; x <= 1000; x += 50)
    for (int y = -100; y <= 500; y += 50) {
      const QRect dialog(x, y, 480, 380);
      const QRect foot(CharacterAtDialogFoot(dialog, character, screen, 15.0), character);
      EXPECT_TRUE(screen.contains(foot) && !foot.intersects(dialog)) << x << "," << y;
      const QRect side(CharacterBesideDialog(dialog, character, screen), character);
      EXPECT_TRUE(screen.contains(side) && !side.intersects(dialog)) << x << "," << y;
    }
}

namespace {
QStringList Lines(const std::vector<VoiceStep>& steps) {
  QStringList out;
  for (const VoiceStep& s : steps) {
    switch (s.kind) {
      case VoiceStep::StopAll: out << "StopAll"; break;
      case VoiceStep::Play: out << "Play: " + s.text; break;
      case VoiceStep::Speak: out << "Speak: " + s.text; break;
      case VoiceStep::SayText: out << "SayText: " + s.text; break;
      case VoiceStep::MoveTo: out << QStringLiteral("MoveTo: %1,%2").arg(s.at.x()).arg(s.at.y()); break;
      case VoiceStep::Show: out << "Show"; break;
    }
  }
  return out;
}
}  // namespace

TEST(VoiceTest, AnnouncesFromTheChoicesInTheRunningTimeFormatAndTheDemoEndsAtTheFoot) {
  const QDateTime friday(QDate(2026, 12, 4), QTime(15, 5, 30));
  EXPECT_EQ(Lines(VoiceTestSteps({" Announce ", "The time is", true, true, true}, friday, "h:mm am/pm")),
            QStringList({"StopAll", "Play: Announce", "Speak: Good Afternoon", "SayText: The time is 3:05 pm",
                         "Speak:  on Friday", "Speak: December 4th, 2026"}));
  EXPECT_EQ(Lines(VoiceTestSteps({"", "Wake up sleepy head its", false, false, false}, friday, "h:mm")),
            QStringList({"StopAll", "SayText: Wake up sleepy head its 15:05"}));
  // "None" goes to the character as a name: one that lacks such an animation skips it.
  EXPECT_EQ(Lines(VoiceTestSteps({"None", "The Time is", true, false, false}, QDateTime(friday.date(), QTime(11, 59)),
                                 "h:mm")),
            QStringList({"StopAll", "Play: None", "Speak: Good Morning", "SayText: The Time is 11:59"}));

  const QStringList demo = Lines(DemoSteps("Hoot", QPoint(307, 460)));
  ASSERT_GE(demo.size(), 3);
  EXPECT_TRUE(demo.startsWith("Speak: Hi, this is what my voice sounds like. Do you like it?"));
  EXPECT_EQ(demo.mid(demo.size() - 2), QStringList({"MoveTo: 307,460", "Show"}));
  EXPECT_TRUE(demo.contains("Speak: Hello I am Hoot"));
  EXPECT_TRUE(Lines(DemoSteps("", {})).contains("Speak: Hello I am "));
}
