// What the Options dialog reads when it opens, what Apply stores and what every close stores.
#include "options/options_store.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/files.h"
#include "support/qt_print.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(OptionsStore, AFreshStoreOpensWithTheDialogsOwnDefaults) {
  QTemporaryDir dir;
  SettingsStore settings(dir.filePath("settings.ini"));
  SharedState state;
  state.WaitTime = 12;
  state.RemindOn = 0;
  state.ReadActivity = 0;
  state.TimeFormat = "h:mm";
  const OptionsValues v = ReadOptions(settings, state);
  // The running program's values, not the stored ones.
  EXPECT_EQ(v.waitTime, "12");
  EXPECT_FALSE(v.remindOn);
  EXPECT_TRUE(v.readMemos);
  EXPECT_FALSE(v.readActivity);
  EXPECT_FALSE(v.amPm);
  // The dialog's own defaults (the store's are checked by its own test): automatic mail checks
  // shown ticked although the mail schedule reads them as off, and the hours range on.
  EXPECT_TRUE(v.checkMail);
  EXPECT_TRUE(v.timeOn);
  // The clock plays "Announce" on a fresh store, and the list says so.
  EXPECT_EQ(v.gestureIndex, 3);
  EXPECT_EQ(v.gestureText, "Announce");
  EXPECT_TRUE(v.when && v.subject && v.body && v.markRead && v.autoWhen && v.autoSubject);
  EXPECT_FALSE(v.who || v.autoWho || v.autoBody);

  // Stored values in the forms other parts write them: "-1" for a chosen option, 24-hour times,
  // a time that is no time (the picker then keeps its own).
  settings.write(settings::ReadAll, "-1");
  settings.write(settings::StartTime, "06:30");
  settings.write(settings::EndTime, "late");
  settings.write(settings::GestureIndex, "3");
  settings.write(settings::AnnounceOn, "");
  settings.write(settings::TimeOn, "0");
  const OptionsValues w = ReadOptions(settings, state);
  EXPECT_TRUE(w.readAll);
  EXPECT_EQ(w.rangeStart, QTime(6, 30));
  EXPECT_FALSE(w.rangeEnd.isValid());
  EXPECT_EQ(w.gestureText, "Announce");
  EXPECT_TRUE(w.announceOn);  // only "0" is off
  EXPECT_FALSE(w.timeOn);

  // Without a kept position: the stored gesture, "None" for none, nothing for one not listed.
  settings.write(settings::GestureIndex, "-1");
  settings.write(settings::AnnounceGesture, "wave");
  EXPECT_EQ(ReadOptions(settings, state).gestureText, "Wave");
  settings.write(settings::AnnounceGesture, "");
  EXPECT_EQ(ReadOptions(settings, state).gestureIndex, 0);
  settings.write(settings::GestureIndex, "99");
  settings.write(settings::AnnounceGesture, "Juggle");
  EXPECT_EQ(ReadOptions(settings, state).gestureIndex, -1);
  EXPECT_EQ(ReadOptions(settings, state).gestureText, "");
}

