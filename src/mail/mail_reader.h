#pragma once
// The new-mail reader: tells how many unread messages wait in the mailbox, then reads them aloud
// (automatic rules) or lists them in the unread e-mail window, where a click reads one (manual
// rules). Also keeps the time of the next automatic check.
//
// The mailbox is read on a worker thread (an IMAP server may take up to its timeout to answer);
// everything the character says and every window is handled on the thread that owns the reader,
// once the mailbox has answered. setSynchronous(true) reads in the calling thread instead (the
// command-line tool and tests).

#include "core/off_thread.h"
#include "mail/mail_rules.h"
#include "mail/message_files.h"

#include <mailbox/mailbox.h>

#include <QDateTime>
#include <QObject>
#include <array>
#include <memory>
#include <vector>

namespace chimewise {

class Clock;
class MailAccount;
struct MailboxChoice;
class SettingsStore;
class SpeakerPort;
struct SharedState;
class ViewerPort;

// One row of the unread e-mail window.
struct MailRow {
  QString text;  // the subject
  int fileIndex = 0;
  std::array<bool, 4> flags{};  // when, who, subject, body: what its message file holds
  bool unreadable = false;      // the file holds one line saying why the message could not be read
  QString fileProblem;          // not empty: the file could not be written, and why
  QString messageId;            // the mailbox's name for the message
  bool markWhenOpened = false;  // marked read once the user opens it in the window ("MarkRead")
};

// The unread e-mail window as the reader uses it (EmailWindows, which makes the window on first use
// and again after it was closed).
class MailList {
 public:
  virtual ~MailList() = default;
  // Loads the window without showing it (nothing when it is loaded already); it remembers whether
  // the character is visible now.
  virtual void Load() = 0;
  virtual int rowCount() const = 0;
  virtual void AddRow(const MailRow& row) = 0;
  // Places the window beside the character and shows it.
  virtual void PlaceAndShow() = 0;
};

class MailReader : public QObject {
  Q_OBJECT
 public:
  // Removes the message files a earlier run may have left behind. While the Reminder Viewer is open
  // (`viewer`), a check leaves the character shown.
  MailReader(SharedState& state, SettingsStore& settings, Clock& clock, SpeakerPort& speaker, const ViewerPort& viewer,
             MailAccount& account, MessageFiles files, QObject* parent = nullptr);
  ~MailReader() override;

  // quietIfNone: when nothing is new, say and show nothing. onRequest: the user asked; the manual
  // rules and the list window instead of reading aloud. A check asked for while one runs follows
  // it (one on request wins over an automatic one).
  void CheckNewMail(bool quietIfNone, bool onRequest);
  // The next automatic check from the settings: interval -1 takes "Interval" and writes it back.
  void ScheduleNextMailCheck(int& interval);
  void ScheduleNextMailCheck() {
    int interval = -1;
    ScheduleNextMailCheck(interval);
  }

  // The unread e-mail window's click: the character speaks a listed message from its file, with
  // the flags the file was written with. A row with markWhenOpened has its message marked read
  // now: the user has opened it. Marking is not waited for.
  void ReadMyMail(const MailRow& row);
  // The window closed: quiet the character and delete the files of its rows.
  void ListClosed(const std::vector<MailRow>& rows);
  // Ends any speech wait and has the character drop everything it has queued (stopCharacter).
  void Hush();

  bool busy() const { return m_busy; }
  // When the next automatic check is due; none when automatic checks are off.
  std::optional<QDateTime> nextCheck() const { return m_nextCheck; }
  // Why the latest check could not read the mailbox; ok when it could.
  const mailbox::Failure& lastFailure() const { return m_lastFailure; }
  void setSynchronous(bool on);
  // Reads this mailbox (a folder or an imap(s):// address) instead of the one in the settings.
  void setMailboxAddress(const QString& address) { m_address = address; }
  const MessageFiles& files() const { return m_files; }
  const ViewerPort& viewer() const { return m_viewer; }
  // Where the rows of a check on request go; null: nowhere (they are still written and marked).
  void setList(MailList* list) { m_list = list; }
  MailList* list() const { return m_list; }

 signals:
  // A check has ended: spoken, listed, marked and rescheduled.
  void checkFinished();
  // The character is to drop everything it has queued before it speaks for the mail (connected
  // directly: it has stopped when the emission returns).
  void stopCharacter();

 private:
  struct Run {
    bool quietIfNone = false;
    bool onRequest = false;
    bool wasVisible = false;
    MailFlags flags;
    QDateTime lastCheck;
    QDateTime now;  // when the check started, by the program's clock
  };
  struct Snapshot {
    mailbox::Failure failure;
    int unseen = 0;
    std::vector<mailbox::MailMessage> messages;
  };
  static Snapshot Fetch(mailbox::Mailbox& mb, const QDateTime& onlyAfter);
  void start(bool quietIfNone, bool onRequest);
  void fetch(const Run& run, MailboxChoice choice);
  void finish(const Run& run, Snapshot snap, std::shared_ptr<mailbox::Mailbox> mb);
  // On request: the message files written and the messages marked on the worker, then the rows
  // listed.
  void listAndEnd(const Run& run, std::vector<mailbox::MailMessage> messages, std::shared_ptr<mailbox::Mailbox> mb);
  // Adds the rows from `from` on to the window, a slice per turn of the event loop, then shows it
  // and ends the check.
  void addRows(std::shared_ptr<std::vector<MailRow>> rows, size_t from);
  void markAndEnd(QStringList ids, std::shared_ptr<mailbox::Mailbox> mb);
  // Marks one listed message read, on the worker.
  void markOpened(const QString& id);
  void end();
  void quiet();

  SharedState& m_state;
  SettingsStore& m_settings;
  Clock& m_clock;
  SpeakerPort& m_speaker;
  const ViewerPort& m_viewer;
  MailAccount& m_account;
  MailList* m_list = nullptr;
  MessageFiles m_files;
  std::optional<QDateTime> m_nextCheck;
  QString m_address;
  mailbox::Failure m_lastFailure;
  bool m_synchronous = false;
  bool m_busy = false;
  bool m_pending = false;
  bool m_pendingQuiet = true;
  bool m_pendingOnRequest = false;
  WorkQueue m_work;  // last: destroyed first, so it joins before the members its work uses go
};

}  // namespace chimewise
