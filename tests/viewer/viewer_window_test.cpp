// The Reminder Viewer driven offscreen over a real table, and its rules without a window.
#include "core/settings_keys.h"
#include "data/kept_events.h"
#include "data/table_handle.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/event_wait.h"
#include "support/table_lock_holder.h"
#include "viewer/viewer_rules.h"
#include "viewer_fixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

using Table = std::vector<std::pair<bool, std::vector<std::string>>>;

class ViewerWindowTest : public ViewerFixture {
 protected:
  QAction* action(viewer::ViewerWindow& w, const char* name) {
    QAction* a = w.menuAction(QString::fromLatin1(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
  // Every command that acts on the highlighted reminder, in the menus and on the toolbar.
  std::vector<bool> recordCommandsEnabled(viewer::ViewerWindow& w) {
    std::vector<bool> out{w.readButton()->isEnabled()};
    for (const char* a : {"mnuRead", "mnuSnooze", "mnuProperties", "mnuDelete", "ToolProperties", "ToolDelete"})
      out.push_back(action(w, a)->isEnabled());
    return out;
  }
  void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
  // Every field of every record as stored, and its deleted flag, read afresh from the files.
  Table tableImage() {
    Table out;
    const xbase::Status read = otherProgram(0, [&](xbase::WorkArea& wa) {
      for (uint32_t r = 1; r <= wa.RecCount(); ++r) {
        RecordImage image;
        EXPECT_TRUE(wa.Go(r).ok() && TakeRecordImage(wa, &image).ok());
        out.emplace_back(wa.Deleted(), image.fields);
      }
      return xbase::Status();
    });
    EXPECT_TRUE(read.ok()) << read.ToString();
    return out;
  }
};

// Delete moves the highlight on; Undo Delete puts back each reminder exactly, the last first.
TEST_F(ViewerWindowTest, DeleteMovesTheHighlightAndUndoPutsBackEachReminderExactly) {
  const qint64 a = add("First", today(9, 0), today(8, 0), "memo one");
  const qint64 b = add("Second", today(9, 30), today(8, 30), "memo two");
  const qint64 c = add("Third", today(9, 45), today(8, 45));
  viewer::ViewerWindow& w = open();
  const Table before = tableImage();
  QAction* undo = action(w, "mnuUndoDelete");
  EXPECT_FALSE(undo->isEnabled());
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, true));
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  action(w, "mnuDelete")->trigger();
  EXPECT_EQ(field(b, "DELETED"), "yes");
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Third"}));
  EXPECT_EQ(w.currentRecno(), c);      // the next one moved into its place
  action(w, "ToolDelete")->trigger();  // the last row: the previous one is highlighted
  EXPECT_EQ(w.currentRecno(), a);
  undo->trigger();
  EXPECT_EQ(w.currentRecno(), c);
  EXPECT_EQ(field(c, "DELETED") + field(b, "DELETED"), "noyes");
  undo->trigger();
  EXPECT_EQ(w.currentRecno(), b);
  EXPECT_EQ(w.memoBox()->toPlainText(), "memo two");
  EXPECT_FALSE(undo->isEnabled());
  EXPECT_EQ(tableImage(), before);  // byte for byte, alarms included
  EXPECT_EQ(alarms->nextAlarm(), today(8, 0));
  for (int i = 0; i < 3; ++i) action(w, "mnuDelete")->trigger();
  EXPECT_EQ(w.currentRecno(), 0u);
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, false));
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ViewerWindowTest, UndoDeleteOutlivesTheViewerAndAPackOfTheTable) {
  add("Keep", today(9, 0), today(8, 0));
  const qint64 gone = add("Dentist", today(11, 0), today(10, 30), "bring the card");
  ASSERT_TRUE(otherProgram(gone, [](xbase::WorkArea& wa) {
                xbase::Status s = wa.Replace("UNIQUEID", "U-42");
                if (s.ok()) s = wa.Replace("PUBLIC", "T");
                if (s.ok()) s = wa.Replace("LASTEDIT", "20261201");
                if (s.ok()) s = wa.ReplaceInteger("EDITTIME", 1234);
                return s.ok() ? wa.Commit() : s;
              }).ok());
  viewer::ViewerWindow& w = open();
  const Table before = tableImage();
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  ASSERT_EQ(w.currentRecno(), gone);
  action(w, "mnuDelete")->trigger();
  port().CloseViewerAndHideCharacter();
  flushDeletes();
  ASSERT_TRUE(data::RebuildDatabase(engine, state.AppFolder).ok());
  ASSERT_EQ(tableImage().size(), 1u);
  viewer::ViewerWindow& again = open();
  QAction* undo = action(again, "mnuUndoDelete");
  ASSERT_TRUE(undo->isEnabled());
  undo->trigger();
  EXPECT_EQ(column(again, 1), (QStringList{"Keep", "Dentist"}));
  EXPECT_EQ(tableImage(), before);
  EXPECT_FALSE(undo->isEnabled());
}

