// The program's character over the real character platform, with silent audio on a clock the
// test drives.
#include "character/character_host.h"
#include "character/character_choice.h"
#include "character/character_tables.h"
#include "character/wave_file.h"
#include "core/app_paths.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/event_wait.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/agent_service.h>
#include <agent/character.h>
#include <agent/character_file.h>
#include <agent/clock.h>

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

using namespace chimewise;

namespace {

const QString kAssets = QStringLiteral(CHIMEWISE_SOURCE_DIR "/assets");
const QString kLong = QStringLiteral("A long sentence that would take a good while to say out loud.");

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
  // realTime: the host keeps its own system clock, so the character plays at its true pace.
  std::unique_ptr<CharacterHost> make(int waitLimitMs = 120000, bool realTime = false, const char* base = "base") {
    CharacterHostOptions o;
    o.characterFolders = {chars, kAssets + "/characters"};
    o.windowsFolder = dir.filePath(base) + "/";
    o.silentAudio = true;
    o.clock = realTime ? nullptr : &clock;
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
  agent::ManualClock clock;
  QTimer pump;
};

// CPU time this process has used, all threads together.
qint64 ProcessCpuMs() { return static_cast<qint64>(std::clock()) * 1000 / CLOCKS_PER_SEC; }

// The longest a goodbye may hold the release: a hidden character's appearance, its wave and its
// words at the character's rate, and a second.
qint64 GoodbyeBoundMs(const agent::Character& c) {
  const agent::Animation* show = c.isVisible() ? nullptr : c.definition().findAnimation("Show");
  const agent::Animation* wave = c.definition().findAnimation("Wave");
  return (show ? show->durationMs() : 0) + (wave ? wave->durationMs() : 0) +
         kGoodbye.split(' ').size() * 60000 / c.definition().voice.rate + 1000;
}

}  // namespace

TEST(CharacterStore, ProgramAndPlatformAgreeOnTheFileEnding) {
  EXPECT_EQ(kCharacterExtension, QString::fromLatin1(agent::kCharacterFileSuffix));
  // The preferred character ships, is found the way the program looks for it (any letter case)
  // and loads on the platform.
  const auto preferred = FindPathNoCase(kAssets + "/characters", kPreferredCharacter + kCharacterExtension);
  ASSERT_TRUE(preferred);
  const agent::LoadResult loaded = agent::loadCharacterFile(*preferred);
  EXPECT_TRUE(loaded.character) << loaded.error.toStdString();
}

TEST_F(CharacterHostTest, MissingFoldersAndFilesAreToldAndNothingLoads) {
  make(120000, false, "nowhere")->LoadCharacter("Hoot.ochar", true);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(told("Missing Data Directory", "Could not find Data Directory " + dir.filePath("nowhere") + "/"));
  EXPECT_EQ(prompter.asked[0].icon, PromptIcon::Information);
  QDir(chars).removeRecursively();
  auto host = make();
  host->LoadCharacter("Hoot.ochar", true);
  EXPECT_TRUE(told("Missing Character Directory", "Could not find Character Directory " + chars));
  QDir().mkpath(chars);
  host->LoadCharacter("Nobody.ochar", true);
  EXPECT_TRUE(told("Missing Character", "Could not find Character Nobody.ochar in " + chars));
  EXPECT_EQ(host->character(), nullptr);

  QFile bad(chars + "/Broken.ochar");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("{ \"name\": ");
  bad.close();
  host->LoadCharacter("broken.OCHAR", false);
  EXPECT_TRUE(prompter.asked.back().text.contains("Broken.ochar")) << prompter.asked.back().text.toStdString();
  EXPECT_EQ(host->character(), nullptr);
  // At start-up a damaged (or refused) character gives way to an installed one, the preferred
  // first, and the user is told without being held up.
  host->LoadCharacter("broken.OCHAR", true);
  ASSERT_NE(host->character(), nullptr);
  EXPECT_EQ(host->character()->name(), "Hoot");
  const auto& notice = prompter.asked.back();
  EXPECT_TRUE(notice.notice);
  EXPECT_EQ(notice.title, "Damaged Character");
  EXPECT_TRUE(notice.text.contains("Broken.ochar") && notice.text.endsWith("uses Hoot for now."))
      << notice.text.toStdString();
}

