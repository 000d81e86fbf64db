#include "test_table.h"

#include <modules/module.h>

#include <gtest/gtest.h>

int SameNameAsTheProgramHas() { return 1; }

namespace {

const QString kModule = QStringLiteral("libmodules_test_module.so");

// Loaded once, only its entry points showing; a table only from its own build; failures are said.
TEST(Module, LoadsOnceKeepsItsOwnCodeAndTakesATableOnlyFromItsOwnBuild) {
  const modules::Loaded first = modules::Load(kModule, "modules_test_entry");
  ASSERT_NE(first.entry, nullptr) << first.error.toStdString();
  EXPECT_EQ(reinterpret_cast<int (*)()>(first.entry)(), 42);
  EXPECT_EQ(SameNameAsTheProgramHas(), 1);
  EXPECT_EQ(modules::Load(kModule, "modules_test_entry").entry, first.entry);
  EXPECT_EQ(modules::Load(kModule, "_Z23SameNameAsTheProgramHasv").entry, nullptr);
  const QString what = QStringLiteral("the test module");
  const auto table = modules::LoadTable<TestTable>(kModule, "modules_test_table", 3, what);
  ASSERT_NE(table.api, nullptr) << table.error.toStdString();
  EXPECT_EQ(table.api->answer(), 7);
  const auto older = modules::LoadTable<TestTable>(kModule, "modules_test_table", 4, what);
  EXPECT_EQ(older.api, nullptr);
  EXPECT_EQ(older.error, "the test module belongs to another version of this program");
  const auto missing = modules::LoadTable<TestTable>(QStringLiteral("libno-such.so"), "x", 3, what);
  EXPECT_TRUE(missing.error.startsWith("the test module is not installed properly (libno-such.so is missing"));
  EXPECT_TRUE(missing.error.contains(QStringLiteral(MODULES_FOLDER)));
  EXPECT_TRUE(modules::Load(kModule, "no_such_entry").error.contains("it has no no_such_entry"));
}

}  // namespace