// A memo is saved on moving, idling and closing, keeping another program's changes to the record.
TEST_F(ViewerWindowTest, AMemoIsSavedOnMovingIdlingAndClosingAndKeepsOtherProgramsChanges) {
  const qint64 a = add("A", today(9, 0), today(8, 0), "old memo");
  const qint64 b = add("B", today(9, 0), today(8, 30), "b memo");
  viewer::ViewerWindow& w = open();
  w.memoBox()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w.memoBox(), " for A");
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  EXPECT_EQ(field(a, "COMMENT"), "old memo for A");
  EXPECT_EQ(w.memoBox()->toPlainText(), "b memo");
  QTest::keyClicks(w.memoBox(), "!");
  EXPECT_EQ(field(b, "COMMENT"), "b memo");                                              // not while typing...
  EXPECT_TRUE(QTest::qWaitFor([&] { return field(b, "COMMENT") == "!b memo"; }, 3000));  // ...but soon after
  w.memoBox()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w.memoBox(), "?");
  ASSERT_TRUE(otherWrites(b, "APPT_TEXT", "Changed by the tool").ok());  // the command-line tool, meanwhile
  ASSERT_TRUE(w.SaveMemo());
  EXPECT_EQ(field(b, "APPT_TEXT"), "Changed by the tool");
  port().RefreshViewer();
  EXPECT_EQ(column(w, 1), (QStringList{"A", "Changed by the tool"}));
  w.memoBox()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w.memoBox(), ".");
  w.close();
  flushDeletes();
  EXPECT_FALSE(port().ViewerOpen());
  EXPECT_EQ(field(b, "COMMENT"), "!b memo?.");
  viewer::ViewerWindow& last = open();
  last.grid()->setCurrentIndex(last.model()->index(0, 0));
  last.memoBox()->insertPlainText("Bring the tickets. ");
  state.events->BeginClosing();
  EXPECT_TRUE(engine.CloseAll().ok());
  EXPECT_TRUE(last.close());
  EXPECT_EQ(field(a, "COMMENT"), "Bring the tickets. old memo for A");
  EXPECT_TRUE(prompter.asked.empty());
}

// A memo in a script the table's code page lacks converts the table the viewer holds, and is stored.
TEST_F(ViewerWindowTest, AMemoInAnyScriptIsStored) {
  const qint64 r = add("Trip", today(9, 0), today(8, 0), "memo");
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText(QString::fromUtf8("会议 "));
  EXPECT_TRUE(w.SaveMemo());
  EXPECT_EQ(field(r, "COMMENT"), QString::fromUtf8("会议 memo"));
  EXPECT_EQ(column(w, 1), QStringList{"Trip"});
}

