// The Reminder Viewer driven offscreen over a real table: its list model, commands, memo box,
// geometry, calendar files and life cycle.
#include "core/settings_keys.h"
#include "core/time_format.h"
#include "core/window_placement.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/table_lock_holder.h"
#include "viewer/viewer_rules.h"
#include "viewer_fixture.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSet>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <array>
#include <cmath>

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
  int px(viewer::ViewerWindow& w, int twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixel(w.screen()->logicalDotsPerInch())));
  }
  void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
  int rowsInView(viewer::ViewerWindow& w) {
    return w.grid()->viewport()->height() / w.grid()->verticalHeader()->defaultSectionSize();
  }
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
  int openArea() {
    int area = 0;
    EXPECT_TRUE(OpenCalendar(engine, state.AppFolder, QString::fromLatin1(data::kAliasCalendar), &area).ok());
    EXPECT_TRUE(engine.Area(area)->SetOrder("ALARM").ok());
    return area;
  }
  // Picks `path` in the file dialog a menu entry opens.
  void chooseFile(viewer::ViewerWindow& w, const char* entry, const QString& path) {
    action(w, entry)->trigger();
    // The one open now: a dialog answered before is deleted only at the next turn of the event loop.
    QFileDialog* dialog = nullptr;
    for (QFileDialog* d : w.findChildren<QFileDialog*>(QStringLiteral("calendarFileDialog")))
      if (d->isVisible()) dialog = d;
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal());  // window-modal, without an event loop of its own
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
  }
};

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

