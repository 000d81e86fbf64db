// The Schedule Activity tour over the real dialog and the program's (fast, silent) character.
#include "tours/schedule_tour.h"
#include "alarms/alarm_service.h"
#include "core/program_events.h"
#include "core/settings_keys.h"
#include "data/calendar.h"
#include "schedule/save_event.h"
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_windows.h"
#include "support/files.h"
#include "tours/tour_fixture.h"
#include "tours/tour_snapshot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>

#include <xbase/engine.h>

using namespace chimewise;
using testsupport::InOrder;
using Kind = TourEvent::Kind;

namespace {

// The user's own entry, which the tour must leave as it found it.
struct Entry {
  QDate remindDate{2026, 12, 7};
  QTime remindTime{8, 5};
  QDate activityDate{2026, 12, 9};
  QTime activityTime{17, 45};
  bool sayDate = true;
  bool sayTime = false;
  QString activity = QStringLiteral("Dentist");
  QString memo = QStringLiteral("Bring the insurance card.");
  QString type = QStringLiteral("Personal");
  int sound = 2;
  int countdown = -1;  // list position; -1 unchecked
};

Entry Read(const ScheduleDialog& d) {
  Entry e;
  e.remindDate = d.remindDate->date();
  e.remindTime = d.remindTime->time();
  e.activityDate = d.activityDate->date();
  e.activityTime = d.activityTime->time();
  e.sayDate = d.sayDate->isChecked();
  e.sayTime = d.sayTime->isChecked();
  e.activity = d.activity->text();
  e.memo = d.memo->toPlainText();
  e.type = d.type->currentText();
  e.sound = d.audio->currentIndex();
  e.countdown = d.countdown->isChecked() ? d.countdownList->currentIndex() : -1;
  return e;
}

void ExpectSame(const Entry& a, const Entry& b) {
  EXPECT_EQ(a.remindDate, b.remindDate);
  EXPECT_EQ(a.remindTime, b.remindTime);
  EXPECT_EQ(a.activityDate, b.activityDate);
  EXPECT_EQ(a.activityTime, b.activityTime);
  EXPECT_EQ(a.sayDate, b.sayDate);
  EXPECT_EQ(a.sayTime, b.sayTime);
  EXPECT_EQ(a.activity, b.activity);
  EXPECT_EQ(a.memo, b.memo);
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.sound, b.sound);
  EXPECT_EQ(a.countdown, b.countdown);
}

class ScheduleTourTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    dialog = std::make_unique<ScheduleDialog>(clock, state.TimeFormat);
    EventInput in;
    in.remindDate = user.remindDate;
    in.remindTime = user.remindTime;
    in.activityDate = user.activityDate;
    in.activityTime = user.activityTime;
    in.sayDate = user.sayDate;
    in.sayTime = user.sayTime;
    in.activity = user.activity;
    in.memo = user.memo;
    in.event = user.type;
    in.sound = user.sound;
    dialog->fill(in);
    dialog->show();
    dialog->move(5, 5);
  }
  void TearDown() override {
    dialog.reset();
    TourFixture::TearDown();
  }
  Entry user;
  std::unique_ptr<ScheduleDialog> dialog;
};

