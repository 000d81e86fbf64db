#include "test_table.h"

#include <modules/module.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

int SameNameAsTheProgramHas() { return 1; }

namespace {

using Entry = int (*)();

TEST(Module, LoadsOnceAndKeepsItsOwnCodeToItself) {
  const modules::Loaded first = modules::Load(QStringLiteral("libmodules_test_module.so"), "modules_test_entry");
  ASSERT_NE(first.entry, nullptr) << first.error.toStdString();
  EXPECT_EQ(reinterpret_cast<Entry>(first.entry)(), 42);
  EXPECT_EQ(SameNameAsTheProgramHas(), 1);
  const modules::Loaded again = modules::Load(QStringLiteral("libmodules_test_module.so"), "modules_test_entry");
  EXPECT_EQ(again.entry, first.entry);
  // Only the entry point shows.
  EXPECT_EQ(modules::Load(QStringLiteral("libmodules_test_module.so"), "_Z23SameNameAsTheProgramHasv").entry, nullptr);
}

TEST(Module, ATableIsTakenOnlyFromItsOwnBuild) {
  const QString file = QStringLiteral("libmodules_test_module.so");
  const auto table = modules::LoadTable<TestTable>(file, "modules_test_table", 3, QStringLiteral("the test module"));
  ASSERT_NE(table.api, nullptr) << table.error.toStdString();
  EXPECT_EQ(table.api->answer(), 7);

  const auto older = modules::LoadTable<TestTable>(file, "modules_test_table", 4, QStringLiteral("the test module"));
  EXPECT_EQ(older.api, nullptr);
  EXPECT_EQ(older.error, "the test module belongs to another version of this program");

  const auto missing =
      modules::LoadTable<TestTable>(QStringLiteral("libno-such.so"), "x", 3, QStringLiteral("the test module"));
  EXPECT_EQ(missing.api, nullptr);
  EXPECT_TRUE(missing.error.startsWith("the test module is not installed properly (libno-such.so is missing"))
      << missing.error.toStdString();
}

TEST(Module, WhatCannotBeLoadedIsSaidAndNothingElseHappens) {
  EXPECT_TRUE(modules::SearchFolders().contains(QStringLiteral(MODULES_FOLDER)));

  const modules::Loaded missing = modules::Load(QStringLiteral("libno-such-module.so"), "entry");
  EXPECT_EQ(missing.entry, nullptr);
  EXPECT_TRUE(missing.error.contains(QStringLiteral("libno-such-module.so is missing"))) << missing.error.toStdString();
  EXPECT_TRUE(missing.error.contains(QStringLiteral(MODULES_FOLDER)));

  const modules::Loaded wrong = modules::Load(QStringLiteral("libmodules_test_module.so"), "no_such_entry");
  EXPECT_EQ(wrong.entry, nullptr);
  EXPECT_TRUE(wrong.error.contains(QStringLiteral("it has no no_such_entry"))) << wrong.error.toStdString();

  // A damaged file and a folder under a module's name.
  const QString damaged = QStringLiteral(MODULES_FOLDER "/libmodules-damaged-%1.so").arg(getpid());
  const QString folder = QStringLiteral(MODULES_FOLDER "/libmodules-folder-%1.so").arg(getpid());
  {
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "\x7f"
        "ELF and then nothing of the kind");
  }
  ASSERT_TRUE(QDir().mkpath(folder));
  const modules::Loaded bad = modules::Load(QFileInfo(damaged).fileName(), "entry");
  const modules::Loaded dir = modules::Load(QFileInfo(folder).fileName(), "entry");
  QFile::remove(damaged);
  QDir().rmdir(folder);
  EXPECT_EQ(bad.entry, nullptr);
  EXPECT_TRUE(bad.error.contains(QStringLiteral("could not be loaded"))) << bad.error.toStdString();
  EXPECT_EQ(dir.entry, nullptr);
  EXPECT_TRUE(dir.error.contains(QStringLiteral("is missing"))) << dir.error.toStdString();
}

}  // namespace