// A memo a table kept in its code page cannot hold is kept, told, dropped only when agreed, and
// never holds up the end.
TEST_F(ViewerWindowTest, AMemoTheTableCannotHoldIsKeptToldAndDroppedOnlyWhenAgreed) {
  settings.write(settings::KeepTableCodePage, QStringLiteral("1"));
  const qint64 r = add("Trip", today(9, 0), today(8, 0), "memo");
  add("Other", today(9, 0), today(8, 30));
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText(QString::fromUtf8("Ελλάδα "));  // keyClicks knows only ASCII
  EXPECT_FALSE(w.SaveMemo());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.contains(QString::fromUtf8("λ")));
  EXPECT_EQ(field(r, "COMMENT"), "memo");
  w.grid()->setCurrentIndex(w.model()->index(1, 0));  // neither another row nor a refresh takes it
  EXPECT_EQ(w.currentRecno(), r);
  port().RefreshViewer();
  EXPECT_EQ(w.memoBox()->toPlainText(), QString::fromUtf8("Ελλάδα memo"));
  EXPECT_EQ(prompter.asked.size(), 1u);
  prompter.answers = {false};
  EXPECT_FALSE(w.close());
  QCoreApplication::processEvents();  // the answer
  EXPECT_TRUE(w.isVisible());
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(prompter.asked.back().yesNo);
  prompter.answers = {true};
  EXPECT_FALSE(w.close());
  QCoreApplication::processEvents();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(field(r, "COMMENT"), "memo");
  flushDeletes();
  viewer::ViewerWindow& again = open();
  again.memoBox()->setPlainText(QString::fromUtf8("Ελλάδα"));
  const size_t asked = prompter.asked.size();
  state.events->BeginClosing();
  EXPECT_TRUE(again.close());
  for (size_t i = asked; i < prompter.asked.size(); ++i) EXPECT_FALSE(prompter.asked[i].yesNo);
}

TEST_F(ViewerWindowTest, EveryMenuEntryHasAnAccessKeyAndEveryControlAName) {
  add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  QStringList bar;
  for (QAction* top : w.menuBar()->actions()) {
    bar << top->text();
    EXPECT_TRUE(NoProblems(CheckMenuKeys(top->menu()))) << top->text().toStdString();
  }
  EXPECT_TRUE(NoProblems(CheckCaptionKeys(bar)));
  EXPECT_TRUE(NoProblems(NameProblems(&w)));
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_TRUE(NoProblems(TabOrderProblems({w.banner(), w.grid(), w.memoBox()})));
}

// The upkeep saves a typed memo, closes the viewer and opens it again.
TEST_F(ViewerWindowTest, TheUpkeepKeepsTheMemoAndReopens) {
  add("Dentist", today(9, 0), today(8, 0));
  port().ShowViewer();
  QTest::keyClicks(port().window()->memoBox(), "typed before the upkeep");
  port().CloseDialogs();
  EXPECT_EQ(field(1, "COMMENT"), "typed before the upkeep");
  EXPECT_TRUE(port().CloseViewer());
  EXPECT_FALSE(port().CloseViewer());  // nothing open any more
  port().ReopenViewer();
  EXPECT_TRUE(port().ViewerOpen());
}

TEST_F(ViewerWindowTest, EveryWriteLetsGoOfItsRecordLockSoTheCommandLineToolIsNeverKeptWaiting) {
  const qint64 r = add("Dentist", today(9, 0), today(8, 0), "memo");
  add("Later", today(11, 0), today(10, 0));
  viewer::ViewerWindow& w = open();
  auto toolWrites = [&](const char* text) { return otherWrites(r, "EVENT", text, 0).ToString(); };  // no waiting
  QTest::keyClicks(w.memoBox(), "x");
  ASSERT_TRUE(w.SaveMemo());
  EXPECT_EQ(toolWrites("after memo"), "OK");
  w.findChild<QAction*>("ReadBoth")->trigger();
  EXPECT_EQ(toolWrites("after read"), "OK");
  action(w, "mnuSnoozeTimes2")->trigger();  // "10 Minutes" at 10:00:45: 10:11
  EXPECT_EQ(toolWrites("after snooze"), "OK");
  EXPECT_EQ(field(r, "EVENT") + "|" + field(r, "COMMENT") + "|" + field(r, "ALARMTEXT"),
            "after snooze|xmemo|12/04/2026 10:11 am");
}