TEST_F(ScheduleTourTest, SpeaksTheScriptFillsInTheExampleAndPutsTheUserEntryBack) {
  const QPoint dialogAt = dialog->pos();
  bool disabledThroughout = true;
  Entry atTheCountdownExample;
  onEvent = [&](const TourEvent& e) {
    disabledThroughout = disabledThroughout && !dialog->isEnabled();
    if (e.kind == Kind::Say && e.text.startsWith("Reminder, you have an activity scheduled for"))
      atTheCountdownExample = Read(*dialog);
  };
  RunScheduleTour(*dialog, *context);

  const QStringList lines = spoken();
  EXPECT_EQ(lines.size(), 79);
  EXPECT_EQ(lines.first(), R"(This is my Schedule, \map="ac-tivity"="Activity"\ Dialog Window.)");
  EXPECT_EQ(lines.last(), "No one before you believed in me. I like you!");
  // The lines built from the example's dates and field values (the script's own words are the
  // script's); those read from the fields go through SayText.
  EXPECT_TRUE(InOrder(
      lines, {"On December 7th, 2026 at 10:30 am I would say.", "and you want me to remind you about it at 10:30.",
              "Once this dialog was saved I would watch your computer clock and on December 7th, "
              "2026 at 10:30 am I would say.",
              "At 2:35 I would say."}));
  const QString reminderAt = "Reminder, you have an activity scheduled at 3:30 pm";
  EXPECT_EQ(texts(Kind::Say),
            (QStringList{"Reminder, you have an activity scheduled for Wednesday December 9th, 2026 at 11:30 am",
                         "Have lunch with staff", QString::fromUtf8(kScheduleTourMemoSpoken), reminderAt,
                         "Pick up kids at school in 60 minutes", reminderAt, "Pick up kids at school in 55 minutes"}));

  // The demo typing, each after the character has finished its gesture.
  EXPECT_EQ(texts(Kind::Change), (QStringList{"Say date and Say time cleared", "10:30 am", "Have lunch with staff",
                                              QString::fromUtf8(kScheduleTourMemo), "11:30 am", "Horn", "None",
                                              "Say date and Say time ticked", "Pick up kids at school", "3:30 pm",
                                              "2:30 pm", "5 minutes", "2:35 pm"}));
  for (size_t i = 1; i < events.size(); ++i)
    if (events[i].kind == Kind::Change && events[i].text != "3:30 pm" &&
        events[i].text != "Say date and Say time cleared") {
      EXPECT_EQ(events[i - 1].kind, Kind::Wait) << events[i].text.toStdString();
    }
  EXPECT_EQ(count(Kind::Wait), 16);
  EXPECT_TRUE(InOrder(texts(Kind::Play), {"GestureLeft", "DoMagic2", "Uncertain", "DoMagic2", "Pleased"}));

  // The fields held the example while the character read it out.
  EXPECT_EQ(atTheCountdownExample.activity, "Have lunch with staff");
  EXPECT_EQ(atTheCountdownExample.remindTime, QTime(10, 30));
  EXPECT_EQ(atTheCountdownExample.activityTime, QTime(11, 30));
  EXPECT_TRUE(atTheCountdownExample.sayDate && atTheCountdownExample.sayTime);

  // The ending.
  ExpectSame(Read(*dialog), user);
  EXPECT_TRUE(disabledThroughout);
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_EQ(dialog->pos(), dialogAt);
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
  EXPECT_EQ(settings.read(settings::ScheduleShowHelp), "0");
  EXPECT_FALSE(context->busy);
  settle();
  EXPECT_EQ(characterAt(), QPoint(40, 30));
}

TEST_F(ScheduleTourTest, TheCharacterStandsBesideEachControlItTalksAbout) {
  const QRect area = dialog->screen()->availableGeometry();
  // Where each control was on the screen when the character went to it.
  std::vector<std::pair<QRect, QString>> moves;  // the move's target, the next line spoken
  QRect remindTimeThen, activityThen, windowThen;
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Move) {
      moves.push_back({e.target, {}});
      remindTimeThen = ScreenRect(dialog->remindTime);
      activityThen = ScreenRect(dialog->activity);
      windowThen = dialog->frameGeometry();
      EXPECT_TRUE(testsupport::BesideAndOnScreen(e));
      EXPECT_EQ(e.screen, area);
    }
    if ((e.kind == Kind::Speak || e.kind == Kind::Say) && !moves.empty() && moves.back().second.isEmpty()) {
      moves.back().second = e.text;
      if (e.text == R"(In the \emp\At field you enter the reminder time.)") {
        EXPECT_EQ(moves.back().first, remindTimeThen);
      }
      if (e.text.startsWith(R"(The \emp\\map="ac-tivity"="Activity"\ Text Box)")) {
        EXPECT_EQ(moves.back().first, activityThen);
      }
      if (e.text == "This is my Schedule, \\map=\"ac-tivity\"=\"Activity\"\\ Dialog Window.") {
        EXPECT_EQ(moves.back().first, windowThen);
        // The dialog stands in the middle of the screen.
        EXPECT_LE(std::abs(windowThen.center().x() - area.center().x()), 1);
      }
    }
  };
  RunScheduleTour(*dialog, *context);
  // Every beside step found its control.
  EXPECT_EQ(moves.size(), 17u);
}

