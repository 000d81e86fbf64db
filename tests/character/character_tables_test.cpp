#include "character/character_tables.h"

#include <QDir>
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

TEST(CharacterCommands, SeparatorsAreInertAndOnlyListenHasNoVoice) {
  for (const auto& cmd : CharacterCommands()) {
    const bool separator = QString(cmd.name).startsWith("FileSep");
    EXPECT_EQ(cmd.enabled, !separator) << cmd.name;
    EXPECT_TRUE(cmd.visible);
    EXPECT_EQ(cmd.voice == nullptr, QString(cmd.name) == "Listen") << cmd.name;
  }
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
}

TEST(ReminderSounds, EveryChoiceIsAShippedSoundAndNoneIsNone) {
  EXPECT_FALSE(ReminderSoundAt(0));
  EXPECT_FALSE(ReminderSoundAt(-1));
  EXPECT_FALSE(ReminderSoundAt(9));
  const QDir sounds(qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + "/assets/sound");
  for (int i = 1; i <= 8; ++i) {
    ASSERT_TRUE(ReminderSoundAt(i)) << i;
    EXPECT_TRUE(sounds.exists(QString::fromUtf8(ReminderSoundAt(i)->fileName))) << ReminderSoundAt(i)->fileName;
    EXPECT_GT(ReminderSoundAt(i)->pauseSeconds, 0) << i;
  }
}
