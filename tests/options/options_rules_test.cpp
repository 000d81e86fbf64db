// The Options rules without a window, what the dialog reads and stores, and the autostart entry.
#include "options/options_rules.h"
#include "options/autostart.h"
#include "options/options_store.h"
#include "options/voice_demo.h"

#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "support/files.h"
#include "support/qt_print.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;
using testsupport::Touch;

TEST(OptionsCharacterList, EntriesAreNamedFromTheFileAndTheUsersOwnCopyWins) {
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
  EXPECT_EQ(names, QStringList({"Hoot", "Zed", "Ancient", "Bolt"}));
  EXPECT_EQ(files, QStringList({"HOOT.ochar", "zed.ochar", "ancient.OCHAR", "Bolt.ochar"}));
  EXPECT_EQ(entries.front().path, user + "/HOOT.ochar");
  EXPECT_EQ(entries.back().path, installed + "/Bolt.ochar");
  EXPECT_EQ(CharacterListPosition(entries, "BOLT", 0), 3);
  EXPECT_EQ(CharacterListPosition(entries, " Zed ", 3), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 2), 2);
  EXPECT_EQ(CharacterListPosition(entries, "", 1), 1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", 4), -1);
  EXPECT_EQ(CharacterListPosition(entries, "Gone", -1), -1);
  EXPECT_EQ(CharacterListPosition({}, "Hoot", 0), -1);
}

TEST(OptionsChecks, TypedValuesAreKeptInRangeOrRefused) {
  const std::pair<const char*, const char*> intervals[] = {{"0", "1"},       {"often", "1"},   {"0.5", "1"},
                                                           {"1", "1"},       {" 15 ", " 15 "}, {"999", "999"},
                                                           {"999.5", "999"}, {"1500", "999"}};
  for (const auto& [typed, kept] : intervals) EXPECT_EQ(ClampedMailInterval(typed), kept) << typed;
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(8, 0)), QTime(8, 0));
  EXPECT_EQ(DraggedRangeStart(QTime(9, 0), QTime(9, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeStart(QTime(7, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(22, 0), QTime(21, 0)), QTime(22, 0));
  EXPECT_EQ(DraggedRangeEnd(QTime(21, 0), QTime(21, 0)), std::nullopt);
  EXPECT_EQ(DraggedRangeEnd(QTime(), QTime(21, 0)), std::nullopt);
  for (const char* good : {"", "  ", "/home/ann/Maildir", "~/Maildir", "imap://mail.example.org",
                           "imaps://mail.example.org:993", "IMAPS://Mail.Example.org/", " imap://127.0.0.1:1143 "})
    EXPECT_EQ(MailboxProblem(good), "") << good;
  for (const char* bad : {"Maildir", "pop3://mail.example.org", "imaps://", "imaps://host:99999",
                          "imaps://ann@mail.example.org", "imaps://mail.example.org/INBOX", "http://example.org"})
    EXPECT_NE(MailboxProblem(bad), "") << bad;
  EXPECT_EQ(MailboxToStore(" ~/Maildir ", "/home/ann"), "/home/ann/Maildir");
  EXPECT_EQ(MailboxToStore(" imaps://mail.example.org ", "/home/ann"), "imaps://mail.example.org");
  for (const char* good : {"1", " 5 ", "1440"}) EXPECT_EQ(WaitTimeProblem(good), "") << good;
  for (const char* bad : {"", "0", "-5", "1441", "99999", "2.5", "ten", "5 minutes"})
    EXPECT_TRUE(WaitTimeProblem(bad).contains("from 1 to 1440")) << bad;
  EXPECT_FALSE(AmPmTicked("hh:mm AM/PM"));  // another stored pattern is left alone, not ticked
  // "None" (position 0) stores no gesture, never the word, which would name an animation.
  for (const auto& [position, text, gesture, index] :
       {std::tuple{0, "None", "", 0}, {-1, "", "", -1}, {3, " Announce ", "Announce", 3}}) {
    const GestureSetting g = GestureToStore(position, text);
    EXPECT_EQ(g.gesture + "|" + QString::number(g.index), QString(gesture) + "|" + QString::number(index));
  }
  // Ctrl+Tab turns from the last tab back to the first.
  for (const auto& [current, count, next] : {std::array{4, 5, 0}, {1, 5, 2}, {-1, 5, 0}, {0, 0, -1}})
    EXPECT_EQ(NextTab(current, count), next) << current << "/" << count;
}

TEST(OptionsPlacement, TheCharacterStandsBesideTheDialogAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1280, 800);
  const QSize character(160, 140);
  EXPECT_EQ(CharacterBesideDialog(QRect(300, 200, 500, 400), character, screen), QPoint(800, 200));
  EXPECT_EQ(CharacterAtDialogFoot(QRect(300, 200, 500, 400), character, screen, 15.0), QPoint(307, 600));
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
  static const char* const kinds[] = {"StopAll", "Play: ", "Speak: ", "SayText: ", "MoveTo: ", "Show"};
  QStringList out;
  for (const VoiceStep& s : steps) out << kinds[s.kind] + s.text;
  return out;
}
}  // namespace