TEST_F(CharacterHostTest, LoadSizesRegistersCommandsAndGreets) {
  settings.write(settings::CharacterSize, "5");
  settings.write(settings::ShowOnStart, "1");
  settings.write(settings::NoSoundEffects, "1");
  auto host = make();
  host->LoadCharacter("hoot.ochar", true);  // any letter case
  agent::Character* c = host->character();
  ASSERT_NE(c, nullptr) << (prompter.asked.empty() ? "" : prompter.asked.back().text.toStdString());
  EXPECT_EQ(c->width(), c->originalWidth());  // "Skinny"
  EXPECT_EQ(c->height(), qRound(c->originalHeight() * 1.4));
  EXPECT_FALSE(c->soundEffectsOn());
  ASSERT_EQ(c->commands().count(), 20);
  EXPECT_EQ(c->commands().items()[0].name, "NoTalk");
  EXPECT_FALSE(c->commands().items()[2].enabled);
  EXPECT_TRUE(c->isVisible());

  // The greeting is the first thing said, and it is said to its last word.
  agent::RequestId speech = 0;
  QString said;
  QObject::connect(c, &agent::Character::speechStarted, [&](agent::RequestId id) { speech = speech ? speech : id; });
  QObject::connect(c, &agent::Character::requestCompleted,
                   [&](agent::RequestId id, agent::RequestStatus status, const QString&) {
                     if (id == speech && status == agent::RequestStatus::Complete) said = c->balloonText();
                   });
  EXPECT_TRUE(testsupport::RunEventsUntil([&] { return c->queuedRequests() == 0; }, 10000));
  EXPECT_NE(speech, 0);
  EXPECT_EQ(said, kReadyGreeting);

  settings.write(settings::CharacterSize, "-10");
  host->SetCharacterSize(-10);
  EXPECT_EQ(c->height(), c->originalHeight());
}

TEST_F(CharacterHostTest, FirstRunIntroducesInsteadOfGreeting) {
  QFile marker(state.AppFolder + "/chiminst.dll");
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  settings.write(settings::ShowOnStart, "1");
  auto host = make();
  int introductions = 0;
  host->introductionTour = [&] {
    ++introductions;
    EXPECT_TRUE(host->visible());
  };
  host->LoadCharacter("Hoot.ochar", true);
  EXPECT_EQ(introductions, 1);
  EXPECT_FALSE(QFile::exists(marker.fileName()));
  ASSERT_NE(host->character(), nullptr);
  EXPECT_TRUE(host->character()->soundEffectsOn());
  // From the Options dialog: not centred, not introduced, still the full menu.
  agent::Character* bolt = loaded(*host, "Bolt.ochar");
  ASSERT_NE(bolt, nullptr);
  EXPECT_EQ(introductions, 1);
  EXPECT_EQ(bolt->commands().count(), 20);
  EXPECT_FALSE(bolt->isVisible());
}

TEST_F(CharacterHostTest, CommandsThatCannotRunAreDisabledAndChoicesReachTheHostAfterAReload) {
  auto host = make();
  host->commandAvailable = [](const QString& name) { return name != "Listen" && name != "Options"; };
  QStringList chosen;
  QList<Qt::MouseButton> clicks, drags;
  QObject::connect(host.get(), &CharacterHost::commandChosen, [&](const QString& n) { chosen << n; });
  QObject::connect(host.get(), &CharacterHost::clicked, [&](Qt::MouseButton b) { clicks << b; });
  QObject::connect(host.get(), &CharacterHost::dragCompleted, [&](Qt::MouseButton b) { drags << b; });
  loaded(*host);
  agent::Character* c = loaded(*host, "Bolt.ochar");  // the events follow the character now loaded
  ASSERT_NE(c, nullptr);
  for (const agent::Command& cmd : c->commands().items())
    EXPECT_EQ(cmd.enabled, cmd.name != "Listen" && cmd.name != "Options" && !cmd.name.startsWith("FileSep"))
        << cmd.name.toStdString();
  c->showPopupMenu(0, 0);
  ASSERT_NE(c->popupMenu(), nullptr);
  for (QAction* a : c->popupMenu()->actions())
    if (a->data().toString() == "Time") a->trigger();
  emit c->click(Qt::LeftButton, Qt::NoModifier, 1, 2);
  emit c->dragComplete(Qt::RightButton, Qt::NoModifier, 1, 2);
  EXPECT_EQ(chosen, QStringList{"Time"});
  EXPECT_EQ(clicks, QList<Qt::MouseButton>{Qt::LeftButton});
  EXPECT_EQ(drags, QList<Qt::MouseButton>{Qt::RightButton});
  c->popupMenu()->close();
}

