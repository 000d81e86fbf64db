// The program's character over the real character platform, silent, on a clock the test drives.
#include "character/character_host.h"
#include "character/character_tables.h"
#include "character/wave_file.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/event_wait.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/agent_service.h>
#include <agent/character.h>
#include <agent/character_file.h>
#include <agent/timer_clock.h>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <utility>
#include <vector>

using namespace chimewise;

namespace {

const QString kAssets = QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets");

class CharacterHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    state = SharedState{};
    state.AppFolder = dir.filePath("app");
    QDir().mkpath(state.AppFolder);
    QDir().mkpath(chars);
    // Time runs twenty times faster than the wall clock while the test waits.
    pump.setInterval(1);
    QObject::connect(&pump, &QTimer::timeout, [this] { clock.advance(20); });
    pump.start();
  }
  std::unique_ptr<CharacterHost> make(int waitLimitMs = 120000) {
    CharacterHostOptions o;
    o.characterFolders = {chars, kAssets + "/characters"};
    o.windowsFolder = dir.filePath("base/");
    o.silentAudio = true;
    o.clock = &clock;
    o.speechWaitLimitMs = waitLimitMs;
    return std::make_unique<CharacterHost>(state, settings, prompter, o);
  }
  // `host` with `file` loaded (not at start-up), which must succeed.
  agent::Character* loaded(CharacterHost& host, const char* file = "Hoot.ochar") {
    host.LoadCharacter(file, false);
    EXPECT_NE(host.character(), nullptr);
    return host.character();
  }
  ::testing::AssertionResult told(const QString& title, const QString& text) {
    if (prompter.asked.empty()) return ::testing::AssertionFailure() << "nothing told";
    const auto& last = prompter.asked.back();
    if (last.title == title && last.text == text) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << last.title.toStdString() << ": " << last.text.toStdString();
  }

  QTemporaryDir dir;
  const QString chars = dir.filePath("base/msagent/chars");
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualTimerClock clock;
  QTimer pump;
};

// The longest a goodbye may hold the release: a hidden character's appearance, its wave and its
// words at the character's rate, and a second.
qint64 GoodbyeBoundMs(const agent::Character& c) {
  const agent::Animation* show = c.isVisible() ? nullptr : c.definition().findAnimation("Show");
  const agent::Animation* wave = c.definition().findAnimation("Wave");
  return (show ? show->durationMs() : 0) + (wave ? wave->durationMs() : 0) +
         kGoodbye.split(' ').size() * 60000 / c.definition().voice.rate + 1000;
}

}  // namespace

TEST_F(CharacterHostTest, MissingOrDamagedCharactersAreToldAndAtStartUpAnInstalledOneStandsIn) {
  auto host = make();
  host->LoadCharacter("Nobody.ochar", true);
  EXPECT_TRUE(told("Missing Character", "Could not find Character Nobody.ochar in " + chars));
  EXPECT_EQ(host->character(), nullptr);

  testsupport::Touch(chars + "/Broken.ochar", "{ \"name\": ");
  host->LoadCharacter("broken.OCHAR", false);
  const QString fault = agent::loadCharacterFile(chars + "/Broken.ochar").error();
  EXPECT_TRUE(told("Damaged Character", fault));
  EXPECT_EQ(host->character(), nullptr);
  // At start-up an installed one stands in, the preferred first, and the user is not held up.
  host->LoadCharacter("broken.OCHAR", true);
  ASSERT_NE(host->character(), nullptr);
  EXPECT_EQ(host->character()->name(), "Hoot");
  EXPECT_TRUE(told("Damaged Character", fault + "\n\nOlm Chimewise uses Hoot for now."));
}

// The first start after installation (its marker in the program's folder) shows the character, then
// starts the introduction, once: the marker goes.
TEST_F(CharacterHostTest, TheFirstStartAfterInstallationStartsTheIntroductionOnce) {
  auto host = make();
  std::vector<bool> shownWhenDue;
  QObject::connect(host.get(), &CharacterHost::introductionDue, [&] { shownWhenDue.push_back(host->visible()); });
  testsupport::Touch(state.AppFolder + "/CHIMINST.DLL");
  host->LoadCharacter("Hoot.ochar", false);  // a load of the running program
  host->LoadCharacter("Hoot.ochar", true);
  host->LoadCharacter("Hoot.ochar", true);
  EXPECT_EQ(shownWhenDue, std::vector<bool>{true});
}