// The ways a tour is stopped: each ends it at its next wait, the example never reaches the
// dialog, and the user's entry, the dialog, the timer and the character are as before.
class ScheduleTourStop : public ScheduleTourTest, public ::testing::WithParamInterface<int> {};

TEST_P(ScheduleTourStop, EndsAtTheNextWaitAndRestoresEverything) {
  const QString stopAt = "Let's change the time to 10:30 since that is when we want to be reminded of this meeting.";
  bool stopped = false;
  onEvent = [&](const TourEvent& e) {
    if (stopped || e.text != stopAt) return;
    stopped = true;
    switch (GetParam()) {
      case 0:  // "NoTalk"
        host->QuietCharacter();
        RequestStop(state);
        break;
      case 1:  // "GoAway"
        InvertSpeechToggle(state);
        host->hide();
        RequestStop(state);
        break;
      case 2:  // the character hidden by itself
        host->hide();
        break;
      case 3:  // the dialog closed under the tour
        dialog->reject();
        break;
      case 4:  // Quit
        BeginClosing(state);
        break;
    }
  };
  RunScheduleTour(*dialog, *context);
  ASSERT_TRUE(stopped);
  const QStringList lines = spoken();
  EXPECT_EQ(lines.last(), stopAt);
  EXPECT_EQ(count(Kind::Wait), 1);
  EXPECT_EQ(texts(Kind::Change), QStringList{"Say date and Say time cleared"});
  ExpectSame(Read(*dialog), user);
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
  EXPECT_FALSE(state.StopRequested);
  EXPECT_FALSE(context->busy);
  EXPECT_TRUE(host->keepsClearOfDialogs());
  if (GetParam() != 4) {
    // Nothing the tour had queued is said any more; the character goes back where it stood.
    settle();
    EXPECT_EQ(characterAt(), QPoint(40, 30));
  }
}

std::string StopName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"NoTalk", "GoAway", "CharacterHidden", "DialogClosed", "Quit"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Stops, ScheduleTourStop, ::testing::Range(0, 5), StopName);

TEST_F(ScheduleTourTest, SoundEffectsAndAStoppedTimerAreLeftAsFoundAndOneTourRunsAtATime) {
  host->SetSoundEffects(false);
  timer.running = false;  // a tour started inside the alarm scan's wait
  bool effectsDuring = false;
  bool keptClearDuring = true;
  int nestedEvents = -1;
  onEvent = [&](const TourEvent& e) {
    if (e.kind != Kind::Show) return;
    effectsDuring = host->soundEffectsOn();
    // The tour places the character beside the controls of the dialog, in front of it.
    keptClearDuring = host->keepsClearOfDialogs();
    // A second tour asked for meanwhile does not start.
    const size_t before = events.size();
    RunScheduleTour(*dialog, *context);
    nestedEvents = static_cast<int>(events.size() - before);
    RequestStop(state);
  };
  RunScheduleTour(*dialog, *context);
  EXPECT_TRUE(effectsDuring);
  EXPECT_FALSE(keptClearDuring);
  EXPECT_TRUE(host->keepsClearOfDialogs());
  EXPECT_FALSE(host->soundEffectsOn());
  EXPECT_EQ(nestedEvents, 0);
  EXPECT_EQ(timer.calls, std::vector<bool>{false});
  EXPECT_TRUE(dialog->isEnabled());
}

}  // namespace