// Delete moves the highlight on (to the previous row from the last) and an empty list disables the
// record commands; Undo Delete puts back each reminder exactly, the last deleted first.
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
  // Ctrl+Z with the grid focused: the last deletion comes back first, highlighted.
  w.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
  w.grid()->setFocus();
  QTest::keyClick(w.grid(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(column(w, 1), (QStringList{"First", "Third"}));
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
  EXPECT_FALSE(w.memoBox()->isEnabled());
  EXPECT_TRUE(action(w, "mnuAdd")->isEnabled());
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ViewerWindowTest, UndoDeleteOutlivesTheViewerAndAPackOfTheTable) {
  add("Keep", today(9, 0), today(8, 0));
  const qint64 gone = add("Dentist", today(11, 0), today(10, 30), "bring the card");
  // Fields a save never writes (another program's, or a snooze's stamp) come back as well.
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
  // Packed away while the viewer was closed: it comes back as a new record, every field as it was.
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

TEST_F(ViewerWindowTest, CurrentRemindersFollowTheClockAndHideTomorrowUntilFutureEventsAreTicked) {
  settings.write(settings::ShowFuture, "0");
  add("Tomorrow's dentist", today(9, 0).addDays(1), today(8, 0).addDays(1));
  add("Call the bank", today(9, 0), today(8, 0));
  add("Half past", today(10, 30), today(10, 30));
  viewer::ViewerWindow& w = open();
  EXPECT_FALSE(w.futureAction()->isChecked());
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank"}));
  clock.set(today(10, 30));
  port().RefreshViewer();  // the alarm scan, after announcing
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank", "Half past"}));
  w.futureAction()->trigger();
  EXPECT_TRUE(w.futureAction()->isChecked());
  EXPECT_EQ(column(w, 1), (QStringList{"Call the bank", "Half past", "Tomorrow's dentist"}));
  EXPECT_EQ(settings.read(settings::ShowFuture), "1");
  EXPECT_TRUE(port().ViewerShowsFuture());
  w.futureAction()->trigger();
  EXPECT_EQ(w.model()->rowCount(), 2);
  EXPECT_EQ(settings.read(settings::ShowFuture), "0");
  port().ApplyShowFuture(true);  // the Options dialog's Apply
  EXPECT_TRUE(w.futureAction()->isChecked());
  EXPECT_EQ(w.model()->rowCount(), 3);
}

// A restored small window grows to the minimum and the columns follow the width; a large desktop
// font widens the date columns and the window to show every time whole.
TEST_F(ViewerWindowTest, TheWindowKeepsItsMinimumAndTheColumnsFollowTheWidthAndTheFont) {
  add("Dentist", QDateTime(QDate(2026, 12, 28), QTime(12, 58)), QDateTime(QDate(2026, 12, 28), QTime(12, 58)));
  {
    DesktopFont small(6);  // the reminder times fit the 2000-twip date columns
    settings.write("ReminderView", "Width", "6000");
    settings.write("ReminderView", "Height", "1500");
    viewer::ViewerWindow& w = open();
    EXPECT_EQ(w.width(), px(w, 7200));
    EXPECT_GE(rowsInView(w), 3);
    QWidget* pane = w.centralWidget();
    // Inside widths of 10000 and (the narrowest) 7200 twips.
    for (const auto& [inside, columns] :
         {std::pair{10000, std::array{2000, 5670, 2000}}, std::pair{7200, std::array{2061, 2748, 2061}}}) {
      w.resize(w.width() + (px(w, inside) - pane->width()), px(w, 6000));
      for (int c = 0; c < 3; ++c) EXPECT_EQ(w.grid()->columnWidth(c), px(w, columns[c])) << inside << " " << c;
      EXPECT_EQ(w.memoBox()->width(), pane->width());
      EXPECT_GT(w.memoBox()->y(), w.grid()->geometry().bottom());
    }
    w.resize(px(w, 5000), px(w, 1000));  // smaller is refused
    EXPECT_EQ(w.width(), px(w, 7200));
    viewers.reset();
  }
  DesktopFont large(16);
  viewer::ViewerWindow& w = open();
  const int whole = w.grid()->fontMetrics().horizontalAdvance(w.model()->index(0, 0).data().toString());
  w.resize(1, 1);
  EXPECT_GT(w.width(), px(w, 7200));
  EXPECT_GE(w.grid()->columnWidth(0), whole);
  EXPECT_GE(w.grid()->columnWidth(2), whole);
  EXPECT_GE(rowsInView(w), 3);
}

// After each announcement the open viewer lists the times the table holds, in their new order,
// with the reminder just said highlighted.
TEST_F(ViewerWindowTest, AfterEachAnnouncementTheListShowsTheTableAndTheReminderJustSaid) {
  const qint64 first = add("Call the bank", today(9, 50), today(9, 58));
  const qint64 second = add("Water the plants", today(10, 0), today(10, 0));
  add("Later today", today(15, 0), today(15, 0));
  AlarmService scanner(state, options, clock, engine, speaker, noWindows, port());
  for (int round = 0; round < 6; ++round) {
    // All reminders, then only the current ones; the second time shown again while its close is
    // still under way.
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
      EXPECT_EQ(w.model()->index(row, 0).data().toString(), FormatDateTimeText(held, options.timeFormat)) << round;
    }
    EXPECT_EQ(w.grid()->currentIndex().row(), w.model()->rowOf(static_cast<std::uint32_t>(second))) << round;
    clock.advanceSecs(5 * 60);
  }
}

// A memo is saved when the highlight moves, after a second idle, and when the window closes,
// without undoing what another program changed meanwhile in the other fields.
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
  speaker.lines.clear();
  QTest::keyClick(w.grid(), Qt::Key_Return);  // the new memo is what the character reads
  EXPECT_TRUE(speaker.lines.join('\n').contains("!b memo")) << speaker.lines.join('\n').toStdString();
  w.memoBox()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w.memoBox(), "?");
  ASSERT_TRUE(otherProgram(b,
                           [](xbase::WorkArea& wa) {  // the command-line tool, meanwhile
                             xbase::Status s = wa.Replace("APPT_TEXT", "Changed by the tool");
                             if (s.ok()) s = wa.Commit();
                             return s.ok() ? wa.Unlock() : s;
                           })
                  .ok());
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
  // Typed just before the program ends: stored though the program closed every table first.
  viewer::ViewerWindow& last = open();
  last.grid()->setCurrentIndex(last.model()->index(0, 0));
  last.memoBox()->insertPlainText("Bring the tickets. ");
  state.events->BeginClosing();
  EXPECT_TRUE(engine.CloseAll().ok());
  EXPECT_TRUE(last.close());
  EXPECT_EQ(field(a, "COMMENT"), "Bring the tickets. old memo for A");
  EXPECT_TRUE(prompter.asked.empty());
}

