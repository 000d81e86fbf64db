// The model test of repeating reminders: for random rules from random starts in three zones with
// daylight saving (Lord Howe's clocks move by half an hour), the next 50 alarm moments the program
// plans (PlanSeriesMove over NextSeriesOccurrence, as the alarm service calls them) against
// python3-dateutil's rrule. series_reference.py draws the rules and says how dateutil's wall times
// become moments across the changes of the clocks. CHIMEWISE_SERIES_MODEL_RULES sets how many
// (default 1000), CHIMEWISE_SERIES_MODEL_SEED the seed; every difference is printed with its series.

#include "alarms/alarm_rules.h"
#include "alarms/repeat_series.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace chimewise;

namespace {

int EnvNumber(const char* name, int fallback) {
  const int n = qEnvironmentVariable(name).toInt();
  return n > 0 ? n : fallback;
}

QString Said(std::optional<qint64> secs) {
  return secs ? QDateTime::fromSecsSinceEpoch(*secs, QTimeZone::utc()).toString(Qt::ISODate) : QStringLiteral("none");
}

}  // namespace

TEST(SeriesModel, NextFiftyAlarmMomentsAgreeWithDateutil) {
  const int rules = EnvNumber("CHIMEWISE_SERIES_MODEL_RULES", 1000);
  const int seed = EnvNumber("CHIMEWISE_SERIES_MODEL_SEED", 20261208);
  QProcess python;
  python.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(SERIES_REFERENCE), QString::number(rules), QString::number(seed)});
  ASSERT_TRUE(python.waitForFinished(600000));
  ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  const QJsonArray answers = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
  ASSERT_EQ(answers.size(), rules);

  std::mt19937 jumps(unsigned(seed) + 1);
  int compared = 0, skipped = 0, differences = 0;
  for (const QJsonValue& answer : answers) {
    const QJsonObject a = answer.toObject();
    if (a.contains(QLatin1String("skipped"))) {
      if (++skipped <= 5) std::printf("not followed: %s\n", qPrintable(a["rule"].toString()));
      continue;
    }
    QStringList series;
    for (const QJsonValue& line : a["series"].toArray()) series << line.toString();
    std::vector<qint64> expected;
    for (const QJsonValue& m : a["moments"].toArray()) expected.push_back(qint64(m.toDouble()));
    const qint64 lead = qint64(a["lead"].toDouble()), period = qint64(a["period"].toDouble());
    // dateutil's first moment not before `t`: a moment, none (the series has ended), or not known
    // (past the wall times it followed).
    const auto want = [&](qint64 t) -> std::optional<std::optional<qint64>> {
      const auto it = std::lower_bound(expected.begin(), expected.end(), t);
      if (it != expected.end()) return std::optional<qint64>(*it);
      if (a["complete"].toBool()) return std::optional<qint64>();
      return std::nullopt;
    };
    // The first occurrence, then each next one as the alarm service moves the reminder on: mostly
    // just after the last, sometimes a while later (a suspend), when the ones between go by.
    ReminderFacts facts;
    for (int k = 0; k < 50; ++k) {
      const bool late = std::uniform_int_distribution<int>(0, 99)(jumps) < 15;
      const QDateTime now =
          k == 0 ? QDateTime::fromSecsSinceEpoch(qint64(a["from"].toDouble()))
                 : facts.activity.addSecs(late ? std::uniform_int_distribution<qint64>(1, 4 * period)(jumps) : 1);
      const auto w =
          want(k == 0 ? now.toSecsSinceEpoch() : std::max(facts.activity.addSecs(60), now).toSecsSinceEpoch());
      if (!w) break;
      std::optional<SeriesMove> move;
      if (k > 0) {
        move = PlanSeriesMove(facts, series, now, &NextSeriesOccurrence);
      } else if (const auto first = NextSeriesOccurrence(series, now)) {
        move = SeriesMove{first->start.toLocalTime(), first->start.toLocalTime().addSecs(-lead)};
      }
      const std::optional<qint64> got = move ? std::optional<qint64>(move->activity.toSecsSinceEpoch()) : std::nullopt;
      if (got != *w || (move && move->alarm.toSecsSinceEpoch() != *got - lead)) {
        if (++differences <= 20)
          ADD_FAILURE() << QStringLiteral("after %1 (now %2): program %3, dateutil %4\n  ")
                               .arg(k ? facts.activity.toUTC().toString(Qt::ISODate) : QStringLiteral("the start"),
                                    now.toUTC().toString(Qt::ISODate), Said(got), Said(*w))
                               .toStdString()
                        << series.join("\n  ").toStdString();
        break;
      }
      if (!move) break;
      ++compared;
      facts.activity = move->activity;
    }
  }
  std::printf(
      "series model: %d rules (seed %d), %d alarm moments compared, %d rules with no occurrence, "
      "%d differences\n",
      rules, seed, compared, skipped, differences);
  EXPECT_EQ(differences, 0);
  EXPECT_LE(skipped, rules / 40);
}
