// The runner over a small table of steps and a dialog of three controls: each kind of step, the
// ways a tour ends early, and the ending that puts everything back.
#include "core/program_events.h"
#include "core/screen_placement.h"
#include "core/settings_keys.h"
#include "tours/tour_fixture.h"

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>

using namespace chimewise;
using Kind = TourEvent::Kind;

namespace {

class TourRunnerTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    dialog = std::make_unique<QDialog>();
    field = new QLineEdit(QStringLiteral("user"), dialog.get());
    field->setGeometry(10, 10, 120, 24);
    tabs = new QTabWidget(dialog.get());
    tabs->addTab(new QWidget, QStringLiteral("First"));
    tabs->addTab(new QWidget, QStringLiteral("Second"));
    tabs->setGeometry(10, 40, 200, 100);
    button = new QToolButton(dialog.get());
    button->setGeometry(150, 10, 40, 24);
    dialog->resize(260, 160);
    dialog->show();
    dialog->move(5, 5);
    dialogAt = dialog->pos();

    ScriptWriter w;
    w.beside(field);
    w.beside([]() -> QWidget* { return nullptr; });  // a control that is not there: passed over
    w.besideAtHeight([this]() -> QWidget* { return tabs; });
    w.play(QStringLiteral("Greet"));
    w.speak(QStringLiteral("One."));
    w.say(QStringLiteral("Two."));
    w.press([this]() -> QWidget* { return button; });
    w.popup();
    w.wait();
    w.release();
    w.closePopup();
    w.change(QStringLiteral("typed"), [this] { field->setText(QStringLiteral("typed")); });
    w.selectTab([this]() -> QWidget* { return tabs; }, 1);
    w.toLowerRightCorner();
    w.speak([this] { return field->text(); });  // made when it is said
    w.wait();
    script = std::move(w.script);
  }
  void TearDown() override {
    context.reset();
    dialog.reset();
    TourFixture::TearDown();
  }
  bool start() {
    return StartTour(*context, TourKind::Options, dialog.get(), script, [this] {
      ++cleanUps;
      field->setText(QStringLiteral("user"));
    });
  }
  // The character is back where it stood, or, where that covers the dialog, beside the dialog.
  void expectBackClearOfTheDialog() {
    settle();
    if (!dialog->isVisible()) {
      EXPECT_EQ(characterAt(), QPoint(40, 30));
      return;
    }
    const QRect drawn = host->character()->drawnGeometry();
    EXPECT_FALSE(drawn.intersects(dialog->frameGeometry())) << "the character stands on the toured window";
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(drawn));
  }
  // Everything is as it was before the tour.
  void expectRestored(bool contextGone = false) {
    EXPECT_EQ(cleanUps, 1);
    EXPECT_EQ(field->text(), "user");
    EXPECT_FALSE(button->isDown());
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_TRUE(timer.calls.empty()) << "the main timer runs on through a tour";
    EXPECT_TRUE(host->keepsClearOfDialogs());
    if (contextGone) return;
    EXPECT_EQ(dialog->pos(), dialogAt);
    EXPECT_FALSE(state.events->stopRequested());
    EXPECT_FALSE(context->busy);
    EXPECT_TRUE(host->character()->balloonActions().isEmpty());
    EXPECT_EQ(texts(Kind::Release), texts(Kind::Press));
  }

  std::unique_ptr<QDialog> dialog;
  QPointer<QLineEdit> field;
  QTabWidget* tabs = nullptr;
  QToolButton* button = nullptr;
  QPoint dialogAt;
  TourScript script;
  int cleanUps = 0;
};

