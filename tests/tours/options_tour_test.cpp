// The Options tour over a stand-in dialog that has the Options dialog's parts under their names.
#include "tours/options_tour.h"
#include "core/settings_keys.h"
#include "options/options_windows.h"
#include "support/options_dialog_double.h"
#include "tours/tour_fixture.h"
#include <QTest>

using namespace chimewise;
using testsupport::InOrder;
using Kind = TourEvent::Kind;

namespace {

class OptionsTourTest : public testsupport::TourFixture {
 protected:
  void SetUp() override {
    TourFixture::SetUp();
    dialog = std::make_unique<testsupport::OptionsDialogDouble>();
    dialog->show();
  }
  void TearDown() override {
    dialog.reset();
    TourFixture::TearDown();
  }
  // The event just before the first spoken line `line`.
  const TourEvent* before(const QString& line) const {
    for (size_t i = 1; i < events.size(); ++i)
      if (events[i].kind == Kind::Speak && events[i].text == line) return &events[i - 1];
    return nullptr;
  }
  std::unique_ptr<testsupport::OptionsDialogDouble> dialog;
};

TEST_F(OptionsTourTest, TheWholeTourTakesEachSectionOnItsOwnTab) {
  QStringList tabShownAtFirstLine;
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Speak && e.text.startsWith("This is my "))
      tabShownAtFirstLine << dialog->tabs->tabText(dialog->tabs->currentIndex());
    if (e.kind != Kind::Show) {
      EXPECT_FALSE(dialog->isEnabled());
    }
  };
  RunOptionsTour(*dialog, 0, *context);

  const QStringList lines = spoken();
  EXPECT_EQ(lines.size(), 41);
  EXPECT_EQ(lines.first(), "Welcome to my Chimewise Options Dialog Window.");
  EXPECT_TRUE(InOrder(
      lines,
      {"This is where you can set your personal preferences, affecting my personality, and what, when, and where I "
       "say things.",
       "This is my Character Tab.",
       "When you click on the down arrow beside the Character Name I will give you a list of all the characters you "
       "have installed.",
       "There are many characters you can download from the Internet and use.", "This is my Time Options Tab.",
       R"(Check announce the time, to turn \emp\on this function.)", "The last 3 check boxes tell me to;",
       // at 3 in the afternoon of Friday 4 December 2026
       "Include the time of day such as Good Afternoon", "Include the day of Week such as Friday",
       "and include the date such as December 4th, 2026",
       "There are enough options here, that I think you will find, at least one combination, that works for you!",
       "This is my Reminder Options Tab.", "The options you set here effect all alarms.",
       R"(If you want me to read the Memo section of the reminder.. check "Character should always read the Memos".)",
       "If you get tired of things like my snoring check the turn off sound effects option.",
       "This is my Email Options Tab.", "The options you set here effect how I read your new email from your mailbox.",
       "You must set up your mailbox to use this option.",
       "If you would like me to check your mailbox for new mail automatically, check this box."}));
  for (const QString& line : lines) {
    EXPECT_FALSE(line.contains("Outlook")) << line.toStdString();
    EXPECT_FALSE(line.contains("http") || line.contains("www")) << line.toStdString();
  }
  EXPECT_EQ(texts(Kind::Tab), (QStringList{"Characters", "Time Announcements", "Reminder Options", "Email Options"}));
  EXPECT_EQ(tabShownAtFirstLine,
            (QStringList{"Characters", "Time Announcements", "Reminder Options", "Email Options"}));
  EXPECT_EQ(count(Kind::Wait), 5);  // one closes each section
  EXPECT_EQ(settings.read(settings::OptionsShowHelp), "0");
  EXPECT_TRUE(dialog->isEnabled());
  EXPECT_EQ(timer.calls, (std::vector<bool>{false, true}));
}

