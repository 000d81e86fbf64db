// The Options dialog's rules: list names of character files, the mail interval and range checks,
// the stored gesture, the tab order, the mailbox check, help pages and the character's places.
#include "options/options_rules.h"

#include "support/files.h"
#include "support/qt_print.h"

#include <QDir>
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
  const QString user = dir.filePath("user");
  const QString installed = dir.filePath("installed");
  Touch(user + "/zed.ochar");
  Touch(user + "/HOOT.ochar");
  Touch(user + "/notes.txt");
  Touch(user + "/.ochar");
  Touch(installed + "/Bolt.ochar");
  Touch(installed + "/Hoot.ochar");
  Touch(installed + "/ancient.OCHAR");
  const std::vector<CharacterEntry> entries = CharacterEntries({user, installed, dir.filePath("missing")});
  QStringList names;
  QStringList files;
  for (const CharacterEntry& e : entries) {
    names << e.name;
    files << e.fileName;
  }
  // The user's folder first, each folder by name; the installed Hoot is the user's already.
  EXPECT_EQ(names, QStringList({"Hoot", "Zed", "Ancient", "Bolt"}));
  EXPECT_EQ(files, QStringList({"HOOT.ochar", "zed.ochar", "ancient.OCHAR", "Bolt.ochar"}));
  EXPECT_EQ(entries.front().path, user + "/HOOT.ochar");
  EXPECT_EQ(entries.back().path, installed + "/Bolt.ochar");

  // The stored name chooses the entry, so a character added since never changes the choice; the
  // stored position only helps when the name is not listed.
  EXPECT_EQ(CharacterListPosition(entries, "BOLT", 0), 3);
  EXPECT_EQ(CharacterListPosition(entries, " Zed ", 3), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 2), 2);
  EXPECT_EQ(CharacterListPosition(entries, "", 1), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 4), -1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", -1), -1);
  EXPECT_EQ(CharacterListPosition({}, "Hoot", 0), -1);
}

