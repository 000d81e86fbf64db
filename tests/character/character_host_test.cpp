// The program's character over the real character platform, with silent audio on a clock the
// test drives.
#include "support/qt_app.h"
#include "character/character_host.h"
#include "character/character_tables.h"
#include "character/character_choice.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "support/scripted_prompter.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "character/wave_file.h"

#include <agent/AgentService.h>
#include <agent/Character.h>
#include <agent/CharacterFile.h>
#include <agent/Clock.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

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
    QDir().mkpath(dir.filePath("base/msagent/chars"));
    // Time runs twenty times faster than the wall clock while the test waits.
    pump.setInterval(1);
    QObject::connect(&pump, &QTimer::timeout, [this] { clock.advance(20); });
    pump.start();
  }
  std::unique_ptr<CharacterHost> make(int waitLimitMs = 120000) {
    CharacterHostOptions o;
    o.characterFolders = {dir.filePath("base/msagent/chars"), kAssets + "/characters"};
    o.windowsFolder = dir.filePath("base") + "/";
    o.silentAudio = true;
    o.clock = &clock;
    o.speechWaitLimitMs = waitLimitMs;
    return std::make_unique<CharacterHost>(state, settings, prompter, o);
  }

  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualClock clock;
  QTimer pump;
};

}  // namespace

TEST(CharacterStore, ProgramAndPlatformAgreeOnTheFileEnding) {
  EXPECT_EQ(kCharacterExtension, QString::fromLatin1(agent::kCharacterFileSuffix));
  EXPECT_TRUE(QFile::exists(kAssets + "/characters/" + kPreferredCharacter + kCharacterExtension) ||
              QFile::exists(kAssets + "/characters/Hoot" + kCharacterExtension));
}