TEST_F(ViewerWindowTest, ATableHeldByAnotherProgramOrMissingIsToldAndTheViewerOpensEmpty) {
  settings.write(settings::ShowFuture, "1");
  add("Dentist", today(11, 0), today(10, 30));
  engine.settings().lock_wait_ms = data::kInteractiveLockWaitMs;  // as the program waits
  TableLockHolder holder(data::CalendarPath(state.AppFolder).toStdString());
  ASSERT_TRUE(holder.holdTable());
  viewer::ViewerWindow& w = open();
  EXPECT_TRUE(port().ViewerOpen());
  EXPECT_EQ(w.model()->rowCount(), 0);
  EXPECT_EQ(prompter.asked.size(), 1u);
  holder.release();
  EXPECT_FALSE(holder.guardFired()) << "the viewer waited for the table without a deadline";
  port().RefreshViewer();  // once free, the next refresh lists it
  EXPECT_EQ(column(w, 1), (QStringList{"Dentist"}));
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, true));
  EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(ViewerWindowTest, TheListHoldsPendingRemindersInAlarmOrderAndOnlyTheCurrentOnesWithAStamp) {
  add("Tomorrow", today(12, 0).addDays(1), today(11, 0).addDays(1));
  add("Early", today(15, 0), today(9, 0));  // alarm early, activity later today
  add("Late", today(8, 0), today(18, 0));   // alarm later, activity already past
  add("Now", today(10, 30), today(10, 0));  // this very minute
  const qint64 gone = add("Deleted", today(7, 0), today(7, 0));
  const qint64 silent = add("No alarm any more", today(7, 0), today(7, 30));
  ASSERT_TRUE(otherProgram(gone, [](xbase::WorkArea& wa) { return wa.Delete(); }).ok());
  ASSERT_TRUE(otherWrites(silent, "ALARMDATE", "").ok());
  viewer::ReminderListModel model(engine);
  const data::TableHandle table =
      data::TableHandle::Calendar(engine, state.AppFolder, QString::fromLatin1(data::kAliasCalendar));
  ASSERT_TRUE(table.ok());
  ASSERT_TRUE(table->SetOrder("ALARM").ok());
  model.setArea(table.area());
  const auto listed = [&](bool all, const QDateTime& now) {
    EXPECT_TRUE(model.reload(all, now).ok());
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
      out << model.index(r, viewer::ReminderListModel::ActivityColumn).data().toString();
    return out;
  };
  EXPECT_EQ(listed(true, kViewerNow), (QStringList{"Early", "Now", "Late", "Tomorrow"}));
  EXPECT_EQ(listed(false, kViewerNow), (QStringList{"Early", "Now", "Late"}));
  EXPECT_EQ(listed(false, today(9, 59)), (QStringList{"Early", "Late"}));
  EXPECT_EQ(viewer::CurrentStamp(today(9, 5)), "20261204 545");
}

using namespace chimewise::viewer;  // the arithmetic and decisions, without a window

// The one geometry check: beyond two 2000-twip dates the activity takes all; narrow windows share 30/40/30.
TEST(ViewerColumns, WidthsFollowTheWindowAndTheTimesFont) {
  using W = std::array<int, 3>;
  const struct {
    int inside, dateNeed;
    W widths;
  } cases[] = {{10000, 0, {2000, 5670, 2000}}, {7997, 0, {2000, 3667, 2000}},     {7996, 0, {2300, 3066, 2300}},
               {7000, 0, {2001, 2668, 2001}},  {10000, 3100, {3100, 3470, 3100}}, {5000, 3000, {3000, 0, 3000}}};
  for (const auto& c : cases) EXPECT_EQ(ColumnWidths(c.inside, c.dateNeed), c.widths) << c.inside << "/" << c.dateNeed;
  EXPECT_EQ(EnforceMinimumSize({6000, 5000}), (TwipsSize{7200, 5000}));
  // The grid takes 60 % of the height below the banner, the memo box the rest; never below zero.
  const ViewerLayout l = LayoutViewer(10000, 6000, 600, 600);
  EXPECT_EQ(std::vector<int>({l.gridTop, l.gridHeight, l.memoTop, l.memoHeight}),
            std::vector<int>({600, 3240, 3900, 2040}));
  const ViewerLayout tiny = LayoutViewer(1000, 500, 600, 600);
  EXPECT_EQ(tiny.gridHeight + tiny.memoHeight, 0);
}

