#include "character/character_choice.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

TEST(ChooseCharacter, PreferredFirstThenFirstByNameCutAtTheFirstDot) {
  QTemporaryDir user, installed;
  EXPECT_FALSE(ChooseCharacter({user.path(), installed.path()}));
  EXPECT_FALSE(ChooseCharacter({user.filePath("missing")}));

  testsupport::Touch(installed.filePath("zed.ochar"));
  testsupport::Touch(installed.filePath("bolt.v2" + kCharacterExtension));
  testsupport::Touch(installed.filePath("notes.txt"));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), "bolt");

  testsupport::Touch(user.filePath("Moss" + kCharacterExtension));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), "Moss");  // the user's store comes first

  testsupport::Touch(installed.filePath(kPreferredCharacter.toUpper() + kCharacterExtension));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), kPreferredCharacter.toUpper());
}