TEST_F(CharacterHostTest, MissingFoldersAndFilesAreToldAndNothingLoads) {
  {
    CharacterHostOptions o;
    o.windowsFolder = dir.filePath("nowhere") + "/";
    o.silentAudio = true;
    o.clock = &clock;
    CharacterHost host(state, settings, prompter, o);
    host.LoadCharacter("Hoot.ochar", true);
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text, "Could not find Data Directory " + dir.filePath("nowhere") + "/");
    EXPECT_EQ(prompter.asked[0].title, "Missing Data Directory");
    EXPECT_EQ(prompter.asked[0].icon, PromptIcon::Information);
  }
  QDir(dir.filePath("base/msagent/chars")).removeRecursively();
  auto host = make();
  host->LoadCharacter("Hoot.ochar", true);
  EXPECT_EQ(prompter.asked.back().text, "Could not find Character Directory " + dir.filePath("base/msagent/chars"));
  EXPECT_EQ(prompter.asked.back().title, "Missing Character Directory");

  QDir().mkpath(dir.filePath("base/msagent/chars"));
  host->LoadCharacter("Nobody.ochar", true);
  EXPECT_EQ(prompter.asked.back().text,
            "Could not find Character Nobody.ochar in " + dir.filePath("base/msagent/chars"));
  EXPECT_EQ(prompter.asked.back().title, "Missing Character");
  EXPECT_EQ(host->character(), nullptr);

  QFile bad(dir.filePath("base/msagent/chars/Broken.ochar"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("{ \"name\": ");
  bad.close();
  host->LoadCharacter("broken.OCHAR", false);
  EXPECT_TRUE(prompter.asked.back().text.contains("Broken.ochar")) << prompter.asked.back().text.toStdString();
  EXPECT_EQ(host->character(), nullptr);
}

TEST_F(CharacterHostTest, LoadSizesRegistersCommandsAndGreets) {
  settings.write(settings::CharacterSize, "5");
  settings.write(settings::ShowOnStart, "1");
  settings.write(settings::NoSoundEffects, "1");
  auto host = make();
  host->LoadCharacter("hoot.ochar", true);  // any letter case
  ASSERT_NE(host->character(), nullptr) << (prompter.asked.empty() ? "" : prompter.asked.back().text.toStdString());
  agent::Character* c = host->character();
  EXPECT_EQ(c->languageId(), 1033);
  EXPECT_EQ(c->width(), c->originalWidth());                                   // "Skinny"
  EXPECT_EQ(c->height(), qRound(c->originalHeight() * 1.4));
  EXPECT_FALSE(c->soundEffectsOn());
  ASSERT_EQ(c->commands().count(), 17);
  EXPECT_EQ(c->commands().items()[0].name, "NoTalk");
  EXPECT_EQ(c->commands().items()[16].caption, "&Quit Olm Chimewise");
  EXPECT_FALSE(c->commands().items()[2].enabled);
  EXPECT_TRUE(c->isVisible());

  // The greeting is the first thing said.
  QString said;
  QObject::connect(c, &agent::Character::requestStarted, [&] {
    if (said.isEmpty() && !c->balloonText().isEmpty()) said = c->balloonText();
  });
  QElapsedTimer t;
  t.start();
  while (c->queuedRequests() > 0 && t.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    if (said.isEmpty() && c->balloonVisible()) said = c->balloonText();
  }
  EXPECT_TRUE(QString(kReadyGreeting).startsWith(said.left(5))) << said.toStdString();

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
  host->LoadCharacter("Bolt.ochar", false);
  EXPECT_EQ(introductions, 1);
  ASSERT_NE(host->character(), nullptr);
  EXPECT_EQ(host->character()->commands().count(), 17);
  EXPECT_FALSE(host->character()->isVisible());
}

TEST_F(CharacterHostTest, WaitForSpeechEndings) {
  auto host = make(400);
  host->LoadCharacter("Hoot.ochar", false);
  ASSERT_NE(host->character(), nullptr);

  // Hidden: the wait ends as soon as the bookmark is queued, with false.
  EXPECT_FALSE(host->WaitForSpeech());

  // The bookmark is reached: true, and the toggle has moved.
  host->SayText("One two.");
  const auto before = state.SpeechToggle;
  EXPECT_TRUE(host->WaitForSpeech());
  EXPECT_NE(state.SpeechToggle, before);

  // The user asks to stop: false, and the request is cleared for the next sequence.
  host->SayText("A long sentence that would take a good while to say out loud.");
  QTimer::singleShot(5, [&] { RequestStop(state); });
  EXPECT_FALSE(host->WaitForSpeech());
  EXPECT_FALSE(state.StopRequested);

  // The character hides: false.
  host->QuietCharacter();
  host->SayText("Another long sentence that would take a good while to say out loud.");
  QTimer::singleShot(5, [&] { host->character()->stopAll(); host->character()->hide(); });
  EXPECT_FALSE(host->WaitForSpeech());

  // The program closes: false.
  host->SayText("A third long sentence that would take a good while to say out loud.");
  QTimer::singleShot(5, [&] { BeginClosing(state); });
  EXPECT_FALSE(host->WaitForSpeech());
  state.Closing = false;

  // The end never comes (time stands still): the deadline ends the wait.
  pump.stop();
  host->SayText("Nobody will hear this.");
  QElapsedTimer t;
  t.start();
  EXPECT_TRUE(host->WaitForSpeech());  // still shown, nobody stopped it
  EXPECT_GE(t.elapsed(), 390);
}

TEST_F(CharacterHostTest, SayTextShowsQueuesAndRestoresSoundEffects) {
  auto host = make();
  host->LoadCharacter("Hoot.ochar", false);
  agent::Character* c = host->character();
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

TEST_F(CharacterHostTest, BookmarkTwoHundredAsksThenEndsTheWait) {
  auto host = make();
  host->LoadCharacter("Hoot.ochar", false);
  host->SayText("Read this \\Mrk=200\\ and that.");
  EXPECT_TRUE(host->WaitForSpeech());
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_EQ(prompter.asked[0].text, "Please Press OK to Continue");
  EXPECT_EQ(prompter.asked[0].title, "Click to Continue");
}

TEST_F(CharacterHostTest, ReminderSoundsPauseEvenWhenMissingAndKeepEventsFlowing) {
  auto host = make();
  QElapsedTimer t;
  t.start();
  host->PlaySoundEffect(0);
  host->PlaySoundEffect(9);
  host->PlaySoundEffect(-1);
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
    QString error;
    const auto clip = ReadWaveFile(kAssets + "/sound/" + sound->fileName, &error);
    ASSERT_TRUE(clip) << sound->fileName << ": " << error.toStdString();
    EXPECT_GT(clip->durationMs(), 500) << sound->fileName;
    EXPECT_LT(clip->durationMs(), sound->pauseSeconds * 1000) << sound->fileName;
  }
}

TEST(WaveFile, DamagedFilesAreRefusedWithAReason) {
  QString error;
  EXPECT_FALSE(ParseWave("RIFF\x10\0\0\0WAVEfmt ", &error));
  EXPECT_FALSE(error.isEmpty());
  QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0", 20);
  QByteArray fmt(16, '\0');
  fmt[0] = 1;   // PCM
  fmt[2] = 1;   // mono
  fmt[4] = 0x22; fmt[5] = 0x56;  // 22050
  fmt[14] = 16;
  QByteArray data("data\xff\xff\xff\x7f\x01\x02\x03\x04", 12);  // claims 2 GB, holds 4 bytes
  const auto clip = ParseWave(header + fmt + data, &error);
  ASSERT_TRUE(clip) << error.toStdString();
  EXPECT_EQ(clip->pcm.size(), 4);
  fmt[0] = 3;  // float samples
  EXPECT_FALSE(ParseWave(header + fmt + data, &error));
}
