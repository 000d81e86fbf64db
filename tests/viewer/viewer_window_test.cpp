// The Reminder Viewer window driven offscreen over a real table: its list, commands, memo box,
// geometry and life cycle.
#include "core/settings_keys.h"
#include "core/time_format.h"
#include "core/window_placement.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/table_lock_holder.h"
#include "viewer/reminder_list_model.h"
#include "viewer/viewer_rules.h"
#include "viewer_fixture.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <array>
#include <cmath>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

class ViewerWindowTest : public ViewerFixture {
 protected:
  QAction* action(viewer::ViewerWindow& w, const char* name) {
    QAction* a = w.menuAction(QString::fromLatin1(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
  // Every command that acts on the highlighted reminder, in the menus and on the toolbar.
  std::vector<bool> recordCommandsEnabled(viewer::ViewerWindow& w) {
    return {action(w, "mnuRead")->isEnabled(),
            action(w, "mnuSnooze")->isEnabled(),
            action(w, "mnuProperties")->isEnabled(),
            action(w, "mnuDelete")->isEnabled(),
            w.readButton()->isEnabled(),
            action(w, "ToolProperties")->isEnabled(),
            action(w, "ToolDelete")->isEnabled()};
  }
  double tpp(viewer::ViewerWindow& w) { return TwipsPerPixel(w.screen()->logicalDotsPerInch()); }
  int px(viewer::ViewerWindow& w, int twips) { return static_cast<int>(std::lround(twips / tpp(w))); }
  void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(ViewerWindowTest, DeleteMovesTheHighlightOnAndAnEmptyListDisablesTheRecordCommands) {
  const qint64 a = add("First", today(9, 0), today(8, 0));
  const qint64 b = add("Second", today(9, 30), today(8, 30));
  const qint64 c = add("Third", today(9, 45), today(8, 45));
  viewer::ViewerWindow& w = open();
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Second", "Third"}));
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, true));

  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  EXPECT_EQ(w.currentRecno(), b);
  action(w, "mnuDelete")->trigger();
  EXPECT_EQ(field(b, "DELETED"), "yes");
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Third"}));
  EXPECT_EQ(w.grid()->currentIndex().row(), 1);  // the next one moved into its place
  EXPECT_EQ(w.currentRecno(), c);

  action(w, "ToolDelete")->trigger();  // the last row: the previous one is highlighted
  EXPECT_EQ(w.grid()->currentIndex().row(), 0);
  EXPECT_EQ(w.currentRecno(), a);

  action(w, "mnuDelete")->trigger();
  EXPECT_EQ(w.model()->rowCount(), 0);
  EXPECT_EQ(w.currentRecno(), 0u);
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, false));
  EXPECT_FALSE(w.memoBox()->isEnabled());
  EXPECT_TRUE(action(w, "mnuAdd")->isEnabled());
  EXPECT_TRUE(prompter.asked.empty());
}

// Every field of every record as stored, and its deleted flag, read afresh from the files.
std::vector<std::pair<bool, std::vector<std::string>>> TableImage(const QString& appFolder) {
  xbase::Engine fresh;
  int area = 0;
  std::vector<std::pair<bool, std::vector<std::string>>> out;
  if (!fresh.Use(data::CalendarPath(appFolder).toStdString(), "CHECK", xbase::OpenMode::kShared, &area).ok())
    return out;
  xbase::WorkArea* wa = fresh.Current();
  for (uint32_t r = 1; r <= wa->RecCount(); ++r) {
    EXPECT_TRUE(wa->Go(r).ok());
    RecordImage image;
    EXPECT_TRUE(TakeRecordImage(*wa, &image).ok());
    out.emplace_back(wa->Deleted(), image.fields);
  }
  return out;
}

