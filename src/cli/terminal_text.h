#pragma once
// Text from outside (a reminder, a mail's subject, a server's answer) as one line a terminal
// shows and does nothing with: a backslash is doubled, line ends and tabs are written \n, \r, \t,
// and every other control character (C0, DEL, C1: ESC, BEL, CSI, the start of OSC) as \xHH, so
// no text can move the cursor, retitle the window or ring the bell.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace chimewise {

QString TerminalLine(const QString& text);
// A message of several lines (the program's own, quoting outside text): line ends and tabs stay,
// every other control character is written \xHH.
QString TerminalText(const QString& text);

// Where `bytes` stop being UTF-8: the index of the first byte that is not part of a well-formed
// sequence (an overlong form, a surrogate, beyond U+10FFFF or cut short), or -1 when all are.
qsizetype FirstNonUtf8Byte(const QByteArray& bytes);

// The command line's words (argv[1] on) read as UTF-8, whatever the locale, into `words`. A word that
// is not UTF-8 is refused: the message names its option ("--text is not valid UTF-8 (byte 0xE9 at
// position 4)", the position counting bytes of the value from 1) or its place on the line.
std::optional<QString> ReadArguments(int argc, const char* const* argv, QStringList* words);

// A password typed on the terminal without echo, after a prompt on `err`; none when standard input
// is not a terminal or ends.
std::optional<QString> AskPasswordOnTerminal(QTextStream& err, const QString& server, const QString& user);

}  // namespace chimewise
