// The hidden main window (start-up, tray, main timer, shutdown) with its parts logged; a command.
#include "shell/hidden_main_window.h"
#include "character/character_choice.h"
#include "character/character_host.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "shell/commands.h"
#include "support/character_rig.h"
#include "support/event_wait.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"
#include <QTimer>
#include <agent/character.h>
#include <agent/timer_clock.h>

#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

using namespace chimewise;

namespace {

// The dialog: notes what the program looked like while it was open.
struct WatchedSchedule final : SchedulePort {
  std::function<void(std::optional<qint64>)> whileOpen = [](std::optional<qint64>) {};
  bool OpenSchedule(std::optional<qint64> recNo, std::function<void(bool)>) override { return whileOpen(recNo), false; }
  void CloseSchedule() override {}
  bool ScheduleOpen() const override { return false; }
};

class HiddenMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    state = SharedState{};
    options = ProgramOptions{};
    state.AppFolder = dir.filePath("app");
    testsupport::Touch(dir.filePath("chars/" + kPreferredCharacter + kCharacterExtension));
    testsupport::Touch(state.AppFolder + "/data/CALENDAR.DBF");
    testsupport::Touch(state.AppFolder + "/data/calendar.cdx");
  }
  QStringList folders() const { return {dir.filePath("user-chars"), dir.filePath("chars")}; }
  // A start without the suggestion to optimize.
  void optimizedLately() { settings.write(settings::LastOptimize, FormatDateText(clock.now().addDays(3))); }
  std::unique_ptr<HiddenMainWindow> make() {
    auto r = std::make_unique<HiddenMainWindow>(state, options, settings, prompter, clock, parts, parts, windows);
    r->setTrayAvailability([this] { return trayAvailable; });
    return r;
  }
  std::unique_ptr<HiddenMainWindow> loaded() {
    auto r = make();
    EXPECT_TRUE(r->load(folders()));
    return r;
  }
  // Loaded afresh, the log cleared, its unloads counted in `unloaded`.
  std::unique_ptr<HiddenMainWindow> running() {
    state.events = std::make_unique<ProgramEvents>();
    optimizedLately();
    auto r = loaded();
    log.clear();
    unloaded = 0;
    QObject::connect(r.get(), &HiddenMainWindow::unloaded, [this] { ++unloaded; });
    return r;
  }
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  ManualClock clock{QDateTime(QDate(2026, 12, 6), QTime(10, 15, 45))};
  std::function<void()> onLoadCharacter;
  bool trayAvailable = true;
  QStringList log;
  int unloaded = 0;
  std::optional<QDateTime> nextAnnouncement;  // what the routines have scheduled
  std::optional<QDateTime> nextAlarm;
  bool goodbyePlaysOn = false;  // still playing when the release is asked for: the release ends later
  std::function<void()> afterGoodbye;
  // The parts the main window drives, logging each request.
  struct LoggedParts final : CharacterPort, RoutinesPort {
    HiddenMainWindowTest& t;
    explicit LoggedParts(HiddenMainWindowTest& test) : t(test) {}
    bool LoadCharacter(const QString& file, bool atStartUp) override {
      t.log << "loadCharacter " + file + (atStartUp ? " start" : "");
      if (t.onLoadCharacter) t.onLoadCharacter();
      return true;
    }
    void SayGoodbye() override {
      t.log << QString("goodbye after speech waits ended %1").arg(t.state.events->speechWaitsEnded());
      throw std::runtime_error("the character is gone");
    }
    void ReleaseCharacter(std::function<void()> then) override {
      t.log << "releaseCharacter";
      if (t.goodbyePlaysOn)
        t.afterGoodbye = std::move(then);
      else
        then();
    }
    void ShowCharacter() override { t.log << "showCharacter"; }
    void SetUpDataEngine() override {}
    void CloseAllTables() override { t.log << "closeAllTables"; }
    bool IndexNeedsRebuild() override { return !FindPathNoCase(t.state.AppFolder, "data/CALENDAR.CDX").has_value(); }
    void RebuildDatabase() override { t.log << "rebuild"; }
    void FindNextAlarm() override { t.log << "findNextAlarm"; }
    void ScanDueAlarms() override {
      t.log << "scanDueAlarms";
      t.nextAlarm.reset();
    }
    void AnnounceTime() override {
      t.log << "announceTime";
      t.nextAnnouncement.reset();
    }
    void ScheduleNextAnnouncement(int i) override { t.log << QString("scheduleNextAnnouncement %1").arg(i); }
    void ScheduleNextMailCheck(int i) override { t.log << QString("scheduleNextMailCheck %1").arg(i); }
    void CheckMailAutomatically() override { t.log << "checkMail"; }
    bool MailCheckRunning() const override { return false; }
    std::optional<QDateTime> NextAnnouncement() const override { return t.nextAnnouncement; }
    std::optional<QDateTime> NextAlarm() const override { return t.nextAlarm; }
    std::optional<QDateTime> NextMailCheck() const override { return std::nullopt; }
  } parts{*this};
  // Unloading the windows fails: the shutdown goes on regardless.
  struct ThrowingViewer final : NoWindows {
    void UnloadWindows() override { throw 42; }
  } windows;
};

}  // namespace

