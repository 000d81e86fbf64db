// Voice commands heard from synthesised speech: every phrase of the program's grammars, spoken
// by each shipped character's voice and by espeak-ng, goes through the recogniser; sentences
// outside the grammars and silence must come back empty.
#include "agent/agent_service.h"
#include "agent/character.h"
#include "agent/character_file.h"
#include "agent/clock.h"
#include "agent/speech_engine.h"
#include "agent/speech_recognizer.h"
#include "agent/voice_grammar.h"
#include "support/program_commands.h"

#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QRandomGenerator>
#include <QSignalSpy>

using namespace agent;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QString assets() { return QStringLiteral(AGENT_ASSETS_DIR); }

void ensureApp() {
  static int argc = 1;
  static char name[] = "agent_recognition_test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
}

Voice characterVoice(const char* file) {
  const LoadResult r = loadCharacterFile(assets() + QString::fromLatin1(file));
  return r.character ? r.character->voice : Voice{};
}

// Speech as the microphone would bring it: 16 kHz, with a little room noise around it.
QByteArray spoken(const QString& text, const Voice& voice) {
  const Utterance u = chimewise::testsupport::TestSpeechEngine().synthesizeNow(translateMarkup(text, voice), voice);
  QByteArray pcm = QByteArray(SpeechRecognizer::kSampleRate / 5 * 2, '\0') +
                   SpeechRecognizer::resample(u.pcm, u.sampleRate, SpeechRecognizer::kSampleRate) +
                   QByteArray(SpeechRecognizer::kSampleRate / 2 * 2, '\0');
  auto* s = reinterpret_cast<qint16*>(pcm.data());
  QRandomGenerator noise(7);
  for (qsizetype i = 0; i < pcm.size() / 2; ++i)
    s[i] = qint16(std::clamp(s[i] + noise.bounded(-40, 41), -32768, 32767));
  return pcm;
}

// The share of the program's phrases heard as their own command, spoken with `voice`.
void expectPhrasesRecognised(SpeechRecognizer& recognizer, const Voice& voice, double atLeast) {
  const std::vector<Command> commands = programCommands();
  int total = 0;
  int right = 0;
  QStringList misses;
  for (const Command& c : commands)
    for (const QString& phrase : VoiceGrammar::parse(c.voice).phrases()) {
      ++total;
      recognizer.begin();
      recognizer.feed(spoken(phrase, voice));
      const QString heard = recognizer.end();
      if (recognizer.commandFor(heard) == c.name)
        ++right;
      else
        misses << QStringLiteral("\"%1\" heard as \"%2\"").arg(phrase, heard);
    }
  const double rate = double(right) / total;
  std::printf("%s: %d of %d phrases recognised (%.0f %%)\n", qPrintable(voice.name), right, total, rate * 100);
  for (const QString& m : misses) std::printf("  %s\n", qPrintable(m));
  EXPECT_GE(rate, atLeast) << misses.join(QStringLiteral("; ")).toStdString();
}

const char* const kOutOfGrammar[] = {
    "The weather is lovely today.",  "Call the dentist about the crown.",
    "I would like a cup of coffee.", "Where did I put my glasses?",
    "The meeting starts at ten.",    "Bring the car to the garage.",
    "Happy birthday to you.",        "She sells sea shells by the sea shore.",
    "Turn left at the next corner.", "My favourite colour is green.",
    "Water the plants on Sunday.",   "How much does it cost?",
};

class Recognition : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    recognizer = new SpeechRecognizer;
    ASSERT_TRUE(recognizer->setCommands(programCommands())) << recognizer->error().toStdString();
  }
  static void TearDownTestSuite() {
    delete recognizer;
    recognizer = nullptr;
  }
  static SpeechRecognizer* recognizer;
};

SpeechRecognizer* Recognition::recognizer = nullptr;

}  // namespace

TEST_F(Recognition, WordsMissingFromTheDictionaryGetFlitesPronunciation) {
  // "jesterbox", "olm" and "chimewise" are in no dictionary; their commands still work.
  EXPECT_TRUE(recognizer->problems().isEmpty()) << recognizer->problems().join("; ").toStdString();
  EXPECT_TRUE(recognizer->grammar().contains("<LoadJoke> = load jesterbox;"));
  EXPECT_TRUE(recognizer->grammar().contains("<Quit> = quit [ olm ] [ chimewise ];"));
}

TEST_F(Recognition, HootsPhrasesAreRecognised) {
  expectPhrasesRecognised(*recognizer, characterVoice("Hoot.ochar"), 0.9);
}

TEST_F(Recognition, BoltsPhrasesAreRecognised) {
  expectPhrasesRecognised(*recognizer, characterVoice("Bolt.ochar"), 0.9);
}

TEST_F(Recognition, EspeakPhrasesAreRecognised) {
  Voice espeak;
  espeak.name = QStringLiteral("espeak:en-us");
  expectPhrasesRecognised(*recognizer, espeak, 0.9);
}

