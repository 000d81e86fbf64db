#pragma once
// One mail message as a reader wants it: who sent it, when, its subject and its text.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace mailbox {

struct MailMessage {
  // The store's own name for the message: a Maildir file's unique name, an IMAP UID.
  QString id;
  bool seen = false;
  // When the message reached the mailbox.
  QDateTime received;
  // The Date header; invalid when the message has none or it cannot be read.
  QDateTime sent;
  // The display name of From, or its address when it has no name.
  QString senderName;
  QString subject;
  // The plain text: the text/plain part (of a multipart/alternative too), else the HTML part read
  // as text. Line ends are CR LF.
  QString body;
  // Not empty when the message could not be read; says why in a few words ("it is empty").
  // What could be read is still filled in.
  QString problem;
};

// Parses one message (RFC 5322 with MIME): RFC 2047 encoded names and subjects, quoted-printable
// and base64, any charset ICU knows (unknown ones read as ISO-8859-1). Never throws: a message
// that is not one fills `problem`.
MailMessage ParseMessage(const QByteArray& raw);

// The text of an HTML document: tags dropped, line breaks at block ends, entities decoded, the
// contents of script and style left out.
QString HtmlToText(const QString& html);

// The largest message read; bigger ones are reported as too large instead of being read.
inline constexpr qint64 kMaxMessageBytes = 32 * 1024 * 1024;

}  // namespace mailbox