// Bookmark 200 in the words asks the user to go on.
TEST_F(CharacterHostTest, BookmarkTwoHundredAsksTheUserToGoOn) {
  auto host = make(30000);
  agent::Character* c = loaded(*host);
  ASSERT_NE(c, nullptr);
  host->SayText("Read this \\Mrk=200\\ and that.");
  EXPECT_TRUE(testsupport::RunEventsUntil([&] { return c->queuedRequests() == 0; }, 10000));
  EXPECT_TRUE(told("Click to Continue", "Please Press OK to Continue"));
}

TEST_F(CharacterHostTest, SayTextShowsQueuesAndRestoresSoundEffects) {
  auto host = make();
  agent::Character* c = loaded(*host);
  ASSERT_NE(c, nullptr);
  c->setSoundEffectsOn(false);
  host->SayText("   ");
  EXPECT_FALSE(c->isVisible());
  EXPECT_EQ(c->queuedRequests(), 0);
  host->SayText("Hello \\pl=Wave\\ there");
  EXPECT_FALSE(c->soundEffectsOn());  // switched back as soon as the requests are queued
  EXPECT_EQ(c->queuedRequests(), 4);  // show, speak, play, speak
  host->QuietCharacter();
  EXPECT_EQ(c->queuedRequests(), 0);
}

TEST_F(CharacterHostTest, ReminderSoundsPauseEvenWhenMissingAndKeepEventsFlowing) {
  auto host = make();
  QElapsedTimer t;
  t.start();
  for (int none : {0, 9, -1}) host->PlaySoundEffect(none);
  EXPECT_LT(t.elapsed(), 100);  // nothing to play, nothing to wait for
  int ticks = 0;
  QTimer other;
  QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
  other.start(50);
  t.restart();
  host->PlaySoundEffect(6);  // no sound folder here: still the 1.5 s pause
  EXPECT_GE(t.elapsed(), 1500);
  EXPECT_GE(ticks, 10);  // the program went on handling events meanwhile
}

TEST(ReminderSoundFiles, EveryShippedSoundIsAValidWaveShorterThanItsPause) {
  for (int i = 1; i <= 8; ++i) {
    const auto sound = ReminderSoundAt(i);
    ASSERT_TRUE(sound);
    WaveClip clip;
    const Problem read = ReadWaveFile(kAssets + "/sound/" + sound->fileName, &clip);
    ASSERT_TRUE(read.ok()) << Describe(read).text.toStdString();
    EXPECT_GT(clip.durationMs(), 500) << sound->fileName;
    EXPECT_LT(clip.durationMs(), sound->pauseSeconds * 1000) << sound->fileName;
  }
}

TEST(WaveFile, DamagedFilesAreRefusedWithAReason) {
  WaveClip clip;
  EXPECT_EQ(ParseWave("RIFF\x10\0\0\0WAVEfmt ", &clip).kind, ProblemKind::FileFault);
  QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0", 20);
  QByteArray fmt(16, '\0');
  fmt[0] = 1;  // PCM
  fmt[2] = 1;  // mono
  fmt[4] = 0x22;
  fmt[5] = 0x56;  // 22050
  fmt[14] = 16;
  QByteArray data("data\xff\xff\xff\x7f\x01\x02\x03\x04", 12);  // claims 2 GB, holds 4 bytes
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
  EXPECT_TRUE(Describe(ReadWaveFile(dir.filePath("none.wav"), &clip)).text.endsWith("no such file"));
}