TEST(ViewerRules, HighlightCharacterAndFutureSwitch) {
  for (const auto& [current, removed, rows, want] :
       {std::array{3, 0, 5, 3}, {-1, 1, 2, 1}, {-1, 2, 2, 1}, {-1, 0, 0, -1}, {-1, 7, 3, 2}})
    EXPECT_EQ(RowToHighlight(current, removed, rows), want) << current << " " << removed << " " << rows;
  for (const char* kept : {"0.2", "1", "-1"}) EXPECT_FALSE(HideCharacterWithViewer(kept, false)) << kept;
  EXPECT_TRUE(HideCharacterWithViewer("0", false));
  EXPECT_TRUE(HideCharacterWithViewer("", false));
  EXPECT_FALSE(HideCharacterWithViewer("0", true));
  EXPECT_FALSE(ShowFutureFromText("0"));
  for (const char* future : {"1", " 0", ""}) EXPECT_TRUE(ShowFutureFromText(future)) << future;
}

}  // namespace

namespace {

// A calendar file of `count` ordinary events in February 2027; its path.
QString WriteCalendar(const QTemporaryDir& dir, int count) {
  QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n";
  for (int i = 0; i < count; ++i)
    ics += "BEGIN:VEVENT\r\nUID:event-" + QByteArray::number(i) + "@example.org\r\nDTSTAMP:20270101T000000Z\r\n" +
           "DTSTART:202702" + QByteArray::number(10 + i % 18) + "T100000Z\r\nSUMMARY:Event " + QByteArray::number(i) +
           "\r\nEND:VEVENT\r\n";
  ics += "END:VCALENDAR\r\n";
  const QString path = dir.filePath("events.ics");
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(ics) == ics.size());
  return path;
}

}  // namespace

// File > Import Calendar leaves the timer running: a reminder falling due while thousands of
// events are read in is announced then, not once the import is over; the outcome is told at the end.
TEST_F(ViewerWindowTest, AReminderFallingDueDuringABigImportIsAnnouncedAtOnce) {
  add("Take the pills", today(10, 30), today(10, 2));
  viewer::ViewerWindow& w = open();
  const QString path = WriteCalendar(dir, 3000);
  bool announcedDuringImport = false;
  QTimer timer;  // the main timer's tick, as the program runs it
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!w.calendarImport() || !w.calendarImport()->running()) return;
    clock.set(today(10, 2));
    EXPECT_TRUE(alarms->ScanDueAlarms().ok());
    if (speaker.lines.filter("Take the pills").size() > 0) announcedDuringImport = w.calendarImport()->running();
  });
  timer.start(5);
  w.ImportCalendar(path);
  ASSERT_TRUE(RunEventsUntil([&] { return !w.calendarImport() || !w.calendarImport()->running(); }, 120000));
  EXPECT_TRUE(announcedDuringImport);
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_TRUE(prompter.asked.back().text.startsWith("events.ics: imported 3000, updated 0"))
      << prompter.asked.back().text.toStdString();
  EXPECT_EQ(w.model()->rowCount(), 3001);
}

// Cancel stops the import between two slices: the reminders saved so far stay, each whole, the
// index agreeing with them; the rest of the file is not read in, and the message says so.
TEST_F(ViewerWindowTest, CancelStopsTheImportBetweenSlicesLeavingOnlyWholeReminders) {
  viewer::ViewerWindow& w = open();
  w.ImportCalendar(WriteCalendar(dir, 2000));
  QObject::connect(w.calendarImport(), &viewer::CalendarImportRun::progress, [&](int done, int) {
    if (done > 0) w.importCancelButton()->click();
  });
  ASSERT_TRUE(RunEventsUntil([&] { return !w.calendarImport() || !w.calendarImport()->running(); }, 120000));
  ASSERT_FALSE(prompter.asked.empty());
  const QString told = prompter.asked.back().text;
  EXPECT_TRUE(told.startsWith("events.ics: imported 500, updated 0") && told.contains("Cancelled"))
      << told.toStdString();
  int whole = 0;
  uint32_t records = 0;
  const xbase::Status read = otherProgram(0, [&](xbase::WorkArea& wa) {
    records = wa.RecCount();
    xbase::Status s = wa.GoTop();
    for (; s.ok() && !wa.Eof(); s = wa.Skip(1))
      whole += TableText(wa, "APPT_TEXT").startsWith("Event ") && TableText(wa, "REC_NO").size() == 13 &&
               TableDate(wa, "ALARMDATE").isValid();
    std::vector<std::string> report;
    return s.ok() ? wa.Check(&report) : s;
  });
  EXPECT_TRUE(read.ok()) << read.ToString();
  EXPECT_EQ(whole, 500);
  EXPECT_EQ(records, 500u);
}

