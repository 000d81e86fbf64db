#include "agent/speech_markup.h"

#include <gtest/gtest.h>

#include <QDomDocument>

using namespace agent;

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

Voice voice() {
  Voice v;
  v.rate = 160;
  v.pitch = 50;
  return v;
}

QString inner(const SpeechMarkup& m) {
  QString s = m.ssml;
  s.remove(QStringLiteral("<speak>"));
  s.remove(QStringLiteral("</speak>"));
  return s.simplified();
}

// The spans must cover exactly the spoken words of the document.
QStringList spokenWords(const SpeechMarkup& m) {
  QStringList out;
  QList<uint> cps = m.ssml.toUcs4();
  for (const WordSpan& w : m.words)
    out << QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData() + w.begin), w.end - w.begin);
  return out;
}

}  // namespace

TEST(AgentMarkup, PlainTextIsSpokenAndShownWordByWord) {
  const SpeechMarkup m = translateMarkup(QStringLiteral("Good  morning, Sam"), voice());
  EXPECT_EQ(m.shown, QStringLiteral("Good morning, Sam"));
  EXPECT_EQ(spokenWords(m), (QStringList{"Good", "morning,", "Sam"}));
  ASSERT_EQ(m.words.size(), 3u);
  EXPECT_EQ(m.shown.left(m.words[1].shownEnd), QStringLiteral("Good morning,"));
  EXPECT_TRUE(m.problems.isEmpty());
}

TEST(AgentMarkup, EachServiceTagBecomesItsSsml) {
  EXPECT_EQ(inner(translateMarkup(QStringLiteral("a \\Mrk=100\\ b"), voice())),
            QStringLiteral("a <mark name=\"100\"/> b"));
  EXPECT_EQ(inner(translateMarkup(QStringLiteral("\\emp\\very good"), voice())),
            QStringLiteral("<emphasis>very</emphasis> good"));
  EXPECT_EQ(inner(translateMarkup(QStringLiteral("x \\pau=400\\ y"), voice())),
            QStringLiteral("x <break time=\"400ms\"/> y"));
  // Speed is words per minute, relative to the voice's own rate.
  EXPECT_EQ(inner(translateMarkup(QStringLiteral("\\spd=240\\go"), voice())),
            QStringLiteral("<prosody rate=\"150%\" pitch=\"50\"> go</prosody>"));
  // Pitch in Hz on espeak-ng's scale; a later tag replaces the prosody, not nests it.
  const QString both = inner(translateMarkup(QStringLiteral("\\pit=400\\hi \\pit=50\\lo"), voice()));
  EXPECT_EQ(both,
            QStringLiteral(
                "<prosody rate=\"100%\" pitch=\"100\"> hi</prosody><prosody rate=\"100%\" pitch=\"0\"> lo</prosody>"));
  EXPECT_TRUE(translateMarkup(QStringLiteral("\\pit=100\\x"), voice()).ssml.contains(QLatin1String("pitch=\"28\"")));
  EXPECT_EQ(inner(translateMarkup(QStringLiteral("\\Rst\\x"), voice())),
            QStringLiteral("<prosody rate=\"100%\" pitch=\"50\"> x</prosody>"));
}

TEST(AgentMarkup, TagNamesMatchInAnyCase) {
  EXPECT_EQ(translateMarkup(QStringLiteral("\\MRK=7\\\\mrk=8\\\\Mrk=9\\"), voice()).bookmarks,
            (std::vector<int>{7, 8, 9}));
  EXPECT_TRUE(translateMarkup(QStringLiteral("\\EMP\\a \\Pau=1\\ \\SPD=100\\ \\pIt=80\\"), voice()).problems.isEmpty());
}

TEST(AgentMarkup, MapSpeaksOneTextAndShowsTheOther) {
  const SpeechMarkup m = translateMarkup(QStringLiteral("Your \\map=\"ac-tivity\"=\"activity\"\\ is due"), voice());
  EXPECT_EQ(m.shown, QStringLiteral("Your activity is due"));
  EXPECT_EQ(spokenWords(m), (QStringList{"Your", "ac-tivity", "is", "due"}));
  // Reaching the spoken word reveals the shown one.
  EXPECT_EQ(m.shown.left(m.words[1].shownEnd), QStringLiteral("Your activity"));
  EXPECT_FALSE(m.ssml.contains(QLatin1String("\"activity\"")));
}

TEST(AgentMarkup, AddressContextSpellsOutAddressesButShowsThemAsWritten) {
  const SpeechMarkup m =
      translateMarkup(QStringLiteral("Visit \\ctx=\"E-Mail\"\\ www.olm.example/help today."), voice());
  EXPECT_EQ(m.shown, QStringLiteral("Visit www.olm.example/help today."));
  EXPECT_TRUE(m.ssml.contains(QLatin1String("www dot olm dot example slash help")));
  // A sentence end is not an address.
  EXPECT_TRUE(m.ssml.contains(QLatin1String(" today.")));
  const SpeechMarkup plain = translateMarkup(QStringLiteral("www.olm.example"), voice());
  EXPECT_FALSE(plain.ssml.contains(QLatin1String(" dot ")));
}

