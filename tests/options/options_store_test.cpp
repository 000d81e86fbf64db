// What the Options dialog reads when it opens, what Apply stores and what every close stores.
#include "options/options_store.h"

#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "support/files.h"
#include "support/qt_print.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

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
  // Mail checks ticked although the mail schedule reads them as off; the hours range on; the
  // clock's "Announce" gesture.
  EXPECT_TRUE(v.readMemos && v.checkMail && v.timeOn);
  EXPECT_EQ(v.gestureIndex, 3);
  EXPECT_EQ(v.gestureText, "Announce");
  EXPECT_TRUE(v.when && v.subject && v.body && v.markRead && v.autoWhen && v.autoSubject);
  EXPECT_FALSE(v.who || v.autoWho || v.autoBody);

  // Stored as other parts write them: "-1" for a chosen option, 24-hour times, a time that is no
  // time (the picker keeps its own); only "0" is off.
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
  // Without a kept position: the stored gesture, "None" for none, nothing for one not listed.
  settings.write(settings::GestureIndex, "-1");
  settings.write(settings::AnnounceGesture, "wave");
  EXPECT_EQ(ReadOptions(settings, running).gestureText, "Wave");
  settings.write(settings::AnnounceGesture, "");
  EXPECT_EQ(ReadOptions(settings, running).gestureIndex, 0);
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
  // What is stored is what the dialog opens with the next time.
  const OptionsValues back = ReadOptions(settings, running);
  EXPECT_EQ(back.interval, 3);
  EXPECT_EQ(back.size, 6);
  EXPECT_EQ(back.phrase, "Hey Gorgeous, you're looking slim today. The time is");
  EXPECT_EQ(back.rangeEnd, QTime(22, 30));
  EXPECT_FALSE(back.announceOn || back.showFuture || back.markRead);
  EXPECT_TRUE(back.readAll && back.noSoundEffects && back.who && back.sayDate);
  // A wait time that is no number is stored as typed and counts as 0.
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
  // A settings file whose folder cannot be made: the first failed write says why.
  testsupport::Touch(dir.filePath("blocker"));
  SettingsStore blocked(dir.filePath("blocker/settings.ini"));
  const QString closeError = StoreOnClose(blocked, running, QDate(2026, 12, 4));
  EXPECT_TRUE(closeError.startsWith("Could not save \"Read Memos\"")) << closeError.toStdString();
  const QString applyError = StoreOptions(OptionsValues{}, blocked, running);
  EXPECT_TRUE(applyError.startsWith("Could not save \"Name\"")) << applyError.toStdString();
  EXPECT_EQ(running.waitTime, 0);  // the running program follows Apply all the same
}
