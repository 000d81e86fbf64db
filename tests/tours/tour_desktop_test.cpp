// Tours and menus as a user reaches them: on an X server of the test's own with a window manager,
// real key and pointer events from xdotool end a tour (Escape in the toured window, Escape sent to
// it, a click on "Skip" while the character walks and talks) and open the character's menu while
// the Schedule Activity dialog is open.
#include "core/clock.h"
#include "core/settings_keys.h"
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_fixture.h"
#include "schedule/schedule_windows.h"
#include "support/window_manager_desktop.h"
#include "tours/schedule_tour.h"
#include "tours/tour_fixture.h"

#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace chimewise;
using chimewise::testsupport::RunEventsFor;
using chimewise::testsupport::RunEventsUntil;
using Kind = TourEvent::Kind;

namespace {

auto* desktop = static_cast<testsupport::WindowManagerDesktop*>(
    ::testing::AddGlobalTestEnvironment(new testsupport::WindowManagerDesktop));

QString Xdotool(const QStringList& args) { return testsupport::WindowManagerDesktop::xdotool(args); }

QString Number(int n) { return QString::number(n); }

class TourDesktopTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    if (!desktop->missing.isEmpty()) GTEST_SKIP() << desktop->missing.toStdString() << " is missing";
    TourFixture::SetUp();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle(QStringLiteral("Toured"));
    first = new QLineEdit(dialog.get());
    first->setGeometry(10, 10, 120, 24);
    second = new QLineEdit(dialog.get());
    second->setGeometry(10, 300, 120, 24);
    dialog->resize(420, 340);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get(), 20000));
    host->character()->setLeft(700);
    host->character()->setTop(100);
  }
  void TearDown() override {
    context.reset();
    dialog.reset();
    TourFixture::TearDown();
  }
  // A long tour: the character walks from one field to the other and talks at each.
  TourScript longScript() {
    ScriptWriter w;
    for (int i = 0; i < 40; ++i) {
      w.beside(i % 2 ? second : first);
      w.speak(QStringLiteral("This is a long line about the field, said while the user wants to get out of it."));
      w.beside(i % 2 ? first : second);
      w.speak(QStringLiteral("And here is another line, shorter."));
      w.wait();
    }
    return std::move(w.script);
  }
  bool start() { return StartTour(*context, TourKind::Options, dialog.get(), longScript()); }
  QString windowId() const { return Number(int(dialog->winId())); }

  std::unique_ptr<QDialog> dialog;
  QLineEdit* first = nullptr;
  QLineEdit* second = nullptr;
};

// Notes how many lines the tour had said when the first Escape reached the application.
class EscapeSeen final : public QObject {
 public:
  explicit EscapeSeen(std::function<int()> lines) : m_lines(std::move(lines)) { qApp->installEventFilter(this); }
  ~EscapeSeen() override { qApp->removeEventFilter(this); }
  int linesThen = -1;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (linesThen < 0 && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
      linesThen = m_lines();
    return false;
  }

 private:
  std::function<int()> m_lines;
};

// Escape typed into the active toured window, and sent to it by its window id, each ends the tour.
TEST_F(TourDesktopTest, EscapeEndsTheTourInTheActiveWindowAndSentToIt) {
  for (const bool toWindow : {false, true}) {
    events.clear();
    ASSERT_TRUE(
        testsupport::WindowManagerDesktop::activate(dialog->winId(), [this] { return dialog->isActiveWindow(); }));
    ASSERT_TRUE(start());
    RunEventsFor(300);
    ASSERT_TRUE(context->busy);
    EscapeSeen seen([this] { return count(Kind::Speak); });  // looks before the tour does
    if (toWindow)
      Xdotool({"key", "--window", windowId(), "Escape"});
    else
      Xdotool({"key", "Escape"});
    EXPECT_TRUE(RunEventsUntil([this] { return !context->busy; }, 3000)) << (toWindow ? "sent" : "typed");
    EXPECT_EQ(count(Kind::Skip), 1);
    EXPECT_EQ(count(Kind::Speak), seen.linesThen) << "the tour went on after Escape";
    settle();
  }
}

// The Schedule Activity dialog's own tour, begun by its first opening: Escape typed into the dialog
// ends it, and nothing more of it is said.
TEST_F(TourDesktopTest, EscapeEndsTheScheduleDialogsOwnTour) {
  testsupport::CalendarFolder folder(QDateTime(QDate(2026, 12, 4), QTime(10, 0)));
  ScheduleWindows windows(folder.state, settings, prompter, folder.clock, folder.engine, *folder.saver, *folder.alarms,
                          *host);
  QObject::connect(&windows, &ScheduleWindows::tourWanted,
                   [this](ScheduleDialog* d) { RunScheduleTour(*d, *context); });
  settings.write(settings::ScheduleShowHelp, QStringLiteral("1"));
  bool ended = false;
  int linesAfter = -1;
  QObject::connect(&windows, &ScheduleWindows::shown, [&](ScheduleDialog* shownDialog) {
    ScheduleDialog& d = *shownDialog;
    ASSERT_TRUE(RunEventsUntil([&] { return context->busy && count(Kind::Speak) > 3; }, 10000));
    Xdotool({"windowactivate", "--sync", Number(int(d.winId()))});
    RunEventsFor(200);
    EscapeSeen seen([this] { return count(Kind::Speak); });
    Xdotool({"key", "Escape"});
    ended = RunEventsUntil([this] { return !context->busy; }, 3000);
    RunEventsFor(500);
    linesAfter = count(Kind::Speak) - seen.linesThen;
    d.reject();
  });
  bool closed = false;
  windows.OpenSchedule(std::nullopt, [&](bool) { closed = true; });
  ASSERT_TRUE(RunEventsUntil([&] { return closed; }, 30000));
  EXPECT_TRUE(ended);
  EXPECT_EQ(linesAfter, 0);
}

