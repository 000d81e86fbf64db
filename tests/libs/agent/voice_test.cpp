// flite speaking tagged text (on the silent, hand-driven output) and the voice grammars.
#include "agent/agent_service.h"
#include "agent/character.h"
#include "agent/character_file.h"
#include "agent/clock.h"
#include "agent/speech_engine.h"
#include "agent/voice_grammar.h"
#include "flite_voice.h"
#include "support/program_commands.h"

#include "support/speech_engine.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

using namespace agent;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QString assets() { return QStringLiteral(AGENT_ASSETS_DIR); }

void ensureApp() {
  static int argc = 1;
  static char name[] = "agent_voice_test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
}

Voice fliteVoice(const char* name) {
  Voice v;
  v.name = QString::fromLatin1(name);
  v.rate = 175;
  v.pitch = 50;
  return v;
}

Utterance say(const QString& text, const Voice& voice) {
  return chimewise::testsupport::TestSpeechEngine().synthesizeNow(translateMarkup(text, voice), voice);
}

// The pitch of each loud frame in Hz, from its autocorrelation peak, from low to high.
std::vector<double> framePitches(const Utterance& u) {
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
      if (c > bestValue) {
        bestValue = c;
        best = lag;
      }
    }
    if (best) found.push_back(double(u.sampleRate) / best);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The voice's typical pitch in Hz: the median over its loud frames.
double pitchHz(const Utterance& u) {
  const std::vector<double> found = framePitches(u);
  return found.empty() ? 0 : found[found.size() / 2];
}

// Where the energy of the voice lies: the mean over its loud frames of the spectral centroid
// (the amplitude-weighted mean frequency, from a Hann-windowed DFT of 32 ms), in Hz.
double spectralCentroidHz(const Utterance& u) {
  const auto* s = reinterpret_cast<const qint16*>(u.pcm.constData());
  const qsizetype n = u.pcm.size() / 2;
  const int frame = 512;
  const double pi = std::acos(-1.0);
  std::vector<double> cosine(frame), sine(frame);
  for (int k = 0; k < frame; ++k) {
    cosine[size_t(k)] = std::cos(2 * pi * k / frame);
    sine[size_t(k)] = std::sin(2 * pi * k / frame);
  }
  double sum = 0;
  int frames = 0;
  std::vector<double> x(frame);
  for (qsizetype at = 0; at + frame < n; at += frame) {
    double energy = 0;
    for (int k = 0; k < frame; ++k) energy += double(s[at + k]) * s[at + k];
    if (energy / frame < 1e5) continue;
    for (int k = 0; k < frame; ++k) x[size_t(k)] = s[at + k] * (0.5 - 0.5 * cosine[size_t(k)]);
    double weighted = 0, total = 0;
    for (int bin = 1; bin < frame / 2; ++bin) {
      double re = 0, im = 0;
      for (int k = 0; k < frame; ++k) {
        const size_t m = size_t(bin * k % frame);
        re += x[size_t(k)] * cosine[m];
        im -= x[size_t(k)] * sine[m];
      }
      const double magnitude = std::hypot(re, im);
      weighted += magnitude * bin * u.sampleRate / frame;
      total += magnitude;
    }
    sum += weighted / total;
    ++frames;
  }
  return frames ? sum / frames : 0;
}

class FliteCharacter : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApp();
    AgentOptions o;
    o.clock = &clock;
    o.audio = AgentOptions::Audio::Silent;
    o.synthesizeOnCallerThread = true;
    service = std::make_unique<AgentService>(o);
    QString error;
    c = service->load(QStringLiteral("CharacterID"), assets() + QStringLiteral("Hoot.ochar"), &error);
    ASSERT_TRUE(c) << error.toStdString();
    ASSERT_EQ(resolveVoice(c->definition().voice.name).synthesizer, Synthesizer::Flite);
  }

  void run(qint64 ms) {
    for (qint64 t = 0; t < ms; t += 10) {
      clock.advance(std::min<qint64>(10, ms - t));
      QCoreApplication::processEvents();
    }
  }

  ManualClock clock;
  std::unique_ptr<AgentService> service;
  Character* c = nullptr;
};

}  // namespace

