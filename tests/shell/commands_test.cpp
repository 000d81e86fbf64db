// The program's commands from the tray menu and the character's own menu, over the real silent
// character on a clock the test drives.
#include "shell/commands.h"
#include "character/character_host.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/program_events.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "shell/hidden_main_window.h"
#include "shell/tray_menu.h"
#include "support/access_keys.h"
#include "support/character_rig.h"
#include "support/event_wait.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>
#include <agent/clock.h>

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QString kLong = QStringLiteral("A long sentence that would take a good while to say out loud, word after word.");

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
    make(CommandFeatures{true, true});
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    QObject::connect(host.get(), &CharacterHost::commandChosen,
                     [this](const QString& name) { commands->RunCharacterCommand(name); });
  }
  void make(CommandFeatures features) {
    commands = std::make_unique<ProgramCommands>(state, settings, *host, routines, schedule, viewer, features,
                                                 [this] { log << "quit"; });
    host->commandAvailable = [this](const QString& name) {
      const auto command = CharacterCommandFor(name);
      return !command || commands->Available(*command);
    };
  }
  agent::Character& character() { return *host->character(); }
  // Chooses an entry of the character's own menu, as the user does.
  void chooseFromCharacterMenu(const QString& name) {
    character().showPopupMenu(0, 0);
    bool found = false;
    for (QAction* a : character().popupMenu()->actions())
      if (a->data().toString() == name) {
        ASSERT_TRUE(a->isEnabled()) << name.toStdString();
        a->trigger();
        found = true;
      }
    character().popupMenu()->close();
    ASSERT_TRUE(found) << name.toStdString();
  }
  QAction* trayAction(QMenu& menu, const QString& caption) {
    for (QAction* a : menu.actions())
      if (a->text() == caption) return a;
    ADD_FAILURE() << "no tray entry " << caption.toStdString();
    return nullptr;
  }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualClock agentClock;
  QTimer pump;
  QStringList log;
  struct LoggedRoutines final : RoutinesPort {
    QStringList& log;
    explicit LoggedRoutines(QStringList& l) : log(l) {}
    void SetUpDataEngine() override {}
    void CloseAllTables() override {}
    bool IndexNeedsRebuild() override { return false; }
    void RebuildDatabase() override {
      log << "rebuild";
      if (onRebuild) onRebuild();
    }
    void FindNextAlarm() override {}
    void ScanDueAlarms() override {}
    void AnnounceTime() override { log << "announceTime"; }
    void ScheduleNextAnnouncement(int) override {}
    void ScheduleNextMailCheck(int) override {}
    std::optional<QDateTime> NextAnnouncement() const override { return std::nullopt; }
    std::optional<QDateTime> NextAlarm() const override { return std::nullopt; }
    std::optional<QDateTime> NextMailCheck() const override { return std::nullopt; }
    void CheckMailAutomatically() override {}
    bool MailCheckRunning() const override { return false; }
    std::function<void()> onRebuild;
  } routines{log};
  // The dialog: notes what the program looked like while it was open.
  struct WatchedSchedule final : SchedulePort {
    std::function<void(std::optional<qint64>)> whileOpen;
    bool OpenSchedule(std::optional<qint64> recNo) override {
      if (whileOpen) whileOpen(recNo);
      return false;
    }
    void CloseSchedule() override {}
    bool ScheduleOpen() const override { return open; }
    bool open = false;
  } schedule;
  struct LoggedViewer final : NoWindows {
    QStringList& log;
    explicit LoggedViewer(QStringList& l) : log(l) {}
    void ShowViewer() override { log << "showViewer"; }
  } viewer{log};
  std::unique_ptr<CharacterHost> host;
  std::unique_ptr<ProgramCommands> commands;
};

}  // namespace

