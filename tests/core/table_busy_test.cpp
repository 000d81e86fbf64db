#include "core/table_busy.h"

#include "core/clock.h"

#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(10, 0, 0));
const Problem kBusy{ProblemKind::TableBusy, {}, QStringLiteral("CALENDAR.DBF is in use by another user or program")};

// The outcomes of a routine run every three seconds, as the timer runs them: what is to be told.
class TableBusyTest : public ::testing::Test {
 protected:
  std::optional<Problem> tick(const Problem& outcome) {
    clock.advanceSecs(3);
    return spell.filter(outcome);
  }
  // Busy ticks until the user is told; how many passed before that (-1: never within `limit`).
  int busyTicksUntilTold(int limit = 20) {
    for (int n = 0; n < limit; ++n) {
      if (const auto told = tick(kBusy)) {
        EXPECT_EQ(*told, kBusy);
        return n;
      }
    }
    return -1;
  }

  ManualClock clock{kStart};
  TableBusySpell spell{clock, 10};
};

}  // namespace

TEST_F(TableBusyTest, ABriefSpellIsNeverToldALastingOneOnce) {
  // Busy at 10:00:03 .. 10:00:09: under ten seconds, nothing to tell; the table is had again.
  for (int n = 0; n < 3; ++n) EXPECT_FALSE(tick(kBusy)) << n;
  EXPECT_EQ(tick({}), Problem{});
  // A new spell counts from its own start, 10:00:15: told at 10:00:27, not at 10:00:24 (nine
  // seconds are not ten).
  EXPECT_EQ(busyTicksUntilTold(), 4);
  // Told once: the spell going on is not told again, however long it lasts.
  for (int n = 0; n < 100; ++n) EXPECT_FALSE(tick(kBusy)) << n;
  // Ten seconds exactly are a lasting spell.
  EXPECT_EQ(tick({}), Problem{});
  EXPECT_FALSE(tick(kBusy));
  clock.advanceSecs(7);
  EXPECT_EQ(tick(kBusy), kBusy);
}

TEST_F(TableBusyTest, TheNextSpellIsToldAgainOnlyAfterTheTableWasHadInBetween) {
  EXPECT_EQ(busyTicksUntilTold(), 4);
  EXPECT_FALSE(tick(kBusy));
  // Another problem ends the spell as the table being had does, and is passed on as it is.
  const Problem other{ProblemKind::Engine, {}, QStringLiteral("read error"), 3};
  EXPECT_EQ(tick(other), other);
  EXPECT_EQ(busyTicksUntilTold(), 4);
  EXPECT_EQ(tick({}), Problem{});
  EXPECT_EQ(busyTicksUntilTold(), 4);
}

TEST_F(TableBusyTest, AClockSetBackStartsTheSpellAfresh) {
  EXPECT_FALSE(tick(kBusy));
  clock.advanceSecs(-3600);
  // Neither told at once (the spell seeming an hour old) nor never: ten seconds from the new time.
  EXPECT_EQ(busyTicksUntilTold(), 4);
}
