// Runs inside a throwaway D-Bus session with its own gnome-keyring (secret_store_test.sh).

#include <mailbox/secret_store.h>

#include <gtest/gtest.h>

using namespace mailbox;

namespace {
const QString kSchema = "org.olm.chimewise.Test";
const QMap<QString, QString> kAlice{{"server", "imaps://mail.example.org"}, {"user", "alice"}};
const QMap<QString, QString> kBob{{"server", "imaps://mail.example.org"}, {"user", "bob"}};
}  // namespace

class SecretStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariable("CHIMEWISE_TEST_KEYRING") != "1")
      GTEST_SKIP() << "needs the throwaway keyring of secret_store_test.sh";
  }
};

TEST_F(SecretStoreTest, StoreLookUpReplaceAndClear) {
  SecretResult r = LookupSecret(kSchema, kAlice);
  ASSERT_TRUE(r.serviceAvailable) << r.error.toStdString();
  EXPECT_FALSE(r.secret);
  r = StoreSecret(kSchema, kAlice, "test item", QString::fromUtf8("pässword"));
  ASSERT_TRUE(r.serviceAvailable && r.error.isEmpty()) << r.error.toStdString();
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QString::fromUtf8("pässword"));
  EXPECT_FALSE(LookupSecret(kSchema, kBob).secret);  // another user's is another item
  StoreSecret(kSchema, kAlice, "test item", "second");
  EXPECT_EQ(LookupSecret(kSchema, kAlice).secret, QStringLiteral("second"));
  EXPECT_TRUE(ClearSecret(kSchema, kAlice).serviceAvailable);
  EXPECT_FALSE(LookupSecret(kSchema, kAlice).secret);
}

// Run by the wrapper a second time with a session bus address that leads nowhere.
TEST(SecretStoreWithoutService, SaysSoInsteadOfFailingSilently) {
  if (qEnvironmentVariable("CHIMEWISE_TEST_NO_BUS") != "1") GTEST_SKIP() << "needs secret_store_test.sh";
  SecretResult r = LookupSecret(kSchema, kAlice);
  EXPECT_FALSE(r.serviceAvailable);
  EXPECT_FALSE(r.error.isEmpty());
  r = StoreSecret(kSchema, kAlice, "test item", "pw");
  EXPECT_FALSE(r.serviceAvailable);
}