// A memo in characters the table cannot hold is kept and told once, and holds the window open
// until the user agrees to drop it, but never holds up the program's end.
TEST_F(ViewerWindowTest, AMemoTheTableCannotHoldIsKeptToldAndDroppedOnlyWhenAgreed) {
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
  EXPECT_TRUE(w.isVisible());
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(prompter.asked.back().yesNo);
  prompter.answers = {true};
  EXPECT_TRUE(w.close());
  EXPECT_EQ(field(r, "COMMENT"), "memo");
  flushDeletes();
  // Mended, it is stored.
  viewer::ViewerWindow& again = open();
  again.memoBox()->setPlainText(QString::fromUtf8("Ελλάδα"));
  EXPECT_FALSE(again.SaveMemo());
  again.memoBox()->setPlainText("Greece memo");
  EXPECT_TRUE(again.SaveMemo());
  EXPECT_EQ(field(r, "COMMENT"), "Greece memo");
  // At the program's end nothing is asked.
  again.memoBox()->setPlainText(QString::fromUtf8("Ελλάδα"));
  const size_t asked = prompter.asked.size();
  state.events->BeginClosing();
  EXPECT_TRUE(again.close());
  for (size_t i = asked; i < prompter.asked.size(); ++i) EXPECT_FALSE(prompter.asked[i].yesNo);
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
  int quieted = 0;
  hooks.quietCharacter = [&] { ++quieted; };
  add("Dentist", today(9, 0), today(8, 0), "bring the card");
  viewer::ViewerWindow& w = open();
  const auto read = [&](const std::function<void()>& how) {
    speaker.lines.clear();
    how();
    const QString said = speaker.lines.join('\n');
    return QString(said.contains("Dentist") ? "subject" : "") + (said.contains("bring the card") ? "memo" : "");
  };
  EXPECT_EQ(read([&] { w.findChild<QAction*>("ReadSubject")->trigger(); }), "subject");
  EXPECT_EQ(quieted, 1);
  EXPECT_EQ(read([&] { w.findChild<QAction*>("ReadComment")->trigger(); }), "memo");
  const QPoint cell = w.grid()->visualRect(w.model()->index(0, 1)).center();
  EXPECT_TRUE(read([&] {
                QTest::mouseClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
                QTest::mouseDClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
              }).startsWith("subject"));
  EXPECT_EQ(quieted, 3);
}

TEST_F(ViewerWindowTest, AddAndPropertiesOpenTheScheduleDialogAndOnlyASaveRereadsTheList) {
  const qint64 r = add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  // Cancelled: a reminder another program added meanwhile is not listed yet.
  schedule.onOpen = [&](std::optional<qint64>) {
    if (schedule.opened.size() == 1) add("Added meanwhile", today(9, 0), today(8, 30));
  };
  action(w, "mnuProperties")->trigger();
  EXPECT_EQ(w.model()->rowCount(), 1);
  schedule.answer = true;
  action(w, "ToolNew")->trigger();
  EXPECT_EQ(w.model()->rowCount(), 2);
  EXPECT_EQ(schedule.opened, (std::vector<std::optional<qint64>>{r, std::nullopt}));
}

