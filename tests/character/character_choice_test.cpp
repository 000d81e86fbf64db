#include "character/character_choice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {
void touch(const QString& path, const QByteArray& content = "x") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(content);
}
}  // namespace

TEST(ChooseCharacter, PreferredFirstThenFirstByNameCutAtTheFirstDot) {
  QTemporaryDir user, installed;
  EXPECT_FALSE(ChooseCharacter({user.path(), installed.path()}));
  EXPECT_FALSE(ChooseCharacter({user.filePath("missing")}));

  touch(installed.filePath("zed.ochar"));
  touch(installed.filePath("bolt.v2" + kCharacterExtension));
  touch(installed.filePath("notes.txt"));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), "bolt");

  touch(user.filePath("Moss" + kCharacterExtension));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), "Moss");  // the user's store comes first

  touch(installed.filePath(kPreferredCharacter.toUpper() + kCharacterExtension));
  EXPECT_EQ(ChooseCharacter({user.path(), installed.path()}), kPreferredCharacter.toUpper());
}
