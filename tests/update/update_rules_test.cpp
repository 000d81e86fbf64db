#include "update/update_rules.h"

#include "update/update_check.h"

#include <signature/signature.h>

#include <gtest/gtest.h>

namespace chimewise::update {
namespace {

TEST(UpdateRules, VersionNumberAndNewerRows) {
  EXPECT_DOUBLE_EQ(OwnVersionNumber(1, 0, 5), 10.5);
  EXPECT_DOUBLE_EQ(OwnVersionNumber(2, 10, 3), 210.3);
  EXPECT_DOUBLE_EQ(LeadingNumber("0010b.exe"), 10);
  EXPECT_DOUBLE_EQ(LeadingNumber("readme.txt"), 0);

  // Purely numeric on the leading digits: 105 is already more than 10.6.
  EXPECT_EQ(FirstNewerRow({"105.exe", "107.exe"}, 10.6), 0);
  EXPECT_EQ(FirstNewerRow({"readme.txt", "10.exe", "11.exe", "12.exe"}, 10.6), 2);
  EXPECT_EQ(FirstNewerRow({"10.exe", "9.exe"}, 10.6), -1);
  // The program's own version is not newer than itself: never fetched again at every check.
  EXPECT_EQ(FirstNewerRow({"106.exe", "107.exe"}, 106), 1);
}

TEST(UpdateRules, HostileRowsAreNeverFetched) {
  const QString huge = QString(300, QLatin1Char('9')) + ".exe";
  EXPECT_FALSE(IsPlainFileName(huge));
  for (const char* bad : {"", ".", "..", "../500.exe", "500/x.exe", "..\\500.exe", "500\x01.exe", "500\n.exe"})
    EXPECT_FALSE(IsPlainFileName(QString::fromLatin1(bad))) << bad;
  EXPECT_FALSE(IsPlainFileName(QString(QChar::ReplacementCharacter) + "500.exe"));
  EXPECT_TRUE(IsPlainFileName("500 new..exe"));
  EXPECT_TRUE(IsPlainFileName(QString::fromUtf8("500-grüße.exe")));
  EXPECT_EQ(FirstNewerRow({"../900.exe", "900/a.exe", huge, "800.exe"}, 1.0), 3);

  EXPECT_EQ(DisplayRow(QString::fromLatin1("50\x1b[31m.exe\x7f")), "50?[31m.exe?");
  EXPECT_EQ(DisplayRow(huge).size(), 260);
}

TEST(UpdateRules, CountsAndTheServerAddressFromTheSettings) {
  EXPECT_EQ(FormatCount(999), "999");
  EXPECT_EQ(FormatCount(1000), "1,000");
  EXPECT_EQ(FormatCount(123456789012), "123,456,789,012");
  EXPECT_EQ(ParseServerAddress("   ").kind, ServerAddress::NotSet);
  const struct {
    const char* text;
    const char* host;
    int port;
  } good[] = {{"ftp.example.com", "ftp.example.com", 21},
              {" FTP://127.0.0.1:2121/ ", "127.0.0.1", 2121},
              {"ftp://[::1]:10021", "::1", 10021}};
  for (const auto& c : good) {
    const ServerAddress a = ParseServerAddress(c.text);
    EXPECT_EQ(a.kind, ServerAddress::Ok) << c.text;
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
  }
  for (const char* bad : {"http://example.com", "ftp://", "ftp://host/pub/", "ftp://user:pw@host", "host:99999",
                          "ftp://host?x=1", "file:///etc"})
    EXPECT_EQ(ParseServerAddress(QString::fromLatin1(bad)).kind, ServerAddress::Invalid) << bad;
}

// The key given to the build is the one the program checks with; a build without one holds none.
TEST(UpdateRules, BuiltInKeyIsTheConfiguredOne) {
  const QString configured = QStringLiteral(CONFIGURED_UPDATE_KEY);
  if (configured.isEmpty()) {
    EXPECT_TRUE(BuiltInPublicKey().isEmpty());
  } else {
    EXPECT_EQ(BuiltInPublicKey().size(), signature::kPublicKeyBytes);
    EXPECT_EQ(BuiltInPublicKey(), signature::ParseKeyText(configured).value_or(QByteArray()));
  }
}

}  // namespace
}  // namespace chimewise::update
