#include "mailbox/mail_message.h"

#include <QHash>
#include <QRegularExpression>

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

QString HtmlToText(const QString& html) {
  static const QRegularExpression hidden(
      QStringLiteral("<(script|style|head|title)\\b.*?</\\1\\s*>"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression comment(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression breaks(
      QStringLiteral("<\\s*(br|/p|/div|/li|/tr|/h[1-6]|/table|/blockquote|hr)\\b[^>]*>"),
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
  static const QRegularExpression spaces(QStringLiteral("[ \\t\\r\\f]+"));
  static const QRegularExpression blankRuns(QStringLiteral("\\n\\s*\\n(\\s*\\n)+"));
  QString t = html;
  t.remove(comment);
  t.remove(hidden);
  // Line breaks in the source mean nothing in HTML.
  t.replace(u'\n', u' ');
  t.replace(breaks, QStringLiteral("\n"));
  t.remove(tag);
  t = DecodeEntities(t);
  t.replace(spaces, QStringLiteral(" "));
  QStringList lines = t.split(u'\n');
  for (QString& line : lines) line = line.trimmed();
  t = lines.join(u'\n');
  t.replace(blankRuns, QStringLiteral("\n\n"));
  return t.trimmed();
}

}  // namespace mailbox