// Every entry has a letter of its own; separators only between groups.
TEST(TrayMenu, EveryEntryHasALetterOfItsOwnAndSeparatorsOnlyBetweenGroups) {
  QStringList captions, commandCaptions;
  for (const TrayEntry& e : TrayEntries()) {
    captions << (e.command ? QString::fromUtf8(e.caption) : "-");
    if (e.command) commandCaptions << captions.last();
  }
  EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckCaptionKeys(commandCaptions)));
  EXPECT_NE(captions.first(), "-");
  EXPECT_NE(captions.last(), "-");
  EXPECT_FALSE(captions.join('|').contains("-|-"));
}

TEST_F(CommandsTest, TrayMenuOffersWhatTheProgramHasAndDisablesTheRest) {
  for (const bool windows : {false, true}) {
    make(CommandFeatures{windows, windows});
    QMenu menu;
    FillTrayMenu(menu, *commands);
    ASSERT_EQ(menu.actions().size(), 20);
    ASSERT_NE(menu.defaultAction(), nullptr);
    EXPECT_EQ(menu.defaultAction()->text(), "&Add Reminder");
    QStringList enabled;
    for (QAction* a : menu.actions())
      if (a->isEnabled() && !a->isSeparator()) enabled << a->text();
    const QStringList always{"&Say Time", "R&ead Clipboard", "T&urn Snoring On/Off", "Optimi&ze Reminders",
                             "&Quit Olm Chimewise"};
    const QStringList withWindows = QStringList{"&Add Reminder", "&Reminder Viewer"} + always;
    EXPECT_EQ(enabled, windows ? withWindows : always);
  }
  // What is disabled cannot be run by any way in either.
  EXPECT_FALSE(commands->Run(Command::About));
  EXPECT_FALSE(commands->Run(Command::Listen));
  commands->RunCharacterCommand("Options");
  EXPECT_TRUE(log.isEmpty());
}

TEST_F(CommandsTest, AnAccessKeyChoosesItsEntryInTheOpenMenu) {
  QMenu menu;
  FillTrayMenu(menu, *commands);
  const bool before = host->soundEffectsOn();
  // Optimi&ze; T&urn Snoring ("Up&date Me" does not share it); &Reminder Viewer (not R&ead Clipboard).
  for (const Qt::Key key : {Qt::Key_Z, Qt::Key_U, Qt::Key_R}) {
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    QTest::keyClick(&menu, key);
  }
  EXPECT_NE(host->soundEffectsOn(), before);
  EXPECT_EQ(log, (QStringList{"rebuild", "showViewer"}));
}

TEST_F(CommandsTest, AddReminderWhileAReminderIsReadStopsTheReadingAndOpensTheDialog) {
  std::optional<qint64> duringRecord = 7;
  int queuedDuring = -1;
  bool waitEndedBeforeDialog = false;
  quint64 toggleAtWait = 0;
  schedule.whileOpen = [&](std::optional<qint64> record) {
    duringRecord = record;
    queuedDuring = character().queuedRequests();
    waitEndedBeforeDialog = state.events->speechWaitsEnded() != toggleAtWait;
  };
  host->SayText(kLong);
  QMenu menu;
  FillTrayMenu(menu, *commands);
  QTimer::singleShot(20, [&] { trayAction(menu, "&Add Reminder")->trigger(); });
  toggleAtWait = state.events->speechWaitsEnded();
  EXPECT_TRUE(testsupport::RunEventsUntil([&] { return state.events->speechWaitsEnded() != toggleAtWait; }, 10000));
  EXPECT_EQ(duringRecord, std::nullopt);  // a new reminder
  EXPECT_EQ(queuedDuring, 0);             // nothing left of the reading when the dialog is up
  EXPECT_TRUE(waitEndedBeforeDialog);

  // The dialog is already open (modal, editing another reminder): it is left alone.
  int opened = 0;
  schedule.whileOpen = [&](std::optional<qint64>) { ++opened; };
  schedule.open = true;
  commands->AddReminder();
  EXPECT_EQ(opened, 0);
}

