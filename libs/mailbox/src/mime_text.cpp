#include "mime_text.h"

#include <algorithm>
#include <array>
#include <vmime/vmime.hpp>

namespace mailbox::detail {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Windows-1252's characters for 0x80..0x9F; the five bytes it leaves undefined read as '?'.
constexpr std::array<char16_t, 32> kCp1252High{0x20AC, u'?',   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, u'?',   0x017D, u'?',
                                               u'?',   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, u'?',   0x017E, 0x0178};

void AppendCp1252(QString& out, unsigned char b) {
  if (b >= 0x80 && b < 0xA0)
    out += QChar(kCp1252High[b - 0x80]);
  else
    out += QChar(static_cast<char16_t>(b));
}

QString Cp1252(std::string_view bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (char c : bytes) AppendCp1252(out, static_cast<unsigned char>(c));
  return out;
}

// UTF-8 where it is UTF-8; each byte of an invalid sequence read as Windows-1252.
QString Utf8OrCp1252(std::string_view s) {
  QString out;
  out.reserve(static_cast<qsizetype>(s.size()));
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out += QChar(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF)
      len = 2, cp = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF)
      len = 3, cp = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4)
      len = 4, cp = b & 0x07, min = 0x10000;
    bool ok = len > 0 && i + static_cast<size_t>(len) <= n;
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char c = p[i + static_cast<size_t>(k)];
      if ((c & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      AppendCp1252(out, b);
      ++i;
      continue;
    }
    out += QString::fromUcs4(&cp, 1);
    i += static_cast<size_t>(len);
  }
  return out;
}

bool IsUtf8Family(const std::string& cs) {
  return cs.empty() || cs == "us-ascii" || cs == "ascii" || cs == "ansi_x3.4-1968" || cs == "us" || cs == "utf-8" ||
         cs == "utf8" || cs == "unicode-1-1-utf-8" || cs == "x-unknown" || cs == "unknown-8bit" || cs == "default";
}

bool IsLatin1Family(const std::string& cs) {
  return cs == "iso-8859-1" || cs == "iso8859-1" || cs == "iso_8859-1" || cs == "latin1" || cs == "latin-1" ||
         cs == "l1" || cs == "windows-1252" || cs == "cp1252" || cs == "x-cp1252";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One encoded word starting at `at` ("=?"): its charset, its bytes and where it ends.
bool EncodedWordAt(std::string_view v, size_t at, std::string* charset, std::string* bytes, size_t* end) {
  // A word is at most 75 characters (RFC 2047 2); mailers that write longer ones stay well
  // within this, and the bound keeps a header full of "=?" linear.
  constexpr size_t kLongest = 1024;
  const size_t csStart = at + 2;
  const size_t q1 = v.find('?', csStart);
  if (q1 == std::string_view::npos || q1 == csStart || q1 - csStart > 64) return false;
  std::string_view cs = v.substr(csStart, q1 - csStart);
  for (char c : cs)
    if (IsSpace(c) || c == '=') return false;
  if (const size_t star = cs.find('*'); star != std::string_view::npos) cs = cs.substr(0, star);  // RFC 2231 language
  if (q1 + 2 >= v.size() || v[q1 + 2] != '?') return false;
  const char enc = v[q1 + 1];
  if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q') return false;
  const size_t textStart = q1 + 3;
  const size_t close = v.substr(0, std::min(v.size(), textStart + kLongest)).find("?=", textStart);
  if (close == std::string_view::npos) return false;
  const std::string_view text = v.substr(textStart, close - textStart);
  if (enc == 'B' || enc == 'b') {
    *bytes = DecodeBase64Lenient(text);
  } else {
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '_') {
        *bytes += ' ';
      } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
        *bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
      } else {
        *bytes += c;
      }
    }
  }
  *charset = Lower(cs);
  *end = close + 2;
  return true;
}

}  // namespace

bool IsUtf8Charset(std::string_view charset) {
  std::string cs = Lower(charset);
  while (!cs.empty() && IsSpace(cs.back())) cs.pop_back();
  return IsUtf8Family(cs);
}

QString DecodeCharset(std::string_view bytes, std::string_view charsetName) {
  std::string cs = Lower(charsetName);
  while (!cs.empty() && IsSpace(cs.back())) cs.pop_back();
  if (IsUtf8Family(cs)) return Utf8OrCp1252(bytes);
  if (IsLatin1Family(cs)) return Cp1252(bytes);
  try {
    std::string out;
    vmime::charsetConverterOptions opts;
    opts.silentlyReplaceInvalidSequences = true;
    opts.invalidSequence = std::string(1, '?');
    vmime::charset::convert(std::string(bytes), out, vmime::charset(cs), vmime::charset(vmime::charsets::UTF_8), opts);
    return Utf8OrCp1252(out);
  } catch (const std::exception&) {
    return Cp1252(bytes);
  }
}

