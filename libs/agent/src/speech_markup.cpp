#include "agent/speech_markup.h"

#include "spoken_text.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace agent {

int espeakPitchForHz(int hz) {
  // Measured on espeak-ng 1.51's en-us voice: pitch 0 sounds at about 80 Hz, 50 at about
  // 110 Hz and 100 (its ceiling) at about 180 Hz, roughly logarithmic in between. Higher
  // requests get the voice's highest pitch.
  if (hz <= 0) return 50;
  const double value = 87.0 * std::log2(hz / 80.0);
  return std::clamp(static_cast<int>(std::lround(value)), 0, 100);
}

VoiceChoice resolveVoice(const QString& name) {
  VoiceChoice choice;
  const QString n = name.trimmed();
  const qsizetype colon = n.indexOf(QLatin1Char(':'));
  const QString engine = colon < 0 ? QString() : n.left(colon).trimmed().toLower();
  const QString voice = colon < 0 ? n : n.mid(colon + 1).trimmed();
  if (engine == QLatin1String("flite")) {
    choice.synthesizer = Synthesizer::Flite;
    QString v = voice.toLower();
    if (v.startsWith(QLatin1String("cmu_us_"))) v = v.mid(7);
    static const QStringList known{QStringLiteral("slt"), QStringLiteral("rms"), QStringLiteral("awb")};
    if (known.contains(v)) {
      choice.voice = v;
    } else {
      choice.voice = QStringLiteral("slt");
      choice.problem =
          QStringLiteral("flite has no voice named \"%1\" (it has slt, rms and awb); speaking with slt").arg(voice);
    }
    return choice;
  }
  choice.synthesizer = Synthesizer::Espeak;
  if (engine.isEmpty() || engine == QLatin1String("espeak") || engine == QLatin1String("espeak-ng")) {
    choice.voice = voice.isEmpty() ? QStringLiteral("en-us") : voice;
    if (voice.isEmpty()) choice.problem = QStringLiteral("no voice named; speaking with espeak-ng's en-us");
  } else {
    choice.voice = QStringLiteral("en-us");
    choice.problem =
        QStringLiteral("unknown synthesiser \"%1\" (flite or espeak); speaking with espeak-ng's en-us").arg(engine);
  }
  return choice;
}

