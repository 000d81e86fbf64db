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
