// Run by secret_store_test.sh: once with no bus and DISPLAY set, where GLib would start one with
// dbus-launch; once against a throwaway gnome-keyring in a session bus of its own.
#include <mailbox/secret_store.h>

#include <gtest/gtest.h>

using namespace mailbox;

namespace {
const QString kSchema = "org.olm.chimewise.Test";
const QMap<QString, QString> kAlice{{"server", "imaps://mail.example.org"}, {"user", "alice"}};
const QMap<QString, QString> kBob{{"server", "imaps://mail.example.org"}, {"user", "bob"}};
}  // namespace

TEST(SecretStore, WithoutABusItSaysSoAtOnce) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_NO_BUS") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  const SecretResult r = LookupSecret(kSchema, kAlice);
  EXPECT_FALSE(r.serviceAvailable || r.secret);
  EXPECT_EQ(r.error, "no session bus runs");
  EXPECT_FALSE(StoreSecret(kSchema, kAlice, "test item", "pw").serviceAvailable);
  EXPECT_FALSE(ClearSecret(kSchema, kAlice).serviceAvailable);
}

TEST(SecretStore, StoreLookUpReplaceAndClearInARealKeyring) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_KEYRING") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  ASSERT_TRUE(StoreSecret(kSchema, kAlice, "test item", QString::fromUtf8("pässword")).error.isEmpty());
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QString::fromUtf8("pässword"));
  EXPECT_FALSE(LookupSecret(kSchema, kBob).secret);  // another user's is another item
  StoreSecret(kSchema, kAlice, "test item", "second");
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QStringLiteral("second"));
  EXPECT_TRUE(ClearSecret(kSchema, kAlice).serviceAvailable);
  EXPECT_FALSE(LookupSecret(kSchema, kAlice).secret);
}