// The settings are applied at load; the commands follow what can run and the character now loaded.
TEST_F(CharacterHostTest, LoadAppliesTheSettingsAndTheCommandsFollowTheCharacterLoadedLast) {
  settings.write(settings::CharacterSize, "5");
  settings.write(settings::ShowOnStart, "1");
  settings.write(settings::NoSoundEffects, "1");
  auto host = make();
  struct : CharacterCommandsPort {
    bool CommandAvailable(const QString& name) const override { return name != "Listen" && name != "Options"; }
  } available;
  host->setCommands(&available);
  QStringList chosen;
  QObject::connect(host.get(), &CharacterHost::commandChosen, [&](const QString& n) { chosen << n; });
  host->LoadCharacter("hoot.ochar", true);  // any letter case
  agent::Character* c = host->character();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(QSize(c->width(), c->height()), ScaledCharacterSize(5, c->originalWidth(), c->originalHeight()));
  EXPECT_FALSE(c->soundEffectsOn());
  EXPECT_TRUE(c->isVisible());
  c = loaded(*host, "Bolt.ochar");
  ASSERT_NE(c, nullptr);
  for (const agent::Command& cmd : c->commands().items())
    EXPECT_EQ(cmd.enabled, cmd.name != "Listen" && cmd.name != "Options" && !cmd.name.startsWith("FileSep"))
        << cmd.name.toStdString();
  c->showPopupMenu(0, 0);
  ASSERT_NE(c->popupMenu(), nullptr);
  // The table's rules divide the menu with lines, never with rows of their own.
  QStringList rows;
  for (QAction* a : c->popupMenu()->actions()) rows << (a->isSeparator() ? "-" : a->data().toString());
  EXPECT_EQ(rows.mid(0, 4), (QStringList{"NoTalk", "Listen", "-", "LoadJoke"}));
  EXPECT_EQ(rows.count("-"), 3);
  for (QAction* a : c->popupMenu()->actions())
    if (a->data().toString() == "Time") a->trigger();
  EXPECT_EQ(chosen, QStringList{"Time"});
  c->popupMenu()->close();
}

// Reminder sounds and their pauses, on the character's clock moved by hand: the words said after
// a sound wait in the character's queue while the caller goes on (no event loop of its own); a
// stop, the end of the speech waits or the program closing ends a pause at once.
TEST_F(CharacterHostTest, TheWordsAfterASoundStartOnceItsPauseIsOverOrEndedAtOnce) {
  pump.stop();
  auto host = make();
  agent::Character* c = loaded(*host);
  ASSERT_NE(c, nullptr);
  host->show();
  clock.advance(10000);
  ASSERT_EQ(c->queuedRequests(), 0);
  int started = 0;
  QObject::connect(c, &agent::Character::requestStarted, [&](agent::RequestId) { ++started; });
  const auto settle = [&] {
    EXPECT_TRUE(testsupport::RunEventsUntil([&] { return clock.advance(20), c->queuedRequests() == 0; }));
    started = 0;
  };
  // The next request starts when the clock has moved on by `ms`, not a millisecond sooner.
  const auto nextStartIn = [&](qint64 ms) {
    const int before = started;
    clock.advance(ms - 1);
    EXPECT_EQ(started, before) << "the words did not wait for the pause";
    clock.advance(1);
    EXPECT_EQ(started, before + 1);
  };
  for (int none : {0, 9, -1}) host->PlaySoundEffect(none);  // no sound, no pause
  EXPECT_EQ(started, 0);
  bool eventsRan = false;
  QTimer::singleShot(0, [&] { eventsRan = true; });
  host->PlaySoundEffect(6);  // no sound folder here: still the 1.5 s pause
  host->PlaySoundEffect(7);  // and 3.5 s for the second
  host->SayText("Two reminders.");
  EXPECT_FALSE(eventsRan) << "the pause ran an event loop of its own";
  EXPECT_EQ(started, 1);  // the first pause; the rest waits behind it
  nextStartIn(1500);
  nextStartIn(3500);
  settle();

  // The words behind the pause start without the clock moving on.
  for (auto end : {&ProgramEvents::EndSpeechWaits, &ProgramEvents::RequestStop}) {
    host->PlaySoundEffect(7);
    host->SayText("Said at once.");
    (state.events.get()->*end)();
    clock.advance(0);
    EXPECT_EQ(started, 2);
    settle();
    state.events->ClearStop();
  }
  host->PlaySoundEffect(7);
  host->SayText("Never said.");
  host->StopAll();
  EXPECT_EQ(c->queuedRequests(), 0);
  started = 0;
  // Shutdown, on a program events object made after the host: the pause ends, and from then on
  // a sound makes none.
  state.events = std::make_unique<ProgramEvents>();
  host->PlaySoundEffect(7);
  host->SayText("Closing now.");
  state.events->BeginClosing();
  clock.advance(0);
  EXPECT_EQ(started, 2);
  settle();
  host->PlaySoundEffect(7);
  host->SayText("Goodbye.");
  EXPECT_EQ(started, 1);  // the words, at once
}

