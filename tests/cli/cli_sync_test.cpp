// chimewise-cli sync against a real Radicale on 127.0.0.1: what it prints and exits with. What a
// sync does on either side is checked in the sync service tests.
#include "support/cli_fixture.h"
#include "support/radicale_server.h"

#include <caldav/caldav_session.h>

#include <gtest/gtest.h>

#include <memory>

using namespace chimewise;
using testsupport::RadicaleServer;

class SyncCliTest : public testsupport::CliFixture {};

TEST_F(SyncCliTest, PrintsWhatMovedAndTellsWhyItFailed) {
  CHIMEWISE_REQUIRE_SERVER(RadicaleServer::Unavailable());
  RadicaleServer server({"anna", "pw", {}, {}});
  ASSERT_TRUE(server.ready()) << server.error().toStdString();
  caldav::Settings admin;
  admin.url = server.url("/anna/reminders/");
  admin.user = "anna";
  admin.password = "pw";
  ASSERT_TRUE(caldav::Session(admin).makeCalendar(admin.url, "Reminders").ok());
  const QStringList sync{"sync", "--server", admin.url.toString(), "--user", "anna"};
  const QString now = "2027-01-04 08:00:00";

  ASSERT_EQ(run(now, {"add", "--text", "Dentist", "--activity", "2027-01-05 09:00"}), 0);
  qputenv("CHIMEWISE_SYNC_PASSWORD", "pw");
  ASSERT_EQ(run(now, sync), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(lines.size() - 1),
            "from the server 0 new, 0 changed, 0 deleted; to the server 1 new, 0 changed, 0 deleted; 0 conflicts");
  EXPECT_EQ(run(now, {"sync", "--server", "ftp://example.org/cal", "--user", "anna"}), 1);
  qputenv("CHIMEWISE_SYNC_PASSWORD", "wrong");
  EXPECT_EQ(run(now, sync), 1);
  EXPECT_TRUE(errors.contains("refused the user name or password")) << errors.toStdString();
  qunsetenv("CHIMEWISE_SYNC_PASSWORD");
}
