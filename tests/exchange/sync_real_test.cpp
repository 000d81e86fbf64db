// The calendar sync as `chimewise-cli sync` runs it (CalendarSync over a BlockingCalDav) against two
// real servers, Radicale and Xandikos, with python3-caldav as the other device (a phone): what an
// edit on either side does, a reminder changed while a sync runs, a sync left incomplete, and
// conflicts both ways.
#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "exchange/calendar_import.h"
#include "exchange/calendar_sync.h"
#include "schedule/save_event.h"
#include "support/add_reminder.h"
#include "support/files.h"
#include "support/radicale_server.h"
#include "support/scripted_http_server.h"
#include "support/xandikos_server.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

using namespace chimewise;
using testsupport::RadicaleServer;
using testsupport::XandikosServer;

namespace {

const QDateTime kStart(QDate(2027, 1, 4), QTime(8, 0));

// The real port, with a step of the test's own once the server's listing is in (and the plan not
// yet made): what the user does here while a sync runs.
class PortWithHook final : public CalDavPort {
 public:
  PortWithHook(caldav::Settings settings, std::function<void()> afterListing)
      : m_port(std::move(settings)), m_afterListing(std::move(afterListing)) {}
  void discover(std::function<void(const caldav::Discovery&)> done) override { m_port.discover(std::move(done)); }
  void syncCollection(const QUrl& c, const QString& token, std::function<void(const caldav::Changes&)> done) override {
    m_port.syncCollection(c, token, [this, done](const caldav::Changes& changes) { listed(), done(changes); });
  }
  void listMembers(const QUrl& c, std::function<void(const caldav::Changes&)> done) override {
    m_port.listMembers(c, [this, done](const caldav::Changes& changes) { listed(), done(changes); });
  }
  void fetch(const QUrl& c, const QList<QUrl>& hrefs, std::function<void(const caldav::Objects&)> done) override {
    m_port.fetch(c, hrefs, std::move(done));
  }
  void create(const QUrl& href, const QByteArray& data, std::function<void(const caldav::WriteResult&)> done) override {
    m_port.create(href, data, std::move(done));
  }
  void update(const QUrl& href, const QByteArray& data, const QString& etag,
              std::function<void(const caldav::WriteResult&)> done) override {
    m_port.update(href, data, etag, std::move(done));
  }
  void remove(const QUrl& href, const QString& etag, std::function<void(const caldav::Status&)> done) override {
    m_port.remove(href, etag, std::move(done));
  }

