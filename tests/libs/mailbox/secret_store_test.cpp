// Run by secret_store_test.sh: once with no session bus (and DISPLAY set, where GLib would start a
// bus of its own with dbus-launch), once inside a throwaway D-Bus session with its own keyring.
#include <mailbox/secret_store.h>

#include <gtest/gtest.h>

using namespace mailbox;

namespace {
const QString kSchema = "org.olm.chimewise.Test";
const QMap<QString, QString> kAlice{{"server", "imaps://mail.example.org"}, {"user", "alice"}};
const QMap<QString, QString> kBob{{"server", "imaps://mail.example.org"}, {"user", "bob"}};
}  // namespace

TEST(SecretStore, StoreLookUpReplaceAndClear) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_KEYRING") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  SecretResult r = LookupSecret(kSchema, kAlice);
  ASSERT_TRUE(r.serviceAvailable) << r.error.toStdString();
  EXPECT_FALSE(r.secret);
  r = StoreSecret(kSchema, kAlice, "test item", QString::fromUtf8("pässword"));
  ASSERT_TRUE(r.serviceAvailable && r.error.isEmpty()) << r.error.toStdString();
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QString::fromUtf8("pässword"));
  EXPECT_FALSE(LookupSecret(kSchema, kBob).secret);
  StoreSecret(kSchema, kAlice, "test item", "second");
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QStringLiteral("second"));
  EXPECT_TRUE(ClearSecret(kSchema, kAlice).serviceAvailable);
  EXPECT_FALSE(LookupSecret(kSchema, kAlice).secret);
}

TEST(SecretStore, WithoutABusItSaysSoAtOnce) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_NO_BUS") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  const SecretResult r = LookupSecret(kSchema, kAlice);
  EXPECT_FALSE(r.serviceAvailable || r.secret);
  EXPECT_EQ(r.error, "no session bus runs");
  EXPECT_FALSE(StoreSecret(kSchema, kAlice, "test item", "pw").serviceAvailable);
  EXPECT_FALSE(ClearSecret(kSchema, kAlice).serviceAvailable);
}
