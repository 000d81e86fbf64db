#pragma once
// A mailbox's unread messages: a local Maildir folder walked by our own reader, or the INBOX of an
// IMAP account reached through vmime. Reading never changes a message's seen flag; only MarkSeen
// does.
//
// A Mailbox is used from one thread at a time; an IMAP one talks to the server in its calls and
// may block for up to its timeout on each of them.

#include "mailbox/mail_message.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace mailbox {

enum class FailureKind {
  None,
  NotFound,      // the folder does not exist or is not a Maildir
  Unreachable,   // the server could not be reached or stopped answering
  LoginRefused,  // the server refused the user name or password
  Insecure,      // the server offers no encrypted connection
  Protocol,      // the server's answers make no sense or go beyond the check's limits
  Other,
};

struct Failure {
  FailureKind kind = FailureKind::None;
  // Why, in a few plain words that fit after "because" ("the server did not answer").
  QString reason;
  bool ok() const { return kind == FailureKind::None; }
};

class Mailbox {
 public:
  virtual ~Mailbox() = default;
  // Connects (IMAP) or checks the folder (Maildir).
  virtual Failure Open() = 0;
  // How many messages are not seen.
  virtual std::optional<int> UnseenCount(Failure* failure) = 0;
  // Every message not seen, parsed, in the mailbox's order (delivery order). Messages that
  // cannot be read come back with their problem set; the others are still read. Messages received
  // at or before `onlyAfter` (when valid) are not read: they come back with their id and
  // received time only. `received` is invalid for a message that tells nothing of its time (over
  // IMAP, one with neither Received nor Date): the caller's clock knows best when that is.
  virtual std::optional<std::vector<MailMessage>> UnseenMessages(Failure* failure, const QDateTime& onlyAfter = {}) = 0;
  // Sets the seen flag of the messages with these ids; ids no longer there are passed over.
  virtual Failure MarkSeen(const QStringList& ids) = 0;
};

// A Maildir: the folder holding cur/ and new/.
std::unique_ptr<Mailbox> OpenMaildir(const QString& folder);

struct ImapAccount {
  QString host;
  int port = 0;              // 0: 143, or 993 with implicitTls
  bool implicitTls = false;  // imaps:// (TLS from the start); otherwise STARTTLS
  // Allow an unencrypted session when the server offers no STARTTLS. Only sensible on the local
  // machine.
  bool allowPlain = false;
  QString user;
  QString password;
  int timeoutSeconds = 20;  // the longest the server may stay silent
  // What one mail check (one Mailbox, from Open on) may take in all, however the server talks:
  // a server that drips its answers or never stops sending is stopped here.
  int totalSeconds = 120;
  qint64 maxBytes = 256 * 1024 * 1024;
};

// A mailbox claiming more messages than this is answering nonsense.
inline constexpr qint64 kMaxMailboxMessages = 10'000'000;

std::unique_ptr<Mailbox> OpenImap(const ImapAccount& account);

// What a mailbox setting names: "imap://host[:port]", "imaps://host[:port]", or else a folder.
struct MailboxAddress {
  enum Kind { None, Maildir, Imap } kind = None;
  QString folder;       // Maildir
  ImapAccount account;  // Imap: host, port, implicitTls, allowPlain filled
  QString error;        // not empty: the setting cannot be used, and why
};
MailboxAddress ParseMailboxAddress(const QString& text);

}  // namespace mailbox
