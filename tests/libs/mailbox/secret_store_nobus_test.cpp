// Without a session bus the secret store answers "no service" at once, even where DISPLAY is
// set, in which case GLib would otherwise start a bus of its own with dbus-launch and leave it
// running. A dbus-launch of our own on PATH records whether anyone started it.
#include <mailbox/secret_store.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mailbox;

TEST(SecretStoreWithoutBus, NoBusMeansNoServiceAndNoBusIsStarted) {
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath("bin"));
  QDir().mkpath(dir.filePath("run"));
  const QString marker = dir.filePath("dbus-launch-ran");
  QFile launcher(dir.filePath("bin/dbus-launch"));
  ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
  launcher.write(("#!/bin/sh\ntouch '" + marker + "'\nexit 1\n").toUtf8());
  launcher.close();
  launcher.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", dir.filePath("run").toUtf8());  // no "bus" socket in it
  qputenv("DISPLAY", ":97");
  qputenv("PATH", dir.filePath("bin").toUtf8() + ":" + qgetenv("PATH"));

  const QMap<QString, QString> attributes{{"server", "imap://example.org"}, {"user", "alice"}};
  SecretResult r = LookupSecret("org.olm.chimewise.Test", attributes);
  EXPECT_FALSE(r.serviceAvailable);
  EXPECT_FALSE(r.secret);
  EXPECT_EQ(r.error, "no session bus runs");
  r = StoreSecret("org.olm.chimewise.Test", attributes, "label", "pw");
  EXPECT_FALSE(r.serviceAvailable);
  r = ClearSecret("org.olm.chimewise.Test", attributes);
  EXPECT_FALSE(r.serviceAvailable);
  EXPECT_FALSE(QFile::exists(marker)) << "dbus-launch was started";
}
