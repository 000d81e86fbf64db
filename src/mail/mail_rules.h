#pragma once
// The mail reader's rules as plain functions: which settings apply, what the character says for
// a message, what a message file holds and what is said when it is read back.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>

namespace chimewise {

class SettingsStore;

struct MailFlags {
  bool sayWhen = false;
  bool sayWho = false;
  bool saySubject = false;
  bool sayBody = false;
  bool markRead = false;
  bool readAll = false;
};

// On request the manual rules ("When", "Who", "Subject", "Body", "MarkRead"; never read all),
// otherwise the automatic ones ("AutoWhen" ... "ReadAll"; never mark read).
MailFlags ReadMailFlags(const SettingsStore& settings, bool onRequest);

// The message as the reader speaks it: who sent it, when, about what, what it says.
struct MailItem {
  QDateTime sent;  // the Date header, else the delivery time
  QString senderName;
  QString subject;
  QString body;
  QString problem;              // not empty: the message could not be read, and why
  bool textUnreadable = false;  // its text could not be decoded: there is no body to read
};

// "You have 1 unread message." / "You have 3 unread messages."; for none the sorry line.
QString MailAnnouncement(int count);
inline const QString kNoNewMail = QStringLiteral("\\pl=Sad\\Sorry, there is no new mail.\\pl=Blink\\");
// What is said on request when the mailbox could not be read.
QString MailboxUnreachableText(const QString& reason);

// "today ", "yesterday ", "Friday", "a week ago Monday", "on " + the long date: how long ago the
// message was sent, by midnights crossed up to now.
QString WhenPhrase(const QDateTime& sent, const QDateTime& now);
// The when phrase, the tag that shows " at ", the time ("3:45"), " in the ", the part of the day.
QString WhenLine(const QDateTime& sent, const QDateTime& now);

// Mail texts come from strangers: a backslash in them would start a speech tag that plays
// animations or ends speech waits. They are spoken as plain words.
QString PlainSpeech(QString text);

// The body as it is spoken: trimmed, trailing line ends dropped.
QString SpokenBody(const QString& body);

// The most of a body read aloud; the message file, and so the window, keep the whole of it.
inline constexpr qsizetype kMaxSpokenBody = 2000;
// A spoken body cut to about kMaxSpokenBody characters at a word's end, then " and more.".
QString SpeechPortion(const QString& body);

// Who sent a message, as said: its name, or "an unknown sender" when it names none.
QString SpokenSender(const QString& senderName);

// What stands for the body of a message whose text could not be decoded, said and shown.
inline const QString kUnreadableText = QStringLiteral("This message has text that I cannot read.");

// What the character says for one message under the automatic rules, line by line.
QStringList AutomaticSpeech(const MailItem& item, const MailFlags& flags, const QDateTime& now);

// The lines of a message file: the when line, the sender, the subject, the body, each only when its
// flag is on. For a message that could not be read, one line saying so.
QStringList MessageFileLines(const MailItem& item, const std::array<bool, 4>& flags, const QDateTime& now);

// What the window says for a row, from the lines of its message file and the flags it was written
// with.
QStringList ListedMessageSpeech(const QStringList& fileLines, const std::array<bool, 4>& flags, bool unreadable);

// The row text of a message that could not be read.
QString UnreadableRowText(const MailItem& item);
QString UnreadableLine(const MailItem& item);

// The next automatic check: now with its seconds removed plus the interval, or invalid when
// "CheckMail" is off. interval -1 takes "Interval" from the settings and writes it back; intervals
// below one minute count as one minute.
QDateTime NextMailCheckTime(const SettingsStore& settings, int& interval, const QDateTime& now);

}  // namespace chimewise