TEST_F(ViewerWindowTest, UndoDeletePutsBackEachDeletedReminderExactlyOneAtATime) {
  add("First", today(9, 0), today(8, 0), "memo one");
  const qint64 b = add("Second", today(9, 30), today(8, 30), "memo two");
  const qint64 c = add("Third", today(9, 45), today(8, 45));
  viewer::ViewerWindow& w = open();
  const auto before = TableImage(state.AppFolder);
  QAction* undo = action(w, "mnuUndoDelete");
  EXPECT_FALSE(undo->isEnabled());
  EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));

  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  action(w, "mnuDelete")->trigger();  // Second
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  ASSERT_EQ(w.currentRecno(), c);
  action(w, "ToolDelete")->trigger();  // Third
  EXPECT_EQ(column(w, 1), (QStringList{"First"}));
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_NE(TableImage(state.AppFolder), before);

  // Ctrl+Z with the grid focused: the last deletion comes back first, highlighted.
  w.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
  w.grid()->setFocus();
  QTest::keyClick(w.grid(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Third"}));
  EXPECT_EQ(w.currentRecno(), c);
  EXPECT_EQ(field(c, "DELETED"), "no");
  EXPECT_EQ(field(b, "DELETED"), "yes");
  undo->trigger();
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Second", "Third"}));
  EXPECT_EQ(w.currentRecno(), b);
  EXPECT_EQ(w.memoBox()->toPlainText(), "memo two");
  EXPECT_FALSE(undo->isEnabled());
  // Byte for byte as before, alarms included; and the next alarm is found again.
  EXPECT_EQ(TableImage(state.AppFolder), before);
  EXPECT_EQ(state.NextAlarmTime, today(8, 0));
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ViewerWindowTest, UndoDeleteOutlivesTheViewerAndAPackOfTheTable) {
  add("Keep", today(9, 0), today(8, 0));
  const qint64 gone = add("Dentist", today(11, 0), today(10, 30), "bring the card");
  {
    // Fields a save never writes (another program's, or a snooze's stamp) come back as well.
    xbase::Engine other;
    int area = 0;
    ASSERT_TRUE(
        other.Use(data::CalendarPath(state.AppFolder).toStdString(), "OTHER", xbase::OpenMode::kShared, &area).ok());
    xbase::WorkArea* wa = other.Current();
    ASSERT_TRUE(wa->Go(static_cast<uint32_t>(gone)).ok());
    ASSERT_TRUE(wa->Replace("UNIQUEID", "U-42").ok());
    ASSERT_TRUE(wa->Replace("PUBLIC", "T").ok());
    ASSERT_TRUE(wa->Replace("LASTEDIT", "20261201").ok());
    ASSERT_TRUE(wa->ReplaceInteger("EDITTIME", 1234).ok());
    ASSERT_TRUE(wa->Commit().ok());
  }
  viewer::ViewerWindow& w = open();
  const auto before = TableImage(state.AppFolder);
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  ASSERT_EQ(w.currentRecno(), gone);
  action(w, "mnuDelete")->trigger();
  port().CloseViewerAndHideCharacter();
  flushDeletes();
  // Packed away while the viewer was closed: it comes back as a new record, every field as it was.
  ASSERT_TRUE(data::RebuildDatabase(engine, state.AppFolder).ok());
  ASSERT_EQ(TableImage(state.AppFolder).size(), 1u);
  viewer::ViewerWindow& again = open();
  QAction* undo = action(again, "mnuUndoDelete");
  ASSERT_TRUE(undo->isEnabled());
  undo->trigger();
  EXPECT_EQ(column(again, 1), (QStringList{"Keep", "Dentist"}));
  EXPECT_EQ(TableImage(state.AppFolder), before);
  EXPECT_FALSE(undo->isEnabled());
}

TEST_F(ViewerWindowTest, CurrentRemindersOnlyHideTomorrowUntilFutureEventsAreTicked) {
  settings.write(settings::ShowFuture, "0");
  add("Tomorrow's dentist", today(9, 0).addDays(1), today(8, 0).addDays(1));
  add("Call the bank", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  EXPECT_FALSE(w.futureAction()->isChecked());
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank"}));

  w.futureAction()->trigger();
  EXPECT_TRUE(w.futureAction()->isChecked());
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank", "Tomorrow's dentist"}));
  EXPECT_EQ(settings.read(settings::ShowFuture), "1");
  EXPECT_TRUE(port().ViewerShowsFuture());

  w.futureAction()->trigger();
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank"}));
  EXPECT_EQ(settings.read(settings::ShowFuture), "0");

  // The Options dialog's Apply goes through the port.
  port().ApplyShowFuture(true);
  EXPECT_TRUE(w.futureAction()->isChecked());
  EXPECT_EQ(w.model()->rowCount(), 2);
}

// The desktop's font for the length of a test.
class DesktopFont {
 public:
  explicit DesktopFont(double points) : m_was(QApplication::font()) {
    QFont f = m_was;
    f.setPointSizeF(points);
    QApplication::setFont(f);
  }
  ~DesktopFont() { QApplication::setFont(m_was); }

 private:
  QFont m_was;
};

// Rows of the list in view at once, below its heading.
int RowsInView(viewer::ViewerWindow& w) {
  return w.grid()->viewport()->height() / w.grid()->verticalHeader()->defaultSectionSize();
}

TEST_F(ViewerWindowTest, ARestoredSmallWindowGrowsToTheMinimumAndColumnsFollowTheWidth) {
  DesktopFont small(6);  // the reminder times fit the 2000-twip date columns
  settings.write("ReminderView", "Width", "6000");
  settings.write("ReminderView", "Height", "1500");
  viewer::ViewerWindow& w = open();
  EXPECT_EQ(w.width(), px(w, 7200));
  EXPECT_GE(w.height(), px(w, 2040));
  EXPECT_GE(RowsInView(w), 3);

  // An inside width of 10000 twips: 2000, 5670 and 2000.
  QWidget* pane = w.centralWidget();
  w.resize(w.width() + (px(w, 10000) - pane->width()), px(w, 6000));
  ASSERT_EQ(pane->width(), px(w, 10000));
  EXPECT_EQ(w.grid()->columnWidth(0), px(w, 2000));
  EXPECT_EQ(w.grid()->columnWidth(1), px(w, 5670));
  EXPECT_EQ(w.grid()->columnWidth(2), px(w, 2000));
  EXPECT_EQ(w.grid()->width(), pane->width());
  EXPECT_EQ(w.memoBox()->width(), pane->width());
  EXPECT_GT(w.memoBox()->y(), w.grid()->geometry().bottom());
  // The narrowest window: 30 %, 40 % and 30 % of the room (2061, 2748, 2061 twips for 7200).
  w.resize(px(w, 7200), px(w, 6000));
  ASSERT_EQ(pane->width(), px(w, 7200));
  EXPECT_EQ(w.grid()->columnWidth(0), px(w, 2061));
  EXPECT_EQ(w.grid()->columnWidth(1), px(w, 2748));
  EXPECT_EQ(w.grid()->columnWidth(2), px(w, 2061));
  // Smaller is refused, and the smallest still shows three reminders.
  w.resize(px(w, 5000), px(w, 1000));
  EXPECT_EQ(w.width(), px(w, 7200));
  EXPECT_GE(RowsInView(w), 3);
}

// A large desktop font is the list's font: the date columns and the window grow to show every
// reminder time whole, rather than the text shrinking to the columns.
TEST_F(ViewerWindowTest, ALargeDesktopFontWidensTheColumnsAndTheWindow) {
  DesktopFont large(16);
  add("Dentist", QDateTime(QDate(2026, 12, 28), QTime(12, 58)), QDateTime(QDate(2026, 12, 28), QTime(12, 58)));
  viewer::ViewerWindow& w = open();
  EXPECT_DOUBLE_EQ(w.grid()->font().pointSizeF(), 16.0);
  const QString when = w.model()->data(w.model()->index(0, 0)).toString();
  ASSERT_FALSE(when.isEmpty());
  const int whole = w.grid()->fontMetrics().horizontalAdvance(when);
  w.resize(1, 1);  // as small as it goes
  EXPECT_GT(w.width(), px(w, 7200));
  EXPECT_GE(w.grid()->columnWidth(0), whole);
  EXPECT_GE(w.grid()->columnWidth(2), whole);
  EXPECT_GT(w.grid()->columnWidth(1), 0);
  EXPECT_GE(RowsInView(w), 3);
}

// Announcements move the reminders on: the open viewer lists the times the table holds after
// each one, in their new order, and highlights the reminder just announced.
TEST_F(ViewerWindowTest, AfterEachAnnouncementTheListShowsTheTableAndTheReminderJustSaid) {
  const qint64 first = add("Call the bank", today(9, 50), today(9, 58));
  const qint64 second = add("Water the plants", today(10, 0), today(10, 0));
  add("Later today", today(15, 0), today(15, 0));
  AlarmService scanner(state, clock, engine, speaker, noWindows, port());
  for (int round = 0; round < 6; ++round) {
    // Every reminder listed, then only the current ones; the second time the window is shown
    // again while its close is still under way (it goes at the next turn of the event loop).
    if (round == 0) port().CloseViewer();
    if (round == 3) port().window()->close();
    if (round == 0 || round == 3) settings.write(settings::ShowFuture, round == 0 ? "1" : "0");
    viewer::ViewerWindow& w = open();
    ASSERT_TRUE(scanner.ScanDueAlarms().ok());
    for (qint64 r : {first, second}) {
      const QDate date = QDate::fromString(field(r, "ALARMDATE"), "yyyyMMdd");
      const QDateTime held(date, QTime(0, 0).addSecs(60 * field(r, "ALARMTIME").trimmed().toInt()));
      ASSERT_TRUE(held.isValid()) << field(r, "ALARMDATE").toStdString();
      const int row = w.model()->rowOf(static_cast<std::uint32_t>(r));
      ASSERT_GE(row, 0) << round;
      EXPECT_EQ(w.model()->index(row, 0).data().toString(), FormatDateTimeText(held, state.TimeFormat)) << round;
    }
    // The last reminder said is the highlighted one.
    EXPECT_EQ(w.grid()->currentIndex().row(), w.model()->rowOf(static_cast<std::uint32_t>(second))) << round;
    clock.advanceSecs(5 * 60);
  }
}

TEST_F(ViewerWindowTest, AMemoTypedAndThenTheWindowClosedIsInTheTable) {
  const qint64 r = add("Pay rent", today(9, 0), today(8, 0), "old memo");
  viewer::ViewerWindow& w = open();
  EXPECT_EQ(w.memoBox()->toPlainText(), "old memo");
  w.memoBox()->setFocus();
  w.memoBox()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w.memoBox(), " - transfer before noon");
  w.close();
  flushDeletes();
  EXPECT_EQ(port().window(), nullptr);
  EXPECT_FALSE(state.ViewerOpen);
  EXPECT_EQ(field(r, "COMMENT"), "old memo - transfer before noon");
}

TEST_F(ViewerWindowTest, AMemoIsSavedWhenTheHighlightMovesAndAfterASecondWithoutTyping) {
  const qint64 a = add("A", today(9, 0), today(8, 0));
  const qint64 b = add("B", today(9, 0), today(8, 30), "b memo");
  viewer::ViewerWindow& w = open();
  QTest::keyClicks(w.memoBox(), "for A");
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  EXPECT_EQ(field(a, "COMMENT"), "for A");
  EXPECT_EQ(w.memoBox()->toPlainText(), "b memo");

  QTest::keyClicks(w.memoBox(), "!");
  EXPECT_EQ(field(b, "COMMENT"), "b memo");                                              // not while typing...
  EXPECT_TRUE(QTest::qWaitFor([&] { return field(b, "COMMENT") == "!b memo"; }, 3000));  // ...but soon after
  // The new memo is what the character reads.
  speaker.lines.clear();
  QTest::keyClick(w.grid(), Qt::Key_Return);
  EXPECT_TRUE(speaker.lines.join('\n').contains("!b memo")) << speaker.lines.join('\n').toStdString();
}

TEST_F(ViewerWindowTest, AMemoEditKeepsAChangeAnotherProgramMadeToTheOtherFields) {
  const qint64 r = add("Old text", today(9, 0), today(8, 0), "memo");
  viewer::ViewerWindow& w = open();
  QTest::keyClicks(w.memoBox(), "new ");
  {
    // The command-line tool rewrites the activity while the memo is being typed.
    xbase::Engine cli;
    data::ApplyStartupSettings(cli);
    int area = 0;
    ASSERT_TRUE(
        cli.Use(data::CalendarPath(state.AppFolder).toStdString(), "ONETIME", xbase::OpenMode::kShared, &area).ok());
    xbase::WorkArea* wa = cli.Current();
    ASSERT_TRUE(wa->Go(static_cast<uint32_t>(r)).ok());
    ASSERT_TRUE(wa->Replace("APPT_TEXT", "Changed by the tool").ok());
    ASSERT_TRUE(wa->Commit().ok());
    ASSERT_TRUE(wa->Unlock().ok());
    EXPECT_TRUE(cli.CloseAll().ok());
  }
  ASSERT_TRUE(w.SaveMemo());
  EXPECT_EQ(field(r, "COMMENT"), "new memo");
  EXPECT_EQ(field(r, "APPT_TEXT"), "Changed by the tool");
  // The program is told of the change and the grid shows it.
  port().RefreshViewer();
  EXPECT_EQ(column(w, 1), (QStringList{"Changed by the tool"}));
  EXPECT_EQ(w.memoBox()->toPlainText(), "new memo");
}

TEST_F(ViewerWindowTest, AMemoTheTableCannotHoldIsKeptInTheBoxAndTold) {
  const qint64 r = add("Trip", today(9, 0), today(8, 0), "memo");
  add("Other", today(9, 0), today(8, 30));
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText(QString::fromUtf8("Ελλάδα "));  // typed: keyClicks knows only ASCII
  EXPECT_FALSE(w.SaveMemo());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.contains(QString::fromUtf8("λ")));
  EXPECT_EQ(field(r, "COMMENT"), "memo");
  // Neither another row nor a refresh takes the text away.
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  EXPECT_EQ(w.currentRecno(), r);
  port().RefreshViewer();
  EXPECT_EQ(w.memoBox()->toPlainText(), QString::fromUtf8("Ελλάδα memo"));
  EXPECT_EQ(prompter.asked.size(), 1u);  // told once while it lasts
  // Mended, it is stored.
  w.memoBox()->setPlainText("Greece memo");
  EXPECT_TRUE(w.SaveMemo());
  EXPECT_EQ(field(r, "COMMENT"), "Greece memo");
}

