#include "instance/SingleInstance.h"
#include "support/qt_app.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using instance::SingleInstance;
using namespace chimewise;

namespace {
QString uniqueKey() {
  return QStringLiteral("chimewise-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(rand());
}
}  // namespace

TEST(SingleInstance, SecondStartIsRefusedAndItsCommandLineArrives) {
  testsupport::EnsureQtApp();
  const QString key = uniqueKey();
  SingleInstance first(key);
  ASSERT_TRUE(first.becomePrimary());
  QSignalSpy received(&first, &SingleInstance::commandLineReceived);

  SingleInstance second(key);
  EXPECT_FALSE(second.becomePrimary());
  // The sender waits for the bytes to be written; the first instance reads them in its loop.
  EXPECT_TRUE(second.sendToPrimary(QStringLiteral("/srv/x|show")));
  ASSERT_TRUE(received.wait(3000) || received.count() > 0);
  EXPECT_EQ(received.at(0).at(0).toString(), "/srv/x|show");
}

TEST(SingleInstance, TheLockIsFreedWhenTheFirstEnds) {
  testsupport::EnsureQtApp();
  const QString key = uniqueKey();
  {
    SingleInstance first(key);
    ASSERT_TRUE(first.becomePrimary());
  }
  SingleInstance next(key);
  EXPECT_TRUE(next.becomePrimary());
  SingleInstance nobody(uniqueKey());
  EXPECT_FALSE(nobody.sendToPrimary("show", 200));
}
