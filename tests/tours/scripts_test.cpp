// The three tours' scripts over the real windows and the program's (fast, silent) character: every
// line of a script is said in its order, every control it names is found in the window, the
// character stands beside each, and the window is as the user left it afterwards.
#include "alarms/alarm_service.h"
#include "core/settings_keys.h"
#include "data/calendar.h"
#include "options/options_windows.h"
#include "schedule/schedule_dialog.h"
#include "support/files.h"
#include "tours/introduction_tour.h"
#include "tours/options_tour.h"
#include "tours/schedule_tour.h"
#include "tours/tour_fixture.h"
#include "viewer/viewer_windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>

#include <xbase/engine.h>

using namespace chimewise;
using Kind = TourEvent::Kind;

namespace {

class NoSchedule final : public SchedulePort {
 public:
  bool OpenSchedule(std::optional<qint64>, std::function<void(bool)>) override { return false; }
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
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, *host, timer);
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
  void checkEachStep(QWidget* window) {
    onEvent = [=](const TourEvent& e) {
      EXPECT_FALSE(window->isEnabled());
      if (e.kind == Kind::Move) {
        EXPECT_TRUE(testsupport::BesideAndOnScreen(e));
      }
    };
  }

  xbase::Engine engine;
  NoSchedule schedule;
  std::unique_ptr<QWidget> mainWindow;  // the program's hidden main window
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<ViewerWindows> viewers;
};

TEST_F(ScriptTest, TheIntroductionStandsBesideEveryPartOfTheViewer) {
  checkEachStep(mainWindow.get());
  RunIntroduction(*context, OpenViewerOf(*viewers));
  runToEnd();
  EXPECT_TRUE(testsupport::RanAsScripted(events, IntroductionScript(QStringLiteral("Hoot"), {}, *context)));
  ASSERT_NE(viewers->window(), nullptr);
  EXPECT_TRUE(viewers->window()->isEnabled());
  EXPECT_TRUE(mainWindow->isEnabled());
}

// What the introduction says of the programs beside this one only while each is installed.
TEST_F(ScriptTest, TheIntroductionSpeaksOfTheProgramsBesideItOnlyWhenTheyAreThere) {
  QStringList installed;
  context->installed = [&installed](const QString& program) { return installed.contains(program); };
  const auto said = [this] {
    QStringList lines;
    for (const TourStep& s : IntroductionScript(QStringLiteral("Hoot"), {}, *context))
      if (testsupport::IsLine(s.kind)) lines << s.text();
    return lines.join('\n');
  };
  const QString without = said();
  EXPECT_FALSE(without.contains("Jesterbox") || without.contains("companion program") ||
               without.contains("Mailcaster"));
  installed = QStringList{"JESTBOX"};
  EXPECT_TRUE(said().contains("Jesterbox") && said().contains("companion program") && !said().contains("Mailcaster"));
  installed = QStringList{"OLMEMAIL"};
  EXPECT_TRUE(said().contains("Mailcaster") && !said().contains("Jesterbox"));
}

TEST_F(ScriptTest, TheScheduleTourStandsBesideEveryControlAndPutsTheEntryBack) {
  ScheduleDialog dialog(clock, options.timeFormat);
  EventInput in;
  in.remindDate = QDate(2026, 12, 7);
  in.remindTime = QTime(8, 5);
  in.activity = QStringLiteral("Dentist");
  in.memo = QStringLiteral("Bring the insurance card.");
  in.sound = 2;
  dialog.fill(in);
  dialog.show();
  // Every field the tour fills in, as it stands.
  const auto entry = [&dialog] {
    return QStringList{dialog.remindDate->date().toString(),
                       dialog.remindTime->time().toString(),
                       dialog.activityDate->date().toString(),
                       dialog.activityTime->time().toString(),
                       QString::number(dialog.sayDate->isChecked()),
                       QString::number(dialog.sayTime->isChecked()),
                       dialog.activity->text(),
                       dialog.memo->toPlainText(),
                       dialog.type->currentText(),
                       QString::number(dialog.audio->currentIndex()),
                       QString::number(dialog.countdown->isChecked()),
                       QString::number(dialog.countdownList->currentIndex())};
  };
  const QStringList user = entry();
  checkEachStep(&dialog);
  RunScheduleTour(dialog, *context);
  runToEnd();
  EXPECT_TRUE(testsupport::RanAsScripted(events, ScheduleTourScript(dialog, options), 1));
  EXPECT_GT(count(Kind::Change), 5);
  EXPECT_EQ(entry(), user);
  EXPECT_TRUE(dialog.isEnabled());
}

TEST_F(ScriptTest, TheOptionsTourStandsBesideEveryControlOnEachTab) {
  settings.write(settings::OptionsShowHelp, "0");  // the dialog's own first-activation tour stays out of it
  OptionsWindows windows(OptionsContext{state, options, settings, prompter, clock, *host, {}});
  windows.ShowOptions();
  ASSERT_NE(windows.dialog(), nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.dialog()));
  OptionsDialog& dialog = *windows.dialog();
  checkEachStep(&dialog);
  RunOptionsTour(dialog, 0, *context);
  runToEnd();
  EXPECT_TRUE(testsupport::RanAsScripted(events, OptionsTourScript(dialog, OptionsSectionsFor(0), clock), 1));
  EXPECT_EQ(count(Kind::Tab), 4);
  EXPECT_TRUE(dialog.isEnabled());
  context.reset();
}

}  // namespace
