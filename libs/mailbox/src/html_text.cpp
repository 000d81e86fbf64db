#include "mailbox/mail_message.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

namespace mailbox {

namespace {

QString DecodeEntities(const QString& text) {
  static const QHash<QString, QString> named{
      {"amp", "&"},   {"lt", "<"},    {"gt", ">"},     {"quot", "\""}, {"apos", "'"},  {"nbsp", " "},  {"copy", "©"},
      {"reg", "®"},   {"euro", "€"},  {"hellip", "…"}, {"ndash", "–"}, {"mdash", "—"}, {"rsquo", "’"}, {"lsquo", "‘"},
      {"rdquo", "”"}, {"ldquo", "“"}, {"auml", "ä"},   {"ouml", "ö"},  {"uuml", "ü"},  {"Auml", "Ä"},  {"Ouml", "Ö"},
      {"Uuml", "Ü"},  {"szlig", "ß"}, {"eacute", "é"}, {"egrave", "è"}};
  static const QRegularExpression entity(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const auto m = it.next();
    out += QStringView(text).mid(last, m.capturedStart() - last);
    const QString name = m.captured(1);
    QString replacement = m.captured(0);
    if (name.startsWith(u'#')) {
      bool ok = false;
      const uint code = name.startsWith(QStringLiteral("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                   : name.mid(1).toUInt(&ok, 10);
      if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
        const char32_t c = code;
        replacement = QString::fromUcs4(&c, 1);
      }
    } else if (named.contains(name)) {
      replacement = named.value(name);
    }
    out += replacement;
    last = m.capturedEnd();
  }
  out += QStringView(text).mid(last);
  return out;
}

}  // namespace

// One pass over the document, so that no input, however malformed (a thousand unclosed
// "<script" or "<!--", "<" without ">"), takes more than linear time.
QString HtmlToText(const QString& html) {
  static const QStringList hidden{QStringLiteral("script"), QStringLiteral("style"), QStringLiteral("head"),
                                  QStringLiteral("title")};
  static const QStringList breaking{QStringLiteral("br"),          QStringLiteral("/p"),  QStringLiteral("/div"),
                                    QStringLiteral("/li"),         QStringLiteral("/tr"), QStringLiteral("/h1"),
                                    QStringLiteral("/h2"),         QStringLiteral("/h3"), QStringLiteral("/h4"),
                                    QStringLiteral("/h5"),         QStringLiteral("/h6"), QStringLiteral("/table"),
                                    QStringLiteral("/blockquote"), QStringLiteral("hr")};
  // A text searched for and not found after some place is not found after any later one: known
  // misses are not searched again, which keeps a document of many unclosed tags linear.
  QSet<QString> missing;
  const auto find = [&](const QString& needle, qsizetype from) -> qsizetype {
    if (missing.contains(needle)) return -1;
    const qsizetype at = html.indexOf(needle, from, Qt::CaseInsensitive);
    if (at < 0) missing.insert(needle);
    return at;
  };
  QString t;
  t.reserve(html.size());
  const qsizetype n = html.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = html[i];
    if (c != u'<') {
      // Line breaks in the source mean nothing in HTML.
      t += (c == u'\n' || c == u'\r') ? QChar(u' ') : c;
      ++i;
      continue;
    }
    if (QStringView(html).mid(i, 4) == u"<!--") {
      const qsizetype close = html.indexOf(QStringLiteral("-->"), i + 4);
      if (close < 0) break;  // an unclosed comment hides the rest
      i = close + 3;
      continue;
    }
    const qsizetype close = html.indexOf(u'>', i + 1);
    if (close < 0) {
      t += QStringView(html).mid(i);  // no tag at all: the text it is
      break;
    }
    // The tag's name: what follows "<" (and "/") up to a blank, "/" or ">".
    qsizetype k = i + 1;
    while (k < close && html[k].isSpace()) ++k;
    const qsizetype nameStart = k;
    if (k < close && html[k] == u'/') ++k;
    while (k < close && !html[k].isSpace() && html[k] != u'/' && html[k] != u'>') ++k;
    const QString name = html.mid(nameStart, k - nameStart).toLower();
    i = close + 1;
    if (hidden.contains(name)) {
      // Its contents are no text: skip to its end tag. A script or style never ended hides the
      // rest, as in a browser; a head ends where the body starts, and a head or title never
      // ended is an ordinary tag.
      qsizetype end = find(QStringLiteral("</") + name, i);
      if (name == u"head") {
        const qsizetype body = find(QStringLiteral("<body"), i);
        if (body >= 0 && (end < 0 || body < end)) {
          i = body;
          continue;
        }
      }
      if (end < 0) {
        if (name == u"script" || name == u"style") break;
        continue;
      }
      const qsizetype endClose = html.indexOf(u'>', end);
      if (endClose < 0) break;
      i = endClose + 1;
      continue;
    }
    if (breaking.contains(name)) t += u'\n';
  }
  t = DecodeEntities(t);
  // Blanks collapsed within each line, lines trimmed, at most one empty line in a row.
  QStringList lines;
  int blank = 0;
  for (const QString& raw : t.split(u'\n')) {
    QString line = raw;
    line.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\f', u' ');
    line = line.simplified();
    if (line.isEmpty()) {
      if (++blank > 1) continue;
    } else {
      blank = 0;
    }
    lines << line;
  }
  return lines.join(u'\n').trimmed();
}

}  // namespace mailbox
