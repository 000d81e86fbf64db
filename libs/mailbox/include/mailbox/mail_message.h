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
  // The display name of From, else its address, else what the field holds; empty when the
  // message has no From.
  QString senderName;
  QString subject;
  // The text read aloud: the first text/plain part in reading order, else the first text/html
  // part as text, else the first other text part. Line ends are CR LF; it holds no other control
  // character than CR LF and tab, and no U+FFFD.
  QString body;
  // The text part could not be decoded (base64 whose bytes are no text): the body is empty, and
  // the message has text that cannot be read.
  bool textUnreadable = false;
  // Not empty when the message could not be read; says why in a few words ("it is empty").
  // What could be read is still filled in.
  QString problem;
};

// Parses one message (RFC 5322 with MIME): RFC 2047 encoded names and subjects, quoted-printable
// and base64, any charset ICU knows (unknown ones read as Windows-1252), RFC 2231 parameters.
// Never throws: a message that is not one fills `problem`. Names and subjects hold no control
// characters. Time and memory are linear in the message's size.
MailMessage ParseMessage(const QByteArray& raw);

// The text of an HTML document: tags dropped, line breaks at block ends, entities decoded, the
// contents of script and style left out.
QString HtmlToText(const QString& html);

// The largest message read; bigger ones are reported as too large instead of being read.
inline constexpr qint64 kMaxMessageBytes = 32 * 1024 * 1024;
// The deepest nesting of multipart parts read; a message nested deeper is reported as
// unreadable.
inline constexpr int kMaxMimeNesting = 50;

}  // namespace mailbox