// Without a character it ends; quit while loading ends early; else the steps run and the timer starts.
TEST_F(HiddenMainWindowTest, LoadRunsItsStepsInOrderOrEndsEarly) {
  auto none = make();
  EXPECT_FALSE(none->load({dir.filePath("nothing-here")}));
  EXPECT_FALSE(none->timer1().isActive());
  EXPECT_TRUE(prompter.asked.size() == 1u && log.isEmpty());
  EXPECT_EQ(settings.read(settings::CharacterName), "");
  prompter.asked.clear();
  optimizedLately();
  auto r = loaded();
  EXPECT_EQ(settings.read(settings::CharacterName), kPreferredCharacter.toUpper());
  EXPECT_EQ(log, (QStringList{"loadCharacter " + kPreferredCharacter.toUpper() + kCharacterExtension + " start",
                              "findNextAlarm", "scheduleNextAnnouncement -1", "scheduleNextMailCheck -1"}));
  EXPECT_TRUE(prompter.asked.empty());
  EXPECT_TRUE(r->timer1().isActive());
  log.clear();
  onLoadCharacter = [this] { state.events->BeginClosing(); };
  auto quitting = make();
  EXPECT_FALSE(quitting->load(folders()));
  EXPECT_EQ(log.size(), 1);
  EXPECT_FALSE(quitting->timer1().isActive());
}

// Autostart often wins the race with the panel: a tray that comes later is used when it comes.
TEST_F(HiddenMainWindowTest, WithoutATrayTheCharacterIsShownAndALaterTrayUsed) {
  optimizedLately();
  trayAvailable = false;
  auto r = make();
  r->setTrayWatchInterval(5);
  ASSERT_TRUE(r->load(folders()));
  EXPECT_FALSE(r->inTray());
  EXPECT_EQ(log.value(1), "showCharacter");  // right after the character is loaded
  testsupport::RunEventsFor(60);
  EXPECT_FALSE(r->inTray());
  trayAvailable = true;
  testsupport::RunEventsFor(60);
  EXPECT_TRUE(r->inTray());
}

// The first start's introduction runs with the tray icon and the timer: only the start-up's questions
// wait for its end. A tick that finds a reminder due lets the tour stand aside before the scan. The
// tray's menu opens while the main window is out of use (a tour, an update check).
TEST_F(HiddenMainWindowTest, TheTrayAndTheTimerRunWhileTheIntroductionDoes) {
  trayAvailable = false;  // a notice to show, at the end of the introduction
  auto r = make();
  std::vector<std::function<void()>> afterTour;
  r->setAfterTours([&](std::function<void()> work) { afterTour.push_back(std::move(work)); });
  QObject::connect(r.get(), &HiddenMainWindow::aboutToScanAlarms, [this] { log << "tour stands aside"; });
  ASSERT_TRUE(r->load(folders()));
  EXPECT_TRUE(r->timer1().isActive());
  EXPECT_TRUE(log.contains("findNextAlarm"));
  EXPECT_TRUE(prompter.asked.empty());
  nextAlarm = clock.now().addSecs(-5);
  log.clear();
  r->tick();
  EXPECT_EQ(log, (QStringList{"tour stands aside", "scanDueAlarms"}));
  ASSERT_EQ(afterTour.size(), 1u);
  afterTour[0]();
  ASSERT_FALSE(prompter.asked.empty());
  trayAvailable = true;
  auto tray = loaded();
  tray->setEnabled(false);
  ASSERT_NE(tray->trayMenu(), nullptr);
  EXPECT_TRUE(tray->trayMenu()->isEnabled());
}

// A start-up question holds nothing back: the timer runs and a due reminder is looked for meanwhile.
TEST_F(HiddenMainWindowTest, NoReminderWaitsForAStartUpQuestion) {
  trayAvailable = false;  // the notice of the missing tray comes first
  auto r = make();
  bool timerRanDuringQuestion = false;
  bool scannedDuringQuestion = false;
  prompter.whileOpen = [&](const Prompt& p) {
    if (!p.yesNo) return;
    timerRanDuringQuestion = r->timer1().isActive();
    if (!timerRanDuringQuestion) return;
    nextAlarm = clock.now().addSecs(-5);
    r->timer1().setInterval(1);  // the question stays open while the timer ticks, however slowly
    scannedDuringQuestion = testsupport::RunEventsUntil([&] { return log.contains("scanDueAlarms"); }, 20000);
  };
  ASSERT_TRUE(r->load(folders()));
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(timerRanDuringQuestion);
  EXPECT_TRUE(scannedDuringQuestion);
}