TEST(OptionsStore, ApplyStoresEveryValueAndTheRunningProgramFollows) {
  QTemporaryDir dir;
  SettingsStore settings(dir.filePath("settings.ini"));
  SharedState state;
  state.TimeFormat = "h:mm";
  OptionsValues v;
  v.characterName = " Bolt ";
  v.characterIndex = 1;
  v.size = 6;
  v.interval = 3;
  v.phrase = " Hey Gorgeous, you're looking slim today. The time is ";
  v.gestureIndex = 0;
  v.gestureText = "None";
  v.announceOn = false;
  v.sayDate = true;
  v.timeOn = false;
  v.rangeStart = QTime(6, 5, 40);
  v.rangeEnd = QTime(22, 30);
  v.remindOn = false;
  v.readActivity = false;
  v.waitTime = " 15 min";
  v.showFuture = false;
  v.noSoundEffects = true;
  v.showOnStart = true;
  v.desktopNotices = true;
  v.mailbox = " imaps://mail.example.org ";
  v.mailUser = " ann ";
  v.mailInterval = " 20 ";
  v.readAll = true;
  v.who = true;
  v.markRead = false;
  EXPECT_EQ(StoreOptions(v, settings, state), "");

  const auto stored = [&](const SettingKey& key) { return settings.read(key.section, key.key, "<absent>"); };
  EXPECT_EQ(stored(settings::CharacterName), "Bolt");
  EXPECT_EQ(stored(settings::CharacterIndexName), "1");
  EXPECT_EQ(stored(settings::CharacterSize), "6");
  EXPECT_EQ(stored(settings::AnnounceInterval), "3");
  EXPECT_EQ(stored(settings::AnnouncePhrase), "Hey Gorgeous, you're looking slim today. The time is");
  EXPECT_EQ(stored(settings::AnnounceGesture), "");
  EXPECT_EQ(stored(settings::GestureIndex), "0");
  EXPECT_EQ(stored(settings::AnnounceOn), "0");
  EXPECT_EQ(stored(settings::SayDate), "1");
  EXPECT_EQ(stored(settings::SayTimeOfDay), "0");
  EXPECT_EQ(stored(settings::TimeOn), "0");
  EXPECT_EQ(stored(settings::StartTime), "06:05");
  EXPECT_EQ(stored(settings::EndTime), "22:30");
  EXPECT_EQ(stored(settings::TimeFormat), "h:mm");
  EXPECT_EQ(stored(settings::WaitTime), "15 min");
  EXPECT_EQ(stored(settings::RemindOn), "0");
  EXPECT_EQ(stored(settings::ReadActivity), "0");
  EXPECT_EQ(stored(settings::ShowFuture), "0");
  EXPECT_EQ(stored(settings::NoSoundEffects), "1");
  EXPECT_EQ(stored(settings::ShowOnStart), "1");
  EXPECT_EQ(stored(settings::DesktopNotices), "1");
  EXPECT_EQ(stored(settings::Mailbox), "imaps://mail.example.org");
  EXPECT_EQ(stored(settings::MailUser), "ann");
  EXPECT_EQ(stored(settings::MailInterval), "20");
  EXPECT_EQ(stored(settings::ReadAll), "-1");
  EXPECT_EQ(stored(settings::MailWho), "1");
  EXPECT_EQ(stored(settings::MarkRead), "0");
  EXPECT_EQ(stored(settings::CheckMail), "1");
  // The memos switch is stored by the close, not by Apply.
  EXPECT_EQ(stored(settings::ReadMemos), "<absent>");

  EXPECT_FALSE(state.TimeRangeOn);
  EXPECT_EQ(state.RangeStart, QTime(6, 5));  // whole minutes, as stored
  EXPECT_EQ(state.RangeEnd, QTime(22, 30));
  EXPECT_EQ(state.WaitTime, 15);
  EXPECT_EQ(state.RemindOn, 0);
  EXPECT_EQ(state.ReadActivity, 0);

  // What is stored is what the dialog opens with the next time.
  const OptionsValues back = ReadOptions(settings, state);
  EXPECT_EQ(back.interval, 3);
  EXPECT_EQ(back.size, 6);
  EXPECT_EQ(back.phrase, "Hey Gorgeous, you're looking slim today. The time is");
  EXPECT_EQ(back.rangeEnd, QTime(22, 30));
  EXPECT_FALSE(back.announceOn || back.showFuture || back.markRead);
  EXPECT_TRUE(back.readAll && back.noSoundEffects && back.who && back.sayDate);

  // A wait time that is no number is stored as typed and counts as 0.
  v.waitTime = "soon";
  StoreOptions(v, settings, state);
  EXPECT_EQ(stored(settings::WaitTime), "soon");
  EXPECT_EQ(state.WaitTime, 0);
}

TEST(OptionsStore, EveryCloseStoresTheReadSwitchesAndTheDayAndAFailedWriteIsTold) {
  QTemporaryDir dir;
  SettingsStore settings(dir.filePath("settings.ini"));
  SharedState state;
  state.ReadMemos = 0;
  state.ReadActivity = 1;
  EXPECT_EQ(StoreOnClose(settings, state, QDate(2026, 12, 4)), "");
  EXPECT_EQ(settings.read(settings::ReadMemos), "0");
  EXPECT_EQ(settings.read(settings::ReadActivity), "1");
  EXPECT_EQ(settings.read(settings::OptionsOpened), "20261204");

  // A settings file whose folder cannot be made: every write fails and the first one says why.
  testsupport::Touch(dir.filePath("blocker"));
  SettingsStore blocked(dir.filePath("blocker/settings.ini"));
  const QString closeError = StoreOnClose(blocked, state, QDate(2026, 12, 4));
  EXPECT_TRUE(closeError.startsWith("Could not save \"Read Memos\"")) << closeError.toStdString();
  const QString applyError = StoreOptions(OptionsValues{}, blocked, state);
  EXPECT_TRUE(applyError.startsWith("Could not save \"Name\"")) << applyError.toStdString();
  // The running program follows Apply all the same.
  EXPECT_EQ(state.WaitTime, 0);
}