TEST(OptionsChecks, TheMailIntervalStaysBetweenOneAnd999AndTheRangePickersDragEachOther) {
  EXPECT_EQ(ClampedMailInterval("0"), "1");
  EXPECT_EQ(ClampedMailInterval("often"), "1");
  EXPECT_EQ(ClampedMailInterval("0.5"), "1");
  EXPECT_EQ(ClampedMailInterval("1"), "1");
  EXPECT_EQ(ClampedMailInterval(" 15 "), " 15 ");  // in range: left as typed
  EXPECT_EQ(ClampedMailInterval("999"), "999");
  EXPECT_EQ(ClampedMailInterval("999.5"), "999");
  EXPECT_EQ(ClampedMailInterval("1500"), "999");

  // The end moved before the start takes the start along; the start moved past the end, the end.
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(8, 0)), QTime(8, 0));
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(9, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeStart(QTime(7, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(22, 0), QTime(21, 0)), QTime(22, 0));
  EXPECT_EQ(DraggedRangeEnd(QTime(21, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(), QTime(21, 0)), std::nullopt);
}

TEST(OptionsChecks, GestureTabOrderAndTimeFormat) {
  const QStringList gestures = AnnounceGestureNames();
  ASSERT_EQ(gestures.size(), 24);
  EXPECT_EQ(gestures.first(), "None");
  EXPECT_EQ(gestures.last(), "Write");
  // "None" and no choice store no gesture; a gesture is stored trimmed, with its position.
  EXPECT_EQ(GestureToStore(0, "None").gesture, "");
  EXPECT_EQ(GestureToStore(0, "None").index, 0);
  EXPECT_EQ(GestureToStore(-1, "").gesture, "");
  EXPECT_EQ(GestureToStore(-1, "").index, -1);
  EXPECT_EQ(GestureToStore(3, " Announce ").gesture, "Announce");
  EXPECT_EQ(GestureToStore(3, " Announce ").index, 3);

  EXPECT_EQ(NextTab(0, 4), 1);
  EXPECT_EQ(NextTab(2, 4), 3);
  EXPECT_EQ(NextTab(3, 4), 0);
  EXPECT_EQ(NextTab(-1, 4), 0);
  EXPECT_EQ(NextTab(0, 0), -1);

  EXPECT_EQ(TimeFormatFor(true), "h:mm am/pm");
  EXPECT_EQ(TimeFormatFor(false), "h:mm");
  EXPECT_TRUE(AmPmTicked("h:mm am/pm"));
  EXPECT_FALSE(AmPmTicked("h:mm"));
  EXPECT_FALSE(AmPmTicked("hh:mm AM/PM"));  // another pattern is left alone, not ticked
  EXPECT_EQ(CharacterSizeNames().size(), 7);
  EXPECT_EQ(AnnounceIntervalNames().size(), 7);
  EXPECT_EQ(AnnouncePhraseChoices().first(), "The Time is");
}

TEST(OptionsChecks, AMailboxIsAFolderOrAnImapServerAndNothingElse) {
  for (const char* good : {"", "  ", "/home/ann/Maildir", "~/Maildir", "imap://mail.example.org",
                           "imaps://mail.example.org:993", "IMAPS://Mail.Example.org/", " imap://127.0.0.1:1143 "})
    EXPECT_EQ(MailboxProblem(good), "") << good;
  for (const char* bad : {"Maildir", "pop3://mail.example.org", "imaps://", "imaps://host:99999",
                          "imaps://ann@mail.example.org", "imaps://mail.example.org/INBOX", "http://example.org"})
    EXPECT_NE(MailboxProblem(bad), "") << bad;
  EXPECT_TRUE(MailboxProblem("imaps://ann@mail.example.org").contains("User box"));

  for (const char* good : {"1", " 5 ", "1440"}) EXPECT_EQ(WaitTimeProblem(good), "") << good;
  for (const char* bad : {"", "0", "-5", "1441", "99999", "2.5", "ten", "5 minutes"})
    EXPECT_TRUE(WaitTimeProblem(bad).contains("from 1 to 1440")) << bad;
  EXPECT_EQ(MailboxToStore(" ~/Maildir ", "/home/ann"), "/home/ann/Maildir");
  EXPECT_EQ(MailboxToStore(" imaps://mail.example.org ", "/home/ann"), "imaps://mail.example.org");
}

TEST(OptionsChecks, HelpPagesComeFromTheApplicationFolderElseTheInstalledTemplate) {
  QTemporaryDir dir;
  const QString app = dir.filePath("app");
  const QString templ = dir.filePath("template");
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
  // Upper right: against the right edge, level with the top.
  EXPECT_EQ(CharacterBesideDialog(QRect(300, 200, 500, 400), character, screen), QPoint(800, 200));
  // No room on the right: against the left edge instead.
  EXPECT_EQ(CharacterBesideDialog(QRect(700, 200, 500, 400), character, screen), QPoint(540, 200));
  // No room on either side: above the dialog's right end, or below it at the top of the screen.
  EXPECT_EQ(CharacterBesideDialog(QRect(100, 700, 1100, 400), character, screen), QPoint(1040, 560));
  EXPECT_EQ(CharacterBesideDialog(QRect(100, 0, 1100, 400), character, screen), QPoint(1040, 400));
  // A second screen to the right of the first keeps its own coordinates.
  EXPECT_EQ(CharacterBesideDialog(QRect(1500, 100, 400, 300), character, QRect(1280, 0, 1920, 1080)),
            QPoint(1900, 100));

  // At the foot: just below the lower edge, 100 twips in (7 pixels at 96 DPI, 5 at 144 DPI).
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 200, 500, 400), character, screen, 15.0), QPoint(307, 600));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 200, 500, 400), character, screen, 10.0), QPoint(310, 600));
  // No room below: on the right with the feet level with the bottom edge, else on the left, else
  // above.
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 350, 500, 400), character, screen, 15.0), QPoint(800, 610));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(700, 350, 500, 400), character, screen, 15.0), QPoint(540, 610));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(100, 400, 1100, 400), character, screen, 15.0), QPoint(107, 260));
  // Half off the screen: pulled onto it below the dialog, not over it.
  EXPECT_EQ(CharacterAtDialogFoot(QRect(1200, -50, 500, 150), character, screen, 15.0), QPoint(1120, 100));
  // Wherever the dialog stands, the character is on the screen and off the dialog, at its foot
  // as at its side.
  for (int x = -200; x <= 1000; x += 50)
    for (int y = -100; y <= 500; y += 50) {
      const QRect dialog(x, y, 480, 380);
      const QRect foot(CharacterAtDialogFoot(dialog, character, screen, 15.0), character);
      EXPECT_TRUE(screen.contains(foot) && !foot.intersects(dialog)) << x << "," << y;
      const QRect side(CharacterBesideDialog(dialog, character, screen), character);
      EXPECT_TRUE(screen.contains(side) && !side.intersects(dialog)) << x << "," << y;
    }
}