TEST_F(CommandsTest, DoubleAndMiddleClicksOnTheTrayIconOpenTheViewerOrElseTheMenu) {
  struct Parts final : CharacterPort {
    bool LoadCharacter(const QString&, bool) override { return true; }
    void SayGoodbye() override {}
    void ReleaseCharacter(std::function<void()> then) override { then(); }
    void ShowCharacter() override {}
  } parts;
  settings.write(settings::CharacterName, "Hoot");
  settings.write(settings::LastOptimize, "2099-01-01 00:00:00");
  ManualClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 0)));
  for (const bool viewer : {true, false}) {
    make(CommandFeatures{false, viewer});
    HiddenMainWindow r(state, options, settings, prompter, clock, parts, routines, this->viewer);
    r.setCommands(commands.get());
    r.setTrayAvailability([] { return true; });
    ASSERT_TRUE(r.load({}));
    ASSERT_NE(r.trayIcon(), nullptr);
    ASSERT_NE(r.trayMenu(), nullptr);
    EXPECT_EQ(r.trayMenu()->actions().size(), 20);
    log.clear();
    emit r.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    emit r.trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    emit r.trayIcon()->activated(QSystemTrayIcon::Trigger);  // a single click does nothing
    EXPECT_EQ(log.size(), viewer ? 2 : 0) << viewer;
    EXPECT_EQ(log.count("showViewer"), log.size());
    EXPECT_EQ(r.trayMenu()->isVisible(), !viewer);  // without a viewer the clicks offer the menu
    r.trayMenu()->close();
    r.timer1().stop();
  }
}

TEST_F(CommandsTest, TurningSnoringTwiceReturnsToTheFirstStateAndStoresNothing) {
  const QByteArray stored = testsupport::Slurp(settings.filePath());
  const bool first = host->soundEffectsOn();
  QMenu menu;
  FillTrayMenu(menu, *commands);
  QAction* tray = trayAction(menu, "T&urn Snoring On/Off");
  // Both menus show the switch's state with a check mark, as it is when they open.
  const auto characterEntryChecked = [&] {
    character().showPopupMenu(0, 0);
    for (QAction* a : character().popupMenu()->actions())
      if (a->data().toString() == "NoSound") return a->isCheckable() && a->isChecked();
    ADD_FAILURE() << "no snoring entry";
    return false;
  };
  EXPECT_TRUE(tray->isCheckable());
  EXPECT_EQ(tray->isChecked(), first);
  EXPECT_EQ(characterEntryChecked(), first);
  tray->trigger();
  EXPECT_EQ(host->soundEffectsOn(), !first);
  emit menu.aboutToShow();
  EXPECT_EQ(tray->isChecked(), !first);
  EXPECT_EQ(characterEntryChecked(), !first);
  chooseFromCharacterMenu("NoSound");  // the character's entry is the same switch
  EXPECT_EQ(host->soundEffectsOn(), first);
  emit menu.aboutToShow();
  EXPECT_EQ(tray->isChecked(), first);
  EXPECT_EQ(testsupport::Slurp(settings.filePath()), stored);
}

TEST_F(CommandsTest, TheCharactersMenuRunsTheSameHandlersAsTheTray) {
  QMenu menu;
  FillTrayMenu(menu, *commands);
  for (const auto& [caption, name] :
       {std::pair{"&Say Time", "Time"}, std::pair{"Optimi&ze Reminders", "Optimize"},
        std::pair{"&Reminder Viewer", "View"}, std::pair{"&Quit Olm Chimewise", "Quit"}}) {
    log.clear();
    trayAction(menu, caption)->trigger();
    const QStringList fromTray = log;
    log.clear();
    chooseFromCharacterMenu(name);
    EXPECT_FALSE(fromTray.isEmpty()) << caption;
    EXPECT_EQ(log, fromTray) << name;
  }
  // Names are compared exactly: another letter case is no command.
  log.clear();
  commands->RunCharacterCommand("time");
  commands->RunCharacterCommand("FileSep1");
  EXPECT_TRUE(log.isEmpty());
}