TEST_F(ViewerWindowTest, AMemoTheTableCannotHoldKeepsTheViewerOpenUntilTheUserAgreesToDropIt) {
  const qint64 r = add("Trip", today(9, 0), today(8, 0), "memo");
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText(QString::fromUtf8("Ελλάδα "));
  prompter.answers = {false};
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.memoBox()->toPlainText(), QString::fromUtf8("Ελλάδα memo"));
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_TRUE(prompter.asked.back().yesNo);
  // Agreed: the window closes and the table keeps what it had.
  prompter.answers = {true};
  EXPECT_TRUE(w.close());
  EXPECT_EQ(field(r, "COMMENT"), "memo");
}

TEST_F(ViewerWindowTest, AMemoTypedJustBeforeTheProgramEndsIsStoredThoughTheTablesClosedFirst) {
  const qint64 r = add("Trip", today(9, 0), today(8, 0), "memo");
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText("Bring the tickets. ");
  state.events->BeginClosing();
  EXPECT_TRUE(engine.CloseAll().ok());  // the program's end closes every table before it closes the windows
  EXPECT_TRUE(w.close());
  EXPECT_EQ(field(r, "COMMENT"), "Bring the tickets. memo");
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ViewerWindowTest, AMemoTheTableCannotHoldDoesNotHoldUpTheProgramsEnd) {
  add("Trip", today(9, 0), today(8, 0), "memo");
  viewer::ViewerWindow& w = open();
  w.memoBox()->insertPlainText(QString::fromUtf8("Ελλάδα "));
  state.events->BeginClosing();
  EXPECT_TRUE(w.close());
  for (const Prompt& p : prompter.asked) EXPECT_FALSE(p.yesNo);
}

