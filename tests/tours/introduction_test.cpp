// The introduction over the real Reminder Viewer and the program's (fast, silent) character, and
// the first start after installation that runs it.
#include "alarms/alarm_service.h"
#include "core/program_events.h"
#include "core/screen_placement.h"
#include "core/settings_keys.h"
#include "data/calendar.h"
#include "support/files.h"
#include "tours/first_run.h"
#include "tours/introduction_tour.h"
#include "tours/tour_fixture.h"
#include "viewer/viewer_windows.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <xbase/engine.h>

using namespace chimewise;
using Kind = TourEvent::Kind;

namespace {

class NoSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::int32_t) override { return false; }
  void CloseSchedule() override {}
};

class IntroductionTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    testsupport::CopyEmptyCalendar(state.AppFolder);
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, clock, engine, *host, timer, noWindows);
    viewers =
        std::make_unique<ViewerWindows>(state, settings, prompter, clock, engine, *alarms, *host, schedule, timer);
    mainWindow = std::make_unique<QWidget>();
    context->mainWindow = mainWindow.get();
  }
  void TearDown() override {
    viewers.reset();
    EXPECT_TRUE(engine.CloseAll().ok());
    alarms.reset();
    mainWindow.reset();
    TourFixture::TearDown();
  }

  xbase::Engine engine;
  NoWindows noWindows;
  NoSchedule schedule;
  std::unique_ptr<QWidget> mainWindow;  // the program's hidden main window
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<ViewerWindows> viewers;
};

const char* const kButtonLines[] = {
    R"(If you want to listen to your reminders you can use the first button "Read". First highlight the reminder you want to hear and then click the Read button.)",
    R"(If you want to add a reminder just click on "New".)",
    R"(To edit an existing reminder, first highlight the reminder, then click "Properties". You can also view the complete reminder from the Property Dialog Window.)",
    "To delete a reminder, first highlight the reminder, then click the Delete button.",
    "The program can be configured to work the way you want it to. To set up the program click on the options "
    "button.",
};

TEST_F(IntroductionTest, GreetsFromTheCornerPresentsTheProgramAndWalksThroughTheViewer) {
  int pressedWhileDisabled = 0;
  QStringList pressedCaptions;
  onEvent = [&](const TourEvent& e) {
    EXPECT_FALSE(mainWindow->isEnabled());
    if (e.kind == Kind::Press) {
      auto* viewer = viewers->window();
      ASSERT_NE(viewer, nullptr);
      if (!viewer->isEnabled()) ++pressedWhileDisabled;
      // The button shown pressed is the viewer's own.
      for (auto* b : viewer->findChildren<QAbstractButton*>())
        if (b->isDown()) pressedCaptions << b->text();
    }
  };
  RunIntroduction(*context, OpenViewerOf(*viewers));

  // The greeting, from the screen's lower right corner.
  ASSERT_GE(events.size(), 3u);
  const auto firstMove =
      std::find_if(events.begin(), events.end(), [](const TourEvent& e) { return e.kind == Kind::Move; });
  ASSERT_NE(firstMove, events.end());
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(firstMove->at, LowerRightCorner(firstMove->character, area));

  const QStringList lines = spoken();
  EXPECT_EQ(lines.first(), "Hi, I am Hoot!");
  // The script's own words are the script's; the time is the clock's, in the running format.
  EXPECT_TRUE(lines.contains("The time is 3:00 pm")) << lines.join('\n').toStdString();
  for (const QString& line : lines)
    EXPECT_FALSE(line.contains("Microsoft") || line.contains("Windows")) << line.toStdString();

  // The menu opens at "this menu".
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].kind == Kind::Popup) {
      ASSERT_GT(i, 1u);
      EXPECT_EQ(events[i - 1].kind, Kind::Wait);
      EXPECT_EQ(events[i - 2].text, "When you right click on me you'll get this menu.");
    }
  EXPECT_EQ(count(Kind::Popup), 1);

  // The five buttons, each pressed while its line is said and released after it.
  EXPECT_EQ(texts(Kind::Press), (QStringList{"Read", "New", "Properties", "Delete", "Options"}));
  EXPECT_EQ(pressedCaptions, (QStringList{"Read", "New", "Properties", "Delete", "Options"}));
  EXPECT_EQ(pressedWhileDisabled, 5);
  int button = -1;
  bool down = false;
  QStringList between[5];
  for (const TourEvent& e : events) {
    if (e.kind == Kind::Press) {
      ++button;
      down = true;
    } else if (e.kind == Kind::Release) {
      down = false;
    } else if (e.kind == Kind::Speak && down && button < 5) {
      between[button] << e.text;
    }
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(between[i], QStringList{kButtonLines[i]}) << i;
  EXPECT_EQ(texts(Kind::Release), texts(Kind::Press));

  // The ending: everything enabled, no button left down, the character back where it stood.
  ASSERT_NE(viewers->window(), nullptr);
  EXPECT_TRUE(viewers->window()->isEnabled());
  EXPECT_TRUE(mainWindow->isEnabled());
  for (auto* b : viewers->window()->findChildren<QAbstractButton*>())
    EXPECT_FALSE(b->isDown()) << b->text().toStdString();
  EXPECT_EQ(characterAt(), QPoint(40, 30));
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
  EXPECT_EQ(settings.read(settings::ScheduleShowHelp), "1");
}

