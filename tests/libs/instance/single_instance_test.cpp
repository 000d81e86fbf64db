#include "instance/single_instance.h"
#include "instance/channel.h"
#include "support/qt_app.h"

#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sys/stat.h>

using instance::SingleInstance;

namespace {

QString UniqueKey() {
  chimewise::testsupport::EnsureQtApp();
  return QStringLiteral("chimewise-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(rand());
}

TEST(SingleInstance, SecondStartIsRefusedItsCommandLineArrivesAndTheLockGoesWithTheFirst) {
  const QString key = UniqueKey();
  {
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
  EXPECT_TRUE(SingleInstance(key).becomePrimary());
  EXPECT_FALSE(SingleInstance(UniqueKey()).sendToPrimary("show", 200));
}

TEST(SingleInstance, OnlyItsUserReachesItAndNoSenderCanSwampIt) {
  const QString key = UniqueKey();
  SingleInstance first(key);
  ASSERT_TRUE(first.becomePrimary());
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(first.serverName()).constData(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode) && (st.st_mode & 0077) == 0);

  QSignalSpy received(&first, &SingleInstance::commandLineReceived);
  // A line that never ends is cut off (delivered or refused midway); a line break becomes a space.
  instance::SendToRunning(key, QString(200 * 1024, u'x'), 3000);
  EXPECT_TRUE(instance::SendToRunning(key, QStringLiteral("one\ntwo"), 3000));
  EXPECT_TRUE(instance::SendToRunning(key, QStringLiteral("show"), 3000));
  for (int i = 0; i < 50 && received.count() < 2; ++i) received.wait(100);
  ASSERT_EQ(received.count(), 2);
  EXPECT_EQ(received.at(0).at(0).toString() + "|" + received.at(1).at(0).toString(), "one two|show");
}

}  // namespace