TEST_F(ViewerWindowTest, SnoozeDropsTheReminderFromTheCurrentListAndMovesItInTheFullOne) {
  settings.write(settings::ShowFuture, "0");
  const qint64 r = add("Stretch", today(11, 0), today(9, 0));
  add("Water the plants", today(9, 30), today(9, 30));
  viewer::ViewerWindow& w = open();
  ASSERT_EQ(column(w, 1), (QStringList{"Stretch", "Water the plants"}));
  action(w, "mnuSnoozeTimes2")->trigger();  // "10 Minutes" at 10:00:45: 10:11
  EXPECT_EQ(field(r, "ALARMTEXT"), "12/04/2026 10:11 am");
  EXPECT_EQ(column(w, 1), (QStringList{"Water the plants"}));
  EXPECT_EQ(speaker.lines.mid(0, 2), (QStringList{"Play: write", "Play: blink"}));

  w.futureAction()->trigger();
  w.grid()->setCurrentIndex(w.model()->index(0, 0));  // Water the plants, 9:30
  const std::uint32_t plants = w.currentRecno();
  action(w, "mnuSnoozeTimes4")->trigger();  // one hour: 11:01, after Stretch
  EXPECT_EQ(column(w, 1), (QStringList{"Stretch", "Water the plants"}));
  EXPECT_EQ(column(w, 0), (QStringList{"12/04/2026 10:11 am", "12/04/2026 11:01 am"}));
  EXPECT_EQ(w.currentRecno(), plants);  // the highlight went with it
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ViewerWindowTest, ReadingStopsTheCharacterFirstAndEachReadEntryReadsItsPart) {
  QStringList log;
  hooks.quietCharacter = [&] { log << "quiet"; };
  add("Dentist", today(9, 0), today(8, 0), "bring the card");
  viewer::ViewerWindow& w = open();
  speaker.lines.clear();
  w.findChild<QAction*>("ReadSubject")->trigger();
  EXPECT_EQ(log, QStringList{"quiet"});
  const QString subject = speaker.lines.join('\n');
  EXPECT_TRUE(subject.contains("Dentist"));
  EXPECT_FALSE(subject.contains("bring the card"));
  speaker.lines.clear();
  w.findChild<QAction*>("ReadComment")->trigger();
  EXPECT_TRUE(speaker.lines.join('\n').contains("bring the card"));
  EXPECT_FALSE(speaker.lines.join('\n').contains("Dentist"));
  speaker.lines.clear();
  const QPoint cell = w.grid()->visualRect(w.model()->index(0, 1)).center();
  QTest::mouseClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
  EXPECT_TRUE(speaker.lines.join('\n').contains("Dentist"));
  EXPECT_EQ(log.size(), 3);
}

