// The three tours' scripts over the real windows and the program's (fast, silent) character: every
// line of a table is said in its order, every control it names is found, and a tour ended midway
// puts everything back.
#include "alarms/alarm_service.h"
#include "core/program_events.h"
#include "core/settings_keys.h"
#include "data/calendar.h"
#include "options/options_windows.h"
#include "schedule/save_event.h"
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_windows.h"
#include "support/files.h"
#include "tours/introduction_tour.h"
#include "tours/options_tour.h"
#include "tours/schedule_tour.h"
#include "tours/tour_fixture.h"
#include "tours/tour_snapshot.h"
#include "viewer/viewer_windows.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>

#include <xbase/engine.h>

using namespace chimewise;
using Kind = TourEvent::Kind;
using StepKind = TourStep::Kind;

namespace {

// The steps that place the character: each makes one move when what it points at is there.
int PlacingSteps(const TourScript& script) {
  return testsupport::StepCount(script, StepKind::Beside) + testsupport::StepCount(script, StepKind::BesideAtHeight) +
         testsupport::StepCount(script, StepKind::BesideWindow) +
         testsupport::StepCount(script, StepKind::LowerRightCorner);
}

// The lines of `script` made when they are said, as they were said.
QStringList MadeLines(const std::vector<TourEvent>& events, const TourScript& script) {
  QStringList spoken, made;
  for (const TourEvent& e : events)
    if (e.kind == Kind::Speak || e.kind == Kind::Say) spoken << e.text;
  int i = 0;
  for (const TourStep& s : script) {
    if (s.kind != StepKind::Speak && s.kind != StepKind::Say) continue;
    if (s.made && i < spoken.size()) made << spoken[i];
    ++i;
  }
  return made;
}

class NoSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::optional<qint64>) override { return false; }
  void CloseSchedule() override {}
  bool ScheduleOpen() const override { return false; }
};

// The windows of the program a tour needs: the tables, the alarms, the viewer, the main window.
class ScriptTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    testsupport::CopyEmptyCalendar(state.AppFolder);
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, *host, timer, noWindows);
    viewers =
        std::make_unique<ViewerWindows>(state, settings, prompter, clock, engine, *alarms, *host, schedule, timer);
    mainWindow = std::make_unique<QWidget>();
    context->mainWindow = mainWindow.get();
  }
  void TearDown() override {
    context.reset();
    viewers.reset();
    EXPECT_TRUE(engine.CloseAll().ok());
    alarms.reset();
    mainWindow.reset();
    TourFixture::TearDown();
  }

  // Every step finds `window` disabled, and every move puts the character beside its target.
  void checkEachStep(QWidget* window, const std::function<void(const TourEvent&)>& more = {}) {
    onEvent = [=](const TourEvent& e) {
      EXPECT_FALSE(window->isEnabled());
      if (e.kind == Kind::Move) {
        EXPECT_TRUE(testsupport::BesideAndOnScreen(e));
      }
      if (more) more(e);
    };
  }

  xbase::Engine engine;
  NoWindows noWindows;
  NoSchedule schedule;
  std::unique_ptr<QWidget> mainWindow;  // the program's hidden main window
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<ViewerWindows> viewers;
};

using IntroductionTest = ScriptTest;