TEST(AgentVoice, VoiceNamesChooseTheSynthesiserAndUnknownOnesFallBackWithAReason) {
  EXPECT_EQ(resolveVoice("flite:slt").synthesizer, Synthesizer::Flite);
  EXPECT_EQ(resolveVoice("Flite: cmu_us_rms").voice, "rms");
  EXPECT_EQ(resolveVoice("espeak:en-us+f3").synthesizer, Synthesizer::Espeak);
  EXPECT_EQ(resolveVoice("espeak:en-us+f3").voice, "en-us+f3");
  // Files written before flite came keep meaning what they meant.
  EXPECT_EQ(resolveVoice("en-gb-x-rp").synthesizer, Synthesizer::Espeak);
  EXPECT_EQ(resolveVoice("en-gb-x-rp").voice, "en-gb-x-rp");
  EXPECT_TRUE(resolveVoice("en-us+m3").problem.isEmpty());

  const VoiceChoice unknownFlite = resolveVoice("flite:kevin");
  EXPECT_EQ(unknownFlite.voice, "slt");
  EXPECT_TRUE(unknownFlite.problem.contains("kevin"));
  const VoiceChoice unknownEngine = resolveVoice("festival:kal");
  EXPECT_EQ(unknownEngine.synthesizer, Synthesizer::Espeak);
  EXPECT_TRUE(unknownEngine.problem.contains("festival"));

  // A character naming a voice this machine lacks still loads, still speaks, and says why.
  QFile f(assets() + QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray contents = f.readAll();
  ASSERT_TRUE(contents.contains("\"flite:rms\""));
  contents.replace("\"flite:rms\"", "\"flite:kevin\"");
  const LoadResult loaded = parseCharacter(contents, QStringLiteral("Bolt.ochar"));
  ASSERT_TRUE(loaded.character) << loaded.error.toStdString();
  ASSERT_EQ(loaded.character->warnings.size(), 1);
  EXPECT_TRUE(loaded.character->warnings.front().contains("kevin"));
  const Utterance u = say(QStringLiteral("Hello there."), loaded.character->voice);
  EXPECT_TRUE(u.error.isEmpty());
  EXPECT_GT(u.lengthMs(), 300);
}

TEST(AgentVoice, ShippedCharactersSpeakWithFlite) {
  for (const char* file : {"Hoot.ochar", "Bolt.ochar"}) {
    const LoadResult r = loadCharacterFile(assets() + QString::fromLatin1(file));
    ASSERT_TRUE(r.character) << r.error.toStdString();
    EXPECT_TRUE(r.character->warnings.isEmpty()) << file;
    EXPECT_EQ(resolveVoice(r.character->voice.name).synthesizer, Synthesizer::Flite) << file;
  }
}

TEST(AgentVoice, FliteWordsAndMouthFollowTheUtterance) {
  const Voice voice = fliteVoice("flite:slt");
  const SpeechMarkup m = translateMarkup(QStringLiteral("Call the dentist about the crown."), voice);
  const Utterance u = chimewise::testsupport::TestSpeechEngine().synthesizeNow(m, voice);
  ASSERT_TRUE(u.error.isEmpty()) << u.error.toStdString();
  EXPECT_EQ(u.sampleRate, flitevoice::kSampleRate);
  std::vector<qint64> words;
  std::vector<int> shownEnds;
  int mouthChanges = 0;
  bool closedForM = false;
  for (const SpeechEvent& e : u.events) {
    if (e.kind == SpeechEvent::Word) {
      words.push_back(e.ms);
      shownEnds.push_back(e.value);
    }
    if (e.kind == SpeechEvent::Mouth) {
      ++mouthChanges;
      if (e.value == int(MouthShape::Closed) && e.ms > 200 && e.ms + 200 < u.lengthMs()) closedForM = true;
    }
  }
  // One event per word, in order, each later than the one before, all inside the audio, and
  // the balloon reaches the whole text with the last.
  ASSERT_EQ(words.size(), 6u);
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  EXPECT_EQ(std::adjacent_find(words.begin(), words.end()), words.end());
  EXPECT_LT(words.back(), u.lengthMs());
  EXPECT_EQ(shownEnds.back(), m.shown.size());
  // "dentist" is the long word: its gap to "about" is wider than "the"'s to "dentist".
  EXPECT_GT(words[3] - words[2], words[2] - words[1]);
  // The phones move the mouth, closing it for the "b" of "about" mid-sentence.
  EXPECT_GT(mouthChanges, 8);
  EXPECT_TRUE(closedForM);
  // The whole sentence lasts about as long as flite says it (two seconds at this pace).
  EXPECT_GT(u.lengthMs(), 1400);
  EXPECT_LT(u.lengthMs(), 3200);
}

TEST(AgentVoice, FliteHandsOutASentenceWhileMakingItWithTheSameSoundAndTimes) {
  const Voice voice = fliteVoice("flite:slt");
  // Two flite utterances (the emphasis starts a new one) and a bookmark between sentences.
  const SpeechMarkup m = translateMarkup(
      QStringLiteral("Remember to call the dentist about \\emp\\ Thursday. \\Mrk=7\\ Then feed the cat."), voice);
  auto synthesize = [&](const std::function<void(Utterance)>& chunks) {
    // flite's filter draws its noise from rand(): the same seed, the same samples.
    std::srand(1);
    return flitevoice::synthesize(m, QStringLiteral("slt"), voice.rate, voice.pitch, voice.formants, nullptr, chunks);
  };
  const Utterance whole = synthesize({});
  ASSERT_TRUE(whole.error.isEmpty()) << whole.error.toStdString();

  std::vector<Utterance> chunks;
  Utterance rest = synthesize([&](Utterance u) { chunks.push_back(std::move(u)); });
  ASSERT_TRUE(rest.error.isEmpty()) << rest.error.toStdString();
  ASSERT_FALSE(chunks.empty());
  // The first chunk leaves before its utterance is done: it holds at most the first word.
  const auto& first = chunks.front().events;
  EXPECT_FALSE(chunks.front().pcm.isEmpty());
  EXPECT_LE(std::count_if(first.begin(), first.end(), [](const SpeechEvent& e) { return e.kind == SpeechEvent::Word; }),
            1);
  EXPECT_GT(chunks.size(), 3u);

  // Put together, the chunks are the same audio, and their events the same in the same order.
  chunks.push_back(std::move(rest));
  QByteArray pcm;
  std::vector<SpeechEvent> events;
  for (const Utterance& c : chunks) {
    pcm += c.pcm;
    events.insert(events.end(), c.events.begin(), c.events.end());
  }
  EXPECT_EQ(pcm.size(), whole.pcm.size());
  EXPECT_TRUE(pcm == whole.pcm);
  ASSERT_EQ(events.size(), whole.events.size());
  for (size_t k = 0; k < events.size(); ++k) {
    EXPECT_EQ(events[k].kind, whole.events[k].kind) << k;
    EXPECT_EQ(events[k].ms, whole.events[k].ms) << k;
    EXPECT_EQ(events[k].value, whole.events[k].value) << k;
  }
}

TEST(AgentVoice, FliteStopsWithinTheSentenceWhenCancelled) {
  const Voice voice = fliteVoice("flite:slt");
  const SpeechMarkup m = translateMarkup(QStringLiteral("Remember to call the dentist about Thursday."), voice);
  const qint64 wholeMs = say(QStringLiteral("Remember to call the dentist about Thursday."), voice).lengthMs();
  std::atomic<bool> cancelled = false;
  int chunks = 0;
  qint64 handedMs = 0;
  const Utterance u = flitevoice::synthesize(m, QStringLiteral("slt"), voice.rate, voice.pitch, voice.formants,
                                             &cancelled, [&](const Utterance& chunk) {
                                               ++chunks;
                                               handedMs += chunk.lengthMs();
                                               cancelled = true;
                                             });
  EXPECT_TRUE(u.cancelled);
  EXPECT_EQ(chunks, 1);
  EXPECT_LT(handedMs, wholeMs / 2);
}

TEST(AgentVoice, FliteHonoursPausesSpeedEmphasisAndPitch) {
  for (const char* name : {"flite:slt", "flite:rms"}) {
    SCOPED_TRACE(name);
    const Voice voice = fliteVoice(name);
    const qint64 plain = say(QStringLiteral("Hello there my friend"), voice).lengthMs();
    const qint64 paused = say(QStringLiteral("Hello \\pau=400\\ there my friend"), voice).lengthMs();
    EXPECT_GE(paused - plain, 350);
    const qint64 slow = say(QStringLiteral("\\spd=100\\ Hello there my friend"), voice).lengthMs();
    const qint64 fast = say(QStringLiteral("\\spd=300\\ Hello there my friend"), voice).lengthMs();
    EXPECT_GT(slow, plain * 13 / 10);
    EXPECT_LT(fast, plain * 8 / 10);
    const qint64 stressed = say(QStringLiteral("Hello there my \\emp\\ friend"), voice).lengthMs();
    EXPECT_GT(stressed, plain);
    // The pitch tag sets the voice's pitch in Hz, also for rms, whose own model ignores it.
    const double low = pitchHz(say(QStringLiteral("\\pit=90\\ Hello there my friend"), voice));
    const double high = pitchHz(say(QStringLiteral("\\pit=220\\ Hello there my friend"), voice));
    EXPECT_NEAR(low, 90, 20);
    EXPECT_NEAR(high, 220, 45);
    // \rst\ goes back to the voice's own pace.
    const qint64 reset = say(QStringLiteral("\\spd=100\\ \\rst\\ Hello there my friend"), voice).lengthMs();
    EXPECT_NEAR(double(reset), double(plain), plain * 0.1);
  }
}

TEST(AgentVoice, FliteFormantsMoveTheVoicesResonancesButNotItsPitchOrPace) {
  Voice voice = fliteVoice("flite:slt");
  const QString text = QStringLiteral("Reminder, you have an activity scheduled for Monday at three forty five.");
  const Utterance own = say(text, voice);
  voice.formants = 88;
  const Utterance lower = say(text, voice);
  voice.formants = 112;
  const Utterance higher = say(text, voice);
  voice.formants = 60;  // out of range: as far as they go
  const Utterance lowest = say(text, voice);
  EXPECT_LT(spectralCentroidHz(lower), spectralCentroidHz(own) * 0.95);
  EXPECT_GT(spectralCentroidHz(higher), spectralCentroidHz(own) * 1.05);
  EXPECT_LT(spectralCentroidHz(lowest), spectralCentroidHz(lower));
  for (const Utterance* u : {&lower, &higher}) {
    EXPECT_NEAR(pitchHz(*u), pitchHz(own), pitchHz(own) * 0.08);
    EXPECT_NEAR(double(u->lengthMs()), double(own.lengthMs()), own.lengthMs() * 0.03);
  }
  // rms, whose pitch comes from its accent model, as well (its noisier sound moves less).
  Voice rms = fliteVoice("flite:rms");
  const Utterance rmsOwn = say(text, rms);
  rms.formants = 88;
  const Utterance rmsLower = say(text, rms);
  EXPECT_LT(spectralCentroidHz(rmsLower), spectralCentroidHz(rmsOwn));
  EXPECT_NEAR(pitchHz(rmsLower), pitchHz(rmsOwn), pitchHz(rmsOwn) * 0.08);
}

TEST(AgentVoice, HootSpeaksHigherThanBolt) {
  std::map<QString, Utterance> said;
  for (const char* file : {"Hoot.ochar", "Bolt.ochar"}) {
    const LoadResult r = loadCharacterFile(assets() + QString::fromLatin1(file));
    ASSERT_TRUE(r.character) << r.error.toStdString();
    said[QString::fromLatin1(file)] =
        say(QStringLiteral("The time is three forty five in the afternoon."), r.character->voice);
  }
  const Utterance& hoot = said[QStringLiteral("Hoot.ochar")];
  const Utterance& bolt = said[QStringLiteral("Bolt.ochar")];
  // The owl's voice is the higher by well over half an octave.
  EXPECT_GT(pitchHz(hoot), pitchHz(bolt) * 1.5);
}

TEST_F(FliteCharacter, BookmarksFireWhenTheirPlaceIsPlayed) {
  std::vector<std::pair<int, QString>> fired;
  QObject::connect(c, &Character::bookmark, [&](int id) { fired.emplace_back(id, c->balloonText()); });
  c->show();
  run(2000);
  c->speak(QStringLiteral("\\Mrk=1\\First words here, \\Mrk=2\\ then the middle. \\Mrk=3\\ And the end. \\Mrk=4\\"));
  ASSERT_TRUE(fired.size() <= 1u);
  run(15000);
  ASSERT_EQ(fired.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(fired[size_t(i)].first, i + 1);
  // Each mark fires after the words before it are shown and before those after it are.
  EXPECT_FALSE(fired[1].second.contains("then"));
  EXPECT_TRUE(fired[1].second.contains("here,"));
  EXPECT_TRUE(fired[2].second.contains("middle."));
  EXPECT_FALSE(fired[2].second.contains("And"));
  EXPECT_EQ(fired[3].second, "First words here, then the middle. And the end.");
}

TEST_F(FliteCharacter, MappedTextIsShownWhileTheOtherIsSpokenAndBadTagsAreSpokenAsText) {
  const Voice voice = c->definition().voice;
  // The spoken side decides the sound: five words take far longer than the one shown.
  const SpeechMarkup mapped = translateMarkup(QStringLiteral("\\map=\"one two three four five\"=\"five\"\\"), voice);
  EXPECT_EQ(mapped.shown, "five");
  const qint64 mappedMs = chimewise::testsupport::TestSpeechEngine().synthesizeNow(mapped, voice).lengthMs();
  const qint64 oneWordMs = say(QStringLiteral("five"), voice).lengthMs();
  EXPECT_GT(mappedMs, oneWordMs * 2);

  c->show();
  run(2000);
  QStringList seen;
  QObject::connect(c, &Character::requestCompleted,
                   [&](RequestId, RequestStatus, const QString&) { seen << c->balloonText(); });
  c->speak(QStringLiteral("Reading the \\map=\"ac-tivity\"=\"activity\"\\ list"));
  run(6000);
  ASSERT_EQ(seen.size(), 1);
  EXPECT_EQ(seen.front(), "Reading the activity list");

  // A tag that is not one: its words are spoken (the audio is longer than without them) and
  // shown with their backslashes.
  const qint64 withBad = say(QStringLiteral("\\bogus=really\\ hello"), voice).lengthMs();
  const qint64 without = say(QStringLiteral("hello"), voice).lengthMs();
  EXPECT_GT(withBad, without + 200);
  const SpeechMarkup bad = translateMarkup(QStringLiteral("\\bogus=really\\ hello"), voice);
  EXPECT_EQ(bad.shown, "\\bogus=really\\ hello");
  EXPECT_FALSE(bad.problems.isEmpty());
}

// ---- Voice grammars ------------------------------------------------------------------------

TEST(AgentVoiceGrammar, TheProgramsGrammarsBecomeOneJsgfGrammar) {
  const std::vector<Command> commands = programCommands();
  QStringList problems;
  const QString jsgf = commandsJsgf(commands, &problems);
  EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
  ASSERT_TRUE(jsgf.startsWith("#JSGF V1.0;\ngrammar commands;\npublic <command> = <NoTalk> | ")) << jsgf.toStdString();
  // Every command with a voice entry is one rule of the grammar, in the menu's order, written
  // in lower case; Listen and the separators have none.
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
}

TEST(AgentVoiceGrammar, PhrasesMatchTheirCommandAndNothingElse) {
  const std::vector<Command> commands = programCommands();
  // What a grammar allows is heard (every phrase of every command, below), in any letter case;
  // a part of a phrase, or a phrase with more words, is not.
  EXPECT_EQ(commandForPhrase(commands, "Read Mail"), "ReadMail");
  EXPECT_EQ(commandForPhrase(commands, "read"), "");
  EXPECT_EQ(commandForPhrase(commands, "what time"), "");
  EXPECT_EQ(commandForPhrase(commands, "snoring"), "");
  EXPECT_EQ(commandForPhrase(commands, "stop talking please"), "");
  EXPECT_EQ(commandForPhrase(commands, ""), "");
  // A disabled command is not heard.
  std::vector<Command> disabled = commands;
  for (Command& c : disabled)
    if (c.name == "GoAway") c.enabled = false;
  EXPECT_EQ(commandForPhrase(disabled, "go away"), "");
  EXPECT_FALSE(commandsJsgf(disabled).contains("GoAway"));

  // Every phrase a grammar allows leads back to its own command, and each voiced command has
  // phrases.
  for (const Command& c : commands) {
    const QStringList phrases = VoiceGrammar::parse(c.voice).phrases();
    EXPECT_EQ(phrases.isEmpty(), c.voice.isEmpty()) << c.name.toStdString();
    for (const QString& p : phrases) EXPECT_EQ(commandForPhrase(commands, p), c.name) << p.toStdString();
  }
  EXPECT_EQ(VoiceGrammar::parse("[please] Tell a Joke [please]").phrases().size(), 4);
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
  // Punctuation separates words; case does not matter.
  EXPECT_EQ(VoiceGrammar::parse("Olm's  Options, please!").jsgf(), "olm's options please");
  EXPECT_TRUE(commandsJsgf({}).isEmpty());
}