TEST_F(ViewerWindowTest, AddAndPropertiesOpenTheScheduleDialogAndOnlyASaveRereadsTheList) {
  const qint64 r = add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  // Cancelled: a reminder another program added meanwhile is not listed yet.
  schedule.onOpen = [&](std::optional<qint64>) { add("Added meanwhile", today(9, 0), today(8, 30)); };
  action(w, "mnuProperties")->trigger();
  EXPECT_EQ(w.model()->rowCount(), 1);
  schedule.answer = true;
  schedule.onOpen = nullptr;
  action(w, "ToolNew")->trigger();
  EXPECT_EQ(w.model()->rowCount(), 2);
  EXPECT_EQ(schedule.opened, (std::vector<std::optional<qint64>>{r, std::nullopt}));
}

TEST_F(ViewerWindowTest, CommandsBuiltElsewhereAreDisabledUntilGivenAndHelpOpensTheViewersPage) {
  QStringList opened;
  hooks.openDocument = [&](const QString& path) { opened << path; };
  {
    viewer::ViewerWindow& w = open();
    for (const char* name : {"mnuOptions", "mnuOptimize", "mnuTutorial", "mnuUpdate", "mnuAbout", "ToolOptions"})
      EXPECT_FALSE(action(w, name)->isEnabled()) << name;
    action(w, "mnuProgramHelp")->trigger();
    QTest::mouseClick(w.banner(), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList(2, dir.path() + "/helpfile/notify.htm"));
    // The banner shows its picture (bell and lettering), not an empty band.
    const QImage banner = w.banner()->grab().toImage();
    QSet<QRgb> colours;
    for (int x = 0; x < banner.width(); x += 2) colours.insert(banner.pixel(x, banner.height() / 2));
    EXPECT_GT(colours.size(), 20);
    w.close();
    flushDeletes();
  }
  viewers.reset();
  QStringList ran;
  hooks.showOptions = [&] { ran << "options"; };
  hooks.tutorial = [&] { ran << "tutorial"; };
  hooks.update = [&] { ran << "update"; };
  hooks.about = [&] { ran << "about"; };
  hooks.optimize = [&] { ran << "optimize"; };
  viewer::ViewerWindow& w = open();
  for (const char* name : {"mnuOptions", "mnuOptimize", "mnuTutorial", "mnuUpdate", "mnuAbout", "ToolOptions"}) {
    EXPECT_TRUE(action(w, name)->isEnabled()) << name;
    action(w, name)->trigger();
  }
  QCoreApplication::processEvents();
  ran.sort();
  EXPECT_EQ(ran, (QStringList{"about", "optimize", "options", "options", "tutorial", "update"}));
}

