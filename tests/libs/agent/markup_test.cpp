#include "agent/speech_markup.h"
#include "support/qt_print.h"

#include <QDomDocument>

#include <gtest/gtest.h>

using namespace agent;

namespace {

SpeechMarkup tr(const QString& text) {
  Voice v;
  v.rate = 160;
  v.pitch = 50;
  return translateMarkup(text, v);
}

QString inner(const QString& text) {
  QString s = tr(text).ssml;
  s.remove(QStringLiteral("<speak>"));
  s.remove(QStringLiteral("</speak>"));
  return s.simplified();
}

// The words of the document the spans cover.
QStringList spokenWords(const SpeechMarkup& m) {
  QStringList out;
  QList<uint> cps = m.ssml.toUcs4();
  for (const WordSpan& w : m.words)
    out << QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData() + w.begin), w.end - w.begin);
  return out;
}

bool wellFormed(const SpeechMarkup& m) {
  QDomDocument doc;
  return bool(doc.setContent(m.ssml));
}

}  // namespace

TEST(AgentMarkup, ShownTextSpokenWordsAndWhereEachWordEndsInTheShownText) {
  const SpeechMarkup plain = tr(QStringLiteral("Good  morning, Sam"));
  EXPECT_EQ(plain.shown, "Good morning, Sam");
  EXPECT_EQ(spokenWords(plain), (QStringList{"Good", "morning,", "Sam"}));
  EXPECT_EQ(plain.shown.left(plain.words[1].shownEnd), "Good morning,");
  EXPECT_TRUE(plain.problems.isEmpty());
  // A map speaks one text and shows the other; reaching the spoken word reveals the shown one.
  const SpeechMarkup map = tr(QStringLiteral("Your \\map=\"ac-tivity\"=\"activity\"\\ is due"));
  EXPECT_EQ(map.shown, "Your activity is due");
  EXPECT_EQ(spokenWords(map), (QStringList{"Your", "ac-tivity", "is", "due"}));
  EXPECT_EQ(map.shown.left(map.words[1].shownEnd), "Your activity");
  EXPECT_FALSE(map.ssml.contains(QLatin1String("\"activity\"")));
  // The address context spells addresses out and shows them as written; a sentence end is no address.
  const SpeechMarkup address = tr(QStringLiteral("Visit \\ctx=\"E-Mail\"\\ www.olm.example/help today."));
  EXPECT_EQ(address.shown, "Visit www.olm.example/help today.");
  EXPECT_TRUE(address.ssml.contains(QLatin1String("www dot olm dot example slash help today.")));
  EXPECT_FALSE(tr(QStringLiteral("www.olm.example")).ssml.contains(QLatin1String(" dot ")));
  // Spans count code points (as espeak-ng does): an emoji is two UTF-16 units.
  EXPECT_EQ(spokenWords(tr(QString::fromUtf8("\xF0\x9F\x98\x80 smile"))).last(), "smile");
  const SpeechMarkup backslash = tr(QStringLiteral("a\\\\b"));
  EXPECT_TRUE(backslash.problems.isEmpty());
  EXPECT_EQ(backslash.shown, "a\\b");
}

TEST(AgentMarkup, EachServiceTagBecomesItsSsml) {
  const std::pair<const char*, const char*> cases[] = {
      {"a \\Mrk=100\\ b", "a <mark name=\"100\"/> b"},
      {"\\emp\\very good", "<emphasis>very</emphasis> good"},
      {"x \\pau=400\\ y", "x <break time=\"400ms\"/> y"},
      // Speed in words per minute, relative to the voice's own rate.
      {"\\spd=240\\go", "<prosody rate=\"150%\" pitch=\"50\"> go</prosody>"},
      // Pitch in Hz on espeak-ng's scale; a later tag replaces the prosody, not nests it.
      {"\\pit=400\\hi \\pit=50\\lo",
       "<prosody rate=\"100%\" pitch=\"100\"> hi</prosody><prosody rate=\"100%\" pitch=\"0\"> lo</prosody>"},
      {"\\pit=100\\x", "<prosody rate=\"100%\" pitch=\"28\"> x</prosody>"},
      {"\\Rst\\x", "<prosody rate=\"100%\" pitch=\"50\"> x</prosody>"},
  };
  for (const auto& [text, ssml] : cases) EXPECT_EQ(inner(QString::fromUtf8(text)), QString::fromUtf8(ssml)) << text;
  // Tag names match in any case.
  EXPECT_EQ(tr(QStringLiteral("\\MRK=7\\\\mrk=8\\\\Mrk=9\\")).bookmarks, (std::vector<int>{7, 8, 9}));
  EXPECT_TRUE(tr(QStringLiteral("\\EMP\\a \\Pau=1\\ \\SPD=100\\ \\pIt=80\\")).problems.isEmpty());
  // espeak-ng's pitch scale: 60 Hz and below is 0, 180 Hz and above 100, rising in between.
  const std::pair<int, int> pitches[] = {{110, 40}, {180, 100}, {60, 0}, {5000, 100}};
  for (const auto& [hz, pitch] : pitches) EXPECT_EQ(espeakPitchForHz(hz), pitch) << hz;
}

TEST(AgentMarkup, UserTextIsEscapedAndItsTagsTakeEffect) {
  const SpeechMarkup m = tr(QStringLiteral("Bring <b>cake</b> & \"tea\" \\Mrk=200\\ then wait"));
  QDomDocument doc;
  ASSERT_TRUE(bool(doc.setContent(m.ssml))) << m.ssml.toStdString();
  EXPECT_EQ(doc.documentElement().tagName(), "speak");
  EXPECT_TRUE(doc.elementsByTagName(QStringLiteral("b")).isEmpty());
  EXPECT_EQ(m.shown, "Bring <b>cake</b> & \"tea\" then wait");
  EXPECT_EQ(m.bookmarks, std::vector<int>{200});
}