// A telling is heard when said to its end, dealt with when the user stops it, and unheard when
// another feature drops it or the character goes; without a character nothing is on its way.
TEST_F(CharacterHostTest, ATellingIsHeardSilencedOrUnheard) {
  auto host = make();
  ASSERT_NE(loaded(*host), nullptr);
  std::vector<SpeakerPort::Hearing> outcomes;
  const auto tell = [&](const QString& text) {
    host->BeginTelling();
    host->SayText(text);
    return host->EndTelling([&](SpeakerPort::Hearing h) { outcomes.push_back(h); });
  };
  ASSERT_TRUE(tell("Said to its end."));
  ASSERT_TRUE(testsupport::RunEventsUntil([&] { return outcomes.size() == 1; }));
  ASSERT_TRUE(tell("Dropped for another feature's speech."));
  host->StopAll();
  ASSERT_TRUE(tell("Stopped by the user."));
  host->QuietCharacter(true);
  ASSERT_TRUE(tell("Gone with the character."));
  host->LoadCharacter("Hoot.ochar", false);
  ASSERT_TRUE(testsupport::RunEventsUntil([&] { return outcomes.size() == 4; }));
  using H = SpeakerPort::Hearing;
  EXPECT_EQ(outcomes, (std::vector<H>{H::Heard, H::Unheard, H::Silenced, H::Unheard}));
  host->ReleaseCharacter();
  EXPECT_FALSE(tell("Nobody to say it."));
}

TEST(WaveFile, DamagedFilesAreRefusedWithAReason) {
  WaveClip clip;
  EXPECT_EQ(ParseWave("RIFF\x10\0\0\0WAVEfmt ", &clip).kind, ProblemKind::FileFault);
  QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0", 20);
  QByteArray fmt("\x01\0\x01\0\x22\x56\0\0\0\0\0\0\0\0\x10\0", 16);  // PCM, mono, 22050 Hz, 16 bits
  QByteArray data("data\xff\xff\xff\x7f\x01\x02\x03\x04", 12);       // claims 2 GB, holds 4 bytes
  const Problem cut = ParseWave(header + fmt + data, &clip);
  ASSERT_TRUE(cut.ok()) << Describe(cut).text.toStdString();
  EXPECT_EQ(clip.pcm.size(), 4);
  fmt[0] = 3;  // float samples
  EXPECT_FALSE(ParseWave(header + fmt + data, &clip).ok());

  // Only a regular file is read: a pipe under a sound's name would hold the reader.
  QTemporaryDir dir;
  const QString pipe = dir.filePath("pipe.wav");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  EXPECT_TRUE(Describe(ReadWaveFile(pipe, &clip)).text.endsWith("not a regular file"));
}

TEST_F(CharacterHostTest, GoodbyeIsHeardToItsLastWordBeforeTheCharacterGoes) {
  pump.stop();
  {
    auto host = make();
    QPointer<agent::Character> c = loaded(*host);
    ASSERT_NE(c, nullptr);
    agent::RequestId speech = 0;
    bool complete = false;
    QString shown;
    QObject::connect(c, &agent::Character::speechStarted, [&](agent::RequestId id) { speech = id; });
    QObject::connect(c, &agent::Character::requestCompleted,
                     [&](agent::RequestId id, agent::RequestStatus status, const QString&) {
                       if (id != speech) return;
                       complete = status == agent::RequestStatus::Complete;
                       shown = c->balloonText();
                     });
    const qint64 bound = GoodbyeBoundMs(*c), from = clock.nowMs();
    host->SayGoodbye();
    bool released = false;
    host->ReleaseCharacter([&] { released = true; });
    // The release waits for the goodbye without a loop of its own: it returns while it plays.
    EXPECT_FALSE(released);
    EXPECT_NE(host->character(), nullptr);
    // The clock stands still while the speech thread makes the words.
    EXPECT_TRUE(testsupport::RunEventsUntil([&] {
      if (c && c->speechSynthesized()) clock.advance(10);
      return released;
    }));
    EXPECT_LT(clock.nowMs() - from, bound - 250);  // released by the end of the words, not the bound
    EXPECT_TRUE(complete);                         // the output played it to its end, not cut
    EXPECT_EQ(shown, kGoodbye);
    EXPECT_EQ(host->character(), nullptr);
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
  {
    // A goodbye that never ends (a wait queued behind it): the release comes at the bound, not sooner.
    auto host = make();
    agent::Character* c = loaded(*host);
    ASSERT_NE(c, nullptr);
    const qint64 bound = GoodbyeBoundMs(*c);
    host->SayGoodbye();
    c->wait(600000);
    int released = 0;
    host->ReleaseCharacter([&] { ++released; });
    host->ReleaseCharacter([&] { ++released; });  // a second request ends with the first
    clock.advance(bound - 1);
    EXPECT_EQ(released, 0);
    clock.advance(1);
    EXPECT_EQ(released, 2);
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
  {
    // Without a goodbye the release is immediate, speech or not.
    auto host = make();
    loaded(*host);
    host->SayText("A long sentence that would take a good while to say out loud.");
    bool released = false;
    host->ReleaseCharacter([&] { released = true; });
    EXPECT_TRUE(released);
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
}