// Share of an icon's visible pixels that stand out from the button behind it.
double StandingOut(const QIcon& icon, const QColor& button) {
  const QImage image = icon.pixmap(24).toImage().convertToFormat(QImage::Format_ARGB32);
  int shown = 0;
  int apart = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      ++shown;
      if (std::abs(c.lightnessF() - button.lightnessF()) > 0.3) ++apart;
    }
  return shown ? double(apart) / shown : 0.0;
}

// The toolbar's icons stand out from dark buttons, after the desktop turns dark, as well as they
// do from light ones.
TEST_F(ViewerWindowTest, ToolbarIconsStandOutOnDarkButtonsAsOnLightOnes) {
  viewer::ViewerWindow& w = open();
  QPalette dark;
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button, QPalette::Base})
    dark.setColor(role, QColor(0x2a, 0x2a, 0x2e));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    dark.setColor(role, QColor(0xee, 0xee, 0xee));
  std::array<QList<double>, 2> seen;
  const std::array<QPalette, 2> palettes{w.palette(), dark};
  for (size_t p = 0; p < palettes.size(); ++p) {
    w.setPalette(palettes[p]);
    const QColor button = w.toolBar()->palette().color(QPalette::Button);
    seen[p] << StandingOut(w.readButton()->icon(), button);
    for (QAction* a : w.toolBar()->actions())
      if (!a->icon().isNull()) seen[p] << StandingOut(a->icon(), button);
  }
  ASSERT_EQ(seen[0].size(), 5);
  ASSERT_EQ(seen[1].size(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_GE(seen[1][i], seen[0][i] - 0.15) << "icon " << i;
  EXPECT_GT(seen[1][0], 0.9);  // the Read icon: a dark triangle on light buttons
}

TEST_F(ViewerWindowTest, EveryMenuEntryHasAnAccessKeyOfItsOwnAndTabFollowsTheLayout) {
  add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  QStringList bar;
  for (QAction* top : w.menuBar()->actions()) {
    bar << top->text();
    EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckMenuKeys(top->menu()))) << top->text().toStdString();
  }
  EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckCaptionKeys(bar)));
  // A screen reader names the list and the memo box, each its own.
  EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&w)));
  // Tab goes from the banner to the grid to the memo box, top to bottom; the memo box keeps no
  // tab for itself: Tab leaves it.
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_TRUE(testsupport::NoProblems(testsupport::TabOrderProblems({w.banner(), w.grid(), w.memoBox()})));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), w.memoBox());
  // From the keyboard: Alt+R opens "&Reminder", V ticks "&View Future Events".
  const bool before = w.futureAction()->isChecked();
  QTest::keyClick(&w, Qt::Key_R, Qt::AltModifier);
  QMenu* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(open, nullptr);
  QTest::keyClick(open, Qt::Key_V);
  EXPECT_NE(w.futureAction()->isChecked(), before);
  // "10 Minutes" has a key of its own, not the "1" of "&1 Minute": Alt+S, 0.
  QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
  open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(open, nullptr);
  QTest::keyClick(open, Qt::Key_0);
  EXPECT_EQ(field(1, "ALARMTEXT"), "12/04/2026 10:11 am");
}

