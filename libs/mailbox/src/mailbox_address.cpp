#include "mailbox/mailbox.h"

#include <QDir>

namespace mailbox {

MailboxAddress ParseMailboxAddress(const QString& text) {
  MailboxAddress a;
  const QString t = text.trimmed();
  if (t.isEmpty()) return a;
  const bool imaps = t.startsWith(QStringLiteral("imaps://"), Qt::CaseInsensitive);
  const bool imap = t.startsWith(QStringLiteral("imap://"), Qt::CaseInsensitive);
  if (!imap && !imaps) {
    a.kind = MailboxAddress::Maildir;
    a.folder = t.startsWith(QStringLiteral("~/")) ? QDir::homePath() + t.mid(1) : t;
    return a;
  }
  a.kind = MailboxAddress::Imap;
  a.account.implicitTls = imaps;
  QString rest = t.mid(imaps ? 8 : 7);
  while (rest.endsWith(u'/')) rest.chop(1);
  QString host = rest;
  int port = 0;
  // "[::1]:143", "host:143", "host".
  if (rest.startsWith(u'[')) {
    const qsizetype close = rest.indexOf(u']');
    host = close > 0 ? rest.mid(1, close - 1) : QString();
    const QString after = close > 0 ? rest.mid(close + 1) : QString();
    if (after.startsWith(u':'))
      port = after.mid(1).toInt();
    else if (!after.isEmpty())
      host.clear();
  } else if (const qsizetype colon = rest.lastIndexOf(u':'); colon >= 0) {
    host = rest.left(colon);
    bool ok = false;
    port = rest.mid(colon + 1).toInt(&ok);
    if (!ok) port = -1;
  }
  // A path, a user, a query or a fragment: a kind of address this reader does not follow, not a
  // host name with odd characters in it.
  const bool notHost = host.contains(u'/') || host.contains(u'@') || host.contains(u'?') || host.contains(u'#');
  if (host.isEmpty() || notHost || port < 0 || port > 65535) {
    a.kind = MailboxAddress::None;
    a.error = QStringLiteral("the mailbox address %1 is not one I understand").arg(t);
    return a;
  }
  a.account.host = host;
  a.account.port = port;
  a.account.allowPlain =
      host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("::1");
  return a;
}

}  // namespace mailbox
