#include "core/table_busy.h"

#include "core/clock.h"

#include <gtest/gtest.h>

using namespace chimewise;

// A busy table (checked every 3 s) is told once it has lasted 10 s, once per spell.
TEST(TableBusySpell, ToldOnceAtTenSecondsPerSpell) {
  const Problem busy{ProblemKind::TableBusy, {}, QStringLiteral("CALENDAR.DBF is in use")};
  ManualClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
  TableBusySpell spell{clock, 10};
  const auto tick = [&](const Problem& outcome) {
    clock.advanceSecs(3);
    return spell.filter(outcome);
  };
  const auto ticksUntilTold = [&] {
    for (int n = 0; n < 20; ++n)
      if (tick(busy)) return n;
    return -1;
  };
  for (int n = 0; n < 3; ++n) EXPECT_FALSE(tick(busy)) << n;  // 9 seconds are not 10
  EXPECT_EQ(tick({}), Problem{});
  EXPECT_EQ(ticksUntilTold(), 4);
  for (int n = 0; n < 100; ++n) EXPECT_FALSE(tick(busy)) << n;
  const Problem other{ProblemKind::Engine, {}, QStringLiteral("read error"), 3};
  EXPECT_EQ(tick(other), other);
  EXPECT_FALSE(tick(busy));
  clock.advanceSecs(7);  // exactly ten seconds
  EXPECT_EQ(tick(busy), busy);
  EXPECT_EQ(tick({}), Problem{});
  EXPECT_FALSE(tick(busy));
  clock.advanceSecs(-3600);  // a clock set back: neither at once nor never
  EXPECT_EQ(ticksUntilTold(), 4);
}