TEST_F(IntroductionTest, SaysItsScriptPointsAtEveryPartOfTheViewerAndPressesItsButtons) {
  QStringList pressed;
  checkEachStep(mainWindow.get(), [&](const TourEvent& e) {
    if (e.kind != Kind::Press) return;
    EXPECT_FALSE(viewers->window()->isEnabled());
    for (auto* b : viewers->window()->findChildren<QAbstractButton*>())
      if (b->isDown()) pressed << b->text();
  });
  RunIntroduction(*context, OpenViewerOf(*viewers));
  runToEnd();

  const TourScript script = IntroductionScript(QStringLiteral("Hoot"), {}, *context);
  EXPECT_TRUE(testsupport::SpokenAsScripted(events, script));
  EXPECT_EQ(spoken().first(), "Hi, I am Hoot!");
  EXPECT_EQ(MadeLines(events, script), QStringList{"The time is 3:00 pm"});
  EXPECT_EQ(count(Kind::Move), PlacingSteps(script));
  EXPECT_EQ(pressed, (QStringList{"Read", "New", "Properties", "Delete", "Options"}));
  EXPECT_EQ(texts(Kind::Release), pressed);
  EXPECT_EQ(count(Kind::Popup), 1);

  ASSERT_NE(viewers->window(), nullptr);
  EXPECT_TRUE(viewers->window()->isEnabled());
  EXPECT_TRUE(mainWindow->isEnabled());
  EXPECT_EQ(characterAt(), QPoint(40, 30));
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

// Closing the viewer, or quitting, while a button is shown pressed.
TEST_F(IntroductionTest, EndedAtAButtonItPutsEverythingBack) {
  for (const bool quit : {false, true}) {
    SCOPED_TRACE(quit ? "Quit" : "viewer closed");
    events.clear();
    timer.calls.clear();
    QPointer<QAbstractButton> newButton;
    onEvent = [&](const TourEvent& e) {
      if (e.kind != Kind::Press || e.text != "New") return;
      for (auto* b : viewers->window()->findChildren<QAbstractButton*>())
        if (b->isDown()) newButton = b;
      if (quit)
        state.events->BeginClosing();
      else
        viewers->CloseViewer();
    };
    RunIntroduction(*context, OpenViewerOf(*viewers));
    runToEnd();
    EXPECT_EQ(texts(Kind::Press), (QStringList{"Read", "New"}));
    EXPECT_EQ(texts(Kind::Release), texts(Kind::Press));
    EXPECT_EQ(spoken().last(), "If you want to add a reminder just click on \"New\".");
    EXPECT_TRUE(mainWindow->isEnabled());
    if (quit) {
      ASSERT_NE(newButton, nullptr);
      EXPECT_FALSE(newButton->isDown());
      EXPECT_TRUE(viewers->window()->isEnabled());
    } else {
      EXPECT_EQ(viewers->window(), nullptr);
    }
    EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
    EXPECT_FALSE(context->busy);
  }
}

// The Schedule Activity tour over the real dialog holding the user's own entry.
class ScheduleTourTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    dialog = std::make_unique<ScheduleDialog>(clock, options.timeFormat);
    EventInput in;
    in.remindDate = QDate(2026, 12, 7);
    in.remindTime = QTime(8, 5);
    in.activityDate = QDate(2026, 12, 9);
    in.activityTime = QTime(17, 45);
    in.sayDate = true;
    in.activity = QStringLiteral("Dentist");
    in.memo = QStringLiteral("Bring the insurance card.");
    in.event = QStringLiteral("Personal");
    in.sound = 2;
    dialog->fill(in);
    dialog->show();
    dialog->move(5, 5);
    user = entry();
  }
  void TearDown() override {
    dialog.reset();
    ScriptTest::TearDown();
  }
  // Every field the tour fills in, as it stands.
  QStringList entry() const {
    const ScheduleDialog& d = *dialog;
    return {d.remindDate->date().toString(Qt::ISODate),
            d.remindTime->time().toString(),
            d.activityDate->date().toString(Qt::ISODate),
            d.activityTime->time().toString(),
            QString::number(d.sayDate->isChecked()),
            QString::number(d.sayTime->isChecked()),
            d.activity->text(),
            d.memo->toPlainText(),
            d.type->currentText(),
            QString::number(d.audio->currentIndex()),
            QString::number(d.countdown->isChecked()),
            QString::number(d.countdownList->currentIndex())};
  }
  std::unique_ptr<ScheduleDialog> dialog;
  QStringList user;
};