TEST(AgentMarkup, MalformedTagsAreSpokenAsTextWithoutBreakingTheDocument) {
  const char* const bad[] = {
      "\\Mrk=abc\\ hello",      // not a number
      "\\Mrk=5 hello",          // no closing backslash
      "\\spd=\\ x",             // empty value
      "\\pit=99999999999\\ x",  // out of range
      "\\map=\"a\"\\ x",        // map needs two texts
      "\\map=\"a\"=\"b\\ x",    // unterminated text
      "\\ctx=E-Mail\\ x",       // unquoted context
      "\\unknown\\ x",
      "C:\\temp\\file",
      "\\",
      "ends with \\",
      "\\<speak>&\\",
  };
  for (const char* text : bad) {
    const SpeechMarkup m = tr(QString::fromUtf8(text));
    EXPECT_TRUE(wellFormed(m)) << text << " -> " << m.ssml.toStdString();
    EXPECT_FALSE(m.problems.isEmpty()) << text;
    EXPECT_TRUE(m.bookmarks.empty()) << text;
    EXPECT_FALSE(m.ssml.contains(QLatin1Char('\\'))) << "backslashes are not read out: " << m.ssml.toStdString();
  }
  // The words of a malformed tag are still spoken, and shown as written; a good tag after it works.
  const SpeechMarkup m = tr(QStringLiteral("\\Mrk=abc\\ hello"));
  EXPECT_TRUE(m.ssml.contains(QLatin1String("Mrk=abc")));
  EXPECT_EQ(m.shown, "\\Mrk=abc\\ hello");
  EXPECT_EQ(tr(QStringLiteral("\\bad \\Mrk=3\\ x")).bookmarks, std::vector<int>{3});
}

// Words in other scripts are said by espeak-ng's voice of their language, emoji by their names,
// and a flite voice is given ASCII only; the balloon shows the text as written.
TEST(AgentMarkup, EachWordIsSaidByTheVoiceOfItsScript) {
  const struct {
    const char* voice;
    const char* text;
    const char* said;  // each word item as "text|language", joined by " / "
  } cases[] = {
      {"en-us", "Reminder: Встреча с Анной. Late", "Reminder:| / Встреча|ru / с|ru / Анной.|ru / Late|"},
      {"en-us", "会议 3 点 Room 3 Ωμέγα", "会议|cmn / 3|cmn / 点|cmn / Room| / 3| / Ωμέγα|el"},
      {"en-us", "会議は 3 時", "会議|cmn / は|ja / 3| / 時|cmn"},
      {"en-us", "🎂 Anna's 👍🏽 👨‍👩‍👧 🇩🇪 Встреча🎂",
       "birthday cake| / Anna's| / thumbs up sign| / man woman girl| / flag| / Встреча|ru / birthday cake|"},
      {"flite:slt", "Café ☕ with Zoë – “now” Straße",
       "Cafe| / hot beverage| / with| / Zoe| / -| / \"now\"| / Strasse|"},
      {"en-us", "བཀྲ་ཤིས Tashi", "Tashi|"},  // no voice knows the script: left out
  };
  for (const auto& c : cases) {
    Voice voice;
    voice.name = QString::fromUtf8(c.voice);
    const SpeechMarkup m = translateMarkup(QString::fromUtf8(c.text), voice);
    QStringList said;
    for (const SpokenItem& item : m.items) said << item.text + u'|' + item.language;
    EXPECT_EQ(said.join(QStringLiteral(" / ")), QString::fromUtf8(c.said)) << c.text;
    EXPECT_EQ(m.shown, QString::fromUtf8(c.text));
  }
  // The parts of a mixed line: each with its own document, bookmarks where they stood.
  const SpeechMarkup m = tr(QStringLiteral("Hi \\Mrk=1\\ Анна \\Mrk=2\\ bye"));
  const std::vector<SpeechPart> parts = splitByLanguage(m, Voice{});
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].language, "ru");
  EXPECT_EQ(parts[1].markup.bookmarks, std::vector<int>{2});
  EXPECT_EQ(spokenWords(parts[1].markup), QStringList{"Анна"});
  EXPECT_EQ(m.shown.left(parts[1].markup.words[0].shownEnd), "Hi Анна");
}

TEST(AgentMarkup, AnyTextGivesAWellFormedDocument) {
  // Random texts of the characters that matter to the tag parser, to XML and to the voices.
  const QString alphabet = QString::fromUtf8("\\\\\\\"=MrkEmpSpdPitPauMapCtxRst0123456789 <>&'.xЖж中🎂");
  quint32 seed = 12345;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int i = 0; i < 3000; ++i) {
    QString text;
    for (int k = int(next() % 40); k > 0; --k) text += alphabet[qsizetype(next() % quint32(alphabet.size()))];
    const SpeechMarkup m = tr(text);
    ASSERT_TRUE(wellFormed(m)) << text.toStdString() << "\n" << m.ssml.toStdString();
    for (const WordSpan& w : m.words) {
      ASSERT_LE(w.begin, w.end);
      ASSERT_LE(w.shownEnd, m.shown.size());
    }
    ASSERT_EQ(m.bookmarks.size(), m.bookmarkPositions.size());
    for (const SpeechPart& part : splitByLanguage(m, Voice{}))
      ASSERT_TRUE(wellFormed(part.markup)) << text.toStdString() << "\n" << part.markup.ssml.toStdString();
  }
}
