// chimewise-cli sync against a real Radicale on 127.0.0.1: what other devices put on the server
// reaches the reminders, what is done here reaches the server, and neither side's change is lost.
// The other device is curl, speaking plain HTTP to the server.
#include "support/cli_fixture.h"
#include "support/radicale_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

using namespace chimewise;
using testsupport::RadicaleServer;

namespace {

const QString kUser = "anna";
const QString kPassword = "s3cret pass";
const QString kMonday = "2027-01-04 08:00:00";

QByteArray Calendar(const QByteArray& body) {
  QByteArray text =
      "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Example//Phone Calendar 9//EN\n" + body + "END:VCALENDAR\n";
  return text.replace("\n", "\r\n");
}

QByteArray PhoneEvent(const QByteArray& uid, const QByteArray& summary, const QByteArray& start,
                      const QByteArray& modified = "20270101T100000Z") {
  return Calendar("BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:" + modified + "\nLAST-MODIFIED:" + modified +
                  "\nDTSTART:" + start + "\nDURATION:PT1H\nSUMMARY:" + summary +
                  "\nBEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-PT15M\nDESCRIPTION:" + summary +
                  "\nEND:VALARM\nEND:VEVENT\n");
}

class SyncCliTest : public testsupport::CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    if (const QString why = RadicaleServer::Unavailable(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
    server = std::make_unique<RadicaleServer>(testsupport::RadicaleOptions{kUser, kPassword, {}, {}});
    ASSERT_TRUE(server->ready()) << server->error().toStdString();
    collection = server->url("/" + kUser + "/reminders/").toString();
    ASSERT_EQ(curl({"-X", "MKCALENDAR", collection}), "201");
    qputenv("CHIMEWISE_SYNC_PASSWORD", kPassword.toUtf8());
  }
  void TearDown() override { qunsetenv("CHIMEWISE_SYNC_PASSWORD"); }

  int sync(const QString& now = kMonday) { return run(now, {"sync", "--server", collection, "--user", kUser}); }
  // The summary line of the last sync.
  QString synced() const { return lines.isEmpty() ? QString() : lines.last(); }
  QStringList list(const QString& now = kMonday) {
    EXPECT_EQ(run(now, {"list", "--all"}), 0) << errors.toStdString();
    return lines;
  }
  QString listed(const QString& now = kMonday) { return list(now).join('\n'); }

  // curl as the other device: returns the HTTP status, and the body in *body.
  QString curl(const QStringList& args, QByteArray* body = nullptr, const QByteArray& upload = {}) {
    QProcess p;
    QStringList all{"-s", "-u", kUser + ':' + kPassword, "-w", "\n%{http_code}"};
    if (!upload.isNull())
      all << "-H"
          << "Content-Type: text/calendar"
          << "--data-binary"
          << "@-";
    p.start("curl", all + args);
    if (!p.waitForStarted(10000)) return "curl did not start";
    p.write(upload);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    QByteArray out = p.readAllStandardOutput();
    const qsizetype cut = out.lastIndexOf('\n');
    if (body) *body = out.left(cut);
    return QString::fromLatin1(out.mid(cut + 1));
  }
  QString put(const QString& name, const QByteArray& ics) {
    return curl({"-X", "PUT", collection + name}, nullptr, ics);
  }
  // Every resource of the collection, as the server hands the collection out.
  QByteArray everything() {
    QByteArray body;
    EXPECT_EQ(curl({collection}, &body), "200");
    return body;
  }
  int resources() {
    return QDir(server->storage("/" + kUser + "/reminders/")).entryList({"*.ics"}, QDir::Files).size();
  }
  // An edit made here: the reminder's calendar entry read in again with another summary.
  void editHere(const QString& uid, const QByteArray& summary, const QByteArray& start) {
    QFile f(dir.filePath("edit.ics"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Calendar("BEGIN:VEVENT\nUID:" + uid.toUtf8() + "\nDTSTAMP:20270104T080000Z\nDTSTART:" + start +
                     "\nSUMMARY:" + summary + "\nEND:VEVENT\n"));
    f.close();
    ASSERT_EQ(run(kMonday, {"import", f.fileName()}), 0) << errors.toStdString();
    ASSERT_EQ(lines.value(0), "imported 0, updated 1, deleted 0, unchanged 0, skipped 0");
  }

  std::unique_ptr<RadicaleServer> server;
  QString collection;
};

const QString kNothing =
    "from the server 0 new, 0 changed, 0 deleted; to the server 0 new, 0 changed, 0 deleted; 0 conflicts";

TEST_F(SyncCliTest, WhatOtherDevicesPutThereIsListedAnnouncedChangedAndDeletedHere) {
  ASSERT_EQ(put("plumber.ics", PhoneEvent("plumber-1@phone.example", "Call the plumber", "20270106T140000Z")), "201");
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_EQ(synced(),
            "from the server 1 new, 0 changed, 0 deleted; to the server 0 new, 0 changed, 0 deleted; 0 conflicts");
  // 14:00 UTC is 3 pm in Berlin, and the alarm a quarter of an hour before.
  EXPECT_TRUE(listed().contains("01/06/2027 2:45 pm\tCall the plumber\t01/06/2027 3:00 pm")) << listed().toStdString();
  ASSERT_EQ(sync(), 0);
  EXPECT_EQ(synced(), kNothing) << "a second sync with nothing changed moves nothing";

  ASSERT_EQ(run("2027-01-06 14:45:20", {"due"}), 0) << errors.toStdString();
  EXPECT_TRUE(lines.join('\n').contains("Call the plumber")) << lines.join('\n').toStdString();

  // Changed on the phone, then deleted there.
  ASSERT_EQ(put("plumber.ics", PhoneEvent("plumber-1@phone.example", "Call the plumber again", "20270107T090000Z",
                                          "20270104T070000Z")),
            "201");
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_TRUE(synced().startsWith("from the server 0 new, 1 changed, 0 deleted")) << synced().toStdString();
  EXPECT_TRUE(listed().contains("Call the plumber again\t01/07/2027 10:00 am")) << listed().toStdString();
  ASSERT_EQ(curl({"-X", "DELETE", collection + "plumber.ics"}), "200");
  ASSERT_EQ(sync(), 0);
  EXPECT_TRUE(synced().startsWith("from the server 0 new, 0 changed, 1 deleted")) << synced().toStdString();
  EXPECT_FALSE(listed().contains("plumber")) << listed().toStdString();
}

TEST_F(SyncCliTest, WhatIsAddedEditedSnoozedAndDeletedHereReachesTheServer) {
  ASSERT_EQ(
      run(kMonday, {"add", "--text", "Dentist", "--activity", "2027-01-05 09:00", "--remind", "2027-01-05 08:30"}), 0)
      << errors.toStdString();
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_EQ(synced(),
            "from the server 0 new, 0 changed, 0 deleted; to the server 1 new, 0 changed, 0 deleted; 0 conflicts");
  EXPECT_TRUE(everything().contains("SUMMARY:Dentist\r\n"));
  EXPECT_TRUE(everything().contains("TRIGGER;VALUE=DATE-TIME:20270105T073000Z")) << everything().toStdString();

  const QString uid = QRegularExpression("UID:(\\S+)").match(everything()).captured(1);
  ASSERT_FALSE(uid.isEmpty());
  editHere(uid, "Dentist, bring the card", "20270105T100000Z");
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_EQ(synced(),
            "from the server 0 new, 0 changed, 0 deleted; to the server 0 new, 1 changed, 0 deleted; 0 conflicts");
  EXPECT_TRUE(everything().contains("SUMMARY:Dentist\\, bring the card\r\n")) << everything().toStdString();
  EXPECT_EQ(resources(), 1) << "an edit rewrites the resource, it adds none";

  // Snoozed by an hour: the server's alarm moves with it.
  const QString rec = list().value(0).section('\t', 0, 0);
  ASSERT_EQ(run("2027-01-05 09:30:00", {"snooze", rec, "4"}), 0) << errors.toStdString();
  ASSERT_EQ(sync("2027-01-05 09:31:00"), 0) << errors.toStdString();
  EXPECT_TRUE(synced().contains("to the server 0 new, 1 changed")) << synced().toStdString();
  EXPECT_TRUE(everything().contains("TRIGGER;VALUE=DATE-TIME:20270105T093000Z")) << everything().toStdString();

  ASSERT_EQ(run(kMonday, {"delete", rec}), 0);
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_TRUE(synced().endsWith("to the server 0 new, 0 changed, 1 deleted; 0 conflicts")) << synced().toStdString();
  EXPECT_EQ(resources(), 0);
}

TEST_F(SyncCliTest, ChangedOnBothSidesKeepsBothVersions) {
  ASSERT_EQ(put("review.ics", PhoneEvent("review-9@phone.example", "Review", "20270108T090000Z")), "201");
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  editHere("review-9@phone.example", "Review with Tom", "20270108T090000Z");
  // The phone's change is the later one.
  ASSERT_EQ(put("review.ics",
                PhoneEvent("review-9@phone.example", "Review with Sue", "20270108T090000Z", "20270104T090000Z")),
            "201");
  ASSERT_EQ(sync("2027-01-04 08:30:00"), 0) << errors.toStdString();
  EXPECT_TRUE(synced().endsWith("1 conflicts")) << synced().toStdString();
  const QString here = listed();
  EXPECT_TRUE(here.contains("\tReview with Sue\t")) << here.toStdString();
  EXPECT_TRUE(here.contains("\tReview with Tom (conflicting copy)\t")) << here.toStdString();
  const QByteArray there = everything();
  EXPECT_TRUE(there.contains("SUMMARY:Review with Sue\r\n")) << there.toStdString();
  EXPECT_TRUE(there.contains("SUMMARY:Review with Tom (conflicting copy)\r\n")) << there.toStdString();
  ASSERT_EQ(sync("2027-01-04 08:31:00"), 0);
  EXPECT_EQ(synced(), kNothing);
}

TEST_F(SyncCliTest, ServerTroubleIsToldAndAServerStoppedMidSyncLosesNothing) {
  // Many reminders made here, read in from a file at once.
  QByteArray events;
  const int count = 120;
  for (int i = 0; i < count; ++i)
    events += "BEGIN:VEVENT\nUID:batch-" + QByteArray::number(i) +
              "@desk.example\nDTSTAMP:20270101T000000Z\nDTSTART:20270110T" + QByteArray::number(100000 + i * 10) +
              "Z\nSUMMARY:Task " + QByteArray::number(i) + "\nEND:VEVENT\n";
  QFile f(dir.filePath("batch.ics"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(Calendar(events));
  f.close();
  ASSERT_EQ(run(kMonday, {"import", f.fileName()}), 0) << errors.toStdString();

  // A wrong password, a path that is no calendar, a URL that is not http: told, nothing moved.
  qputenv("CHIMEWISE_SYNC_PASSWORD", "wrong");
  EXPECT_EQ(sync(), 1);
  EXPECT_TRUE(errors.contains("The calendar server refused the user name or password")) << errors.toStdString();
  qputenv("CHIMEWISE_SYNC_PASSWORD", kPassword.toUtf8());
  EXPECT_EQ(run(kMonday, {"sync", "--server", server->url("/nobody/none/").toString(), "--user", kUser}), 1);
  EXPECT_FALSE(errors.isEmpty());
  EXPECT_EQ(run(kMonday, {"sync", "--server", "ftp://example.org/cal", "--user", kUser}), 1);
  EXPECT_TRUE(errors.contains("https://")) << errors.toStdString();
  EXPECT_EQ(resources(), 0);

  // The sync runs as its own process; the server is stopped once part of it has gone up.
  QProcess tool;
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(CHIMEWISE_CLI, {"--app-folder", app, "--now", kMonday, "sync", "--server", collection, "--user", kUser});
  ASSERT_TRUE(tool.waitForStarted(10000));
  while (tool.state() == QProcess::Running && resources() < 10) QThread::msleep(5);
  server->kill();
  ASSERT_TRUE(tool.waitForFinished(120000));
  const int before = resources();
  EXPECT_LT(before, count) << "the server was stopped too late to test anything";
  if (before < count) {
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_TRUE(tool.readAll().contains("The calendar server could not be reached"));
  }
  EXPECT_EQ(list().size(), count) << "a reminder was lost here";

  ASSERT_TRUE(server->restart()) << server->error().toStdString();
  ASSERT_EQ(sync(), 0) << errors.toStdString();
  EXPECT_EQ(resources(), count);
  EXPECT_EQ(list().size(), count);
  ASSERT_EQ(sync(), 0);
  EXPECT_EQ(synced(), kNothing);
}

}  // namespace