TEST_F(CommandsTest, GoAwayHidesEndsTheSequenceAndKeepsTheCharacterHiddenNextTime) {
  settings.write(settings::ShowOnStart, "1");
  host->SayText(kLong);
  chooseFromCharacterMenu("GoAway");
  EXPECT_EQ(settings.read(settings::ShowOnStart), "0");
  QElapsedTimer t;
  t.start();
  while (character().isVisible() && t.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  EXPECT_FALSE(character().isVisible());

  // Already hidden: "0" is stored all the same.
  settings.write(settings::ShowOnStart, "1");
  commands->RunCharacterCommand("GoAway");
  EXPECT_EQ(settings.read(settings::ShowOnStart), "0");
  EXPECT_TRUE(state.events->stopRequested());
}

TEST_F(CommandsTest, ReadClipboardSpeaksItsTextAndWithoutTextSaysSoAfterWhatIsBeingSaid) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  ASSERT_NE(clipboard, nullptr);
  host->SayText(kLong);
  const int queued = character().queuedRequests();
  const auto toggle = state.events->speechWaitsEnded();
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(Qt::red);
  for (int i = 0; i < 2; ++i) {  // empty, then a picture: no text to read
    if (i == 0) clipboard->clear();
    if (i == 1) clipboard->setImage(picture);
    commands->Run(Command::ReadClipboard);
    EXPECT_EQ(character().queuedRequests(), queued + 1 + i) << i;
    EXPECT_EQ(state.events->speechWaitsEnded(), toggle) << i;
  }
  clipboard->setText("Buy milk \\pl=Wave\\ today");
  chooseFromCharacterMenu("Clipboard");
  EXPECT_NE(state.events->speechWaitsEnded(), toggle);
  EXPECT_EQ(character().queuedRequests(), 3);  // the long reading dropped for speak, wave, speak
}

// A later feature is offered only with its handler; a joke, the mail or an optimize quiets the
// character before it begins.
TEST_F(CommandsTest, ALaterFeatureIsOfferedOnlyWithItsHandlerAndJokeMailOrOptimizeQuietTheCharacterFirst) {
  CommandFeatures features{true, true};
  QStringList ran;
  int queuedAtStart = -1;
  features.tellJoke.run = [&] {
    ran << "joke";
    queuedAtStart = character().queuedRequests();
  };
  features.readMail.run = [&] {
    ran << "mail";
    queuedAtStart = character().queuedRequests();
  };
  features.about.run = [&] { ran << "about"; };
  bool installed = false;
  features.loadJokes = {[&] { ran << "jesterbox"; }, [&] { return installed; }};
  make(std::move(features));
  host->LoadCharacter("Hoot.ochar", false);  // its menu offers what can run when it is loaded

  QMenu menu;
  FillTrayMenu(menu, *commands);
  EXPECT_TRUE(trayAction(menu, "&Tell a Joke or Quote...")->isEnabled());
  EXPECT_TRUE(trayAction(menu, "Read &Mail")->isEnabled());
  EXPECT_FALSE(trayAction(menu, "&Options...")->isEnabled());
  EXPECT_FALSE(trayAction(menu, "&Jesterbox && Quotes...")->isEnabled());

  routines.onRebuild = [&] { queuedAtStart = character().queuedRequests(); };
  for (const char* name : {"Joke", "ReadMail", "Optimize"}) {
    host->SayText(kLong);
    ASSERT_GT(character().queuedRequests(), 0);
    chooseFromCharacterMenu(name);
    EXPECT_EQ(queuedAtStart, 0) << name;  // the reading in progress was dropped before it began
  }
  commands->RunCharacterCommand("Options");  // offered disabled: choosing it by voice does nothing
  commands->RunCharacterCommand("LoadJoke");
  trayAction(menu, "A&bout Olm Chimewise")->trigger();
  installed = true;  // the sibling program appears while the program runs
  FillTrayMenu(menu, *commands);
  EXPECT_TRUE(trayAction(menu, "&Jesterbox && Quotes...")->isEnabled());
  commands->RunCharacterCommand("LoadJoke");
  EXPECT_EQ(ran, (QStringList{"joke", "mail", "about", "jesterbox"}));
}