TEST(VoiceTest, AnnouncesFromTheChoicesInTheRunningTimeFormat) {
  const QDateTime friday(QDate(2026, 12, 4), QTime(15, 5, 30));
  EXPECT_EQ(Lines(VoiceTestSteps({" Announce ", "The time is", true, true, true}, friday, "h:mm am/pm")),
            QStringList({"StopAll", "Play: Announce", "Speak: Good Afternoon", "SayText: The time is 3:05 pm",
                         "Speak:  on Friday", "Speak: December 4th, 2026"}));
  EXPECT_EQ(Lines(VoiceTestSteps({"None", "The Time is", true, false, false}, QDateTime(friday.date(), QTime(11, 59)),
                                 "h:mm")),
            QStringList({"StopAll", "Play: None", "Speak: Good Morning", "SayText: The Time is 11:59"}));
}

namespace {

class OptionsStore : public ::testing::Test {
 protected:
  // The stored texts of `keys`, "<absent>" for none.
  QStringList stored(std::initializer_list<SettingKey> keys) {
    QStringList out;
    for (const SettingKey& k : keys) out << settings.read(k.section, k.key, "<absent>");
    return out;
  }
  QTemporaryDir dir;
  SettingsStore settings{dir.filePath("settings.ini")};
  ProgramOptions running;
};

}  // namespace

TEST_F(OptionsStore, AFreshStoreOpensWithTheRunningValuesAndTheDialogsOwnDefaults) {
  running.waitTime = 12;
  running.remindOn = false;
  running.readActivity = false;
  running.timeFormat = "h:mm";
  const OptionsValues v = ReadOptions(settings, running);
  EXPECT_EQ(v.waitTime, "12");
  EXPECT_FALSE(v.remindOn || v.readActivity || v.amPm);
  EXPECT_TRUE(v.readMemos && v.checkMail && v.timeOn);
  EXPECT_EQ(v.gestureIndex, 3);
  EXPECT_EQ(v.gestureText, "Announce");
  EXPECT_TRUE(v.when && v.subject && v.body && v.markRead && v.autoWhen && v.autoSubject);
  EXPECT_FALSE(v.who || v.autoWho || v.autoBody);
  settings.write(settings::ReadAll, "-1");
  settings.write(settings::StartTime, "06:30");
  settings.write(settings::EndTime, "late");
  settings.write(settings::GestureIndex, "3");
  settings.write(settings::AnnounceOn, "");
  settings.write(settings::TimeOn, "0");
  const OptionsValues w = ReadOptions(settings, running);
  EXPECT_TRUE(w.readAll && w.announceOn);
  EXPECT_FALSE(w.timeOn || w.rangeEnd.isValid());
  EXPECT_EQ(w.rangeStart, QTime(6, 30));
  EXPECT_EQ(w.gestureText, "Announce");
  settings.write(settings::GestureIndex, "99");
  settings.write(settings::AnnounceGesture, "Juggle");
  EXPECT_EQ(ReadOptions(settings, running).gestureIndex, -1);
  EXPECT_EQ(ReadOptions(settings, running).gestureText, "");
}

