// The calendar sync as `chimewise-cli sync` runs it (CalendarSync over a caldav::BlockingClient) against two
// real servers, Radicale and Xandikos, with python3-caldav as the other device (a phone): what an
// edit on either side does, a reminder changed while a sync runs, a sync left incomplete, and
// conflicts both ways.
#include "exchange/real_sync_fixture.h"

#include "support/scripted_http_server.h"

namespace chimewise::testsupport {
namespace {

class RealSyncTest : public RealSyncFixture {};

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
  phone({"delete", hrefOf("Dentist")});

  const SyncReport report = sync([&] { edit("Dentist", [](EventInput& in) { in.activity = "Dentist at 10"; }); });
  EXPECT_EQ(report.pulledDeleted, 0) << Told(report);
  EXPECT_EQ(report.left, 1) << Told(report);
  EXPECT_TRUE(SyncProblemText(report).startsWith("The sync is incomplete: 1 change was left")) << Told(report);
  EXPECT_EQ(table().count("Dentist at 10"), 1u);
  const SyncReport next = sync();
  EXPECT_EQ(next.pushedNew, 1) << Told(next);
  EXPECT_EQ(server().count("Dentist at 10"), 1u);
}

// An event changed on the phone between this sync's listing and its upload: the upload is refused
// (If-Match), and the event fetched again and decided by the same rules within the pass. A property
// the reminder does not hold stays the phone's, with the change here put over it; a later summary
// there is taken in place, the one here kept as the copy. The next sync's upload is not refused.
TEST_P(RealSyncTest, AnUploadRefusedAsChangedMeanwhileIsDecidedAgainInThePass) {
  add("Dentist");
  add("Review");
  ASSERT_EQ(sync().pushedNew, 2);
  const QString dentist = hrefOf("Dentist"), review = hrefOf("Review");
  clock.advanceSecs(60);
  edit("Dentist", [](EventInput& in) { in.activity = "Dentist here"; });
  edit("Review", [](EventInput& in) { in.activity = "Review here"; });
  const SyncReport report = sync([&] {
    phone({"edit", dentist, "LOCATION=Room 4", "LAST-MODIFIED=20270104T070200Z"});
    phone({"edit", review, "SUMMARY=Review by phone", "LAST-MODIFIED=20270104T075000Z"});
  });
  EXPECT_TRUE(report.complete()) << Told(report);
  EXPECT_EQ(report.notes.filter("changed on the server meanwhile").size(), 2) << Told(report);
  const QByteArray there = phone({"get", dentist});
  EXPECT_TRUE(there.contains("SUMMARY:Dentist here") && there.contains("LOCATION:Room 4")) << there.toStdString();
  EXPECT_TRUE(phone({"get", review}).contains("SUMMARY:Review by phone"));
  for (const QString& text : {QString("Review by phone"), ConflictingCopyText("Review here")}) {
    EXPECT_EQ(server().count(text), 1u) << text.toStdString();
    EXPECT_EQ(table().count(text), 1u) << text.toStdString();
  }
  edit("Dentist here", [](EventInput& in) { in.activity = "Dentist at 10"; });
  const SyncReport next = sync();
  EXPECT_TRUE(next.complete()) << Told(next);
  EXPECT_EQ(next.pushedChanged, 1) << Told(next);
  EXPECT_EQ(next.notes.filter("meanwhile").size(), 0) << Told(next);
}

// Text in every script travels whole both ways: reminders made here reach the server as typed, and
// events made on the phone come in as it wrote them; the next sync moves nothing.
TEST_P(RealSyncTest, TextInEveryScriptTravelsBothWays) {
  const QStringList here = {"Встреча с Анной", "会议 3 点", "موعد مع الطبيب", "회의 준비",
                            "👩🏽‍💻 review 🇩🇪"};
  const QStringList there = {"Συνάντηση", "פגישה עם דני", "बैठक", "ประชุมทีม", "かいぎ", "Հանդիպում", "შეხვედრა"};
  for (int i = 0; i < here.size(); ++i) ASSERT_GT(add(here[i], 10 + i), 0) << here[i].toStdString();
  for (int i = 0; i < there.size(); ++i) phoneEvent("s" + QByteArray::number(i) + "@phone.example", there[i].toUtf8());
  const SyncReport first = sync();
  EXPECT_TRUE(first.complete()) << Told(first);
  const auto onServer = server();
  const auto inTable = table();
  for (const QString& text : here + there) {
    EXPECT_EQ(onServer.count(text), 1u) << text.toStdString();
    EXPECT_EQ(inTable.count(text), 1u) << text.toStdString();
  }
  EXPECT_EQ(SyncSummary(sync()), SyncSummary(SyncReport()));
}

// The events pulled in one run are stored together: one the table cannot hold (a table kept in its
// code page, as one shared with another program is) is told and left out, the others are stored,
// each keeping its own event, and the next sync moves nothing.
TEST_P(RealSyncTest, APulledEventTheTableCannotHoldIsToldAndTheRestOfItsRunIsStored) {
  options.keepTableCodePage = true;
  phoneEvent("first@phone.example", "First");
  phoneEvent("omega@phone.example", "\xce\xa9mega");
  phoneEvent("third@phone.example", "Third");
  const SyncReport first = sync();
  EXPECT_TRUE(first.complete()) << Told(first);
  EXPECT_EQ(first.pulledNew, 2) << Told(first);
  EXPECT_EQ(first.notes.filter("could not be stored").size(), 1) << Told(first);
  EXPECT_EQ(table().size(), 2u);
  EXPECT_EQ(SyncSummary(sync()), SyncSummary(SyncReport()));
  clock.advanceSecs(60);
  edit("Third", [](EventInput& in) { in.memo = "Bring it"; });
  const SyncReport edited = sync();
  EXPECT_EQ(edited.pushedChanged, 1) << Told(edited);
  EXPECT_TRUE(phone({"get", hrefOf("Third")}).contains("DESCRIPTION:Bring it"));
  EXPECT_FALSE(phone({"get", hrefOf("First")}).contains("Bring it"));
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

// A server that answers late, or sends the sync on to another server: the pass ends, and says why.
TEST(SyncEnds, ASlowOrRedirectingServerEndsThePassWithItsReason) {
  const struct {
    ScriptedAnswer answer;
    const char* told;
  } cases[] = {
      {{.silent = true}, "The calendar server did not answer in time"},
      {{"HTTP/1.1 301 Moved\r\nLocation: http://localhost:{PORT}/cal/\r\nContent-Length: 0\r\n\r\n"},
       "sent the sync on to another server, http://localhost:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    ScriptedHttpServer server(c.answer);
    ASSERT_TRUE(server.ready());
    QTemporaryDir dir;
    SharedState state;
    state.AppFolder = dir.filePath("app");
    CopyEmptyCalendar(state.AppFolder);
    ProgramOptions options;
    ManualClock clock{kStart};
    xbase::Engine engine;
    TranscriptSpeaker speaker;
    NoWindows windows;
    AlarmService alarms{state, options, clock, engine, speaker, windows};
    caldav::Settings s;
    s.url = server.url("/cal/");
    s.passDeadlineMs = 500;
    const SyncReport report = RunSync(ReminderStore{state, clock, engine, speaker, alarms, windows},
                                      std::make_unique<caldav::BlockingClient>(s), s.url);
    EXPECT_TRUE(SyncProblemText(report).contains(c.told)) << Told(report);
    EXPECT_EQ(server.connections(), 1);
    engine.CloseAll().IgnoreError();
  }
}

}  // namespace
}  // namespace chimewise::testsupport