QString DecodeEncodedWords(std::string_view v) {
  QString out;
  std::string pending;         // bytes of consecutive encoded words in one charset
  std::string pendingCharset;  // their charset
  const auto flush = [&] {
    if (!pending.empty()) out += DecodeCharset(pending, pendingCharset);
    pending.clear();
  };
  size_t i = 0;
  bool afterWord = false;
  while (i < v.size()) {
    const size_t at = v.find("=?", i);
    std::string charset, bytes;
    size_t end = 0;
    if (at == std::string_view::npos) {
      flush();
      out += Utf8OrCp1252(v.substr(i));
      break;
    }
    if (!EncodedWordAt(v, at, &charset, &bytes, &end)) {
      flush();
      out += Utf8OrCp1252(v.substr(i, at + 2 - i));
      i = at + 2;
      afterWord = false;
      continue;
    }
    const std::string_view gap = v.substr(i, at - i);
    const bool onlySpace = std::all_of(gap.begin(), gap.end(), IsSpace);
    if (!(afterWord && onlySpace)) {
      flush();
      out += Utf8OrCp1252(gap);
    }
    if (charset != pendingCharset) flush();
    pendingCharset = charset;
    pending += bytes;
    afterWord = true;
    i = end;
  }
  flush();
  return out;
}

std::string DecodeQuotedPrintable(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c != '=') {
      out += c;
      continue;
    }
    if (i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
      i += 2;
      continue;
    }
    // A soft line break: "=", perhaps trailing blanks, then the line end.
    size_t j = i + 1;
    while (j < in.size() && (in[j] == ' ' || in[j] == '\t')) ++j;
    if (j < in.size() && in[j] == '\r') ++j;
    if (j < in.size() && in[j] == '\n') {
      i = j;
      continue;
    }
    if (j == in.size()) break;  // "=" at the very end: a soft break with no line after it
    out += c;                   // not an escape: the character itself
  }
  return out;
}

bool DecodeBase64Strict(std::string_view in, std::string* out) {
  std::string decoded;
  decoded.reserve(in.size() / 4 * 3);
  unsigned int acc = 0;
  int bits = 0;
  bool padded = false;
  size_t symbols = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\r' || c == '\n') continue;
    if (c == ' ' || c == '\t') {
      // Blanks only at the end of a line.
      size_t j = i;
      while (j < in.size() && (in[j] == ' ' || in[j] == '\t')) ++j;
      if (j < in.size() && in[j] != '\r' && in[j] != '\n') return false;
      i = j - 1;
      continue;
    }
    if (c == '=') {
      padded = true;
      continue;
    }
    const int v = Base64Value(c);
    if (v < 0 || padded) return false;
    ++symbols;
    acc = (acc << 6) | static_cast<unsigned int>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      decoded += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  if (symbols % 4 == 1) return false;
  *out = std::move(decoded);
  return true;
}

std::string DecodeBase64Lenient(std::string_view in) {
  std::string out;
  unsigned int acc = 0;
  int bits = 0;
  for (char c : in) {
    if (c == '=') break;
    const int v = Base64Value(c);
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<unsigned int>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

QString EnrichedToText(const QString& in) {
  QString out;
  out.reserve(in.size());
  int paramDepth = 0;
  qsizetype i = 0;
  const qsizetype n = in.size();
  while (i < n) {
    const QChar c = in[i];
    if (c == u'<') {
      if (i + 1 < n && in[i + 1] == u'<') {
        if (paramDepth == 0) out += u'<';
        i += 2;
        continue;
      }
      const qsizetype close = in.indexOf(u'>', i);
      if (close < 0) break;  // an unfinished command: nothing after it is text
      const QString command = in.mid(i + 1, close - i - 1).trimmed().toLower();
      if (command == u"param") ++paramDepth;
      if (command == u"/param" && paramDepth > 0) --paramDepth;
      if (command == u"nl") out += u'\n';  // text/richtext's line break
      i = close + 1;
      continue;
    }
    if (c == u'\r' || c == u'\n') {
      int breaks = 0;
      while (i < n && (in[i] == u'\r' || in[i] == u'\n')) {
        if (in[i] == u'\n' || (in[i] == u'\r' && (i + 1 >= n || in[i + 1] != u'\n'))) ++breaks;
        ++i;
      }
      if (paramDepth == 0) out += breaks == 1 ? QString(u' ') : QString(breaks - 1, u'\n');
      continue;
    }
    if (paramDepth == 0) out += c;
    ++i;
  }
  return out;
}

namespace {
bool IsControl(char16_t u) { return u < 0x20 || (u >= 0x7F && u < 0xA0); }
bool IsDropped(char16_t u) { return u == 0xFFFD || u == 0xFEFF; }
}  // namespace

QString CleanLine(QString text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (IsDropped(u)) continue;
    out += IsControl(u) ? QChar(u' ') : c;
  }
  return out;
}

QString CleanText(QString text) {
  QString out;
  out.reserve(text.size());
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = text[i].unicode();
    if (IsDropped(u)) continue;
    if (u == u'\r') {
      if (i + 1 < n && text[i + 1] == u'\n') ++i;
      out += u'\n';
    } else if (u == u'\n' || u == u'\t') {
      out += QChar(u);
    } else {
      out += IsControl(u) ? QChar(u' ') : text[i];
    }
  }
  return out;
}

}  // namespace mailbox::detail
