#pragma once
// Text from outside (a reminder, a mail's subject, a server's answer) as one line a terminal
// shows and does nothing with: a backslash is doubled, line ends and tabs are written \n, \r, \t,
// and every other control character (C0, DEL, C1: ESC, BEL, CSI, the start of OSC) as \xHH, so
// no text can move the cursor, retitle the window or ring the bell.

#include <QString>
#include <QTextStream>

#include <optional>

namespace chimewise {

QString TerminalLine(const QString& text);
// A message of several lines (the program's own, quoting outside text): line ends and tabs stay,
// every other control character is written \xHH.
QString TerminalText(const QString& text);

// A password typed on the terminal without echo, after a prompt on `err`; none when standard input
// is not a terminal or ends.
std::optional<QString> AskPasswordOnTerminal(QTextStream& err, const QString& server, const QString& user);

}  // namespace chimewise