TEST_F(ViewerWindowTest, CommandsBuiltElsewhereAreDisabledUntilGivenAndHelpOpensTheViewersPage) {
  const char* elsewhere[] = {"mnuOptions", "mnuOptimize", "mnuTutorial", "mnuUpdate", "mnuAbout", "ToolOptions"};
  QStringList ran;
  hooks.openDocument = [&](const QString& path) { ran << path; };
  {
    viewer::ViewerWindow& w = open();
    for (const char* name : elsewhere) EXPECT_FALSE(action(w, name)->isEnabled()) << name;
    action(w, "mnuProgramHelp")->trigger();
    QTest::mouseClick(w.banner(), Qt::LeftButton);
    EXPECT_EQ(ran, QStringList(2, dir.path() + "/helpfile/notify.htm"));
    // The banner shows its picture (bell and lettering), not an empty band.
    const QImage banner = w.banner()->grab().toImage();
    QSet<QRgb> colours;
    for (int x = 0; x < banner.width(); x += 2) colours.insert(banner.pixel(x, banner.height() / 2));
    EXPECT_GT(colours.size(), 20);
    w.close();
    flushDeletes();
  }
  viewers.reset();
  ran.clear();
  hooks.showOptions = [&] { ran << "options"; };
  hooks.tutorial = [&] { ran << "tutorial"; };
  hooks.update = [&] { ran << "update"; };
  hooks.about = [&] { ran << "about"; };
  hooks.optimize = [&] { ran << "optimize"; };
  viewer::ViewerWindow& w = open();
  for (const char* name : elsewhere) {
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
  int shown = 0, apart = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      ++shown;
      if (std::abs(c.lightnessF() - button.lightnessF()) > 0.3) ++apart;
    }
  return shown ? double(apart) / shown : 0.0;
}

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
  EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&w)));
  // Tab runs banner, grid, memo box; the memo box keeps no tab for itself.
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_TRUE(testsupport::NoProblems(testsupport::TabOrderProblems({w.banner(), w.grid(), w.memoBox()})));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), w.memoBox());
  // Alt+R, V ticks "&View Future Events"; Alt+S, 0 is "10 Minutes", not the "1" of "&1 Minute".
  const bool before = w.futureAction()->isChecked();
  for (const auto& [menu, key] : {std::pair{Qt::Key_R, Qt::Key_V}, std::pair{Qt::Key_S, Qt::Key_0}}) {
    QTest::keyClick(&w, menu, Qt::AltModifier);
    QMenu* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    QTest::keyClick(popup, key);
  }
  EXPECT_NE(w.futureAction()->isChecked(), before);
  EXPECT_EQ(field(1, "ALARMTEXT"), "12/04/2026 10:11 am");
}

// Closing stores the normal placement (a maximized window's too) and the future switch, and hides the
// character, as does minimizing; the upkeep closes the viewer and keeps it, then opens it again.
TEST_F(ViewerWindowTest, ClosingSavesThePlacementAndHidesTheCharacterUnlessKeptForUpkeep) {
  add("Dentist", today(9, 0), today(8, 0));
  viewer::ViewerWindow& w = open();
  EXPECT_TRUE(speaker.visible());
  w.resize(px(w, 9000), px(w, 4500));
  w.showMaximized();
  QCoreApplication::processEvents();
  ASSERT_NE(w.width(), px(w, 9000));
  w.showMinimized();
  QCoreApplication::processEvents();
  EXPECT_FALSE(speaker.visible());  // "ShowOnStart" is 0 by default
  speaker.show();                   // as restoring the window shows it
  port().CloseViewerAndHideCharacter();
  flushDeletes();
  EXPECT_FALSE(port().ViewerOpen());
  EXPECT_EQ(settings.read("ReminderView", "Width", "") + " " + settings.read("ReminderView", "Height", ""),
            "9000 4500");
  EXPECT_EQ(settings.read(settings::ShowFuture), "1");
  EXPECT_FALSE(speaker.visible());
  port().ShowViewer();
  EXPECT_EQ(port().window()->width(), px(*port().window(), 9000));
  QTest::keyClicks(port().window()->memoBox(), "typed before the upkeep");
  port().CloseDialogs();
  EXPECT_EQ(field(1, "COMMENT"), "typed before the upkeep");
  EXPECT_TRUE(port().CloseViewer());
  EXPECT_TRUE(speaker.visible());
  EXPECT_FALSE(port().CloseViewer());  // nothing open any more
  port().ReopenViewer();
  EXPECT_TRUE(port().ViewerOpen());
  EXPECT_FALSE(port().ViewerFrame().isNull());
  settings.write(settings::ShowOnStart, "1");  // kept on screen: closing leaves the character
  port().UnloadWindows();
  EXPECT_TRUE(speaker.visible());
  EXPECT_TRUE(port().ViewerFrame().isNull());
}