 private:
  void listed() {
    if (const auto hook = std::exchange(m_afterListing, nullptr)) hook();
  }
  BlockingCalDav m_port;
  std::function<void()> m_afterListing;
};

SyncReport RunSync(ReminderStore store, std::unique_ptr<CalDavPort> port, const QUrl& collection) {
  CalendarSync sync(store, std::move(port), collection);
  SyncReport report;
  bool over = false;
  sync.finished = [&](const SyncReport& r) { report = r, over = true; };
  sync.Start();  // a blocking port: the pass is over when this returns
  EXPECT_TRUE(over);
  return report;
}

std::string Told(const SyncReport& r) {
  return (SyncSummary(r) + u'\n' + SyncProblemText(r) + u'\n' + r.notes.join(u'\n')).toStdString();
}

class RealSyncTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "sync-real-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    const bool radicale = QByteArray(GetParam()) == "radicale";
    CHIMEWISE_REQUIRE_SERVER(radicale ? RadicaleServer::Unavailable() : XandikosServer::Unavailable());
    CHIMEWISE_REQUIRE_SERVER(
        QProcess::execute("/usr/bin/python3", {"-c", "import caldav"}) == 0
            ? QString()
            : QString("/usr/bin/python3 cannot import caldav (the Debian package python3-caldav)"));
    state.AppFolder = dir.filePath("app");
    testsupport::CopyEmptyCalendar(state.AppFolder);
    ASSERT_FALSE(HasFatalFailure());
    data::ApplyStartupSettings(engine);
    speaker.hide();
    if (radicale) {
      auto server = std::make_unique<RadicaleServer>(testsupport::RadicaleOptions{"anna", "pw", {}, {}});
      ASSERT_TRUE(server->ready()) << server->error().toStdString();
      settings.url = server->url("/anna/reminders/");
      settings.user = "anna";
      settings.password = "pw";
      ASSERT_TRUE(caldav::Session(settings).makeCalendar(settings.url, "Reminders").ok());
      radicaleServer = std::move(server);
    } else {
      auto server = std::make_unique<XandikosServer>();
      ASSERT_TRUE(server->ready()) << server->error().toStdString();
      settings.url = server->calendar();
      xandikosServer = std::move(server);
    }
  }
  void TearDown() override { engine.CloseAll().IgnoreError(); }

  ReminderStore store() { return ReminderStore{state, clock, engine, speaker, alarms, windows}; }
  SyncReport sync(std::function<void()> afterListing = {}, caldav::Limits limits = {}) {
    caldav::Settings s = settings;
    s.limits = limits;
    return RunSync(store(), std::make_unique<PortWithHook>(s, std::move(afterListing)), settings.url);
  }

  // The other device: caldav_device.py with these arguments; its output.
  QByteArray phone(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start("/usr/bin/python3",
            QStringList{qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + "/tests/support/caldav_device.py",
                        settings.url.toString(), settings.user, settings.password} +
                args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
  }
  // Every resource on the server by its SUMMARY, as the server stores it.
  std::map<QString, QByteArray> server() {
    std::map<QString, QByteArray> bySummary;
    caldav::Session s(settings);
    QList<QUrl> hrefs;
    for (const caldav::Member& m : s.listMembers(settings.url).changed) hrefs << m.href;
    static const QRegularExpression summary("^SUMMARY:(.*)\r?$", QRegularExpression::MultilineOption);
    for (const caldav::CalendarObject& o : s.fetch(settings.url, hrefs).objects)
      bySummary[summary.match(QString::fromUtf8(o.data)).captured(1)] = o.data;
    return bySummary;
  }
  // Every reminder here by its activity text, with its record number.
  std::map<QString, std::pair<qint64, EventInput>> table() {
    std::map<QString, std::pair<qint64, EventInput>> byText;
    int area = 0;
    EXPECT_TRUE(OpenCalendar(engine, state.AppFolder, "SYNCTEST", &area).ok());
    if (xbase::WorkArea* wa = engine.Area(area)) {
      for (xbase::Status st = wa->GoTop(); st.ok() && !wa->Eof(); st = wa->Skip(1))
        if (!wa->Deleted()) byText[StoredReminder(*wa).activity] = {wa->RecNo(), StoredReminder(*wa)};
    }
    data::CloseTableIfOpen(engine, "SYNCTEST");
    return byText;
  }
  void edit(const QString& text, const std::function<void(EventInput&)>& change) {
    const auto [recno, in] = table().at(text);
    EventInput changed = in;
    change(changed);
    ASSERT_TRUE(saver.SaveEvent(changed, recno).saved) << text.toStdString();
  }
  qint64 add(const QString& text, int day = 10) {
    return testsupport::AddReminder(saver, {text, QDate(2027, 1, day), QTime(9, 0), QDate(2027, 1, day), QTime(8, 30)});
  }
  // An event made on the phone, with LAST-MODIFIED at `modified`; its href.
  QString phoneEvent(const QByteArray& uid, const QByteArray& summary, const QByteArray& extra = {}) {
    return QString::fromUtf8(phone({"create"},
                                   "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Phone//EN\r\n"
                                   "BEGIN:VEVENT\r\nUID:" +
                                       uid +
                                       "\r\nDTSTAMP:20270101T100000Z\r\nLAST-MODIFIED:20270101T100000Z\r\n"
                                       "DTSTART:20270112T080000Z\r\nSUMMARY:" +
                                       summary + "\r\n" + extra + "END:VEVENT\r\nEND:VCALENDAR\r\n")
                                 .trimmed());
  }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  ManualClock clock{kStart};
  xbase::Engine engine;
  TranscriptSpeaker speaker;
  NoWindows windows;
  AlarmService alarms{state, options, clock, engine, speaker, windows, windows};
  EventSaver saver{state, clock, engine, speaker, alarms, windows};
  std::unique_ptr<RadicaleServer> radicaleServer;
  std::unique_ptr<XandikosServer> xandikosServer;
  caldav::Settings settings;
};