namespace {

QString escapeXml(QStringView text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    switch (c.unicode()) {
      case '&': out += QLatin1String("&amp;"); break;
      case '<': out += QLatin1String("&lt;"); break;
      case '>': out += QLatin1String("&gt;"); break;
      case '"': out += QLatin1String("&quot;"); break;
      case '\'': out += QLatin1String("&apos;"); break;
      default:
        // XML 1.0 forbids most control characters; they carry nothing worth speaking.
        if (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
          out += QLatin1Char(' ');
        else
          out += c;
    }
  }
  return out;
}

int codePoints(QStringView s) {
  int n = 0;
  for (QChar c : s)
    if (!c.isLowSurrogate()) ++n;
  return n;
}

// How a word looks spoken in address context: "www.example.com" as "www dot example dot com".
QString spellAddress(const QString& word) {
  QString out;
  for (QChar c : word) {
    switch (c.unicode()) {
      case '.': out += QLatin1String(" dot "); break;
      case '@': out += QLatin1String(" at "); break;
      case '/': out += QLatin1String(" slash "); break;
      case ':': out += QLatin1String(" colon "); break;
      case '_': out += QLatin1String(" underscore "); break;
      case '-': out += QLatin1String(" dash "); break;
      default: out += c;
    }
  }
  return out.simplified();
}

bool looksLikeAddress(const QString& word) {
  QString core = word;
  while (!core.isEmpty() && QStringLiteral(".,;:!?)").contains(core.back())) core.chop(1);
  return core.contains(QLatin1Char('@')) || core.contains(QLatin1Char('/')) ||
         (core.contains(QLatin1Char('.')) && !core.startsWith(QLatin1Char('.')));
}

struct Tag {
  enum Kind { Mark, Emphasis, Speed, Pitch, Pause, Map, Context, Reset, Backslash } kind;
  int number = 0;
  QString first;
  QString second;
  qsizetype end = 0;  // index just past the closing backslash
};

// Reads a quoted string at `pos`; returns its text and moves `pos` past the closing quote.
std::optional<QString> readQuoted(const QString& text, qsizetype& pos) {
  if (pos >= text.size() || text[pos] != QLatin1Char('"')) return std::nullopt;
  const qsizetype close = text.indexOf(QLatin1Char('"'), pos + 1);
  if (close < 0) return std::nullopt;
  QString value = text.mid(pos + 1, close - pos - 1);
  if (value.contains(QLatin1Char('\\'))) return std::nullopt;
  pos = close + 1;
  return value;
}

std::optional<int> readNumber(const QString& text, qsizetype& pos) {
  const qsizetype start = pos;
  while (pos < text.size() && text[pos].isDigit() && pos - start < 9) ++pos;
  if (pos == start || (pos < text.size() && text[pos].isDigit())) return std::nullopt;
  return text.mid(start, pos - start).toInt();
}

bool startsWithName(const QString& text, qsizetype pos, QLatin1String name) {
  return QStringView(text).mid(pos, name.size()).compare(name, Qt::CaseInsensitive) == 0;
}

// Parses the tag whose opening backslash is at `at`; nothing when it is not a well-formed tag.
std::optional<Tag> parseTag(const QString& text, qsizetype at) {
  qsizetype pos = at + 1;
  auto closes = [&](Tag tag) -> std::optional<Tag> {
    if (pos < text.size() && text[pos] == QLatin1Char('\\')) {
      tag.end = pos + 1;
      return tag;
    }
    return std::nullopt;
  };
  if (pos < text.size() && text[pos] == QLatin1Char('\\')) {
    Tag tag{Tag::Backslash};
    tag.end = pos + 1;
    return tag;
  }
  struct Numeric {
    QLatin1String name;
    Tag::Kind kind;
    int min;
    int max;
  };
  static const Numeric numeric[] = {
      {QLatin1String("mrk="), Tag::Mark, 0, 999999999},
      {QLatin1String("spd="), Tag::Speed, 1, 1000},
      {QLatin1String("pit="), Tag::Pitch, 1, 2000},
      {QLatin1String("pau="), Tag::Pause, 0, 60000},
  };
  for (const Numeric& n : numeric) {
    if (!startsWithName(text, pos, n.name)) continue;
    pos += n.name.size();
    const auto value = readNumber(text, pos);
    if (!value || *value < n.min || *value > n.max) return std::nullopt;
    Tag tag{n.kind};
    tag.number = *value;
    return closes(tag);
  }
  if (startsWithName(text, pos, QLatin1String("emp\\"))) {
    pos += 3;
    return closes(Tag{Tag::Emphasis});
  }
  if (startsWithName(text, pos, QLatin1String("rst\\"))) {
    pos += 3;
    return closes(Tag{Tag::Reset});
  }
  if (startsWithName(text, pos, QLatin1String("map="))) {
    pos += 4;
    auto spoken = readQuoted(text, pos);
    if (!spoken || pos >= text.size() || text[pos] != QLatin1Char('=')) return std::nullopt;
    ++pos;
    auto shown = readQuoted(text, pos);
    if (!shown) return std::nullopt;
    Tag tag{Tag::Map};
    tag.first = *spoken;
    tag.second = *shown;
    return closes(tag);
  }
  if (startsWithName(text, pos, QLatin1String("ctx="))) {
    pos += 4;
    auto context = readQuoted(text, pos);
    if (!context) return std::nullopt;
    Tag tag{Tag::Context};
    tag.first = *context;
    return closes(tag);
  }
  return std::nullopt;
}

class Builder {
 public:
  explicit Builder(const Voice& voice)
      : m_voice(voice),
        m_asciiOnly(resolveVoice(voice.name).synthesizer == Synthesizer::Flite),
        m_rate(voice.rate),
        m_pitch(voice.pitch) {
    append(QStringLiteral("<speak>"));
  }