TEST_F(ViewerWindowTest, ClosingSavesThePlacementAndChoiceAndHidesTheCharacterUnlessKeptForUpkeep) {
  add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  EXPECT_TRUE(state.ViewerOpen);
  EXPECT_TRUE(speaker.visible());
  w.resize(px(w, 9000), px(w, 4500));
  port().CloseViewerAndHideCharacter();
  flushDeletes();
  EXPECT_FALSE(state.ViewerOpen);
  EXPECT_EQ(port().window(), nullptr);
  EXPECT_EQ(settings.read("ReminderView", "Width", ""), "9000");
  EXPECT_EQ(settings.read("ReminderView", "Height", ""), "4500");
  EXPECT_EQ(settings.read(settings::ShowFuture), "1");
  EXPECT_FALSE(speaker.visible());

  // The upkeep closes it and keeps the character; reopened, it has its size again.
  port().ShowViewer();
  EXPECT_TRUE(speaker.visible());
  EXPECT_EQ(port().window()->width(), px(*port().window(), 9000));
  QTest::keyClicks(port().window()->memoBox(), "typed before the upkeep");
  port().CloseDialogs();
  EXPECT_EQ(field(1, "COMMENT"), "typed before the upkeep");
  EXPECT_TRUE(port().CloseViewer());
  EXPECT_TRUE(speaker.visible());
  EXPECT_FALSE(port().CloseViewer());  // nothing open any more
  port().ReopenViewer();
  ASSERT_NE(port().window(), nullptr);
  EXPECT_TRUE(state.ViewerOpen);
  EXPECT_FALSE(port().ViewerFrame().isNull());
  // The program keeps the character on screen: closing leaves it.
  settings.write(settings::ShowOnStart, "1");
  port().UnloadWindows();
  EXPECT_TRUE(speaker.visible());
  EXPECT_TRUE(port().ViewerFrame().isNull());
}