// Every field a reminder's fingerprint holds, changed here, is put over the server's version (with
// the If-Match of the version synced); a phone's edit in the same sync comes here.
TEST_P(RealSyncTest, EveryChangeHereReachesTheServerAndAPhoneEditComesHere) {
  const struct {
    const char* field;
    std::function<void(EventInput&)> change;
    const char* expected;  // in the resource afterwards
  } cases[] = {
      {"activity", [](EventInput& in) { in.activity += " now"; }, "SUMMARY:activity now"},
      {"memo", [](EventInput& in) { in.memo = "Bring the forms"; }, "DESCRIPTION:Bring the forms"},
      {"date", [](EventInput& in) { in.activityDate = in.activityDate.addDays(1); }, "20270111T"},
      {"time", [](EventInput& in) { in.activityTime = QTime(10, 15); }, ":20270110T101500"},
      {"category", [](EventInput& in) { in.event = "Work"; }, "CATEGORIES:Work"},
      {"sound", [](EventInput& in) { in.sound = 3; }, "X-CHIMEWISE-SOUND:3"},
      {"countdown", [](EventInput& in) { in.countdown = 15, in.countdownOn = true; }, "X-CHIMEWISE-COUNTDOWN:15"},
      {"say-date", [](EventInput& in) { in.sayDate = 1; }, "X-CHIMEWISE-SAY-DATE:1"},
      {"say-time", [](EventInput& in) { in.sayTime = 1; }, "X-CHIMEWISE-SAY-TIME:1"},
  };
  for (const auto& c : cases) add(c.field);
  const QString href = phoneEvent("review-9@phone.example", "Review");
  SyncReport first = sync();
  ASSERT_TRUE(first.ok()) << Told(first);
  ASSERT_EQ(first.pushedNew, int(std::size(cases)));
  ASSERT_EQ(first.pulledNew, 1);
  const auto before = server();

  clock.advanceSecs(60);
  for (const auto& c : cases) edit(c.field, c.change);
  phone({"edit", href, "SUMMARY=Review with Sue", "LAST-MODIFIED=20270104T070100Z"});
  const SyncReport second = sync();
  EXPECT_TRUE(second.ok()) << Told(second);
  EXPECT_EQ(second.left, 0) << Told(second);
  EXPECT_EQ(second.pushedChanged, int(std::size(cases))) << Told(second);
  EXPECT_EQ(second.pulledChanged, 1) << Told(second);
  const auto after = server();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    const auto now =
        std::find_if(after.begin(), after.end(), [&](const auto& r) { return r.first.startsWith(c.field); });
    ASSERT_NE(now, after.end());
    EXPECT_NE(now->second, before.at(c.field));
    EXPECT_TRUE(now->second.contains(c.expected)) << now->second.toStdString();
  }
  EXPECT_EQ(table().count("Review with Sue"), 1u);
  // And nothing is left to move.
  EXPECT_EQ(SyncSummary(sync()), SyncSummary(SyncReport()));
}

// A reminder changed here while the sync runs is spared by the phone's delete of it, and goes back
// to the server with the next sync.
TEST_P(RealSyncTest, APhoneDeleteSparesAReminderChangedMeanwhile) {
  add("Dentist");
  add("Call Tom");  // not every event is gone: an empty calendar deletes nothing here
  ASSERT_EQ(sync().pushedNew, 2);
  const QByteArray dentist = server().at("Dentist");
  caldav::Session s(settings);
  QString href;
  for (const caldav::CalendarObject& o : s.fetch(settings.url,
                                                 [&] {
                                                   QList<QUrl> all;
                                                   for (const caldav::Member& m : s.listMembers(settings.url).changed)
                                                     all << m.href;
                                                   return all;
                                                 }())
                                             .objects)
    if (o.data == dentist) href = o.href.toString();
  phone({"delete", href});

  const SyncReport report = sync([&] { edit("Dentist", [](EventInput& in) { in.activity = "Dentist at 10"; }); });
  EXPECT_EQ(report.pulledDeleted, 0) << Told(report);
  EXPECT_EQ(report.left, 1) << Told(report);
  EXPECT_EQ(table().count("Dentist at 10"), 1u);
  const SyncReport next = sync();
  EXPECT_EQ(next.pushedNew, 1) << Told(next);
  EXPECT_EQ(server().count("Dentist at 10"), 1u);
}