TEST_F(Recognition, OtherSentencesAndSilenceAreRejected) {
  int total = 0;
  int rejected = 0;
  QStringList accepted;
  for (const char* voiceFile : {"Hoot.ochar", "Bolt.ochar"}) {
    const Voice voice = characterVoice(voiceFile);
    for (const char* sentence : kOutOfGrammar) {
      ++total;
      const QString command = recognizer->recognizeCommand(spoken(QString::fromLatin1(sentence), voice));
      if (command.isEmpty())
        ++rejected;
      else
        accepted << QStringLiteral("%1 (%2) as %3").arg(QString::fromLatin1(sentence), voice.name, command);
    }
  }
  // Silence and a quiet room.
  QByteArray quiet(SpeechRecognizer::kSampleRate * 2 * 2, '\0');
  ++total;
  rejected += recognizer->recognizeCommand(quiet).isEmpty();
  auto* s = reinterpret_cast<qint16*>(quiet.data());
  QRandomGenerator noise(11);
  for (qsizetype i = 0; i < quiet.size() / 2; ++i) s[i] = qint16(noise.bounded(-300, 301));
  ++total;
  rejected += recognizer->recognizeCommand(quiet).isEmpty();
  std::printf("%d of %d out-of-grammar sentences and silences rejected\n", rejected, total);
  for (const QString& a : accepted) std::printf("  accepted: %s\n", qPrintable(a));
  EXPECT_GE(double(rejected) / total, 0.9) << accepted.join("; ").toStdString();
}

// ---- The character listening ----------------------------------------------------------------

TEST(AgentListening, ASpokenCommandRaisesItsEventAndNothingHeardPlaysDontRecognize) {
  ensureApp();
  ManualClock clock;
  AgentOptions o;
  o.clock = &clock;
  o.audio = AgentOptions::Audio::Silent;
  o.synthesizeOnCallerThread = true;
  AgentService service(o);
  Character* c = service.load(QStringLiteral("CharacterID"), assets() + QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(c);
  for (const Command& cmd : programCommands()) c->commands().add(cmd.name, cmd.caption, cmd.voice, cmd.enabled);
  c->show();
  for (int i = 0; i < 300 && c->queuedRequests() > 0; ++i) clock.advance(10);
  ASSERT_EQ(c->queuedRequests(), 0);

  QStringList commands;
  QStringList balloonWhileListening;
  QObject::connect(c, &Character::command, [&](const QString& name) { commands << name; });
  QSignalSpy complete(c, &Character::listenComplete);
  // The balloon says it listens while the audio comes in.
  QObject::connect(c, &Character::listenComplete, [&] { balloonWhileListening << c->balloonText(); });

  // A command, then a pause: the spell ends at the silence after it.
  const QByteArray phrase = spoken(QStringLiteral("what is the time"), c->definition().voice);
  ASSERT_TRUE(c->listenToRecording(phrase, SpeechRecognizer::kSampleRate));
  EXPECT_EQ(commands, QStringList{"Time"});
  ASSERT_EQ(complete.size(), 1);
  EXPECT_EQ(complete[0][0].toString(), "Time");
  EXPECT_EQ(balloonWhileListening, QStringList{"Listening..."});
  EXPECT_FALSE(c->balloonVisible());
  EXPECT_FALSE(c->isListening());

  // Nothing but silence: after five seconds of it the character admits it heard nothing.
  ASSERT_TRUE(c->listenToRecording(QByteArray(SpeechRecognizer::kSampleRate * 2, '\0'), SpeechRecognizer::kSampleRate));
  ASSERT_EQ(complete.size(), 2);
  EXPECT_EQ(complete[1][0].toString(), "");
  EXPECT_EQ(commands.size(), 1);
  EXPECT_EQ(c->currentAnimation().toLower(), "dontrecognize");

  // A character without voice entries cannot listen, and says why.
  c->commands().removeAll();
  QSignalSpy unavailable(c, &Character::listenUnavailable);
  EXPECT_FALSE(c->listenToRecording(phrase, SpeechRecognizer::kSampleRate));
  ASSERT_EQ(unavailable.size(), 1);
}

TEST(AgentListening, WithoutAMicrophoneListenSaysNoAndWhy) {
  ensureApp();
  if (!QMediaDevices::defaultAudioInput().isNull()) GTEST_SKIP() << "this machine has a microphone";
  ManualClock clock;
  AgentOptions o;
  o.clock = &clock;
  o.audio = AgentOptions::Audio::Silent;
  AgentService service(o);
  Character* c = service.load(QStringLiteral("CharacterID"), assets() + QStringLiteral("Hoot.ochar"));
  ASSERT_TRUE(c);
  for (const Command& cmd : programCommands()) c->commands().add(cmd.name, cmd.caption, cmd.voice, cmd.enabled);
  QSignalSpy unavailable(c, &Character::listenUnavailable);
  EXPECT_FALSE(c->listen(true));
  EXPECT_FALSE(c->isListening());
  ASSERT_EQ(unavailable.size(), 1);
  EXPECT_TRUE(unavailable[0][0].toString().contains("microphone"));
  EXPECT_TRUE(c->listen(false));  // stopping is always fine
}