TEST_F(IntroductionTest, NoTalkEndsItAtTheNextWait) {
  onEvent = [&](const TourEvent& e) {
    if (e.text != "I will be constantly searching for upcoming reminders you have set.") return;
    host->QuietCharacter();
    RequestStop(state);
  };
  RunIntroduction(*context, OpenViewerOf(*viewers));
  EXPECT_EQ(spoken().last(), R"(\pit=50\And don't forget to pick up your prescription!)");
  EXPECT_FALSE(spoken().contains(
      R"(\spd=140\Chimewise also functions as a classic grandfather clock, but instead of chiming on the hour, I will pop-up and announce the time.)"));
  EXPECT_EQ(count(Kind::Wait), 2);  // the greeting's, and the one that ended it
  EXPECT_TRUE(mainWindow->isEnabled());
  EXPECT_EQ(viewers->window(), nullptr);
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

// Escape in the program's windows, or "Skip" in the balloon, ends it as Stop Talking does; the
// balloon offers "Skip" only while it runs.
TEST_F(IntroductionTest, EscapeOrSkipEndsItAtTheNextWait) {
  for (const bool escape : {true, false}) {
    events.clear();
    timer.calls.clear();
    bool offered = false;
    onEvent = [&](const TourEvent& e) {
      if (e.text != "I will be constantly searching for upcoming reminders you have set.") return;
      offered = host->character()->balloonAction() == "Skip";
      if (escape) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(mainWindow.get(), &press);  // disabled while the tour runs
      } else {
        emit host->character()->balloonActionChosen();
      }
    };
    RunIntroduction(*context, OpenViewerOf(*viewers));
    SCOPED_TRACE(escape ? "Escape" : "Skip");
    EXPECT_TRUE(offered);
    EXPECT_EQ(count(Kind::Skip), 1);
    EXPECT_EQ(spoken().last(), R"(\pit=50\And don't forget to pick up your prescription!)");
    EXPECT_EQ(count(Kind::Wait), 2);
    EXPECT_TRUE(mainWindow->isEnabled());
    EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
    EXPECT_EQ(host->character()->balloonAction(), "");
    EXPECT_FALSE(state.StopRequested);
  }
}

TEST_F(IntroductionTest, ClosingTheViewerEndsIt) {
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Press && e.text == "New") viewers->CloseViewer();
  };
  RunIntroduction(*context, OpenViewerOf(*viewers));
  EXPECT_EQ(texts(Kind::Press), (QStringList{"Read", "New"}));
  EXPECT_EQ(spoken().last(), kButtonLines[1]);
  EXPECT_TRUE(mainWindow->isEnabled());
  EXPECT_EQ(viewers->window(), nullptr);
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

TEST_F(IntroductionTest, TheFirstStartAfterInstallationIntroducesTheProgramOnce) {
  testsupport::Touch(state.AppFolder + "/chiminst.dll");
  int introductions = 0;
  const auto introduce = [&] {
    ++introductions;
    RunIntroduction(*context, OpenViewerOf(*viewers));
  };
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Move) RequestStop(state);  // a short introduction
  };
  EXPECT_TRUE(FirstRunMarker(state.AppFolder).has_value());
  EXPECT_TRUE(IntroduceOnFirstStart(state.AppFolder, introduce));
  EXPECT_EQ(introductions, 1);
  EXPECT_EQ(spoken().first(), "Hi, I am Hoot!");
  EXPECT_FALSE(FirstRunMarker(state.AppFolder).has_value());
  // The next start finds no marker.
  EXPECT_FALSE(IntroduceOnFirstStart(state.AppFolder, introduce));
  EXPECT_EQ(introductions, 1);
}

}  // namespace
