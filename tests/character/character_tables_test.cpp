#include "character/character_tables.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(CharacterTables, SizeRowsOutsidersAndNoSoundForNone) {
  EXPECT_EQ(ScaledCharacterSize(0, 128, 130), QSize(32, 32));  // 32.5 rounds to the even 32
  EXPECT_EQ(ScaledCharacterSize(1, 127, 129), QSize(64, 64));  // 63.5 -> 64, 64.5 -> 64
  EXPECT_EQ(ScaledCharacterSize(2, 127, 129), QSize(127, 129));
  EXPECT_EQ(ScaledCharacterSize(5, 100, 100), QSize(100, 140));  // width and height scale apart
  EXPECT_EQ(ScaledCharacterSize(6, 127, 129), QSize(254, 258));  // exactly doubled
  for (int outside : {-10, -1, 7, 100}) EXPECT_EQ(ScaledCharacterSize(outside, 127, 129), QSize(127, 129));
  // "None" and the numbers outside the list have no reminder sound.
  for (int none : {-1, 0, 9}) EXPECT_FALSE(ReminderSoundAt(none)) << none;
}
