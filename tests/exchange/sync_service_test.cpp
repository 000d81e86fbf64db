// The program's own calendar sync over a real reminder table and Radicale: when it runs, that its
// transfers never hold up the caller, how it backs off, and what it does with a conflict.
#include "exchange/sync_service.h"

#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "schedule/save_event.h"
#include "support/add_reminder.h"
#include "support/event_wait.h"
#include "support/files.h"
#include "support/radicale_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <gtest/gtest.h>

#include <memory>

using namespace chimewise;
using testsupport::RadicaleServer;

namespace {

const QDateTime kStart(QDate(2027, 1, 4), QTime(8, 0));

TEST(SyncTiming, EveryFewMinutesSoonAfterAChangeAndLaterAndLaterAfterFailures) {
  const std::pair<int, int> minutesAfterFailures[] = {{0, 5}, {1, 1}, {2, 2}, {6, 32}, {7, 60}, {1000, 60}};
  for (const auto& [failures, minutes] : minutesAfterFailures)
    EXPECT_EQ(SyncTiming::After(kStart, failures), kStart.addSecs(60 * minutes)) << failures;
  // A change brings the sync forward to ten seconds from now, never later than it was due.
  EXPECT_EQ(SyncTiming::AfterChange(kStart.addSecs(300), kStart, 0), kStart.addSecs(10));
  EXPECT_EQ(SyncTiming::AfterChange(kStart.addSecs(5), kStart, 0), kStart.addSecs(5));
  // While backing off from a failure, a change does not hammer the server.
  EXPECT_EQ(SyncTiming::AfterChange(kStart.addSecs(240), kStart, 3), kStart.addSecs(240));
}

// Anna's password, and no one else's.
struct AnnasPassword : SyncPasswordPort {
  std::optional<QString> SyncPassword(const QString&, const QString& user) override {
    return user == "anna" ? std::optional<QString>("pw") : std::nullopt;
  }
};

class SyncServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "sync-service-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    CHIMEWISE_REQUIRE_SERVER(RadicaleServer::Unavailable());
    state.AppFolder = dir.filePath("app");
    testsupport::CopyEmptyCalendar(state.AppFolder);
    ASSERT_FALSE(HasFatalFailure());
    data::ApplyStartupSettings(engine);
    speaker.hide();
    server = std::make_unique<RadicaleServer>(testsupport::RadicaleOptions{"anna", "pw", {}, {}});
    ASSERT_TRUE(server->ready()) << server->error().toStdString();
    collection = server->url("/anna/reminders/");
    admin.url = collection;
    admin.user = "anna";
    admin.password = "pw";
    ASSERT_TRUE(caldav::Session(admin).makeCalendar(collection, "Reminders").ok());
    settings.write(settings::SyncServer, collection.toString());
    settings.write(settings::SyncUser, "anna");
    service =
        std::make_unique<CalendarSyncService>(ReminderStore{state, clock, engine, speaker, alarms, windows}, settings);
    service->setPasswords(&passwords);
    QObject::connect(service.get(), &CalendarSyncService::synced, [this](const SyncReport& r, const QString& told) {
      reports.push_back(r);
      tolds << told;
    });
  }
  void TearDown() override {
    service.reset();
    engine.CloseAll().IgnoreError();
  }
  // Ticks once, and waits for the pass the tick began to end.
  void tickAndWait() {
    const size_t before = reports.size();
    service->Tick();
    ASSERT_TRUE(service->running()) << "the tick began no sync";
    ASSERT_TRUE(testsupport::RunEventsUntil([&] { return reports.size() > before; }, 60000));
  }
  int resources() { return QDir(server->storage("/anna/reminders/")).entryList({"*.ics"}, QDir::Files).size(); }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  ManualClock clock{kStart};
  SettingsStore settings{dir.filePath("settings.ini")};
  xbase::Engine engine;
  TranscriptSpeaker speaker;
  NoWindows windows;
  AlarmService alarms{state, options, clock, engine, speaker, windows};
  EventSaver saver{state, options, clock, engine};
  std::unique_ptr<RadicaleServer> server;
  QUrl collection;
  caldav::Settings admin;  // the other device
  AnnasPassword passwords;
  std::unique_ptr<CalendarSyncService> service;
  std::vector<SyncReport> reports;
  QStringList tolds;
};

TEST_F(SyncServiceTest, SyncsAtStartSoonAfterAChangeLaterAfterFailuresAndNeverHoldsTheCallerUp) {
  testsupport::AddReminder(saver, {"Dentist", QDate(2027, 1, 5), QTime(9, 0), QDate(2027, 1, 5), QTime(8, 30)});
  // The first tick starts a sync and returns with it still running on the client's thread.
  tickAndWait();
  ASSERT_TRUE(reports.back().ok()) << tolds.last().toStdString();
  EXPECT_EQ(resources(), 1);
  EXPECT_EQ(service->nextSync(), kStart.addSecs(5 * 60));

  // A reminder added: due ten seconds after the change is seen.
  testsupport::AddReminder(saver, {"Call Tom", QDate(2027, 1, 6), QTime(9, 0), QDate(2027, 1, 6), QTime(8, 45)});
  service->Tick();
  EXPECT_FALSE(service->running());
  EXPECT_EQ(service->nextSync(), clock.now().addSecs(10));
  clock.advanceSecs(10);
  tickAndWait();
  EXPECT_EQ(resources(), 2);
  // What the sync itself wrote is no change to sync again.
  clock.advanceSecs(60);
  service->Tick();
  EXPECT_FALSE(service->running());

  // A server that cannot be reached is tried later and later, and nothing is lost for it.
  server->kill();
  clock.advanceSecs(5 * 60);
  tickAndWait();
  EXPECT_FALSE(reports.back().ok());
  EXPECT_TRUE(tolds.last().startsWith("The calendar server could not be reached")) << tolds.last().toStdString();
  EXPECT_EQ(service->failures(), 1);
  EXPECT_EQ(service->nextSync(), clock.now().addSecs(60));

  // Back up: the next sync goes well, and no reminder was deleted for the failure.
  ASSERT_TRUE(server->restart());
  clock.advanceSecs(60);
  tickAndWait();
  EXPECT_TRUE(reports.back().ok()) << tolds.last().toStdString();
  EXPECT_EQ(service->failures(), 0);
  EXPECT_EQ(resources(), 2);
}

TEST_F(SyncServiceTest, SyncNowTellsWhyAndDestroyingTheServiceMidSyncIsSafe) {
  settings.write(settings::SyncServer, "ftp://example.org/cal/");
  QString told;
  service->SyncNow([&](const SyncReport&, const QString& t) { told = t; });
  ASSERT_TRUE(testsupport::RunEventsUntil([&] { return !told.isEmpty(); }));
  EXPECT_TRUE(told.contains("https://")) << told.toStdString();

  settings.write(settings::SyncServer, collection.toString());
  for (int i = 0; i < 20; ++i)
    testsupport::AddReminder(
        saver, {QString("Task %1").arg(i), QDate(2027, 1, 7), QTime(9, i), QDate(2027, 1, 7), QTime(8, i)});
  bool called = false;
  service->SyncNow([&](const SyncReport&, const QString&) { called = true; });
  ASSERT_TRUE(service->running());
  // Gone while its pass runs: the client's thread is stopped and joined, nothing is called back.
  service.reset();
  QCoreApplication::processEvents();
  EXPECT_FALSE(called);
}

}  // namespace
