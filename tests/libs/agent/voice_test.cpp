// flite speaking tagged text (on the silent, hand-driven output) and the voice grammars.
#include "agent/character_file.h"
#include "agent/speech_engine.h"
#include "agent/voice_grammar.h"
#include "flite_voice.h"
#include "support/agt_agent.h"
#include "support/program_commands.h"

#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>

using namespace agent;
using chimewise::testsupport::AgentAsset;
using chimewise::testsupport::TestSpeechEngine;

namespace {

Voice fliteVoice(const char* name) {
  Voice v;
  v.name = QString::fromLatin1(name);
  v.rate = 175;
  v.pitch = 50;
  return v;
}

Utterance say(const QString& text, const Voice& voice) {
  return TestSpeechEngine().synthesizeNow(translateMarkup(text, voice), voice);
}

Voice characterVoice(const char* file) {
  const LoadResult r = loadCharacterFile(AgentAsset(file));
  EXPECT_TRUE(r.value()) << r.error().toStdString();
  EXPECT_TRUE(r.value() && r.value()->warnings.isEmpty()) << file;
  return r.value() ? r.value()->voice : Voice{};
}

// The voice's typical pitch in Hz: the median over its loud frames of their autocorrelation peak.
double pitchHz(const Utterance& u) {
  const auto* s = reinterpret_cast<const qint16*>(u.pcm.constData());
  const qsizetype n = u.pcm.size() / 2;
  const int frame = u.sampleRate / 20;
  std::vector<double> found;
  for (qsizetype at = 0; at + frame < n; at += frame / 2) {
    double energy = 0;
    for (int k = 0; k < frame; ++k) energy += double(s[at + k]) * s[at + k];
    if (energy / frame < 1e5) continue;
    int best = 0;
    double bestValue = 0;
    for (int lag = u.sampleRate / 450; lag < u.sampleRate / 60; ++lag) {
      double c = 0;
      for (int k = 0; k + lag < frame; ++k) c += double(s[at + k]) * s[at + k + lag];
      if (c > bestValue) bestValue = c, best = lag;
    }
    if (best) found.push_back(double(u.sampleRate) / best);
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? 0 : found[found.size() / 2];
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

TEST(AgentVoice, FliteWordsAndMouthFollowTheUtterance) {
  const Voice voice = fliteVoice("flite:slt");
  const SpeechMarkup m = translateMarkup(QStringLiteral("Call the dentist about the crown."), voice);
  const Utterance u = TestSpeechEngine().synthesizeNow(m, voice);
  ASSERT_TRUE(u.error.isEmpty()) << u.error.toStdString();
  EXPECT_EQ(u.sampleRate, flitevoice::kSampleRate);
  std::vector<qint64> words;
  int lastShownEnd = 0, mouthChanges = 0;
  bool closedForM = false;
  for (const SpeechEvent& e : u.events) {
    if (e.kind == SpeechEvent::Word) words.push_back(e.ms), lastShownEnd = e.value;
    if (e.kind != SpeechEvent::Mouth) continue;
    ++mouthChanges;
    closedForM |= e.value == int(MouthShape::Closed) && e.ms > 200 && e.ms + 200 < u.lengthMs();
  }
  // One event per word, each later than the one before, all inside the audio; the balloon
  // reaches the whole text with the last.
  ASSERT_EQ(words.size(), 6u);
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end());
  EXPECT_LT(words.back(), u.lengthMs());
  EXPECT_EQ(lastShownEnd, m.shown.size());
  // "dentist" is the long word: its gap to "about" is wider than "the"'s to "dentist".
  EXPECT_GT(words[3] - words[2], words[2] - words[1]);
  // The phones move the mouth, closing it for the "b" of "about" mid-sentence.
  EXPECT_GT(mouthChanges, 8);
  EXPECT_TRUE(closedForM);
  // About as long as flite says it (two seconds at this pace).
  EXPECT_GT(u.lengthMs(), 1400);
  EXPECT_LT(u.lengthMs(), 3200);
}

TEST(AgentVoice, FliteHandsOutASentenceWhileMakingItAndStopsWhenCancelled) {
  const Voice voice = fliteVoice("flite:slt");
  // Two flite utterances (the emphasis starts a new one) and a bookmark between sentences.
  const SpeechMarkup m = translateMarkup(
      QStringLiteral("Remember to call the dentist about \\emp\\ Thursday. \\Mrk=7\\ Then feed the cat."), voice);
  auto synthesize = [&](const std::function<void(Utterance)>& chunks, std::atomic<bool>* cancel = nullptr) {
    std::srand(1);  // flite's filter draws its noise from rand(): the same seed, the same samples
    return flitevoice::synthesize(m, QStringLiteral("slt"), voice.rate, voice.pitch, voice.formants, cancel, chunks);
  };
  const Utterance whole = synthesize({});
  ASSERT_TRUE(whole.error.isEmpty()) << whole.error.toStdString();
  std::vector<Utterance> chunks;
  Utterance rest = synthesize([&](Utterance u) { chunks.push_back(std::move(u)); });
  ASSERT_TRUE(rest.error.isEmpty()) << rest.error.toStdString();
  ASSERT_GT(chunks.size(), 3u);
  // The first chunk leaves before its utterance is done: it holds at most the first word.
  const auto& first = chunks.front().events;
  EXPECT_FALSE(chunks.front().pcm.isEmpty());
  EXPECT_LE(std::count_if(first.begin(), first.end(), [](const SpeechEvent& e) { return e.kind == SpeechEvent::Word; }),
            1);
  // Put together, the chunks are the same audio, and their events the same in the same order.
  chunks.push_back(std::move(rest));
  QByteArray pcm;
  std::vector<SpeechEvent> events;
  for (const Utterance& c : chunks) {
    pcm += c.pcm;
    events.insert(events.end(), c.events.begin(), c.events.end());
  }
  EXPECT_TRUE(pcm == whole.pcm);
  ASSERT_EQ(events.size(), whole.events.size());
  for (size_t k = 0; k < events.size(); ++k) {
    EXPECT_EQ(events[k].kind, whole.events[k].kind) << k;
    EXPECT_EQ(events[k].ms, whole.events[k].ms) << k;
    EXPECT_EQ(events[k].value, whole.events[k].value) << k;
  }
  // Cancelled, it stops within the first sentence.
  std::atomic<bool> cancelled = false;
  int handed = 0;
  qint64 handedMs = 0;
  const Utterance cut = synthesize(
      [&](const Utterance& chunk) {
        ++handed;
        handedMs += chunk.lengthMs();
        cancelled = true;
      },
      &cancelled);
  EXPECT_TRUE(cut.cancelled);
  EXPECT_EQ(handed, 1);
  EXPECT_LT(handedMs, whole.lengthMs() / 4);
}

TEST(AgentVoice, FliteHonoursPausesSpeedEmphasisAndPitch) {
  for (const char* name : {"flite:slt", "flite:rms"}) {
    SCOPED_TRACE(name);
    const Voice voice = fliteVoice(name);
    const auto ms = [&](const char* text) { return say(QString::fromUtf8(text), voice).lengthMs(); };
    const qint64 plain = ms("Hello there my friend");
    EXPECT_GE(ms("Hello \\pau=400\\ there my friend") - plain, 350);
    EXPECT_GT(ms("\\spd=100\\ Hello there my friend"), plain * 13 / 10);
    EXPECT_LT(ms("\\spd=300\\ Hello there my friend"), plain * 8 / 10);
    EXPECT_GT(ms("Hello there my \\emp\\ friend"), plain);
    // \rst\ goes back to the voice's own pace.
    EXPECT_NEAR(double(ms("\\spd=100\\ \\rst\\ Hello there my friend")), double(plain), plain * 0.1);
    // The pitch tag sets the voice's pitch in Hz, also for rms, whose own model ignores it.
    EXPECT_NEAR(pitchHz(say(QStringLiteral("\\pit=90\\ Hello there my friend"), voice)), 90, 20);
    EXPECT_NEAR(pitchHz(say(QStringLiteral("\\pit=220\\ Hello there my friend"), voice)), 220, 45);
  }
  // The owl's voice is the higher by well over half an octave.
  const QString time = QStringLiteral("The time is three forty five in the afternoon.");
  EXPECT_GT(pitchHz(say(time, characterVoice("Hoot.ochar"))), pitchHz(say(time, characterVoice("Bolt.ochar"))) * 1.5);
}

// ---- Voice grammars ------------------------------------------------------------------------

TEST(AgentVoiceGrammar, TheProgramsGrammarsBecomeOneJsgfGrammar) {
  const std::vector<Command> commands = programCommands();
  QStringList problems;
  const QString jsgf = commandsJsgf(commands, &problems);
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  ASSERT_TRUE(jsgf.startsWith("#JSGF V1.0;\ngrammar commands;\npublic <command> = <NoTalk> | ")) << jsgf.toStdString();
  // Every command with a voice entry is one rule of the grammar, in the menu's order, written in
  // lower case; Listen and the separators have none.
  QStringList rules;
  for (const Command& c : commands) {
    const VoiceGrammar g = VoiceGrammar::parse(c.voice);
    ASSERT_TRUE(g.isValid()) << c.name.toStdString();
    if (g.isEmpty()) {
      EXPECT_TRUE(c.name == "Listen" || c.name.startsWith("FileSep")) << c.name.toStdString();
      continue;
    }
    EXPECT_TRUE(jsgf.contains(QStringLiteral("\n<%1> = %2;\n").arg(c.name, g.jsgf()))) << c.name.toStdString();
    EXPECT_EQ(g.jsgf(), g.jsgf().toLower());
    rules << QStringLiteral("<%1>").arg(c.name);
  }
  EXPECT_TRUE(jsgf.contains(QStringLiteral("public <command> = %1;\n").arg(rules.join(" | "))));
  EXPECT_EQ(VoiceGrammar::parse("[please] Tell a Joke [please]").jsgf(), "[ please ] tell a joke [ please ]");
  EXPECT_EQ(VoiceGrammar::parse("(Stop | Shut up) [Talking]").jsgf(), "( stop | shut up ) [ talking ]");
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
