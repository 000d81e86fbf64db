#include "cli/terminal_text.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace chimewise {

QString TerminalLine(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    switch (u) {
      case u'\\': out += QStringLiteral("\\\\"); break;
      case u'\n': out += QStringLiteral("\\n"); break;
      case u'\r': out += QStringLiteral("\\r"); break;
      case u'\t': out += QStringLiteral("\\t"); break;
      default:
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
          out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        else
          out += c;
    }
  }
  return out;
}

qsizetype FirstNonUtf8Byte(const QByteArray& bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  qsizetype i = 0;
  while (i < n) {
    const unsigned char lead = b[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
      return i;
    }
    for (int k = 1; k < length; ++k) {
      if (i + k >= n) return i;
      const unsigned char c = b[i + k];
      if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return i + k;
    }
    i += length;
  }
  return -1;
}

std::optional<QString> ReadArguments(int argc, const char* const* argv, QStringList* words) {
  words->clear();
  for (int i = 1; i < argc; ++i) {
    const QByteArray word(argv[i]);
    const qsizetype bad = FirstNonUtf8Byte(word);
    if (bad < 0) {
      words->append(QString::fromUtf8(word));
      continue;
    }
    // Options are ASCII, so what comes before the bad byte names them.
    QString name = QStringLiteral("argument %1").arg(i);
    qsizetype position = bad + 1;
    const qsizetype equals = word.indexOf('=');
    if (word.startsWith("--") && equals > 0 && equals < bad) {
      name = QString::fromUtf8(word.left(equals));
      position = bad - equals;
    } else if (i > 1 && QByteArrayView(argv[i - 1]).startsWith("--") && !word.startsWith('-')) {
      name = QString::fromUtf8(argv[i - 1]);
    }
    return QStringLiteral("%1 is not valid UTF-8 (byte 0x%2 at position %3)")
        .arg(TerminalLine(name))
        .arg(QString::number(static_cast<unsigned char>(word[bad]), 16).toUpper())
        .arg(position);
  }
  return std::nullopt;
}

QString TerminalText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u != u'\n' && u != u'\t' && (u < 0x20 || (u >= 0x7F && u < 0xA0)))
      out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

std::optional<QString> AskPasswordOnTerminal(QTextStream& err, const QString& server, const QString& user) {
  if (!isatty(STDIN_FILENO)) return std::nullopt;
  err << QStringLiteral("Password for %1 on %2: ").arg(user, server) << Qt::flush;
  termios old{};
  const bool quiet = tcgetattr(STDIN_FILENO, &old) == 0;
  if (quiet) {
    termios noEcho = old;
    noEcho.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &noEcho);
  }
  char buffer[1024];
  const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
  if (quiet) tcsetattr(STDIN_FILENO, TCSANOW, &old);
  err << Qt::endl;
  if (!got) return std::nullopt;
  QString password = QString::fromLocal8Bit(buffer);
  while (password.endsWith(u'\n') || password.endsWith(u'\r')) password.chop(1);
  return password;
}

}  // namespace chimewise