TEST_F(OptionsStore, ApplyStoresEveryValueAndTheRunningProgramFollows) {
  running.timeFormat = "h:mm";
  OptionsValues v;
  v.characterName = " Bolt ";
  v.characterIndex = 1;
  v.size = 6;
  v.interval = 3;
  v.phrase = " Hey Gorgeous, you're looking slim today. The time is ";
  v.gestureIndex = 0;
  v.gestureText = "None";
  v.announceOn = v.timeOn = v.remindOn = v.readActivity = v.showFuture = v.markRead = false;
  v.sayDate = v.noSoundEffects = v.showOnStart = v.desktopNotices = v.readAll = v.who = true;
  v.rangeStart = QTime(6, 5, 40);
  v.rangeEnd = QTime(22, 30);
  v.waitTime = " 15 min";
  v.mailbox = " imaps://mail.example.org ";
  v.mailUser = " ann ";
  v.mailInterval = " 20 ";
  EXPECT_EQ(StoreOptions(v, settings, running), "");
  using namespace settings;
  EXPECT_EQ(stored({CharacterName, CharacterIndexName, CharacterSize, AnnounceInterval, AnnounceGesture, GestureIndex,
                    AnnounceOn, SayDate, SayTimeOfDay, TimeOn, StartTime, EndTime, TimeFormat}),
            QStringList({"Bolt", "1", "6", "3", "", "0", "0", "1", "0", "0", "06:05", "22:30", "h:mm"}));
  EXPECT_EQ(stored({AnnouncePhrase}), QStringList{"Hey Gorgeous, you're looking slim today. The time is"});
  EXPECT_EQ(stored({WaitTime, RemindOn, ReadActivity, ShowFuture, NoSoundEffects, ShowOnStart, DesktopNotices}),
            QStringList({"15 min", "0", "0", "0", "1", "1", "1"}));
  EXPECT_EQ(stored({Mailbox, MailUser, MailInterval, ReadAll, MailWho, MarkRead, CheckMail}),
            QStringList({"imaps://mail.example.org", "ann", "20", "-1", "1", "0", "1"}));
  EXPECT_EQ(stored({ReadMemos}), QStringList{"<absent>"});  // stored by the close, not by Apply
  EXPECT_FALSE(running.timeRangeOn);
  EXPECT_EQ(running.rangeStart, QTime(6, 5));  // whole minutes, as stored
  EXPECT_EQ(running.rangeEnd, QTime(22, 30));
  EXPECT_EQ(running.waitTime, 15);
  EXPECT_FALSE(running.remindOn);
  EXPECT_FALSE(running.readActivity);
  const OptionsValues back = ReadOptions(settings, running);
  EXPECT_EQ(std::tuple(back.interval, back.size, back.rangeEnd), std::tuple(3, 6, QTime(22, 30)));
  EXPECT_FALSE(back.announceOn || back.showFuture || back.markRead);
  EXPECT_TRUE(back.readAll && back.noSoundEffects && back.who && back.sayDate);
  v.waitTime = "soon";
  StoreOptions(v, settings, running);
  EXPECT_EQ(stored({WaitTime}), QStringList{"soon"});
  EXPECT_EQ(running.waitTime, 0);
}

TEST_F(OptionsStore, EveryCloseStoresTheReadSwitchesAndTheDayAndAFailedWriteIsTold) {
  running.readMemos = false;
  running.readActivity = true;
  EXPECT_EQ(StoreOnClose(settings, running, QDate(2026, 12, 4)), "");
  EXPECT_EQ(stored({settings::ReadMemos, settings::ReadActivity, settings::OptionsOpened}),
            QStringList({"0", "1", "20261204"}));
  testsupport::Touch(dir.filePath("blocker"));
  SettingsStore blocked(dir.filePath("blocker/settings.ini"));
  const QString closeError = StoreOnClose(blocked, running, QDate(2026, 12, 4));
  EXPECT_TRUE(closeError.startsWith("Could not save \"Read Memos\"")) << closeError.toStdString();
  const QString applyError = StoreOptions(OptionsValues{}, blocked, running);
  EXPECT_TRUE(applyError.startsWith("Could not save \"Name\"")) << applyError.toStdString();
  EXPECT_EQ(running.waitTime, 0);  // the running program follows Apply all the same
}

