#include "update/update_rules.h"

#include "core/program_version.h"

#include <QUrl>

namespace chimewise::update {

double OwnVersionNumber(int major, int minor, int revision) {
  return QStringLiteral("%1%2.%3").arg(major).arg(minor).arg(revision).toDouble();
}

double OwnVersionNumber() { return OwnVersionNumber(version::kMajor, version::kMinor, version::kRevision); }

double LeadingNumber(const QString& name) {
  qsizetype n = 0;
  while (n < name.size() && name[n] >= QLatin1Char('0') && name[n] <= QLatin1Char('9')) ++n;
  return n == 0 ? 0.0 : name.left(n).toDouble();
}

namespace {

bool IsControl(QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f); }

}  // namespace

bool IsPlainFileName(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  if (name.toUtf8().size() > 255) return false;
  for (QChar c : name) {
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || IsControl(c)) return false;
    // A broken UTF-8 sequence in the listing decodes to U+FFFD: not a name we could ask for again.
    if (c == QChar::ReplacementCharacter) return false;
  }
  return true;
}

QString DisplayRow(const QString& row) {
  QString shown = row.left(260);
  for (QChar& c : shown) {
    if (IsControl(c)) c = QLatin1Char('?');
  }
  return shown;
}

int FirstNewerRow(const QStringList& rows, double ownVersion) {
  for (qsizetype i = 0; i < rows.size(); ++i) {
    if (IsPlainFileName(rows[i]) && LeadingNumber(rows[i]) > ownVersion) return int(i);
  }
  return -1;
}

QString DeadlineText(int seconds) {
  if (seconds % 60 != 0) return QStringLiteral("%1 second%2").arg(seconds).arg(seconds == 1 ? "" : "s");
  const int minutes = seconds / 60;
  return QStringLiteral("%1 minute%2").arg(minutes).arg(minutes == 1 ? "" : "s");
}

QString FormatCount(qint64 n) {
  QString digits = QString::number(n < 0 ? -n : n);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  return n < 0 ? QLatin1Char('-') + digits : digits;
}

QString ProgressText(qint64 received, const QString& sizeText) {
  QString text = FormatCount(received);
  if (!sizeText.isEmpty()) text += QStringLiteral(" of ") + sizeText;
  return text;
}

QString InstallerArguments(bool jokesRunning, bool emailRunning) {
  auto flag = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
  return flag(jokesRunning) + QStringLiteral(",-1,") + flag(emailRunning);
}

ServerAddress ParseServerAddress(const QString& text) {
  ServerAddress a;
  const QString t = text.trimmed();
  if (t.isEmpty()) return a;
  a.kind = ServerAddress::Invalid;
  const bool hasScheme = t.contains(QLatin1String("://"));
  if (hasScheme && !t.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive)) return a;
  const QUrl url(hasScheme ? t : QStringLiteral("ftp://") + t, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return a;
  if (!url.path().isEmpty() && url.path() != QLatin1String("/")) return a;
  if (url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty()) return a;
  a.host = url.host();
  a.port = url.port(21);
  if (a.port <= 0 || a.port > 65535) return a;
  a.kind = ServerAddress::Ok;
  return a;
}

}  // namespace chimewise::update