TEST_F(ScheduleTourTest, SaysItsScriptBesideEveryControlFillsInTheExampleAndPutsTheEntryBack) {
  const QPoint dialogAt = dialog->pos();
  QStringList atTheExample;
  checkEachStep(dialog.get(), [&](const TourEvent& e) {
    if (e.kind == Kind::Say && atTheExample.isEmpty()) atTheExample = entry();
  });
  RunScheduleTour(*dialog, *context);
  runToEnd();

  const TourScript script = ScheduleTourScript(*dialog, options);
  EXPECT_TRUE(testsupport::SpokenAsScripted(events, script));
  // The lines made from the fields say what the fields held then.
  EXPECT_EQ(MadeLines(events, script),
            (QStringList{"On December 7th, 2026 at 10:30 am I would say.",
                         "Once this dialog was saved I would watch your computer clock and on December 7th, 2026 at "
                         "10:30 am I would say.",
                         "Reminder, you have an activity scheduled for Wednesday December 9th, 2026 at 11:30 am",
                         "Have lunch with staff", "Reminder, you have an activity scheduled at 3:30 pm",
                         "Pick up kids at school in 60 minutes", "Reminder, you have an activity scheduled at 3:30 pm",
                         "Pick up kids at school in 55 minutes"}));
  EXPECT_EQ(count(Kind::Move), PlacingSteps(script) + 1);  // and the opening's, beside the window
  EXPECT_EQ(count(Kind::Change), testsupport::StepCount(script, StepKind::Change));
  EXPECT_EQ(atTheExample.mid(0, 7),
            (QStringList{"2026-12-07", "10:30:00", "2026-12-09", "11:30:00", "1", "1", "Have lunch with staff"}));
  EXPECT_EQ(entry(), user);
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_EQ(dialog->pos(), dialogAt);
  EXPECT_EQ(settings.read(settings::ScheduleShowHelp), "0");
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

// Stopped after it has typed into the dialog, the user's entry comes back.
TEST_F(ScheduleTourTest, StoppedMidwayItPutsTheEntryBack) {
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Change && e.text == "Have lunch with staff") state.events->BeginClosing();
  };
  RunScheduleTour(*dialog, *context);
  runToEnd();
  EXPECT_EQ(texts(Kind::Change).last(), "Have lunch with staff");
  EXPECT_EQ(entry(), user);
  EXPECT_TRUE(dialog->isEnabled());
}

// A picture of the first wait: the character drawn beside the control. With
// CHIMEWISE_TOUR_SNAPSHOTS naming a folder, a picture of every wait is written there too.
TEST_F(ScheduleTourTest, SnapshotsShowTheCharacterBesideTheControl) {
  const QString folder = qEnvironmentVariable("CHIMEWISE_TOUR_SNAPSHOTS");
  QImage shot, alone;
  QRect character, inside;
  int waits = 0;
  onEvent = [&](const TourEvent& e) {
    if (e.kind != Kind::Wait) return;
    const QImage picture = TourSnapshot(*dialog, *host->character());
    if (!folder.isEmpty())
      picture.save(QStringLiteral("%1/schedule-%2.png").arg(folder).arg(++waits, 2, 10, QChar('0')));
    if (!shot.isNull()) return;
    shot = picture;
    alone = dialog->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    inside = QRect(dialog->mapToGlobal(QPoint(0, 0)), dialog->size());
    character = QRect(characterAt(), QSize(host->character()->width(), host->character()->height()));
    EXPECT_FALSE(character.intersects(ScreenRect(dialog->remindTime)));
    if (folder.isEmpty()) state.events->RequestStop();
  };
  RunScheduleTour(*dialog, *context);
  runToEnd();
  const QRect all = inside.united(character);
  ASSERT_EQ(shot.size(), all.size());
  // The character is drawn where it stands: part of its box differs from the window alone.
  int drawn = 0;
  for (int y = character.top(); y <= character.bottom(); y += 2)
    for (int x = character.left(); x <= character.right(); x += 2) {
      const QPoint inWindow = QPoint(x, y) - inside.topLeft();
      const QRgb behind = alone.rect().contains(inWindow) ? alone.pixel(inWindow) : QColor(235, 235, 235).rgb();
      if (shot.pixel(QPoint(x, y) - all.topLeft()) != behind) ++drawn;
    }
  EXPECT_GT(drawn, 50);
}