namespace {

class OptionsAutostart : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    ASSERT_EQ(AutostartEntryPath(), dir.filePath("config/autostart/org.olmchimewise.Chimewise.desktop"));
  }
  QString rawValue(const QString& key) {
    for (const QString& l : QString::fromUtf8(testsupport::Slurp(AutostartEntryPath())).split(u'\n'))
      if (l.startsWith(key + u'=')) return l.mid(key.size() + 1);
    return QStringLiteral("<absent>");
  }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(OptionsAutostart, TheEntryStartsTheProgramFromAPathWithAnyCharacters) {
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/opt/Olm's \"Chimewise\"/a\\b/$HOME/`id`/100%u/new\nline")), "");
  EXPECT_TRUE(StartsAtLogin());
  EXPECT_EQ(rawValue(QStringLiteral("Exec")),
            QStringLiteral(R"("/opt/Olm's \\"Chimewise\\"/a\\\\b/\\$HOME/\\`id\\`/100%%u/new\nline")"));
  // The same file, as a plain path: desktops skip the entry once it is gone.
  EXPECT_EQ(rawValue(QStringLiteral("TryExec")),
            QStringLiteral(R"(/opt/Olm's "Chimewise"/a\\b/$HOME/`id`/100%u/new\nline)"));
  EXPECT_NE(EnableStartAtLogin(QStringLiteral("olm-chimewise")), "");  // no path a session can follow
}

TEST_F(OptionsAutostart, AnEntryTheDesktopDisabledReadsAsOffAndIsWrittenOverWhenTicked) {
  EXPECT_FALSE(StartsAtLogin());  // no entry
  const QString head = QStringLiteral("[Desktop Entry]\nType=Application\nName=Olm Chimewise\nExec=/usr/bin/x\n");
  EXPECT_TRUE(AutostartEntryEnabled(head));
  EXPECT_TRUE(AutostartEntryEnabled(head + "Hidden=false\nX-GNOME-Autostart-enabled=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled(head + "Hidden=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled(head + "X-GNOME-Autostart-enabled = false\n"));
  EXPECT_TRUE(AutostartEntryEnabled(head + "[Desktop Action Quit]\nName=Quit\nHidden=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled("# edited\n[Desktop Action Quit]\nName=Quit\n" + head + "Hidden=true"));
  testsupport::Touch(AutostartEntryPath(), (head + "Hidden=true\n").toUtf8());
  EXPECT_FALSE(StartsAtLogin());
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise")), "");
  EXPECT_TRUE(StartsAtLogin());
}

TEST_F(OptionsAutostart, DisablingRemovesOnlyTheProgramsEntryAndFailuresAreTold) {
  const QString other = dir.filePath("config/autostart/other.desktop");
  testsupport::Touch(other, "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n");
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise")), "");
  EXPECT_EQ(DisableStartAtLogin(), "");
  EXPECT_FALSE(QFileInfo::exists(AutostartEntryPath()));
  EXPECT_FALSE(StartsAtLogin());
  EXPECT_TRUE(QFileInfo::exists(other));
  EXPECT_EQ(DisableStartAtLogin(), "");  // nothing to remove
  ASSERT_TRUE(QDir().mkpath(AutostartEntryPath() + "/inside"));
  const QString writeError = EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise"));
  EXPECT_TRUE(writeError.contains(AutostartEntryPath())) << writeError.toStdString();
  const QString removeError = DisableStartAtLogin();
  EXPECT_TRUE(removeError.contains(AutostartEntryPath())) << removeError.toStdString();
}