// No puts the suggestion off exactly 7 days; Yes, a missing index or an unreadable date rebuild.
TEST_F(HiddenMainWindowTest, TheOptimizeSuggestionAndTheRebuilds) {
  prompter.answers = {false};
  auto first = make();
  ASSERT_TRUE(first->load(folders()));
  ASSERT_EQ(prompter.asked.size(), 1u);
  QCoreApplication::processEvents();  // the answer
  EXPECT_FALSE(log.contains("rebuild"));
  EXPECT_EQ(ParseDateText(settings.read(settings::LastOptimize)), clock.now().addDays(7));
  clock.advanceSecs(7 * 86400 - 1);
  state.events = std::make_unique<ProgramEvents>();
  ASSERT_TRUE(make()->load(folders()));
  EXPECT_EQ(prompter.asked.size(), 1u);
  clock.advanceSecs(1);
  state.events = std::make_unique<ProgramEvents>();
  log.clear();
  prompter.answers = {true};
  auto third = make();
  ASSERT_TRUE(third->load(folders()));
  EXPECT_EQ(prompter.asked.size(), 2u);
  QCoreApplication::processEvents();
  EXPECT_EQ(log.mid(4), (QStringList{"rebuild", "findNextAlarm"}));  // the next alarm looked for afresh
  log.clear();
  QFile::remove(state.AppFolder + "/data/calendar.cdx");
  auto unindexed = loaded();
  EXPECT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(log.contains("rebuild"));
  testsupport::Touch(state.AppFolder + "/data/calendar.cdx");
  settings.write(settings::LastOptimize, "not a date");  // counts as long past
  auto unreadable = loaded();
  EXPECT_EQ(prompter.asked.size(), 3u);
}

TEST_F(HiddenMainWindowTest, TickAnnouncesBeforeScanningAndHonoursClosing) {
  auto r = make();
  options.timeRangeOn = true;
  options.rangeStart = QTime(7, 0);
  options.rangeEnd = QTime(21, 0);
  nextAnnouncement = clock.now().addSecs(-30);
  nextAlarm = clock.now().addSecs(-5);
  r->tick();
  EXPECT_EQ(log, (QStringList{"announceTime", "scanDueAlarms"}));
  log.clear();
  r->tick();  // both guards are down now
  EXPECT_TRUE(log.isEmpty());
  nextAnnouncement = QDateTime(clock.now().date(), QTime(21, 1));
  clock.set(QDateTime(clock.now().date(), QTime(21, 2)));
  r->tick();
  EXPECT_EQ(log, (QStringList{"scheduleNextAnnouncement -1"}));
  log.clear();
  nextAlarm = clock.now().addSecs(-5);
  state.events->BeginClosing();
  r->tick();
  EXPECT_TRUE(log.isEmpty());
}

TEST_F(HiddenMainWindowTest, ShutdownRunsEveryStepInOrderWhateverFails) {
  auto r = running();
  const QByteArray settingsBefore = testsupport::Slurp(settings.filePath());
  r->quit();  // the goodbye and the windows' unload both throw
  EXPECT_TRUE(state.events->closing());
  EXPECT_FALSE(r->timer1().isActive());
  EXPECT_EQ(log, (QStringList{"goodbye after speech waits ended 1", "closeAllTables", "releaseCharacter"}));
  EXPECT_EQ(unloaded, 1);
  r->unload();  // a second request runs nothing again
  EXPECT_EQ(unloaded, 1);
  EXPECT_EQ(testsupport::Slurp(settings.filePath()), settingsBefore);  // nothing is stored on shutdown
  auto third = running();
  goodbyePlaysOn = true;
  third->quit();
  EXPECT_EQ(log.mid(1), (QStringList{"closeAllTables", "releaseCharacter"}));
  EXPECT_EQ(unloaded, 0);
  ASSERT_TRUE(afterGoodbye);
  afterGoodbye();
  EXPECT_EQ(unloaded, 1);
  afterGoodbye();  // a late second call changes nothing
  EXPECT_EQ(unloaded, 1);
}

