// Run by secret_store_test.sh with no bus and DISPLAY set, where GLib would start one with dbus-launch.
#include <mailbox/secret_store.h>

#include <gtest/gtest.h>

using namespace mailbox;

TEST(SecretStore, WithoutABusItSaysSoAtOnce) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_NO_BUS") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  const QMap<QString, QString> alice{{"server", "imaps://mail.example.org"}, {"user", "alice"}};
  const SecretResult r = LookupSecret("org.olm.chimewise.Test", alice);
  EXPECT_FALSE(r.serviceAvailable || r.secret);
  EXPECT_EQ(r.error, "no session bus runs");
  EXPECT_FALSE(StoreSecret("org.olm.chimewise.Test", alice, "test item", "pw").serviceAvailable);
  EXPECT_FALSE(ClearSecret("org.olm.chimewise.Test", alice).serviceAvailable);
}