TEST_F(TourRunnerTest, CarriesOutEachKindOfStepBesideItsControlAndEndsWithEverythingBack) {
  bool downWhileSaid = false;
  QRect fieldThen;
  onEvent = [&](const TourEvent& e) {
    EXPECT_FALSE(dialog->isEnabled());
    if (e.kind == Kind::Popup) downWhileSaid = button->isDown();
    if (e.kind == Kind::Move) {
      EXPECT_TRUE(testsupport::BesideAndOnScreen(e));
      if (fieldThen.isNull()) fieldThen = ScreenRect(field);
    }
  };
  ASSERT_TRUE(start());
  runToEnd();

  std::vector<Kind> kinds;
  for (const TourEvent& e : events) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Move, Kind::Show, Kind::Move, Kind::Move, Kind::Play, Kind::Speak,
                                      Kind::Say, Kind::Press, Kind::Popup, Kind::Wait, Kind::Release, Kind::Change,
                                      Kind::Tab, Kind::Move, Kind::Speak, Kind::Wait}));
  // The opening's move, less the one of the control that is not there.
  EXPECT_TRUE(testsupport::RanAsScripted(events, script, 0));
  EXPECT_EQ(texts(Kind::Speak), (QStringList{"One.", "Two.", "typed"}));
  EXPECT_EQ(events[2].target, fieldThen);
  EXPECT_EQ(events[13].at, LowerRightCorner(events[13].character, events[13].screen));
  EXPECT_TRUE(downWhileSaid);
  EXPECT_EQ(tabs->currentIndex(), 1);
  EXPECT_EQ(settings.read(settings::OptionsShowHelp), "0");
  expectRestored();
  expectBackClearOfTheDialog();
}

// The ways a tour ends early: each ends it at the wait in progress, and the steps after it are not
// carried out.
class TourRunnerStop : public TourRunnerTest, public ::testing::WithParamInterface<int> {};

TEST_P(TourRunnerStop, EndsAtTheWaitAndPutsEverythingBack) {
  bool stopped = false;
  onEvent = [&](const TourEvent& e) {
    if (stopped || e.kind != Kind::Popup) return;
    stopped = true;
    switch (GetParam()) {
      case 0:  // "NoTalk"
        host->QuietCharacter();
        state.events->RequestStop();
        break;
      case 1:  // "GoAway"
        state.events->EndSpeechWaits();
        host->hide();
        state.events->RequestStop();
        break;
      case 2: host->hide(); break;                  // the character hidden by itself
      case 3: dialog->reject(); break;              // the window closed under the tour
      case 4: state.events->BeginClosing(); break;  // Quit
      case 5: {                                     // Escape, in the disabled window
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &press);
        break;
      }
      case 6:  // "Skip" in the balloon
        EXPECT_EQ(host->character()->balloonActions(), QStringList{"Skip"});
        emit host->character()->balloonActionChosen(0);
        break;
    }
  };
  ASSERT_TRUE(start());
  runToEnd();
  ASSERT_TRUE(stopped);
  EXPECT_EQ(texts(Kind::Speak), (QStringList{"One.", "Two."}));
  EXPECT_EQ(count(Kind::Change), 0);
  EXPECT_EQ(count(Kind::Skip), GetParam() >= 5 ? 1 : 0);
  // Escape and Skip end the tour where it stands, without waiting; the others at the wait.
  ASSERT_EQ(count(Kind::Wait), GetParam() >= 5 ? 0 : 1);
  const auto wait = std::find_if(events.begin(), events.end(), [](const TourEvent& e) { return e.kind == Kind::Wait; });
  if (wait != events.end()) {
    EXPECT_FALSE(wait->goesOn);
  }
  expectRestored();
  if (GetParam() != 4) expectBackClearOfTheDialog();
}

std::string StopName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"NoTalk", "GoAway", "CharacterHidden", "WindowClosed", "Quit", "Escape", "Skip"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Stops, TourRunnerStop, ::testing::Range(0, 7), StopName);

// A reminder falls due in the middle of a tour: the tour stops talking and the reminder is heard in
// full. The introduction then asks whether to go on, with Yes and No in the balloon: Yes says the
// part it was in again and goes on, No ends it. Any other tour ends at once.
class TourInterrupt : public TourRunnerTest, public ::testing::WithParamInterface<int> {};