// Add Reminder while a reminder is read ends the reading's wait before the dialog opens.
TEST_F(HiddenMainWindowTest, AddReminderWhileAReminderIsReadStopsTheReadingAndOpensTheDialog) {
  agent::ManualTimerClock agentClock;
  QTimer pump;
  WatchedSchedule schedule;
  NoWindows viewer;
  auto host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
  ProgramCommands commands(state, settings, *host, parts, schedule, viewer, CommandFeatures{true, true}, [] {});
  host->LoadCharacter("Hoot.ochar", false);
  ASSERT_NE(host->character(), nullptr);
  int queuedDuring = -1;
  bool waitEndedBeforeDialog = false;
  quint64 toggleAtWait = 0;
  schedule.whileOpen = [&](std::optional<qint64>) {
    queuedDuring = host->character()->queuedRequests();
    waitEndedBeforeDialog = state.events->speechWaitsEnded() != toggleAtWait;
  };
  host->SayText("A long sentence that would take a good while to say out loud, word after word.");
  QTimer::singleShot(20, [&] { commands.Run(Command::AddReminder); });
  toggleAtWait = state.events->speechWaitsEnded();
  EXPECT_TRUE(testsupport::RunEventsUntil([&] { return state.events->speechWaitsEnded() != toggleAtWait; }, 10000));
  EXPECT_EQ(queuedDuring, 0);
  EXPECT_TRUE(waitEndedBeforeDialog);
}

// The character's menu and the tray's menu run the same handlers: each entry of one does what the
// entry of the same caption in the other does, and what its caption says, and is offered as it is
// there (Quick Add, missing here, disabled in both).
TEST_F(HiddenMainWindowTest, TheCharactersMenuRunsTheTraysHandlers) {
  agent::ManualTimerClock agentClock;
  QTimer pump;
  WatchedSchedule schedule;
  schedule.whileOpen = [this](std::optional<qint64>) { log << "schedule"; };
  struct LoggedViewer final : NoWindows {
    QStringList& log;
    explicit LoggedViewer(QStringList& l) : log(l) {}
    void ShowViewer() override { log << "viewer"; }
  } viewer{log};
  auto host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
  CommandFeatures f{true, true};
  const auto feature = [this](const char* name) { return CommandFeature{[this, name] { log << name; }, {}}; };
  f.listen = feature("listen");
  f.loadJokes = feature("jesterbox");
  f.tellJoke = feature("joke");
  f.createMailcaster = feature("mailcaster");
  f.options = feature("options");
  f.update = feature("update");
  f.about = feature("about");
  f.readMail = feature("mail");
  ProgramCommands commands(state, settings, *host, parts, schedule, viewer, f, [this] { log << "quit"; });
  QObject::connect(host.get(), &CharacterHost::commandChosen,
                   [&commands](const QString& name) { commands.RunCharacterCommand(name); });
  host->setCommands(&commands);
  optimizedLately();
  auto r = make();
  r->setCommands(&commands);
  ASSERT_TRUE(r->load(folders()));
  host->LoadCharacter("Hoot.ochar", false);
  agent::Character* c = host->character();
  ASSERT_NE(c, nullptr);
  c->showPopupMenu(0, 0);
  const auto caption = [](QString text) { return text.remove('&').remove("...").trimmed(); };
  const std::map<QString, QString> does{{"Add Reminder", "schedule"},
                                        {"Reminder Viewer", "viewer"},
                                        {"Listen", "listen"},
                                        {"Jesterbox  Quotes", "jesterbox"},
                                        {"Tell a Joke or Quote", "joke"},
                                        {"Create Mailcaster", "mailcaster"},
                                        {"Say Time", "announceTime"},
                                        {"Read Mail", "mail"},
                                        {"Options", "options"},
                                        {"Optimize Reminders", "rebuild"},
                                        {"Update Me", "update"},
                                        {"About Olm Chimewise", "about"},
                                        {"Quit Olm Chimewise", "quit"}};
  int compared = 0;
  for (QAction* tray : r->trayMenu()->actions()) {
    if (tray->isSeparator()) continue;
    QAction* own = nullptr;
    for (QAction* a : c->popupMenu()->actions())
      if (!a->isSeparator() && caption(a->text()) == caption(tray->text())) own = a;
    if (!own) continue;
    const auto effect = [this](QAction* a) {
      log.clear();
      a->trigger();
      return log.join(',');
    };
    const QString name = caption(tray->text());
    EXPECT_EQ(own->isEnabled(), tray->isEnabled()) << name.toStdString();
    const QString byTray = effect(tray);
    EXPECT_EQ(effect(own), byTray) << name.toStdString();
    if (does.count(name)) {
      EXPECT_TRUE(byTray.contains(does.at(name))) << name.toStdString() << ": " << byTray.toStdString();
    }
    ++compared;
  }
  EXPECT_GE(compared, 14);
  c->popupMenu()->close();
}