  // Plain text, one span per word (or per part of a word said by another voice). Backslashes
  // left over from malformed markup are shown, not read out.
  void text(const QString& text) {
    qsizetype i = 0;
    while (i < text.size()) {
      if (text[i].isSpace()) {
        m_pendingSpace = true;
        ++i;
        continue;
      }
      qsizetype j = i;
      while (j < text.size() && !text[j].isSpace()) ++j;
      const QString word = text.mid(i, j - i);
      i = j;
      QString spoken = QString(word).replace(QLatin1Char('\\'), QLatin1Char(' ')).simplified();
      if (m_address && looksLikeAddress(spoken)) spoken = spellAddress(spoken);
      showSeparator();
      m_out.shown += word;
      say(spoken);
    }
  }

  // Text spoken as `spoken` but shown as `shown`, all at once when the audio reaches it.
  void mapped(const QString& spoken, const QString& shown) {
    showSeparator();
    m_out.shown += shown;
    say(spoken.simplified());
  }

  void literalShown(const QString& shown) {
    showSeparator();
    m_out.shown += shown;
  }

  void mark(int id) {
    separate();
    m_out.bookmarkPositions.push_back(m_codePoints);
    append(QStringLiteral("<mark name=\"%1\"/>").arg(id));
    m_out.bookmarks.push_back(id);
    SpokenItem item;
    item.kind = SpokenItem::Mark;
    item.value = id;
    m_out.items.push_back(item);
  }

  void pause(int ms) {
    separate();
    append(QStringLiteral("<break time=\"%1ms\"/>").arg(ms));
    SpokenItem item;
    item.kind = SpokenItem::Pause;
    item.value = ms;
    m_out.items.push_back(item);
  }

  void emphasis() { m_emphasisNext = true; }

  void speed(int wpm) {
    m_rate = std::clamp(wpm, 80, 450);
    prosody();
  }

  void pitch(int hz) {
    m_pitch = espeakPitchForHz(hz);
    m_pitchHz = hz;
    prosody();
  }

  void reset() {
    m_rate = m_voice.rate;
    m_pitch = m_voice.pitch;
    m_pitchHz = 0;
    prosody();
  }

  void context(const QString& name) {
    const QString n = name.trimmed().toLower();
    m_address = n == QLatin1String("address") || n == QLatin1String("e-mail") || n == QLatin1String("email");
  }

  void problem(const QString& p) { m_out.problems << p; }

  SpeechMarkup finish() {
    if (m_prosodyOpen) append(QStringLiteral("</prosody>"));
    append(QStringLiteral("</speak>"));
    joinNeutralWords();
    return std::move(m_out);
  }

 private:
  // What is said for one word of the shown text (or one mapped text): one span per voice.
  void say(const QString& spoken) {
    const std::vector<SpokenPiece> pieces = spokenPieces(spoken, m_asciiOnly);
    if (pieces.empty()) return;
    separate();
    openEmphasis();
    const bool emphasised = m_emphasisNext;
    for (const SpokenPiece& piece : pieces) {
      if (&piece != &pieces.front()) append(QStringLiteral(" "));
      const int begin = m_codePoints;
      append(escapeXml(piece.text));
      m_out.words.push_back({begin, m_codePoints, static_cast<int>(m_out.shown.size())});
      spokenWord(piece.text, emphasised, piece.language);
    }
    closeEmphasis();
  }