TEST_P(TourInterrupt, AReminderIsHeardAndTheIntroductionAsksToGoOn) {
  const bool introduction = GetParam() < 2;
  const bool yes = GetParam() == 0;
  ScriptWriter w;
  for (const char* part : {"A", "B", "C"}) {
    w.speak(QStringLiteral("%1 one.").arg(QLatin1String(part)));
    w.speak(QStringLiteral("%1 two.").arg(QLatin1String(part)));
    w.wait();
  }
  const QString reminder = QStringLiteral("Call the plumber.");
  QStringList heard;
  agent::Character* c = host->character();
  QObject::connect(c, &agent::Character::requestCompleted, [&](agent::RequestId, agent::RequestStatus status) {
    if (status == agent::RequestStatus::Complete && !c->balloonText().isEmpty()) heard << c->balloonText();
  });
  bool interrupted = false;
  QStringList heardWhenAsked;
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Speak && e.text == "B one." && !interrupted) {
      interrupted = true;
      // As the main timer's tick does: the tour stands aside, then the scan queues the reminder.
      QTimer::singleShot(0, [&] {
        InterruptTour(*context);
        host->SayText(reminder);
      });
    }
    if (e.kind == Kind::Speak && e.text == kGoOnQuestion) heardWhenAsked = heard;
  };
  ASSERT_TRUE(StartTour(*context, introduction ? TourKind::Introduction : TourKind::Options,
                        introduction ? nullptr : dialog.get(), w.script));
  if (introduction) {
    ASSERT_TRUE(testsupport::RunEventsUntil([&] { return !heardWhenAsked.isEmpty(); }, 30000));
    EXPECT_TRUE(heardWhenAsked.contains(reminder));
    EXPECT_EQ(c->balloonActions(), (QStringList{kYesChoice, kNoChoice}));
    EXPECT_TRUE(context->busy);
    emit c->balloonActionChosen(yes ? 0 : 1);
  }
  runToEnd();
  settle();
  EXPECT_TRUE(heard.contains(reminder));
  QStringList expected{"A one.", "A two.", "B one.", "B two."};
  if (introduction) expected << kGoOnQuestion;
  if (yes) expected << QStringList{"B one.", "B two.", "C one.", "C two."};
  EXPECT_EQ(texts(Kind::Speak), expected);
  EXPECT_TRUE(c->balloonActions().isEmpty());
  EXPECT_TRUE(dialog->isEnabled());
}

std::string InterruptName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"IntroductionGoesOn", "IntroductionEnds", "OtherTourEnds"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Reminder, TourInterrupt, ::testing::Range(0, 3), InterruptName);

// The program ending under a tour (its context goes) ends it there.
TEST_F(TourRunnerTest, AContextDestroyedUnderATourEndsIt) {
  ASSERT_TRUE(start());
  ASSERT_TRUE(button->isDown());
  context.reset();
  expectRestored(true);
}

}  // namespace

// The character goes back where it stood before the tour, unless it would stand on the toured
// window there: then the shortest step clears it, at 2x its size too.
TEST(PlaceAfterTour, BackWhereItStoodUnlessThatCoversTheToured) {
  const QRect screen(0, 0, 1280, 770), options(297, 200, 685, 381);
  const QMargins inset(24, 10, 24, 3);  // the window's transparent margins around the drawing
  const struct {
    QPoint before;
    QSize window;
    QRect toured;
    QPoint want;
  } cases[] = {
      {{1152, 642}, {128, 128}, options, {1152, 642}},  // in the corner, clear of it: stays
      {{576, 336}, {128, 128}, options, {576, 571}},    // in the middle: below the dialog is nearest
      {{300, 480}, {128, 128}, options, {300, 571}},    // over the Help button: below
      {{190, 200}, {128, 128}, options, {190, 200}},    // beside it, only the margin over it: stays
      {{560, 120}, {256, 256}, options, {958, 120}},    // 2x, no room above or below: right
      {{890, 120}, {256, 256}, options, {958, 120}},    // 2x, over the title bar and close button: right
      {{576, 336}, {128, 128}, QRect(), {576, 336}},    // the window is gone
  };
  for (const auto& c : cases) {
    const QRect window(c.before, c.window);
    const QRect drawn = window.marginsRemoved(inset);
    const QPoint at = PlaceAfterTour(c.before, window, drawn, c.toured, screen);
    EXPECT_EQ(at, c.want) << c.before.x() << "," << c.before.y();
    const QRect drawnThere = drawn.translated(at - c.before);
    EXPECT_TRUE(screen.contains(drawnThere) && !drawnThere.intersects(c.toured));
  }
}