namespace {

// Pictures of the character beside the control it explains. With CHIMEWISE_TOUR_SNAPSHOTS naming a
// folder, a picture of every wait of the tour is written there too (for looking at the placements).
TEST_F(ScheduleTourTest, SnapshotsShowTheCharacterBesideTheControl) {
  const QString folder = qEnvironmentVariable("CHIMEWISE_TOUR_SNAPSHOTS");
  QImage atTheTime, windowAlone;
  QRect timeThen, characterThen, insideThen;
  int waits = 0;
  onEvent = [&](const TourEvent& e) {
    if (e.kind != Kind::Wait) return;
    ++waits;
    const QImage shot = TourSnapshot(*dialog, *host->character());
    if (!folder.isEmpty()) shot.save(QStringLiteral("%1/schedule-%2.png").arg(folder).arg(waits, 2, 10, QChar('0')));
    if (waits == 1) {
      atTheTime = shot;
      windowAlone = dialog->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
      timeThen = ScreenRect(dialog->remindTime);
      insideThen = QRect(dialog->mapToGlobal(QPoint(0, 0)), dialog->size());
      characterThen = QRect(characterAt(), QSize(host->character()->width(), host->character()->height()));
      if (folder.isEmpty()) RequestStop(state);
    }
  };
  RunScheduleTour(*dialog, *context);
  ASSERT_FALSE(atTheTime.isNull());
  const QRect all = insideThen.united(characterThen);
  EXPECT_EQ(atTheTime.size(), all.size());
  EXPECT_FALSE(characterThen.intersects(timeThen));
  // The character is drawn where it stands: part of its box differs from the window alone.
  const QRect box = characterThen.translated(-all.topLeft());
  const QPoint window = insideThen.topLeft() - all.topLeft();
  const QRgb background = QColor(235, 235, 235).rgb();
  int drawn = 0;
  for (int y = box.top(); y <= box.bottom(); y += 2)
    for (int x = box.left(); x <= box.right(); x += 2) {
      const QPoint inWindow = QPoint(x, y) - window;
      const QRgb alone = windowAlone.rect().contains(inWindow) ? windowAlone.pixel(inWindow) : background;
      if (atTheTime.pixel(x, y) != alone) ++drawn;
    }
  EXPECT_GT(drawn, 50);
}

}  // namespace

namespace {

// The tour as the program starts it: through the Schedule Activity dialog's windows, on the
// dialog's first activation and from its Help button.
class ScheduleWindowsTourTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    testsupport::CopyEmptyCalendar(state.AppFolder);
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, clock, engine, *host, timer, noWindows);
    saver = std::make_unique<EventSaver>(state, clock, engine, *host, *alarms, noWindows);
    windows = std::make_unique<ScheduleWindows>(state, settings, prompter, clock, engine, *saver, *alarms, *host,
                                                noWindows, [this](const QString& path) { helpOpened << path; });
    windows->setTour([this](ScheduleDialog& d) { RunScheduleTour(d, *context); });
    // Each tour is cut short at its first wait, and the dialog is closed after it.
    onEvent = [this](const TourEvent& e) {
      if (e.kind == Kind::Show) RequestStop(state);
      if (e.kind == Kind::Wait && dialog) QTimer::singleShot(0, dialog, [this] { dialog->reject(); });
    };
  }
  void TearDown() override {
    windows.reset();
    saver.reset();
    alarms.reset();
    EXPECT_TRUE(engine.CloseAll().ok());
    TourFixture::TearDown();
  }
  // Opens a new reminder's dialog; `shown` runs once it is shown and active. A dialog still open
  // once everything has settled is cancelled.
  void open(const std::function<void(ScheduleDialog&)>& shown = {}) {
    windows->onShown = [&](ScheduleDialog& d) {
      dialog = &d;
      EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
      if (shown) shown(d);
      QTimer::singleShot(0, &d, [&d] {
        if (d.isVisible()) d.reject();
      });
    };
    windows->OpenSchedule(-1);
  }

  xbase::Engine engine;
  NoWindows noWindows;
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
  std::unique_ptr<ScheduleWindows> windows;
  QPointer<ScheduleDialog> dialog;
  QStringList helpOpened;
};

TEST_F(ScheduleWindowsTourTest, TheFirstActivationStartsTheTourOnceAndHelpOffersItAgain) {
  open();
  EXPECT_EQ(count(Kind::Show), 1);
  EXPECT_EQ(settings.read(settings::ScheduleShowHelp), "0");
  EXPECT_FALSE(state.ScheduleOpen);

  // The next dialog does not start it by itself.
  open();
  EXPECT_EQ(count(Kind::Show), 1);

  // Help offers it: Yes runs it, No opens the help page.
  prompter.answers = {true, false};
  open([](ScheduleDialog& d) { d.helpButton->click(); });
  EXPECT_EQ(count(Kind::Show), 2);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "Would you like a tutorial on how to use this dialog?");
  EXPECT_EQ(prompter.asked[0].title, "Tutorial Help");
  EXPECT_TRUE(helpOpened.isEmpty());
  open([](ScheduleDialog& d) { d.helpButton->click(); });
  EXPECT_EQ(count(Kind::Show), 2);
  EXPECT_EQ(helpOpened.size(), 1);
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true, false, true}));
}

}  // namespace
