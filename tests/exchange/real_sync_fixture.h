#pragma once
// A reminder table and a real CalDAV server (Radicale or Xandikos, the test's parameter) for
// running the calendar sync as `chimewise-cli sync` does (CalendarSync over a caldav::BlockingClient),
// with python3-caldav (tests/support/caldav_device.py) as the other device, a phone.
#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "exchange/calendar_import.h"
#include "exchange/calendar_sync.h"
#include "schedule/save_event.h"
#include "support/add_reminder.h"
#include "support/files.h"
#include "support/radicale_server.h"
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

namespace chimewise::testsupport {

inline const QDateTime kStart(QDate(2027, 1, 4), QTime(8, 0));

// The real port, with a step of the test's own once the server's listing is in (and the plan not
// yet made): what the user does here while a sync runs.
class PortWithHook final : public caldav::Client {
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
  caldav::BlockingClient m_port;
  std::function<void()> m_afterListing;
};

inline SyncReport RunSync(ReminderStore store, std::unique_ptr<caldav::Client> port, const QUrl& collection) {
  CalendarSync sync(store, std::move(port), collection);
  SyncReport report;
  bool over = false;
  sync.finished = [&](const SyncReport& r) { report = r, over = true; };
  sync.Start();  // a blocking port: the pass is over when this returns
  EXPECT_TRUE(over);
  return report;
}

inline std::string Told(const SyncReport& r) {
  return (SyncSummary(r) + u'\n' + SyncProblemText(r) + u'\n' + r.notes.join(u'\n')).toStdString();
}

class RealSyncFixture : public ::testing::TestWithParam<const char*> {
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
    CopyEmptyCalendar(state.AppFolder);
    ASSERT_FALSE(HasFatalFailure());
    data::ApplyStartupSettings(engine);
    speaker.hide();
    if (radicale) {
      auto server = std::make_unique<RadicaleServer>(RadicaleOptions{"anna", "pw", {}, {}});
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
  // Every resource on the server by its SUMMARY, as the server stores it (with `hrefs`, its href).
  std::map<QString, QByteArray> server(bool hrefs = false) {
    std::map<QString, QByteArray> bySummary;
    caldav::Session s(settings);
    QList<QUrl> all;
    for (const caldav::Member& m : s.listMembers(settings.url).changed) all << m.href;
    static const QRegularExpression summary("^SUMMARY:(.*)\r?$", QRegularExpression::MultilineOption);
    for (const caldav::CalendarObject& o : s.fetch(settings.url, all).objects)
      bySummary[summary.match(QString::fromUtf8(o.data)).captured(1)] = hrefs ? o.href.toString().toUtf8() : o.data;
    return bySummary;
  }
  QString hrefOf(const QString& summary) { return QString::fromUtf8(server(true).at(summary)); }
  // Every reminder here by its activity text, with its record number.
  std::map<QString, std::pair<qint64, EventInput>> table() {
    std::map<QString, std::pair<qint64, EventInput>> byText;
    const data::TableHandle table = data::TableHandle::Calendar(engine, state.AppFolder, "SYNCTEST");
    EXPECT_TRUE(table.ok());
    if (xbase::WorkArea* wa = table.get()) {
      for (xbase::Status st = wa->GoTop(); st.ok() && !wa->Eof(); st = wa->Skip(1))
        if (!wa->Deleted()) byText[StoredReminder(*wa).activity] = {wa->RecNo(), StoredReminder(*wa)};
    }
    return byText;
  }
  void edit(const QString& text, const std::function<void(EventInput&)>& change) {
    const auto [recno, in] = table().at(text);
    EventInput changed = in;
    change(changed);
    ASSERT_TRUE(saver.SaveEvent(changed, recno).saved) << text.toStdString();
  }
  qint64 add(const QString& text, int day = 10) {
    return AddReminder(saver, {text, QDate(2027, 1, day), QTime(9, 0), QDate(2027, 1, day), QTime(8, 30)});
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
  EventSaver saver{state, options, clock, engine};
  std::unique_ptr<RadicaleServer> radicaleServer;
  std::unique_ptr<XandikosServer> xandikosServer;
  caldav::Settings settings;
};

}  // namespace chimewise::testsupport