TEST_F(ViewerWindowTest, AMaximizedViewerKeepsItsNormalPlacementAndAMinimizedOneSendsTheCharacterAway) {
  viewer::ViewerWindow& w = open();
  w.resize(px(w, 8100), px(w, 5100));
  w.showMaximized();
  QCoreApplication::processEvents();
  ASSERT_TRUE(w.isMaximized());
  ASSERT_NE(w.width(), px(w, 8100));
  w.showMinimized();
  QCoreApplication::processEvents();
  EXPECT_FALSE(speaker.visible());  // "ShowOnStart" is 0 by default
  w.close();
  flushDeletes();
  EXPECT_EQ(settings.read("ReminderView", "Width", ""), "8100");
  EXPECT_EQ(settings.read("ReminderView", "Height", ""), "5100");
}

TEST_F(ViewerWindowTest, EveryWriteLetsGoOfItsRecordLockSoTheCommandLineToolIsNeverKeptWaiting) {
  const qint64 r = add("Dentist", today(9, 0), today(8, 0), "memo");
  add("Later", today(11, 0), today(10, 0));
  viewer::ViewerWindow& w = open();
  auto toolWrites = [&](const char* text) {
    xbase::Engine cli;
    data::ApplyStartupSettings(cli);
    cli.settings().lock_wait_ms = 0;  // a lock still held fails at once
    int area = 0;
    xbase::Status s =
        cli.Use(data::CalendarPath(state.AppFolder).toStdString(), "ONETIME", xbase::OpenMode::kShared, &area);
    if (s.ok()) s = cli.Current()->Go(static_cast<uint32_t>(r));
    if (s.ok()) s = cli.Current()->Replace("EVENT", text);
    if (s.ok()) s = cli.Current()->Commit();
    EXPECT_TRUE(cli.CloseAll().ok());
    return s.ToString();
  };
  QTest::keyClicks(w.memoBox(), "x");
  ASSERT_TRUE(w.SaveMemo());
  EXPECT_EQ(toolWrites("after memo"), "OK");
  w.findChild<QAction*>("ReadBoth")->trigger();
  EXPECT_EQ(toolWrites("after read"), "OK");
  action(w, "mnuSnoozeTimes0")->trigger();
  EXPECT_EQ(toolWrites("after snooze"), "OK");
  EXPECT_EQ(field(r, "EVENT"), "after snooze");
  EXPECT_EQ(field(r, "COMMENT"), "xmemo");
}

TEST_F(ViewerWindowTest, TheCurrentListIsBuiltAgainFromTheClockWhenTheProgramRefreshesIt) {
  settings.write(settings::ShowFuture, "0");
  add("Half past", today(10, 30), today(10, 30));
  viewer::ViewerWindow& w = open();
  EXPECT_EQ(w.model()->rowCount(), 0);
  clock.set(today(10, 30));
  port().RefreshViewer();  // the alarm scan, after announcing it
  EXPECT_EQ(column(w, 1), (QStringList{"Half past"}));
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, true));
}

TEST_F(ViewerWindowTest, AViewerOpenedWhileAnotherProgramHoldsTheTableSaysSoAndListsOnceItIsFree) {
  settings.write(settings::ShowFuture, "1");
  add("Dentist", today(11, 0), today(10, 30));
  engine.settings().lock_wait_ms = data::kInteractiveLockWaitMs;  // as the program waits
  TableLockHolder holder(data::CalendarPath(state.AppFolder).toStdString());
  ASSERT_TRUE(holder.holdTable());
  viewer::ViewerWindow& w = open();
  EXPECT_TRUE(state.ViewerOpen);
  EXPECT_EQ(w.model()->rowCount(), 0);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.startsWith("Another program is using the reminder table"))
      << prompter.asked[0].text.toStdString();
  holder.release();
  EXPECT_FALSE(holder.guardFired()) << "the viewer waited for the table without a deadline";
  port().RefreshViewer();  // the next alarm scan, say
  EXPECT_EQ(column(w, 1), (QStringList{"Dentist"}));
  EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(ViewerWindowTest, AMissingTableIsToldAndTheViewerOpensEmpty) {
  ASSERT_TRUE(QDir(dir.filePath("data")).removeRecursively());
  viewer::ViewerWindow& w = open();
  EXPECT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(w.model()->rowCount(), 0);
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, false));
  EXPECT_TRUE(state.ViewerOpen);
}

}  // namespace
