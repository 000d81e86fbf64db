#pragma once
// chimewise-cli mail: one mail check over the program's own reader, printed line by line.

#include "cli/usage.h"

#include <QDateTime>
#include <QStringList>
#include <QTextStream>

namespace chimewise {

inline constexpr const char* kMailUsage =
    "  mail [--mailbox PATH|URL] [--auto]\n"
    "                      one mail check: the announcement, then what is said for each message\n"
    "                      (--auto: the automatic rules; otherwise as the unread e-mail window\n"
    "                      reads each row)\n";

struct MailRequest {
  QString address;  // empty: the account's own mailbox
  bool automatic = false;
};

// The mail command's options (the words after "mail").
Checked<MailRequest> ReadMailArguments(const QStringList& args);

// One mail check. Exit code as RunCli's.
int RunMailCommand(const MailRequest& request, const QString& appFolder, const QDateTime& now, QTextStream& out,
                   QTextStream& err);

}  // namespace chimewise
