#include "test_table.h"

#include <modules/module.h>

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <unistd.h>

int SameNameAsTheProgramHas() { return 1; }

namespace {

const QString kModule = QStringLiteral("libmodules_test_module.so");

TEST(Module, LoadsOnceAndKeepsItsOwnCodeToItself) {
  const modules::Loaded first = modules::Load(kModule, "modules_test_entry");
  ASSERT_NE(first.entry, nullptr) << first.error.toStdString();
  EXPECT_EQ(reinterpret_cast<int (*)()>(first.entry)(), 42);
  EXPECT_EQ(SameNameAsTheProgramHas(), 1);
  EXPECT_EQ(modules::Load(kModule, "modules_test_entry").entry, first.entry);
  // Only the entry point shows.
  EXPECT_EQ(modules::Load(kModule, "_Z23SameNameAsTheProgramHasv").entry, nullptr);
}

TEST(Module, ATableIsTakenOnlyFromItsOwnBuild) {
  const QString what = QStringLiteral("the test module");
  const auto table = modules::LoadTable<TestTable>(kModule, "modules_test_table", 3, what);
  ASSERT_NE(table.api, nullptr) << table.error.toStdString();
  EXPECT_EQ(table.api->answer(), 7);
  const auto older = modules::LoadTable<TestTable>(kModule, "modules_test_table", 4, what);
  EXPECT_EQ(older.api, nullptr);
  EXPECT_EQ(older.error, "the test module belongs to another version of this program");
  const auto missing = modules::LoadTable<TestTable>(QStringLiteral("libno-such.so"), "x", 3, what);
  EXPECT_EQ(missing.api, nullptr);
  EXPECT_TRUE(missing.error.startsWith("the test module is not installed properly (libno-such.so is missing"))
      << missing.error.toStdString();
}

TEST(Module, WhatCannotBeLoadedIsSaidAndNothingElseHappens) {
  EXPECT_TRUE(modules::SearchFolders().contains(QStringLiteral(MODULES_FOLDER)));
  // A damaged file and a folder under a module's name.
  const QString damaged = QStringLiteral("libmodules-damaged-%1.so").arg(getpid());
  const QString folder = QStringLiteral("libmodules-folder-%1.so").arg(getpid());
  {
    QFile f(QStringLiteral(MODULES_FOLDER "/") + damaged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "\x7f"
        "ELF and then nothing of the kind");
  }
  ASSERT_TRUE(QDir(QStringLiteral(MODULES_FOLDER)).mkpath(folder));
  const struct {
    QString file;
    const char* entry;
    QString says;
  } cases[] = {
      {QStringLiteral("libno-such-module.so"), "entry", QStringLiteral("libno-such-module.so is missing")},
      {QStringLiteral("libno-such-module.so"), "entry", QStringLiteral(MODULES_FOLDER)},
      {kModule, "no_such_entry", QStringLiteral("it has no no_such_entry")},
      {damaged, "entry", QStringLiteral("could not be loaded")},
      {folder, "entry", QStringLiteral("is missing")},
  };
  for (const auto& c : cases) {
    const modules::Loaded loaded = modules::Load(c.file, c.entry);
    EXPECT_EQ(loaded.entry, nullptr) << c.file.toStdString();
    EXPECT_TRUE(loaded.error.contains(c.says)) << loaded.error.toStdString();
  }
  QFile::remove(QStringLiteral(MODULES_FOLDER "/") + damaged);
  QDir(QStringLiteral(MODULES_FOLDER)).rmdir(folder);
}

}  // namespace