// A sync that leaves something behind (an event too large to read this time) keeps the old sync
// token: the next one lists everything again and takes it.
TEST_P(RealSyncTest, ASyncLeftIncompleteListsAgainNextTime) {
  phoneEvent("small@phone.example", "Small");
  phoneEvent("large@phone.example", "Large", "DESCRIPTION:" + QByteArray(3000, 'x') + "\r\n");
  caldav::Limits small;
  small.maxObjectBytes = 2000;
  const SyncReport cut = sync({}, small);
  EXPECT_TRUE(cut.ok()) << Told(cut);
  EXPECT_EQ(cut.pulledNew, 1) << Told(cut);
  EXPECT_EQ(table().count("Large"), 0u);
  const SyncReport whole = sync();
  EXPECT_EQ(whole.pulledNew, 1) << Told(whole);
  EXPECT_EQ(table().count("Large"), 1u);
}

// Changed on both sides: the later change stays in place, the other becomes a conflicting copy, and
// both versions are on both sides.
TEST_P(RealSyncTest, AConflictKeepsTheLaterChangeInPlaceAndTheOtherAsACopy) {
  const struct {
    const char* phoneModified;  // the clock here is 08:00 local (07:00 UTC) when the sync runs
    bool localWins;
  } cases[] = {{"20270104T065000Z", true}, {"20270104T075000Z", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.phoneModified);
    const QByteArray uid = QByteArray("review-") + c.phoneModified + "@phone.example";
    const QString href = phoneEvent(uid, "Review " + QByteArray(c.phoneModified));
    ASSERT_EQ(sync().pulledNew, 1);
    const QString base = "Review " + QString(c.phoneModified);
    phone({"edit", href, "SUMMARY=" + base + " by phone", QString("LAST-MODIFIED=") + c.phoneModified});
    edit(base, [&](EventInput& in) { in.activity = base + " here"; });
    const SyncReport report = sync();
    EXPECT_EQ(report.conflicts, 1) << Told(report);
    const QString winner = base + (c.localWins ? " here" : " by phone");
    const QString loser = ConflictingCopyText(base + (c.localWins ? " by phone" : " here"));
    const QByteArray inPlace = phone({"get", href});
    EXPECT_TRUE(inPlace.contains(("SUMMARY:" + winner).toUtf8())) << inPlace.toStdString();
    const auto there = server();
    const auto here = table();
    for (const QString& version : {winner, loser}) {
      EXPECT_EQ(there.count(version), 1u) << version.toStdString();
      EXPECT_EQ(here.count(version), 1u) << version.toStdString();
    }
    EXPECT_EQ(SyncSummary(sync()), SyncSummary(SyncReport()));
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealSyncTest, ::testing::Values("radicale", "xandikos"),
                         [](const auto& info) { return std::string(info.param); });

// A server that answers late: the pass ends at its deadline, with nothing lost and the user told.
TEST(SyncDeadline, ASlowServerEndsThePassInTime) {
  testsupport::ScriptedHttpServer silent({.silent = true});
  ASSERT_TRUE(silent.ready());
  QTemporaryDir dir;
  SharedState state;
  state.AppFolder = dir.filePath("app");
  testsupport::CopyEmptyCalendar(state.AppFolder);
  ProgramOptions options;
  ManualClock clock{kStart};
  xbase::Engine engine;
  TranscriptSpeaker speaker;
  NoWindows windows;
  AlarmService alarms{state, options, clock, engine, speaker, windows, windows};
  caldav::Settings s;
  s.url = silent.url("/cal/");
  s.passDeadlineMs = 500;
  const SyncReport report = RunSync(ReminderStore{state, clock, engine, speaker, alarms, windows},
                                    std::make_unique<BlockingCalDav>(s), s.url);
  EXPECT_TRUE(SyncProblemText(report).startsWith("The calendar server did not answer in time")) << Told(report);
  engine.CloseAll().IgnoreError();
}

}  // namespace