// The pointer rests on "Skip" while the character walks between the fields and says new lines: the
// link stays under it, and the click ends the tour every time.
TEST_F(TourDesktopTest, SkipStaysUnderThePointerAndAClickEndsTheTour) {
  for (int round = 0; round < 4; ++round) {
    events.clear();
    ASSERT_TRUE(start());
    agent::Character* c = host->character();
    // The user aims at where the link is now (the balloon may move on while the pointer travels).
    const auto onLink = [c] { return c->balloonActionGeometry(0).contains(QCursor::pos()); };
    for (int attempt = 0; attempt < 10 && !onLink(); ++attempt) {
      ASSERT_TRUE(RunEventsUntil([&] { return !c->balloonActionGeometry(0).isNull(); }, 10000));
      const QPoint at = c->balloonActionGeometry(0).center();
      Xdotool({"mousemove", Number(at.x()), Number(at.y())});
      RunEventsFor(100);
    }
    ASSERT_TRUE(onLink());
    const QRect aimed = c->balloonActionGeometry(0);
    const int movesBefore = count(Kind::Move);
    // The character walks and talks on under the resting pointer.
    RunEventsUntil([&] { return count(Kind::Move) >= movesBefore + 2; }, 10000);
    ASSERT_TRUE(context->busy);
    EXPECT_EQ(c->balloonActionGeometry(0), aimed) << "the link moved from under the pointer";
    Xdotool({"click", "1"});
    EXPECT_TRUE(RunEventsUntil([this] { return !context->busy; }, 3000)) << "round " << round;
    EXPECT_EQ(count(Kind::Skip), 1);
    Xdotool({"mousemove", "5", "790"});
    settle();
  }
}

// The Schedule Activity dialog leaves the character's menu (Stop Talking, Go Away, Quit) in reach.
TEST_F(TourDesktopTest, TheCharactersMenuOpensWhileScheduleActivityIsOpen) {
  testsupport::CalendarFolder folder(QDateTime(QDate(2026, 12, 4), QTime(10, 0)));
  ScheduleWindows windows(folder.state, settings, prompter, folder.clock, folder.engine, *folder.saver, *folder.alarms,
                          *host);
  agent::Character* c = host->character();
  host->show();
  ASSERT_TRUE(RunEventsUntil([&] { return c->isVisible() && c->queuedRequests() == 0; }, 10000));
  bool opened = false;
  QObject::connect(&windows, &ScheduleWindows::shown, [&](ScheduleDialog* shownDialog) {
    ScheduleDialog& d = *shownDialog;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
    RunEventsFor(300);  // the character has stepped aside from the dialog
    const QPoint on = c->drawnGeometry().center();
    Xdotool({"mousemove", Number(on.x()), Number(on.y())});
    Xdotool({"click", "3"});
    opened = RunEventsUntil([&] { return c->popupMenu() && c->popupMenu()->isVisible(); }, 3000);
    if (c->popupMenu()) c->popupMenu()->close();
    d.reject();
  });
  bool closed = false;
  windows.OpenSchedule(std::nullopt, [&](bool) { closed = true; });
  ASSERT_TRUE(RunEventsUntil([&] { return closed; }, 30000));
  EXPECT_TRUE(opened);
}

// The Repeat control by keys alone, as they come from the window manager: Alt+R to the choice,
// the arrows to "Every week on", Tab and Space through the day boxes, Alt+D to the end.
TEST_F(TourDesktopTest, RepeatIsMadeWithKeysAlone) {
  ManualClock clock(QDateTime(QDate(2026, 12, 4), QTime(8, 0)));
  ScheduleDialog d(clock, QStringLiteral("h:mm am/pm"));
  d.show();
  ASSERT_TRUE(testsupport::WindowManagerDesktop::activate(d.winId(), [&] { return d.isActiveWindow(); }));
  Xdotool({"key", "--clearmodifiers", "alt+r", "Down", "Down", "Down", "Tab", "space", "Tab", "Tab", "Tab", "space"});
  Xdotool({"key", "--clearmodifiers", "alt+d", "Down", "Down"});
  EXPECT_TRUE(RunEventsUntil([&] { return d.entry().repeat == "FREQ=WEEKLY;BYDAY=MO,TH;COUNT=10"; }, 3000))
      << d.entry().repeat.toStdString();
  EXPECT_EQ(d.repeatSummary->text(), QStringLiteral("Every Monday and Thursday at 8:00 am, 10 times"));
}

}  // namespace