  // Numbers and signs between two words of one other language are said in that language
  // ("会议 3 点" in Mandarin).
  void joinNeutralWords() {
    auto& items = m_out.items;
    const auto hasLetters = [](const QString& t) {
      return std::any_of(t.begin(), t.end(), [](QChar c) { return c.isLetter(); });
    };
    QString previous;  // the language of the word before
    for (size_t k = 0; k < items.size(); ++k) {
      SpokenItem& item = items[k];
      if (item.kind != SpokenItem::Word) continue;
      if (item.language.isEmpty() && !previous.isEmpty() && !hasLetters(item.text)) {
        auto next = std::find_if(items.begin() + qsizetype(k) + 1, items.end(),
                                 [&](const SpokenItem& n) { return n.kind == SpokenItem::Word && hasLetters(n.text); });
        if (next != items.end() && next->language == previous) item.language = previous;
      }
      previous = item.language;
    }
  }

  void spokenWord(const QString& spoken, bool emphasised, const QString& language) {
    SpokenItem item;
    item.language = language;
    item.text = spoken;
    item.shownEnd = static_cast<int>(m_out.shown.size());
    item.rate = m_rate;
    item.pitchHz = m_pitchHz;
    item.emphasis = emphasised;
    m_out.items.push_back(item);
  }

  void append(const QString& s) {
    m_out.ssml += s;
    m_codePoints += codePoints(s);
  }

  // Keeps words apart in the SSML even where tags stood between them without spaces.
  void separate() {
    if (m_out.ssml.back() != QLatin1Char(' ')) append(QStringLiteral(" "));
  }

  // The balloon keeps the spacing of the text as written.
  void showSeparator() {
    if (m_pendingSpace && !m_out.shown.isEmpty() && !m_out.shown.back().isSpace()) m_out.shown += QLatin1Char(' ');
    m_pendingSpace = false;
  }

  void openEmphasis() {
    if (m_emphasisNext) append(QStringLiteral("<emphasis>"));
  }

  void closeEmphasis() {
    if (m_emphasisNext) append(QStringLiteral("</emphasis>"));
    m_emphasisNext = false;
  }

  void prosody() {
    if (m_prosodyOpen) append(QStringLiteral("</prosody>"));
    const int percent = std::max(1, static_cast<int>(std::lround(100.0 * m_rate / std::max(1, m_voice.rate))));
    append(QStringLiteral("<prosody rate=\"%1%\" pitch=\"%2\">").arg(percent).arg(m_pitch));
    m_prosodyOpen = true;
  }

  const Voice& m_voice;
  const bool m_asciiOnly;  // the voice reads ASCII only (flite)
  SpeechMarkup m_out;
  int m_codePoints = 0;
  int m_rate;
  int m_pitch;
  int m_pitchHz = 0;  // as asked by the latest pitch tag; 0 for the voice's own
  bool m_prosodyOpen = false;
  bool m_emphasisNext = false;
  bool m_address = false;
  bool m_pendingSpace = false;
};

}  // namespace

SpeechMarkup translateMarkup(const QString& text, const Voice& voice) {
  Builder b(voice);
  QString plain;
  auto flush = [&] {
    if (!plain.isEmpty()) b.text(plain);
    plain.clear();
  };
  qsizetype i = 0;
  while (i < text.size()) {
    const QChar c = text[i];
    if (c != QLatin1Char('\\')) {
      plain += c;
      ++i;
      continue;
    }
    const auto tag = parseTag(text, i);
    if (!tag) {
      // Not a tag: the backslash is shown but not read out, and what follows it is
      // ordinary text (which may hold real tags again).
      const qsizetype close = text.indexOf(QLatin1Char('\\'), i + 1);
      b.problem(QStringLiteral("not a speech tag, spoken as text: %1")
                    .arg(text.mid(i, close < 0 ? 40 : std::min<qsizetype>(close - i + 1, 40))));
      plain += c;
      ++i;
      continue;
    }
    flush();
    switch (tag->kind) {
      case Tag::Mark: b.mark(tag->number); break;
      case Tag::Emphasis: b.emphasis(); break;
      case Tag::Speed: b.speed(tag->number); break;
      case Tag::Pitch: b.pitch(tag->number); break;
      case Tag::Pause: b.pause(tag->number); break;
      case Tag::Map: b.mapped(tag->first, tag->second); break;
      case Tag::Context: b.context(tag->first); break;
      case Tag::Reset: b.reset(); break;
      case Tag::Backslash: b.literalShown(QStringLiteral("\\")); break;
    }
    i = tag->end;
  }
  flush();
  return b.finish();
}