// The tour as the program starts it: on the dialog's first activation, from within its modal run,
// and from its Help button; the dialog's run goes on while the tour runs from the event loop.
TEST_F(ScheduleTourTest, TheDialogStartsItOnceAndHelpOffersItAgain) {
  EventSaver saver(state, clock, engine, *host, *alarms, noWindows);
  QStringList helpOpened;
  ScheduleWindows windows(state, settings, prompter, clock, engine, saver, *alarms, *host, noWindows,
                          [&](const QString& path) { helpOpened << path; });
  windows.setTour([this](ScheduleDialog& d) { RunScheduleTour(d, *context); });
  // Each tour is cut short, and the dialog closed once it has ended.
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Show) state.events->RequestStop();
  };
  const auto open = [&](bool help) {
    windows.onShown = [&, help](ScheduleDialog& d) {
      EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
      if (help) d.helpButton->click();
      QTimer::singleShot(0, &d, [this, &d] {
        runToEnd();
        d.reject();
      });
    };
    windows.OpenSchedule(std::nullopt);
  };
  dialog->hide();
  open(false);
  EXPECT_EQ(count(Kind::Show), 1);
  EXPECT_EQ(settings.read(settings::ScheduleShowHelp), "0");
  open(false);  // the next dialog does not start it by itself
  EXPECT_EQ(count(Kind::Show), 1);
  prompter.answers = {true, false};  // Help: Yes runs it, No opens the help page
  open(true);
  EXPECT_EQ(count(Kind::Show), 2);
  EXPECT_TRUE(helpOpened.isEmpty());
  open(true);
  EXPECT_EQ(count(Kind::Show), 2);
  EXPECT_EQ(helpOpened.size(), 1);
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true, false, true}));
  EXPECT_FALSE(context->busy);
}

// The Options tour over the real dialog.
class OptionsTourTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    settings.write(settings::OptionsShowHelp, "0");  // the dialog's own first-activation tour stays out of it
    windows =
        std::make_unique<OptionsWindows>(OptionsContext{state, options, settings, prompter, clock, *host, {}, {}});
    windows->ShowOptions();
    ASSERT_NE(windows->dialog(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(windows->dialog()));
  }
  void TearDown() override {
    context.reset();
    windows.reset();
    ScriptTest::TearDown();
  }
  std::unique_ptr<OptionsWindows> windows;
};

TEST_F(OptionsTourTest, SaysItsScriptBesideEveryControlOnEachTab) {
  OptionsDialog& dialog = *windows->dialog();
  QStringList tabAtFirstLine;
  checkEachStep(&dialog, [&](const TourEvent& e) {
    if (e.kind == Kind::Speak && e.text.startsWith("This is my "))
      tabAtFirstLine << dialog.tabs->tabText(dialog.tabs->currentIndex());
  });
  RunOptionsTour(dialog, 0, *context);
  runToEnd();

  const TourScript script = OptionsTourScript(dialog, OptionsSectionsFor(0), clock);
  EXPECT_TRUE(testsupport::SpokenAsScripted(events, script));
  // At 3 in the afternoon of Friday 4 December 2026.
  EXPECT_EQ(MadeLines(events, script),
            (QStringList{"Include the time of day such as Good Afternoon", "Include the day of Week such as Friday",
                         "and include the date such as December 4th, 2026"}));
  EXPECT_EQ(count(Kind::Move), PlacingSteps(script) + 1);  // and the opening's
  const QStringList tabs{"Characters", "Time Announcements", "Reminder Options", "Email Options"};
  EXPECT_EQ(texts(Kind::Tab), tabs);
  EXPECT_EQ(tabAtFirstLine, tabs);
  EXPECT_TRUE(dialog.isEnabled());
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

TEST_F(OptionsTourTest, HelpOnATabGivesThatSectionAlone) {
  const QStringList tabs{"Characters", "Time Announcements", "Reminder Options", "Email Options"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(OptionsSectionOfTab(tabs[i]), i + 1);
  EXPECT_EQ(OptionsSectionOfTab("Something else"), 0);
  EXPECT_EQ(OptionsSectionsFor(7), OptionsSections{});

  RunOptionsTour(*windows->dialog(), OptionsSectionOfTab("Reminder Options"), *context);
  runToEnd();
  EXPECT_TRUE(
      testsupport::SpokenAsScripted(events, OptionsTourScript(*windows->dialog(), OptionsSectionsFor(3), clock)));
  EXPECT_EQ(spoken().first(), "This is my Reminder Options Tab.");
  EXPECT_EQ(texts(Kind::Tab), QStringList{"Reminder Options"});
}

}  // namespace
