#include "character/character_tables.h"

#include <QKeySequence>
#include <QStringList>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(CharacterSize, TableRowsAndOutsiders) {
  EXPECT_EQ(ScaledCharacterSize(0, 128, 130), QSize(32, 32));  // 32.5 rounds to the even 32
  EXPECT_EQ(ScaledCharacterSize(1, 127, 129), QSize(64, 64));  // 63.5 -> 64, 64.5 -> 64
  EXPECT_EQ(ScaledCharacterSize(2, 127, 129), QSize(127, 129));
  EXPECT_EQ(ScaledCharacterSize(3, 100, 100), QSize(125, 140));
  EXPECT_EQ(ScaledCharacterSize(4, 100, 100), QSize(140, 120));
  EXPECT_EQ(ScaledCharacterSize(5, 100, 100), QSize(100, 140));  // only the height stretches
  EXPECT_EQ(ScaledCharacterSize(6, 127, 129), QSize(254, 258));  // exactly doubled
  for (int outside : {-10, -1, 7, 100}) EXPECT_EQ(ScaledCharacterSize(outside, 127, 129), QSize(127, 129));
}

TEST(CharacterCommands, TwentyInOrderWithTheirSeparators) {
  const auto& c = CharacterCommands();
  QStringList names;
  for (const auto& cmd : c) names << cmd.name;
  EXPECT_EQ(names.join(','),
            "NoTalk,Listen,FileSep1,LoadJoke,Joke,Create,Add,View,Time,Clipboard,ReadMail,FileSep2,Options,"
            "NoSound,Optimize,Update,About,FileSep3,GoAway,Quit");
  for (const auto& cmd : c) {
    const bool separator = QString(cmd.name).startsWith("FileSep");
    EXPECT_EQ(cmd.enabled, !separator) << cmd.name;
    EXPECT_TRUE(cmd.visible);
    if (separator) {
      EXPECT_EQ(QString(cmd.caption), QString(26, '_'));
    }
  }
  EXPECT_EQ(c[1].voice, nullptr);  // Listen has no voice entry
  EXPECT_STREQ(c[3].caption, "&Jesterbox && Quotes");
  EXPECT_STREQ(c[8].voice, "[Please] (Say | What is ) [the] Time [Please]");
  EXPECT_STREQ(c[10].voice, "Read [my] Mail");
  EXPECT_STREQ(c[19].caption, "&Quit Olm Chimewise");
}

// A letter two entries share only moves the menu's highlight between them; every entry's letter
// must choose it alone.
TEST(CharacterCommands, EveryEntryHasAnAccessKeyOfItsOwn) {
  QStringList keys;
  for (const auto& cmd : CharacterCommands()) {
    if (QString(cmd.name).startsWith("FileSep")) continue;
    const QKeySequence key = QKeySequence::mnemonic(QString::fromUtf8(cmd.caption));
    ASSERT_FALSE(key.isEmpty()) << cmd.caption;
    EXPECT_FALSE(keys.contains(key.toString())) << cmd.caption << " repeats " << key.toString().toStdString();
    keys << key.toString();
  }
  EXPECT_EQ(keys.size(), 17);
}

TEST(ReminderSounds, IndexesFilesAndPauses) {
  EXPECT_FALSE(ReminderSoundAt(0));
  EXPECT_FALSE(ReminderSoundAt(-1));
  EXPECT_FALSE(ReminderSoundAt(9));
  ASSERT_TRUE(ReminderSoundAt(7));
  EXPECT_STREQ(ReminderSoundAt(7)->fileName, "clap.wav");
  EXPECT_DOUBLE_EQ(ReminderSoundAt(7)->pauseSeconds, 3.5);
  EXPECT_STREQ(ReminderSoundAt(1)->fileName, "koko.wav");
  EXPECT_STREQ(ReminderSoundAt(6)->fileName, "ahoh.wav");
  EXPECT_DOUBLE_EQ(ReminderSoundAt(5)->pauseSeconds, 3);
}