TEST_F(ViewerWindowTest, EveryWriteLetsGoOfItsRecordLockSoTheCommandLineToolIsNeverKeptWaiting) {
  const qint64 r = add("Dentist", today(9, 0), today(8, 0), "memo");
  add("Later", today(11, 0), today(10, 0));
  viewer::ViewerWindow& w = open();
  auto toolWrites = [&](const char* text) {  // a lock still held fails at once
    return otherProgram(
               r,
               [&](xbase::WorkArea& wa) {
                 xbase::Status s = wa.Replace("EVENT", text);
                 return s.ok() ? wa.Commit() : s;
               },
               0)
        .ToString();
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

TEST_F(ViewerWindowTest, ATableHeldByAnotherProgramOrMissingIsToldAndTheViewerOpensEmpty) {
  settings.write(settings::ShowFuture, "1");
  add("Dentist", today(11, 0), today(10, 30));
  engine.settings().lock_wait_ms = data::kInteractiveLockWaitMs;  // as the program waits
  TableLockHolder holder(data::CalendarPath(state.AppFolder).toStdString());
  ASSERT_TRUE(holder.holdTable());
  viewer::ViewerWindow& w = open();
  EXPECT_TRUE(port().ViewerOpen());
  EXPECT_EQ(w.model()->rowCount(), 0);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.startsWith("Another program is using the reminder table"))
      << prompter.asked[0].text.toStdString();
  holder.release();
  EXPECT_FALSE(holder.guardFired()) << "the viewer waited for the table without a deadline";
  port().RefreshViewer();  // once free, the next refresh lists it
  EXPECT_EQ(column(w, 1), (QStringList{"Dentist"}));
  EXPECT_EQ(recordCommandsEnabled(w), std::vector<bool>(7, true));
  EXPECT_EQ(prompter.asked.size(), 1u);
  w.close();
  flushDeletes();

  ASSERT_TRUE(QDir(dir.filePath("data")).removeRecursively());
  viewer::ViewerWindow& empty = open();
  EXPECT_EQ(prompter.asked.size(), 2u);
  EXPECT_EQ(empty.model()->rowCount(), 0);
  EXPECT_EQ(recordCommandsEnabled(empty), std::vector<bool>(7, false));
  EXPECT_TRUE(port().ViewerOpen());
}

TEST_F(ViewerWindowTest, ExportsWhatItListsAndImportsIntoTheList) {
  add("Water the plants", today(9, 0), today(9, 0));
  add("Concert", QDateTime(QDate(2026, 12, 20), QTime(19, 30)), QDateTime(QDate(2026, 12, 20), QTime(18, 0)));
  viewer::ViewerWindow& w = open();
  w.ApplyShowFuture(false);
  chooseFile(w, "mnuExportCalendar", dir.filePath("mine.ics"));
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_EQ(prompter.asked.back().text, "1 reminder written to mine.ics.");
  const QByteArray text = Slurp(dir.filePath("mine.ics"));
  EXPECT_TRUE(text.contains("SUMMARY:Water the plants"));
  EXPECT_FALSE(text.contains("SUMMARY:Concert"));  // not listed now

  Touch(dir.filePath("theirs.ics"),
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Planner//EN\r\nBEGIN:VEVENT\r\nUID:fair@example.org\r\n"
        "DTSTART:20261210T090000Z\r\nSUMMARY:Book fair\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:old@example.org\r\n"
        "DTSTART:20261110T090000Z\r\nSUMMARY:Old fair\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  w.ApplyShowFuture(true);
  chooseFile(w, "mnuImportCalendar", dir.filePath("theirs.ics"));
  EXPECT_EQ(prompter.asked.back().text,
            "theirs.ics: imported 1, updated 0, deleted 0, unchanged 0, skipped 1.\n"
            "Skipped \"Old fair\" (UID old@example.org): it is past");
  EXPECT_EQ(prompter.asked.back().icon, PromptIcon::Warning);
  EXPECT_TRUE(column(w, 1).contains("Book fair")) << column(w, 1).join('|').toStdString();
  // A file that is no calendar is told, and nothing changes.
  const int rows = w.model()->rowCount();
  Touch(dir.filePath("notes.txt"), "Milk, eggs, bread\n");
  chooseFile(w, "mnuImportCalendar", dir.filePath("notes.txt"));
  EXPECT_TRUE(prompter.asked.back().text.contains("nothing was changed")) << prompter.asked.back().text.toStdString();
  EXPECT_EQ(w.model()->rowCount(), rows);
}

TEST_F(ViewerWindowTest, TheListHoldsPendingRemindersInAlarmOrderAndOnlyTheCurrentOnesWithAStamp) {
  add("Tomorrow", today(12, 0).addDays(1), today(11, 0).addDays(1));
  add("Early alarm, activity later today", today(15, 0), today(9, 0));
  add("Alarm later, activity already past", today(8, 0), today(18, 0));
  add("This very minute", today(10, 30), today(10, 0));
  const qint64 gone = add("Deleted", today(7, 0), today(7, 0));
  const qint64 silent = add("No alarm any more", today(7, 0), today(7, 30));
  ASSERT_TRUE(otherProgram(gone, [](xbase::WorkArea& wa) { return wa.Delete(); }).ok());
  ASSERT_TRUE(otherProgram(silent, [](xbase::WorkArea& wa) {
                const xbase::Status s = wa.Replace("ALARMDATE", "");
                return s.ok() ? wa.Commit() : s;
              }).ok());
  viewer::ReminderListModel model(engine);
  model.setArea(openArea());
  const auto listed = [&](bool all, const QDateTime& now) {
    EXPECT_TRUE(model.reload(all, now).ok());
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
      out << model.index(r, viewer::ReminderListModel::ActivityColumn).data().toString();
    return out;
  };
  EXPECT_EQ(listed(true, kViewerNow), (QStringList{"Early alarm, activity later today", "This very minute",
                                                   "Alarm later, activity already past", "Tomorrow"}));
  // Due: the alarm or the activity is not later than 10:00 (the minute of 10:00:45).
  EXPECT_EQ(listed(false, kViewerNow), (QStringList{"Early alarm, activity later today", "This very minute",
                                                    "Alarm later, activity already past"}));
  EXPECT_EQ(listed(false, today(9, 59)),
            (QStringList{"Early alarm, activity later today", "Alarm later, activity already past"}));
  EXPECT_EQ(viewer::CurrentStamp(today(9, 5)), "20261204 545");
}

TEST_F(ViewerWindowTest, TheListOpensWithoutReadingRecordsAndReadsOnlyTheRowsInSight) {
  ASSERT_TRUE(otherProgram(0,
                           [](xbase::WorkArea& wa) {  // 3000 through the saver would take long
                             xbase::Status s;
                             for (int i = 0; i < 3000 && s.ok(); ++i) {
                               s = wa.AppendBlank();
                               if (s.ok()) s = wa.Replace("APPT_TEXT", "Reminder " + std::to_string(i));
                               if (s.ok()) s = wa.Replace("ALARMDATE", "20261201");
                               if (s.ok()) s = wa.ReplaceInteger("ALARMTIME", i % 1440);
                               if (s.ok()) s = wa.Replace("EVENTDATE", "20261201");
                             }
                             return s.ok() ? wa.Commit() : s;
                           })
                  .ok());
  viewer::ReminderListModel model(engine);
  model.setArea(openArea());
  ASSERT_TRUE(model.reload(true, kViewerNow).ok());
  EXPECT_EQ(model.rowCount(), 3000);
  EXPECT_EQ(model.recordsRead(), 0);
  QTableView view;
  view.resize(400, 300);
  view.setModel(&model);
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.show();
  (void)view.grab();
  EXPECT_GT(model.recordsRead(), 0);
  EXPECT_LE(model.recordsRead(), 128);  // one or two blocks of rows, not the table
  view.scrollToBottom();
  (void)view.grab();
  EXPECT_LE(model.recordsRead(), 256);
  EXPECT_EQ(model.index(2999, 1).data().toString(), "Reminder 2879");  // the later of the two at 23:59
}

}  // namespace
