// The character's remarks at clicks and drags, chosen by the time of day.
#include "extras/banter.h"
#include "support/qt_print.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

QDateTime At(int h, int m, int s, int ms = 0) { return QDateTime(QDate(2026, 12, 4), QTime(h, m, s, ms)); }

TEST(Banter, SecondsRoundHalvesToEvenAndEachTurnOfAListSaysEveryRemarkOnce) {
  const std::pair<QTime, qint64> rounded[] = {{QTime(12, 0, 2, 499), 43202},
                                              {QTime(12, 0, 2, 500), 43202},
                                              {QTime(12, 0, 2, 501), 43203},
                                              {QTime(12, 0, 3, 500), 43204},
                                              {QTime(23, 59, 59, 600), 86400}};
  for (const auto& [time, second] : rounded)
    EXPECT_EQ(RoundedSecondOfDay(time), second) << time.toString("hh:mm:ss.zzz").toStdString();

  QSet<QString> clicks, drags;
  for (int s = 0; s < 5; ++s) clicks << ClickRemark(At(12, 0, s));
  EXPECT_EQ(clicks.size(), 5);
  // 8:59:44 is second 32384 = 22 * 1472, where a turn of the drag remarks begins; its last remark
  // is made from the weekday and the part of the day.
  for (int s = 0; s < 22; ++s) drags << DragRemark(At(8, 59, 44).addSecs(s));
  EXPECT_EQ(drags.size(), 22);
  EXPECT_EQ(DragRemark(At(15, 0, 31)), "Hope you are feeling fine on this nice Friday Afternoon");
}

}  // namespace