TEST_F(CharacterHostTest, GoodbyeIsHeardToItsLastWordBeforeTheCharacterGoes) {
  pump.stop();
  {
    // At the true pace of a silent output on the system clock, as the program plays it.
    auto host = make(120000, true);
    agent::Character* c = loaded(*host);
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
    const qint64 bound = GoodbyeBoundMs(*c);
    QElapsedTimer t;
    t.start();
    host->SayGoodbye();
    bool released = false;
    host->ReleaseCharacter([&] { released = true; });
    // The release waits for the goodbye without a loop of its own: it returns while it plays.
    EXPECT_FALSE(released);
    EXPECT_NE(host->character(), nullptr);
    EXPECT_TRUE(testsupport::RunEventsUntil([&] { return released; }, int(bound) + 2000));
    EXPECT_LE(t.elapsed(), bound + 1500);
    EXPECT_NE(speech, 0);
    EXPECT_TRUE(complete);  // the output played it to its end, not cut
    EXPECT_EQ(shown, kGoodbye);
    EXPECT_EQ(host->character(), nullptr);
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
  {
    // Time stands still, so the goodbye never ends: the release comes at the bound anyway.
    auto host = make();
    ASSERT_NE(loaded(*host), nullptr);
    const qint64 bound = GoodbyeBoundMs(*host->character());
    host->SayGoodbye();
    QElapsedTimer t;
    t.start();
    int released = 0;
    host->ReleaseCharacter([&] { ++released; });
    host->ReleaseCharacter([&] { ++released; });  // a second request ends with the first
    EXPECT_TRUE(testsupport::RunEventsUntil([&] { return released == 2; }, int(bound) + 2000));
    EXPECT_GE(t.elapsed(), bound - 1000);
    EXPECT_LE(t.elapsed(), bound + 1500);  // a loaded machine may run late, never early
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
  {
    // Without a goodbye the release is immediate, speech or not.
    auto host = make();
    loaded(*host);
    host->SayText(kLong);
    bool released = false;
    host->ReleaseCharacter([&] { released = true; });
    EXPECT_TRUE(released);
    EXPECT_TRUE(host->service().ids().isEmpty());
  }
}

TEST_F(CharacterHostTest, ShutdownDuringASoundPauseEndsItWithoutSpinning) {
  pump.stop();  // nothing else in the process keeps the CPU busy
  auto host = make();
  // Closing set before the pause: nothing left to wait for.
  state.events->BeginClosing();
  QElapsedTimer t;
  t.start();
  host->PlaySoundEffect(7);  // 3.5 s pause
  EXPECT_LT(t.elapsed(), 1000);
  state.events = std::make_unique<ProgramEvents>();
  // Quit arrives during the pause, as the program handles it: shutdown begins and the main loop
  // is told to end, which makes every nested event loop return at once from then on.
  qint64 wallMs = -1, cpuMs = -1;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(300, [&] {
      state.events->BeginClosing();
      QCoreApplication::exit(0);
    });
    t.restart();
    const qint64 cpu = ProcessCpuMs();
    host->PlaySoundEffect(7);
    cpuMs = ProcessCpuMs() - cpu;
    wallMs = t.elapsed();
    QCoreApplication::exit(0);
  });
  QCoreApplication::exec();
  ASSERT_GE(wallMs, 0);
  EXPECT_LT(wallMs, 3000);  // shutdown ended the 3.5 s pause
  EXPECT_LT(cpuMs, std::max<qint64>(wallMs, 100) * 3 / 10) << "the pause spun for " << wallMs << " ms";
}

TEST_F(CharacterHostTest, ListenWithoutAMicrophoneIsRefusedAndToldOnce) {
  if (!QMediaDevices::defaultAudioInput().isNull()) GTEST_SKIP() << "this machine has a microphone";
  auto host = make();
  EXPECT_FALSE(host->Listen());  // no character yet
  ASSERT_NE(loaded(*host), nullptr);
  QStringList told;
  QObject::connect(host.get(), &CharacterHost::listenUnavailable, [&](const QString& reason) { told << reason; });
  EXPECT_FALSE(host->Listen());
  EXPECT_FALSE(host->Listen());
  ASSERT_EQ(told.size(), 1);
  EXPECT_FALSE(told.front().isEmpty());
}
