// The voice a character names, and the voice grammars of its commands.
#include "agent/character_file.h"
#include "agent/speech_engine.h"
#include "agent/voice_grammar.h"
#include "support/agt_agent.h"
#include "support/program_commands.h"

#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QFile>

#include <cmath>

using namespace agent;
using chimewise::testsupport::AgentAsset;
using chimewise::testsupport::TestSpeechEngine;

namespace {

Utterance say(const QString& text, const Voice& voice) {
  return TestSpeechEngine().synthesizeNow(translateMarkup(text, voice), voice);
}

Voice characterVoice(const char* file) {
  const LoadResult r = loadCharacterFile(AgentAsset(file));
  EXPECT_TRUE(r.value()) << r.error().toStdString();
  EXPECT_TRUE(r.value() && r.value()->warnings.isEmpty()) << file;
  return r.value() ? r.value()->voice : Voice{};
}

}  // namespace

TEST(AgentVoice, VoiceNamesChooseTheSynthesiserAndUnknownOnesFallBackWithAReason) {
  struct Case {
    const char* name;
    Synthesizer synthesizer;
    const char* voice;
    const char* problem;  // a word of the reason, or empty for none
  };
  const Case cases[] = {
      {"flite:slt", Synthesizer::Flite, "slt", ""},
      {"Flite: cmu_us_rms", Synthesizer::Flite, "rms", ""},
      {"espeak:en-us+f3", Synthesizer::Espeak, "en-us+f3", ""},
      // Files written before flite came keep meaning what they meant.
      {"en-gb-x-rp", Synthesizer::Espeak, "en-gb-x-rp", ""},
      {"en-us+m3", Synthesizer::Espeak, nullptr, ""},
      {"flite:kevin", Synthesizer::Flite, "slt", "kevin"},
      {"festival:kal", Synthesizer::Espeak, nullptr, "festival"},
  };
  for (const Case& k : cases) {
    const VoiceChoice v = resolveVoice(k.name);
    EXPECT_EQ(v.synthesizer, k.synthesizer) << k.name;
    if (k.voice) {
      EXPECT_EQ(v.voice, k.voice) << k.name;
    }
    EXPECT_EQ(v.problem.isEmpty(), !*k.problem) << k.name;
    EXPECT_TRUE(v.problem.contains(k.problem)) << k.name;
  }
  // The shipped characters speak with flite, without warnings.
  for (const char* file : {"Hoot.ochar", "Bolt.ochar"})
    EXPECT_EQ(resolveVoice(characterVoice(file).name).synthesizer, Synthesizer::Flite) << file;

  // A character naming a voice this machine lacks still loads, still speaks, and says why.
  QFile f(AgentAsset("Bolt.ochar"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray contents = f.readAll();
  ASSERT_TRUE(contents.contains("\"flite:rms\""));
  contents.replace("\"flite:rms\"", "\"flite:kevin\"");
  const LoadResult loaded = parseCharacter(contents, QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(loaded.value()) << loaded.error().toStdString();
  ASSERT_EQ(loaded.value()->warnings.size(), 1);
  EXPECT_TRUE(loaded.value()->warnings.front().contains("kevin"));
  const Utterance u = say(QStringLiteral("Hello there."), loaded.value()->voice);
  EXPECT_TRUE(u.error.isEmpty());
  EXPECT_GT(u.lengthMs(), 300);
}

// A reminder in another script is said by espeak-ng's voice of its language, in the character's
// sentence: each part audible, of a length speech takes, with the mouth moving.
TEST(AgentVoice, WordsInOtherScriptsAreSaidInTheirLanguageWithinTheSentence) {
  const Voice hoot = characterVoice("Hoot.ochar");
  Voice espeakCharacter;
  espeakCharacter.name = QStringLiteral("espeak:en-us+f3");
  const struct {
    const char* words;
    const char* language;
    int syllables;  // as espeak-ng says them
  } cases[] = {
      {"Встреча с Анной", "ru", 4},      {"Συνάντηση με την Άννα", "el", 8}, {"和安娜开会", "cmn", 5},
      {"アンナとかいぎ", "ja", 6},       {"안나와 회의", "ko", 5},           {"اجتماع مع آنا", "ar", 6},
      {"פגישה עם אנה", "he", 5},         {"अन्ना के साथ बैठक", "hi", 6},        {"ประชุมกับแอนนา", "th", 6},
      {"Հանդիպում Աննայի հետ", "hy", 7}, {"შეხვედრა ანასთან", "ka", 6},
  };
  for (const Voice& own : {hoot, espeakCharacter}) {
    for (const auto& c : cases) {
      const QString line = QStringLiteral("Reminder: %1. You are 3 minutes late.").arg(QString::fromUtf8(c.words));
      const Utterance u = say(line, own);
      ASSERT_TRUE(u.error.isEmpty()) << c.language << ": " << u.error.toStdString();
      const QString ownVoice =
          own.name.startsWith(QLatin1String("flite")) ? own.name : QStringLiteral("espeak:en-us+f3");
      EXPECT_EQ(u.voices,
                QStringList({ownVoice, voiceForLanguage(QString::fromLatin1(c.language), own).name, ownVoice}));
      // The foreign words: from the first of them to the mouth's last move before "You", at a pace
      // people speak (a reading of the letters' names, or of something else, takes far longer).
      const int foreignFrom = int(QStringLiteral("Reminder:").size());
      const int youEnd = int(line.indexOf(QLatin1String("You")) + 3);
      qint64 from = -1, to = -1, lastMove = -1;
      int mouthMoves = 0;
      for (const SpeechEvent& e : u.events) {
        if (e.kind == SpeechEvent::Word && e.value > foreignFrom && from < 0) from = e.ms;
        if (e.kind == SpeechEvent::Word && e.value >= youEnd && to < 0) to = e.ms;
        if (e.kind == SpeechEvent::Mouth && from >= 0 && to < 0) ++mouthMoves, lastMove = e.ms;
      }
      EXPECT_GT(lastMove - from, 100 * c.syllables) << c.language;
      EXPECT_LT(lastMove - from, 330 * c.syllables) << c.language;
      EXPECT_GE(mouthMoves, c.syllables) << c.language;
      EXPECT_LE(mouthMoves, 4 * c.syllables) << c.language;
      const auto* samples = reinterpret_cast<const qint16*>(u.pcm.constData());
      double sum = 0;
      const qint64 first = from * u.sampleRate / 1000,
                   last = std::min<qint64>(to * u.sampleRate / 1000, u.pcm.size() / 2);
      for (qint64 i = first; i < last; ++i) sum += double(samples[i]) * samples[i];
      EXPECT_GT(std::sqrt(sum / double(std::max<qint64>(1, last - first))), 500.0) << c.language;
    }
  }
}

// ---- Voice grammars ------------------------------------------------------------------------

TEST(AgentVoiceGrammar, GrammarsBecomeLowerCaseJsgfRulesWithoutProblems) {
  QStringList problems;
  EXPECT_TRUE(commandsJsgf(programCommands(), &problems).contains("\n<NoTalk> = ( stop | shut up ) [ talking ];\n"));
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  EXPECT_EQ(VoiceGrammar::parse("[please] Tell a Joke [please]").jsgf(), "[ please ] tell a joke [ please ]");
  // Punctuation separates words; case does not matter.
  EXPECT_EQ(VoiceGrammar::parse("Olm's  Options, please!").jsgf(), "olm's options please");
  EXPECT_TRUE(commandsJsgf({}).isEmpty());
}

TEST(AgentVoiceGrammar, PhrasesMatchTheirCommandAndNothingElse) {
  const std::vector<Command> commands = programCommands();
  // Every phrase a grammar allows leads back to its own command, and each voiced command has phrases.
  for (const Command& c : commands) {
    const QStringList phrases = VoiceGrammar::parse(c.voice).phrases();
    EXPECT_EQ(phrases.isEmpty(), c.voice.isEmpty()) << c.name.toStdString();
    for (const QString& p : phrases) EXPECT_EQ(commandForPhrase(commands, p), c.name) << p.toStdString();
  }
  EXPECT_EQ(VoiceGrammar::parse("[please] Tell a Joke [please]").phrases().size(), 4);
  // In any letter case; a part of a phrase, or a phrase with more words, is not heard.
  EXPECT_EQ(commandForPhrase(commands, "Read Mail"), "ReadMail");
  for (const char* other : {"read", "what time", "snoring", "stop talking please", ""})
    EXPECT_EQ(commandForPhrase(commands, other), "") << other;
  // Nor is a disabled command.
  std::vector<Command> disabled = commands;
  for (Command& c : disabled)
    if (c.name == "GoAway") c.enabled = false;
  EXPECT_EQ(commandForPhrase(disabled, "go away"), "");
  EXPECT_FALSE(commandsJsgf(disabled).contains("GoAway"));
}

TEST(AgentVoiceGrammar, MalformedGrammarsAreReportedAndLeftOut) {
  for (const char* bad : {"(Stop | Shut up [Talking]", "Stop ] now", "[please]", "(a | | b)", "Go ) away", "[a] [b]"}) {
    const VoiceGrammar g = VoiceGrammar::parse(QString::fromLatin1(bad));
    EXPECT_FALSE(g.isValid()) << bad;
    EXPECT_FALSE(g.error().isEmpty()) << bad;
    EXPECT_FALSE(g.matches({"please"})) << bad;
  }
  std::vector<Command> commands{{"Good", "Good", "Go Away", true, true}, {"Bad", "Bad", "(Stop | Shut up", true, true}};
  QStringList problems;
  const QString jsgf = commandsJsgf(commands, &problems);
  EXPECT_TRUE(jsgf.contains("<Good> = go away;"));
  EXPECT_FALSE(jsgf.contains("Bad"));
  ASSERT_EQ(problems.size(), 1);
  EXPECT_TRUE(problems.front().contains("Bad"));
}