namespace {

// The SSML, word spans and bookmarks of a stretch of speech given as its spoken items.
SpeechMarkup markupFromItems(std::vector<SpokenItem> items, const QString& shown, const Voice& voice) {
  SpeechMarkup m;
  m.shown = shown;
  int points = 0;
  const auto append = [&](const QString& s) {
    m.ssml += s;
    points += codePoints(s);
  };
  append(QStringLiteral("<speak>"));
  int rate = voice.rate;
  int pitchHz = 0;
  bool prosodyOpen = false;
  for (const SpokenItem& item : items) {
    append(QStringLiteral(" "));
    switch (item.kind) {
      case SpokenItem::Word: {
        if (item.rate != rate || item.pitchHz != pitchHz) {
          rate = item.rate;
          pitchHz = item.pitchHz;
          if (prosodyOpen) append(QStringLiteral("</prosody>"));
          const int percent = std::max(1, static_cast<int>(std::lround(100.0 * rate / std::max(1, voice.rate))));
          append(QStringLiteral("<prosody rate=\"%1%\" pitch=\"%2\">")
                     .arg(percent)
                     .arg(pitchHz > 0 ? espeakPitchForHz(pitchHz) : voice.pitch));
          prosodyOpen = true;
        }
        if (item.emphasis) append(QStringLiteral("<emphasis>"));
        const int begin = points;
        append(escapeXml(item.text));
        m.words.push_back({begin, points, item.shownEnd});
        if (item.emphasis) append(QStringLiteral("</emphasis>"));
        break;
      }
      case SpokenItem::Pause: append(QStringLiteral("<break time=\"%1ms\"/>").arg(item.value)); break;
      case SpokenItem::Mark:
        m.bookmarkPositions.push_back(points);
        m.bookmarks.push_back(item.value);
        append(QStringLiteral("<mark name=\"%1\"/>").arg(item.value));
        break;
    }
  }
  if (prosodyOpen) append(QStringLiteral("</prosody>"));
  append(QStringLiteral("</speak>"));
  m.items = std::move(items);
  return m;
}

}  // namespace

Voice voiceForLanguage(const QString& language, const Voice& own) {
  Voice v = own;
  const VoiceChoice choice = resolveVoice(own.name);
  QString variant;
  if (choice.synthesizer == Synthesizer::Espeak) {
    const qsizetype plus = choice.voice.indexOf(QLatin1Char('+'));
    if (plus >= 0) variant = choice.voice.mid(plus);
  } else if (choice.voice == QLatin1String("slt")) {
    variant = QStringLiteral("+f3");
  }
  // espeak-ng's "cmn" voice turns Han into tone-numbered pinyin and reads that as English ("he two
  // an one"); its pinyin voice says the same text in Mandarin.
  const QString voiceName = language == QLatin1String("cmn") ? QStringLiteral("cmn-latn-pinyin") : language;
  v.name = QStringLiteral("espeak:") + voiceName + variant;
  v.formants = 100;
  return v;
}

std::vector<SpeechPart> splitByLanguage(const SpeechMarkup& markup, const Voice& voice) {
  std::vector<SpeechPart> parts;
  std::vector<SpokenItem> current;
  QString language;
  bool anyWord = false;
  const auto flush = [&] {
    if (current.empty()) return;
    const Voice v = language.isEmpty() ? voice : voiceForLanguage(language, voice);
    parts.push_back({language, markupFromItems(std::exchange(current, {}), markup.shown, v)});
  };
  for (const SpokenItem& item : markup.items) {
    if (item.kind == SpokenItem::Word) {
      if (anyWord && item.language != language) flush();
      language = item.language;
      anyWord = true;
    }
    current.push_back(item);
  }
  flush();
  return parts;
}

}  // namespace agent