TEST_F(OptionsTourTest, HelpOnATabGivesThatSectionAloneAndAMissingControlCostsOnlyItsMove) {
  EXPECT_EQ(OptionsSectionOfTab("Characters"), 1);
  EXPECT_EQ(OptionsSectionOfTab("Time Announcements"), 2);
  EXPECT_EQ(OptionsSectionOfTab("Reminder Options"), 3);
  EXPECT_EQ(OptionsSectionOfTab("Email Options"), 4);
  EXPECT_EQ(OptionsSectionOfTab("Something else"), 0);
  EXPECT_EQ(OptionsSectionsFor(7), OptionsSections{});

  delete dialog->findChild<QWidget*>("cmbGestures");
  dialog->tabs->setCurrentIndex(1);
  RunOptionsTour(*dialog, OptionsSectionOfTab(dialog->tabs->tabText(dialog->tabs->currentIndex())), *context);

  const QStringList lines = spoken();
  EXPECT_EQ(lines.first(), "This is my Time Options Tab.");
  EXPECT_EQ(lines.size(), 12);
  EXPECT_EQ(lines.last(),
            "There are enough options here, that I think you will find, at least one combination, that works for you!");
  EXPECT_EQ(texts(Kind::Tab), QStringList{"Time Announcements"});
  EXPECT_EQ(count(Kind::Wait), 1);
  EXPECT_EQ(settings.read(settings::OptionsShowHelp), "0");
  // The gesture list is gone: its line is said where the character stood; the next control's
  // move is made.
  const TourEvent* gesture =
      before("The box next to it allows you to set a gesture I will make when I tell you the time.");
  ASSERT_NE(gesture, nullptr);
  EXPECT_NE(gesture->kind, Kind::Move);
  const TourEvent* phrase =
      before("If you would like me to say something before I recite the time you can type it here.");
  ASSERT_NE(phrase, nullptr);
  EXPECT_EQ(phrase->kind, Kind::Move);
}

TEST_F(OptionsTourTest, BesideTheWindowAtTheHeightOfEachControl) {
  std::vector<std::pair<TourEvent, QRect>> moves;  // each move with the window's frame then
  onEvent = [&](const TourEvent& e) {
    if (e.kind == Kind::Move) moves.push_back({e, dialog->frameGeometry()});
  };
  RunOptionsTour(*dialog, 0, *context);
  EXPECT_GE(moves.size(), 15u);
  for (const auto& [e, window] : moves) {
    EXPECT_TRUE(testsupport::BesideAndOnScreen(e));
    // Where the screen leaves room, the character stands left of the window, its middle level
    // with the control's (unless that would take it off the screen's top or bottom).
    if (e.target == window || window.left() - e.screen.left() < e.character.width()) continue;
    EXPECT_EQ(e.at.x() + e.character.width(), window.left());
    if (e.at.y() > e.screen.top() && e.at.y() + e.character.height() < e.screen.top() + e.screen.height()) {
      EXPECT_LE(std::abs(e.at.y() + e.character.height() / 2 - e.target.center().y()), 1);
    }
  }
}

}  // namespace

namespace {

// The tour finds the real dialog's parts under the names the stand-in has: every move that points
// at a control over the stand-in points at one over the real dialog too, on the same tab.
TEST_F(OptionsTourTest, OverTheRealDialogEveryMoveFindsItsControl) {
  const auto pointedMoves = [this] {
    int n = 0;
    for (const TourEvent& e : events)
      if (e.kind == Kind::Move && !e.target.isNull()) ++n;
    return n;
  };
  RunOptionsTour(*dialog, 0, *context);
  const auto overStandIn = pointedMoves();
  ASSERT_GT(overStandIn, 10);
  dialog.reset();
  events.clear();
  settings.write(settings::OptionsShowHelp, "0");  // the dialog's own first-activation tour stays out of it

  OptionsWindows windows(OptionsContext{state, settings, prompter, clock, *host, {}, {}});
  windows.ShowOptions();
  ASSERT_NE(windows.dialog(), nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.dialog()));
  events.clear();
  RunOptionsTour(*windows.dialog(), 0, *context);
  EXPECT_EQ(pointedMoves(), overStandIn);
  EXPECT_EQ(texts(Kind::Tab), (QStringList{"Characters", "Time Announcements", "Reminder Options", "Email Options"}));
  EXPECT_TRUE(windows.dialog()->isEnabled());
}

}  // namespace