TEST(AgentMarkup, UserTextIsEscapedAndItsTagsTakeEffect) {
  const QString memo = QStringLiteral("Bring <b>cake</b> & \"tea\" \\Mrk=200\\ then wait");
  const SpeechMarkup m = translateMarkup(memo, voice());
  QDomDocument doc;
  ASSERT_TRUE(bool(doc.setContent(m.ssml))) << m.ssml.toStdString();
  EXPECT_EQ(doc.documentElement().tagName(), QStringLiteral("speak"));
  EXPECT_TRUE(doc.elementsByTagName(QStringLiteral("b")).isEmpty());
  EXPECT_EQ(m.shown, QStringLiteral("Bring <b>cake</b> & \"tea\" then wait"));
  EXPECT_EQ(m.bookmarks, std::vector<int>{200});
}

TEST(AgentMarkup, MalformedTagsAreSpokenAsTextWithoutBreakingTheDocument) {
  const QStringList bad = {
      QStringLiteral("\\Mrk=abc\\ hello"),      // not a number
      QStringLiteral("\\Mrk=5 hello"),          // no closing backslash
      QStringLiteral("\\spd=\\ x"),             // empty value
      QStringLiteral("\\pit=99999999999\\ x"),  // out of range
      QStringLiteral("\\map=\"a\"\\ x"),        // map needs two texts
      QStringLiteral("\\map=\"a\"=\"b\\ x"),    // unterminated text
      QStringLiteral("\\ctx=E-Mail\\ x"),       // unquoted context
      QStringLiteral("\\unknown\\ x"),
      QStringLiteral("C:\\temp\\file"),
      QStringLiteral("\\"),
      QStringLiteral("ends with \\"),
      QStringLiteral("\\<speak>&\\"),
  };
  for (const QString& text : bad) {
    const SpeechMarkup m = translateMarkup(text, voice());
    QDomDocument doc;
    EXPECT_TRUE(bool(doc.setContent(m.ssml))) << text.toStdString() << " -> " << m.ssml.toStdString();
    EXPECT_FALSE(m.problems.isEmpty()) << text.toStdString();
    EXPECT_TRUE(m.bookmarks.empty()) << text.toStdString();
    EXPECT_FALSE(m.ssml.contains(QLatin1Char('\\'))) << "backslashes are not read out: " << m.ssml.toStdString();
  }
  // The words of a malformed tag are still spoken, and shown as written.
  const SpeechMarkup m = translateMarkup(QStringLiteral("\\Mrk=abc\\ hello"), voice());
  EXPECT_TRUE(m.ssml.contains(QLatin1String("Mrk=abc")));
  EXPECT_EQ(m.shown, QStringLiteral("\\Mrk=abc\\ hello"));
  // A good tag after a bad one still works.
  EXPECT_EQ(translateMarkup(QStringLiteral("\\bad \\Mrk=3\\ x"), voice()).bookmarks, std::vector<int>{3});
}

TEST(AgentMarkup, DoubleBackslashIsALiteralBackslash) {
  const SpeechMarkup m = translateMarkup(QStringLiteral("a\\\\b"), voice());
  EXPECT_TRUE(m.problems.isEmpty());
  EXPECT_EQ(m.shown, QStringLiteral("a\\b"));
}

TEST(AgentMarkup, PitchScale) {
  EXPECT_EQ(espeakPitchForHz(110), 40);
  EXPECT_EQ(espeakPitchForHz(180), 100);
  EXPECT_EQ(espeakPitchForHz(60), 0);
  EXPECT_LT(espeakPitchForHz(80), espeakPitchForHz(100));
  EXPECT_LT(espeakPitchForHz(100), espeakPitchForHz(140));
  EXPECT_EQ(espeakPitchForHz(5000), 100);
}

TEST(AgentMarkup, SpansCountCodePointsBeyondTheBasicPlane) {
  // espeak-ng reports positions in code points; an emoji is two UTF-16 units.
  const SpeechMarkup m = translateMarkup(QString::fromUtf8("\xF0\x9F\x98\x80 smile"), voice());
  EXPECT_EQ(spokenWords(m).last(), QStringLiteral("smile"));
}

TEST(AgentMarkup, AnyTextGivesAWellFormedDocument) {
  // Random texts made of the characters that matter to the tag parser and to XML.
  const QString alphabet = QStringLiteral("\\\\\\\"=MrkEmpSpdPitPauMapCtxRst0123456789 <>&'.x");
  quint32 seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int i = 0; i < 3000; ++i) {
    QString text;
    const int length = int(next() % 40);
    for (int k = 0; k < length; ++k) text += alphabet[qsizetype(next() % quint32(alphabet.size()))];
    const SpeechMarkup m = translateMarkup(text, voice());
    QDomDocument doc;
    ASSERT_TRUE(bool(doc.setContent(m.ssml))) << text.toStdString() << "\n" << m.ssml.toStdString();
    for (const WordSpan& w : m.words) {
      ASSERT_LE(w.begin, w.end);
      ASSERT_LE(w.shownEnd, m.shown.size());
    }
    ASSERT_EQ(m.bookmarks.size(), m.bookmarkPositions.size());
  }
}
