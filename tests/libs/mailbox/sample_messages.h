#pragma once
// Mail messages in the encodings mailboxes hold, and a Maildir to put them in.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

namespace mailbox::testing {

// RFC 2047 name (UTF-8, B) and subject (ISO-8859-1, Q); quoted-printable body with a soft break.
inline QByteArray EncodedWordsMessage() {
  return "Return-Path: <jm@example.org>\r\n"
         "From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <jm@example.org>\r\n"
         "To: me@example.org\r\n"
         "Subject: =?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=\r\n"
         "Date: Fri, 4 Dec 2026 15:45:00 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=UTF-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n"
         "Caf=C3=A9 at noon=\r\n"
         " tomorrow.\r\n"
         "\r\n";
}

// A base64 body ("Die Größe passt.") in ISO-8859-1; the sender has no display name.
inline QByteArray Base64Latin1Message() {
  return "From: sales@example.com\r\n"
         "Subject: Order\r\n"
         "Date: Sun, 6 Dec 2026 08:05:00 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=ISO-8859-1\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n"
         "RGllIEdy9t9lIHBhc3N0Lg==\r\n";
}

// multipart/alternative: the plain part is the text.
inline QByteArray AlternativeMessage() {
  return "From: \"Ann Lee\" <ann@example.net>\r\n"
         "Subject: Lunch\r\n"
         "Date: Sat, 5 Dec 2026 19:30:00 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/alternative; boundary=\"b1\"\r\n"
         "\r\n"
         "--b1\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\n"
         "\r\n"
         "Plain words.\r\n"
         "--b1\r\n"
         "Content-Type: text/html; charset=us-ascii\r\n"
         "\r\n"
         "<p>HTML words</p>\r\n"
         "--b1--\r\n";
}

inline QByteArray HtmlOnlyMessage() {
  return "From: News <news@example.com>\r\n"
         "Subject: Weekly\r\n"
         "Date: Mon, 23 Nov 2026 09:00:00 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/html; charset=UTF-8\r\n"
         "\r\n"
         "<html><head><style>p{color:red}</style></head><body><p>Hello &amp; welcome</p>\r\n"
         "<p>Second<br>line &#8364;</p><script>alert(1)</script></body></html>\r\n";
}

// Not a mail message at all.
inline QByteArray MalformedMessage() { return QByteArray("\x00\x01\x02 binary junk without any header\n\x7f", 37); }

// A Maildir in a folder of its own; messages are named after their delivery moment.
class Maildir {
 public:
  explicit Maildir(const QString& folder) : m_folder(folder) {
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(folder + u'/' + QLatin1String(sub));
  }
  QString folder() const { return m_folder; }
  // Returns the file's path. In new/ when flags is null, else in cur/ with those flags.
  QString Deliver(const QByteArray& message, const QDateTime& delivered, const char* flags = nullptr) {
    const QString unique = QStringLiteral("%1.M%2P1.testhost").arg(delivered.toSecsSinceEpoch()).arg(++m_serial);
    const QString path = m_folder + (flags ? "/cur/" + unique + ":2," + flags : "/new/" + unique);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(message);
    return path;
  }
  QStringList Files(const char* sub) const {
    return QDir(m_folder + u'/' + QLatin1String(sub)).entryList(QDir::Files, QDir::Name);
  }

 private:
  QString m_folder;
  int m_serial = 0;
};

inline QDateTime Berlin(int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi)); }

}  // namespace mailbox::testing
