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

#include <QRandomGenerator>

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
