// Voice commands heard from synthesised speech: every phrase of the program's grammars, spoken
// by each shipped character's voice and by espeak-ng, goes through the recogniser; sentences
// outside the grammars and silence must come back empty.
#include "agent/character_file.h"
#include "agent/speech_engine.h"
#include "agent/speech_recognizer.h"
#include "agent/voice_grammar.h"
#include "support/agt_agent.h"
#include "support/program_commands.h"

#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QMediaDevices>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <span>

using namespace agent;
using chimewise::testsupport::AgentAsset;

namespace {

Voice characterVoice(const char* file) {
  const LoadResult r = loadCharacterFile(AgentAsset(file));
  return r.value() ? r.value()->voice : Voice{};
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

// Nine in ten of the program's phrases are heard as their own command; the voices take turns, so
// each says a third of them.
TEST_F(Recognition, EveryVoicesPhrasesAreRecognised) {
  // "jesterbox", "olm" and "chimewise" are in no dictionary; they get flite's pronunciation.
  EXPECT_TRUE(recognizer->problems().isEmpty()) << recognizer->problems().join("; ").toStdString();
  Voice espeak;
  espeak.name = QStringLiteral("espeak:en-us");
  const Voice voices[] = {characterVoice("Hoot.ochar"), characterVoice("Bolt.ochar"), espeak};
  int total[3] = {}, right[3] = {}, turn = 0;
  QStringList misses;
  for (const Command& c : programCommands())
    for (const QString& phrase : VoiceGrammar::parse(c.voice).phrases()) {
      const int v = turn++ % 3;
      ++total[v];
      recognizer->begin();
      recognizer->feed(spoken(phrase, voices[v]));
      const QString heard = recognizer->end();
      if (recognizer->commandFor(heard) == c.name)
        ++right[v];
      else
        misses << QStringLiteral("%1: \"%2\" heard as \"%3\"").arg(voices[v].name, phrase, heard);
    }
  for (int v = 0; v < 3; ++v)
    EXPECT_GE(double(right[v]) / total[v], 0.85)
        << voices[v].name.toStdString() << ": " << misses.join("; ").toStdString();
  EXPECT_GE(double(right[0] + right[1] + right[2]) / turn, 0.9) << misses.join("; ").toStdString();
}

TEST_F(Recognition, OtherSentencesAndSilenceAreRejected) {
  const char* const outOfGrammar[] = {
      "The weather is lovely today.",  "Call the dentist about the crown.",
      "I would like a cup of coffee.", "Where did I put my glasses?",
      "The meeting starts at ten.",    "Bring the car to the garage.",
      "Happy birthday to you.",        "She sells sea shells by the sea shore.",
      "Turn left at the next corner.", "My favourite colour is green.",
      "Water the plants on Sunday.",   "How much does it cost?",
  };
  // Said by the two characters in turn.
  const Voice voices[] = {characterVoice("Hoot.ochar"), characterVoice("Bolt.ochar")};
  std::vector<QByteArray> recordings;
  for (const char* sentence : outOfGrammar)
    recordings.push_back(spoken(QString::fromLatin1(sentence), voices[recordings.size() % 2]));
  // Silence and a quiet room.
  QByteArray quiet(SpeechRecognizer::kSampleRate * 2 * 2, '\0');
  recordings.push_back(quiet);
  QRandomGenerator noise(11);
  for (qint16& sample : std::span(reinterpret_cast<qint16*>(quiet.data()), size_t(quiet.size() / 2)))
    sample = qint16(noise.bounded(-300, 301));
  recordings.push_back(quiet);
  int rejected = 0;
  QStringList accepted;
  for (size_t i = 0; i < recordings.size(); ++i) {
    const QString command = recognizer->recognizeCommand(recordings[i]);
    if (command.isEmpty())
      ++rejected;
    else
      accepted << QStringLiteral("recording %1 as %2").arg(i).arg(command);
  }
  EXPECT_GE(double(rejected) / double(recordings.size()), 0.9) << accepted.join("; ").toStdString();
}

// ---- The character listening ----------------------------------------------------------------

namespace {
class AgentListening : public chimewise::testsupport::AgentRig {
 protected:
  void SetUp() override {
    load("Bolt.ochar");
    ASSERT_TRUE(c);
    for (const Command& cmd : programCommands()) c->commands().add(cmd.name, cmd.caption, cmd.voice, cmd.enabled);
  }
};
}  // namespace

TEST_F(AgentListening, ASpokenCommandRaisesItsEventAndNothingHeardPlaysDontRecognize) {
  c->show();
  for (int i = 0; i < 300 && c->queuedRequests() > 0; ++i) clock.advance(10);
  ASSERT_EQ(c->queuedRequests(), 0);
  QStringList commands, balloonWhileListening;
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

TEST_F(AgentListening, WithoutAMicrophoneListenSaysNoAndWhy) {
  if (!QMediaDevices::defaultAudioInput().isNull()) GTEST_SKIP() << "this machine has a microphone";
  QSignalSpy unavailable(c, &Character::listenUnavailable);
  EXPECT_FALSE(c->listen(true));
  EXPECT_FALSE(c->isListening());
  ASSERT_EQ(unavailable.size(), 1);
  EXPECT_TRUE(unavailable[0][0].toString().contains("microphone"));
  EXPECT_TRUE(c->listen(false));  // stopping is always fine
}
