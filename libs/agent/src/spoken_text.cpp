#include "spoken_text.h"

#include <unicode/uchar.h>

#include <QChar>
#include <QList>

namespace agent {

namespace {

bool isRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

// Parts of emoji sequences and invisible marks that carry nothing to say.
bool isSilentMark(char32_t c) {
  return (c >= 0xFE00 && c <= 0xFE0F) ||    // variation selectors
         (c >= 0x1F3FB && c <= 0x1F3FF) ||  // skin tones
         (c >= 0xE0000 && c <= 0xE007F) ||  // tags (subdivision flags)
         (c >= 0xE0100 && c <= 0xE01EF) ||  // variation selectors supplement
         c == 0x20E3 || c == 0xFEFF ||      // keycap, byte order mark
         c == 0xFFFC || c == 0xFFFD;        // replacements for what could not be read
}

bool isSymbol(char32_t c) {
  if (c < 0x80) return false;
  if (u_hasBinaryProperty(UChar32(c), UCHAR_EXTENDED_PICTOGRAPHIC)) return true;
  switch (QChar::category(c)) {
    case QChar::Symbol_Other:
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency: return true;
    default: return false;
  }
}

}  // namespace

QString languageForScript(char32_t letter) {
  // Every language named here has a voice and a dictionary in espeak-ng-data that read its script
  // (espeak-ng's Cherokee and its Japanese reading of Han name the letters in English instead).
  switch (QChar::script(letter)) {
    case QChar::Script_Cyrillic: return QStringLiteral("ru");
    case QChar::Script_Greek: return QStringLiteral("el");
    case QChar::Script_Han: return QStringLiteral("cmn");
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana: return QStringLiteral("ja");
    case QChar::Script_Hangul: return QStringLiteral("ko");
    case QChar::Script_Arabic: return QStringLiteral("ar");
    case QChar::Script_Hebrew: return QStringLiteral("he");
    case QChar::Script_Devanagari: return QStringLiteral("hi");
    case QChar::Script_Thai: return QStringLiteral("th");
    case QChar::Script_Armenian: return QStringLiteral("hy");
    case QChar::Script_Georgian: return QStringLiteral("ka");
    case QChar::Script_Bengali: return QStringLiteral("bn");
    case QChar::Script_Gurmukhi: return QStringLiteral("pa");
    case QChar::Script_Gujarati: return QStringLiteral("gu");
    case QChar::Script_Oriya: return QStringLiteral("or");
    case QChar::Script_Tamil: return QStringLiteral("ta");
    case QChar::Script_Telugu: return QStringLiteral("te");
    case QChar::Script_Kannada: return QStringLiteral("kn");
    case QChar::Script_Malayalam: return QStringLiteral("ml");
    case QChar::Script_Sinhala: return QStringLiteral("si");
    case QChar::Script_Myanmar: return QStringLiteral("my");
    case QChar::Script_Ethiopic: return QStringLiteral("am");
    default: return {};
  }
}

QString symbolName(char32_t symbol) {
  char buffer[128];
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length = u_charName(UChar32(symbol), U_UNICODE_CHAR_NAME, buffer, sizeof buffer, &error);
  if (U_FAILURE(error) || length <= 0) return {};
  return QString::fromLatin1(buffer, length).toLower();
}

QString asciiFolded(QStringView text) {
  QString out;
  const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
  for (const char32_t c : decomposed.toUcs4()) {
    if (c < 0x80) {
      out += QChar(c);
      continue;
    }
    switch (c) {
      case U'ß': out += QLatin1String("ss"); break;
      case U'æ': out += QLatin1String("ae"); break;
      case U'Æ': out += QLatin1String("AE"); break;
      case U'œ': out += QLatin1String("oe"); break;
      case U'Œ': out += QLatin1String("OE"); break;
      case U'ø': out += QLatin1Char('o'); break;
      case U'Ø': out += QLatin1Char('O'); break;
      case U'ł': out += QLatin1Char('l'); break;
      case U'Ł': out += QLatin1Char('L'); break;
      case U'đ':
      case U'ð': out += QLatin1Char('d'); break;
      case U'Đ':
      case U'Ð': out += QLatin1Char('D'); break;
      case U'þ': out += QLatin1String("th"); break;
      case U'Þ': out += QLatin1String("Th"); break;
      case U'ı': out += QLatin1Char('i'); break;
      case U'‘':
      case U'’':
      case U'‚':
      case U'′': out += QLatin1Char('\''); break;
      case U'“':
      case U'”':
      case U'„':
      case U'«':
      case U'»': out += QLatin1Char('"'); break;
      case U'‐':
      case U'‑':
      case U'‒':
      case U'–':
      case U'—': out += QLatin1Char('-'); break;
      case U'¡':
      case U'¿': break;
      default:
        // Accents and other marks fall away; anything else without an ASCII form is a space.
        if (QChar::category(c) != QChar::Mark_NonSpacing && QChar::category(c) != QChar::Mark_SpacingCombining)
          out += QLatin1Char(' ');
    }
  }
  return out.simplified();
}

std::vector<SpokenPiece> spokenPieces(QStringView word, bool asciiOnly) {
  struct Building {
    QString text;
    QString language;
    bool decided = false;   // false while only digits and punctuation have been seen
    bool unspoken = false;  // letters of a script without a voice
    bool name = false;      // a symbol's name: nothing joins it
  };
  std::vector<Building> pieces;
  auto startPiece = [&](const QString& language, bool decided, bool unspoken = false) {
    pieces.push_back({QString(), language, decided, unspoken, false});
  };
  auto addName = [&](const QString& name) { pieces.push_back({name, QString(), true, false, true}); };
  bool flagHalf = false;  // the first of a pair of regional indicators was seen
  for (const char32_t c : word.toUcs4()) {
    if (isSilentMark(c)) continue;
    if (isRegionalIndicator(c)) {
      flagHalf = !flagHalf;
      if (flagHalf) addName(QStringLiteral("flag"));
      continue;
    }
    flagHalf = false;
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Other_Format) {
      // Joiners matter inside some scripts' words (Persian, Indic); elsewhere they join emoji.
      if (!pieces.empty() && !pieces.back().language.isEmpty()) pieces.back().text += QString::fromUcs4(&c, 1);
      continue;
    }
    if (isSymbol(c)) {
      const QString name = symbolName(c);
      if (!name.isEmpty()) addName(name);
      continue;
    }
    const QChar::Script script = QChar::script(c);
    const bool neutral = script == QChar::Script_Common || script == QChar::Script_Inherited;
    if (neutral) {
      if (pieces.empty() || pieces.back().name) startPiece(QString(), false);
      pieces.back().text += QString::fromUcs4(&c, 1);
      continue;
    }
    const QString language = languageForScript(c);
    const bool unspoken = language.isEmpty() && script != QChar::Script_Latin;
    Building* last = pieces.empty() || pieces.back().name ? nullptr : &pieces.back();
    if (last && !last->decided) {
      last->language = language;
      last->decided = true;
      last->unspoken = unspoken;
    } else if (!last || last->language != language || last->unspoken != unspoken) {
      startPiece(language, true, unspoken);
    }
    pieces.back().text += QString::fromUcs4(&c, 1);
  }
  std::vector<SpokenPiece> out;
  for (Building& b : pieces) {
    if (b.unspoken) continue;
    QString text = b.language.isEmpty() && asciiOnly ? asciiFolded(b.text) : b.text.simplified();
    if (text.isEmpty()) continue;
    if (!out.empty() && out.back().language == b.language)
      out.back().text += QLatin1Char(' ') + text;
    else
      out.push_back({text, b.language});
  }
  return out;
}

}  // namespace agent