// A repeating reminder is marked in the list and heads the memo area with its repeat. Delete asks,
// without waiting, whether the occurrence or the series goes, and Undo Delete brings back either;
// Done and Skip Next Occurrence move it on; a snooze puts off the occurrence, never the series.
TEST_F(ViewerWindowTest, ARepeatingReminderIsMarkedAndDealtWithAnOccurrenceAtATime) {
  EventInput in;
  std::tie(in.activity, in.activityDate, in.activityTime, in.remindDate, in.remindTime, in.repeat) =
      std::tuple("Pills", kViewerNow.date(), QTime(12, 0), kViewerNow.date(), QTime(12, 0), "FREQ=DAILY");
  const SaveResult pills = saver->SaveEvent(in);
  ASSERT_TRUE(pills.saved);
  clock.set(kViewerNow.addSecs(1));  // an identifier of its own
  add("Once", today(11, 0), today(11, 0));
  clock.set(kViewerNow);
  const KeptEvents kept(state.AppFolder);
  const auto exdates = [&] {
    return kept.Get(QByteArray::fromStdString(pills.recordId)).value_or(KeptEvent()).series.filter("EXDATE");
  };
  const auto day = [&] { return field(pills.recno, "EVENTDATE") + ' ' + field(pills.recno, "DELETED"); };
  viewer::ViewerWindow& w = open();
  const QModelIndex marked = w.model()->index(1, viewer::ReminderListModel::ActivityColumn);
  EXPECT_EQ(marked.data(Qt::AccessibleDescriptionRole).toString(), "Repeats every day at 12:00 pm");
  EXPECT_FALSE(marked.data(Qt::DecorationRole).isNull());
  EXPECT_TRUE(w.model()->index(0, 1).data(Qt::DecorationRole).isNull());
  EXPECT_FALSE(action(w, "mnuDone")->isEnabled());
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  EXPECT_EQ(w.repeatHeader()->isVisible() ? w.repeatHeader()->text() : "hidden", "Repeats every day at 12:00 pm");

  const auto answerDelete = [&](const QString& button) {
    const QString before = day();
    action(w, "mnuDelete")->trigger();
    auto* box = w.findChild<QMessageBox*>("DeleteRepeatQuestion");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(day(), before) << "nothing happens before the answer";
    for (QAbstractButton* b : box->buttons())
      if (b->text() == button) b->click();
    flushDeletes();
  };
  answerDelete("Only This &Occurrence");
  EXPECT_EQ(day(), "20261205 no");
  EXPECT_EQ(exdates(), QStringList{"EXDATE;TZID=Europe/Berlin:20261204T120000"});
  answerDelete("The Whole &Series");
  EXPECT_EQ(day(), "20261205 yes");
  action(w, "mnuUndoDelete")->trigger();
  EXPECT_EQ(day(), "20261205 no");
  action(w, "mnuUndoDelete")->trigger();
  EXPECT_EQ(day(), "20261204 no");
  EXPECT_EQ(exdates(), QStringList());

  w.Highlight(static_cast<std::uint32_t>(pills.recno));
  action(w, "mnuDone")->trigger();
  EXPECT_EQ(day(), "20261205 no");
  w.Highlight(static_cast<std::uint32_t>(pills.recno));
  action(w, "mnuSkipNext")->trigger();
  EXPECT_EQ(day(), "20261206 no");
  EXPECT_EQ(exdates(), QStringList{"EXDATE;TZID=Europe/Berlin:20261205T120000"});
  w.Highlight(static_cast<std::uint32_t>(pills.recno));
  action(w, "mnuSnoozeTimes4")->trigger();  // an hour: the occurrence stays
  EXPECT_EQ(day() + field(pills.recno, "ALARMTIME"), "20261206 no 661");
  action(w, "mnuSnoozeTimes8")->trigger();  // a week: the next occurrence comes first
  EXPECT_EQ(day() + field(pills.recno, "ALARMTIME"), "20261207 no 720");
  EXPECT_TRUE(prompter.asked.empty());
}
