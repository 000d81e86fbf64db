#pragma once
// chimewise-cli mail: one mail check over the program's own reader, printed line by line.

#include <QDateTime>
#include <QStringList>
#include <QTextStream>

namespace chimewise {

inline constexpr const char* kMailUsage =
    "  mail [--mailbox PATH|URL] [--auto]\n"
    "                      one mail check: the announcement, then what is said for each message\n"
    "                      (--auto: the automatic rules; otherwise as the unread e-mail window\n"
    "                      reads each row)\n";

// Exit code as RunCli's; usage errors are thrown back as text in `usageError` with 2.
int RunMailCommand(const QStringList& args, const QString& appFolder, const QDateTime& now, QTextStream& out,
                   QTextStream& err, QString* usageError);

}  // namespace chimewise
