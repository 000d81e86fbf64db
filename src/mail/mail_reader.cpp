#include "mail/mail_reader.h"

#include <QPointer>

#include "core/clock.h"
#include "core/ports.h"
#include "core/program_events.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "mail/mail_account.h"

namespace chimewise {

namespace {

QDateTime StoredLastCheck(const SettingsStore& settings) {
  if (auto t = ParseDateText(settings.read(settings::LastCheck))) return *t;
  return *ParseDateText(QString::fromLatin1(settings::LastCheck.defaultText));
}

MailItem ItemOf(const mailbox::MailMessage& m) {
  return {m.sent.isValid() ? m.sent : m.received, m.senderName, m.subject, m.body, m.problem, m.textUnreadable};
}

}  // namespace

MailReader::MailReader(SharedState& state, SettingsStore& settings, Clock& clock, SpeakerPort& speaker,
                       const ViewerPort& viewer, MailAccount& account, MessageFiles files, QObject* parent)
    : QObject(parent),
      m_state(state),
      m_settings(settings),
      m_clock(clock),
      m_speaker(speaker),
      m_viewer(viewer),
      m_account(account),
      m_files(std::move(files)),
      m_work(this) {
  m_files.RemoveAll();
}

// The work queue, the last member, goes first: it runs what was queued (marking included) and
// joins its thread before anything the work uses goes.
MailReader::~MailReader() = default;

void MailReader::setSynchronous(bool on) {
  m_synchronous = on;
  m_work.setInline(on);
}

// Ends any speech wait, drops what the character still had queued and brings it out. The show
// comes after the stop, so the stop cannot drop it.
void MailReader::quiet() {
  Hush();
  m_speaker.show();
}

void MailReader::Hush() {
  m_state.events->EndSpeechWaits();
  emit stopCharacter();
}

void MailReader::CheckNewMail(bool quietIfNone, bool onRequest) {
  if (m_busy) {
    m_pendingQuiet = m_pending ? (m_pendingQuiet && quietIfNone) : quietIfNone;
    m_pendingOnRequest = m_pendingOnRequest || onRequest;
    m_pending = true;
    return;
  }
  start(quietIfNone, onRequest);
}

void MailReader::start(bool quietIfNone, bool onRequest) {
  m_busy = true;
  Run run;
  run.quietIfNone = quietIfNone;
  run.onRequest = onRequest;
  run.wasVisible = m_speaker.visible();
  run.flags = ReadMailFlags(m_settings, onRequest);
  run.lastCheck = StoredLastCheck(m_settings);
  run.now = m_clock.now();
  // Only a check the user asked for may ask for a password; the check waits for the answer
  // without holding anything else up.
  m_account.ChooseAsking(onRequest, m_address, [this, run, guard = QPointer<MailReader>(this)](MailboxChoice choice) {
    if (guard) fetch(run, std::move(choice));
  });
}

void MailReader::fetch(const Run& run, MailboxChoice choice) {
  if (!choice.mailbox) {
    Snapshot none;
    none.failure = {mailbox::FailureKind::NotFound, choice.problem};
    finish(run, none, nullptr);
    return;
  }
  std::shared_ptr<mailbox::Mailbox> mb(std::move(choice.mailbox));
  // An automatic check without read all wants only what came since the last one.
  const QDateTime onlyAfter = !run.onRequest && !run.flags.readAll ? run.lastCheck : QDateTime();
  m_work.Run([mb, onlyAfter](const std::atomic<bool>&) { return Fetch(*mb, onlyAfter); },
             [this, run, mb](Snapshot snap) { finish(run, std::move(snap), mb); });
}

MailReader::Snapshot MailReader::Fetch(mailbox::Mailbox& mb, const QDateTime& onlyAfter) {
  Snapshot s;
  s.failure = mb.Open();
  if (!s.failure.ok()) return s;
  const std::optional<int> count = mb.UnseenCount(&s.failure);
  if (!count) return s;
  s.unseen = *count;
  if (s.unseen < 1) return s;
  if (auto messages = mb.UnseenMessages(&s.failure, onlyAfter)) s.messages = std::move(*messages);
  return s;
}

void MailReader::finish(const Run& run, Snapshot snap, std::shared_ptr<mailbox::Mailbox> mb) {
  QDateTime lastCheck = run.lastCheck;
  const MailFlags& f = run.flags;
  QStringList toMark;
  bool listing = false;
  m_lastFailure = snap.failure;
  // A message that tells nothing of its time came, as far as anyone can know, just now.
  for (auto& m : snap.messages)
    if (!m.received.isValid()) m.received = run.now;
  if (!snap.failure.ok()) {
    // An automatic check keeps quiet and tries again at the next interval.
    if (snap.failure.kind == mailbox::FailureKind::LoginRefused) m_account.PasswordRefused();
    if (run.onRequest) {
      quiet();
      m_speaker.SayText(MailboxUnreachableText(snap.failure.reason));
    }
  } else {
    int count = snap.unseen;
    if (!run.onRequest && count >= 1 && !f.readAll) {
      count = 0;
      for (const auto& m : snap.messages)
        if (m.received > lastCheck) ++count;
    }
    if (count >= 1 || !run.quietIfNone) {
      MailList* window = count > 0 && run.onRequest ? m_list : nullptr;
      if (window) window->Load();
      quiet();
      m_speaker.SayText(MailAnnouncement(count));
      if (count >= 1 && run.onRequest) {
        listing = true;
      } else if (count >= 1) {
        for (const auto& m : snap.messages) {
          if (!f.readAll) {
            if (!(m.received > lastCheck)) continue;
            lastCheck = m.received;
          }
          for (const QString& line : AutomaticSpeech(ItemOf(m), f, run.now)) m_speaker.SayText(line);
          // Marked read only when something of it was said: a message that could not be read, or
          // of which only the count, the time or the sender was heard, stays unread.
          if (f.markRead && m.problem.isEmpty() && (f.saySubject || f.sayBody)) toMark << m.id;
        }
      }
    }
  }
  if (!run.onRequest && !m_viewer.ViewerOpen() && m_speaker.visible() && !run.wasVisible) m_speaker.hide();
  m_settings.write(settings::LastCheck, FormatDateText(lastCheck));
  ScheduleNextMailCheck();
  if (listing)
    listAndEnd(run, std::move(snap.messages), std::move(mb));
  else
    markAndEnd(toMark, std::move(mb));
}

void MailReader::listAndEnd(const Run& run, std::vector<mailbox::MailMessage> messages,
                            std::shared_ptr<mailbox::Mailbox> mb) {
  // Rows already listed keep their files: numbering goes on after them.
  MailList* window = m_list;
  const int firstIndex = window ? window->rowCount() : 0;
  auto rows = std::make_shared<std::vector<MailRow>>();
  auto job = [this, run, firstIndex, rows, messages = std::move(messages), mb](const std::atomic<bool>&) mutable {
    const MailFlags& f = run.flags;
    const std::array<bool, 4> fileFlags{f.sayWhen, f.sayWho, f.saySubject, f.sayBody};
    rows->reserve(messages.size());
    int index = firstIndex;
    for (const auto& m : messages) {
      const MailItem item = ItemOf(m);
      MailRow row;
      row.fileIndex = index++;
      row.flags = fileFlags;
      row.unreadable = !m.problem.isEmpty();
      row.text = row.unreadable ? UnreadableRowText(item) : item.subject;
      // Listing marks nothing: a message is read once the user opens it. One that could not be
      // read, or not kept for the list, stays unread: nothing is lost.
      bool handled = m.problem.isEmpty();
      if (const Problem kept = m_files.Write(row.fileIndex, MessageFileLines(item, fileFlags, run.now)); !kept.ok()) {
        row.fileProblem = Describe(kept).text;
        handled = false;
      }
      row.messageId = m.id;
      row.markWhenOpened = f.markRead && handled;
      rows->push_back(std::move(row));
    }
    mb.reset();
  };
  m_work.Run(std::move(job), [this, rows] { addRows(rows, 0); });
}

void MailReader::addRows(std::shared_ptr<std::vector<MailRow>> rows, size_t from) {
  // The window was loaded when the count was said (the list adds to the one that is open now). A
  // thousand rows a turn of the event loop, so that a mailbox of any size never holds it long.
  MailList* window = m_list;
  constexpr size_t kRowsPerTurn = 1000;
  const size_t to = m_synchronous ? rows->size() : std::min(rows->size(), from + kRowsPerTurn);
  if (window)
    for (size_t i = from; i < to; ++i) window->AddRow((*rows)[i]);
  if (to < rows->size()) {
    QMetaObject::invokeMethod(
        this, [this, rows, to] { addRows(rows, to); }, Qt::QueuedConnection);
    return;
  }
  if (window) window->PlaceAndShow();
  end();
}

void MailReader::markAndEnd(QStringList ids, std::shared_ptr<mailbox::Mailbox> mb) {
  if (!mb) {
    end();
    return;
  }
  // The mailbox is also let go of on the worker: closing an IMAP session talks to the server.
  m_work.Run(
      [ids, mb](const std::atomic<bool>&) mutable {
        if (!ids.isEmpty()) mb->MarkSeen(ids);
        mb.reset();
      },
      [this] { end(); });
}

void MailReader::end() {
  m_busy = false;
  emit checkFinished();
  if (m_pending) {
    m_pending = false;
    const bool q = m_pendingQuiet, r = m_pendingOnRequest;
    m_pendingQuiet = true;
    m_pendingOnRequest = false;
    start(q, r);
  }
}

void MailReader::ScheduleNextMailCheck(int& interval) {
  m_nextCheck = MomentOrNone(NextMailCheckTime(m_settings, interval, m_clock.now()));
}

void MailReader::ReadMyMail(const MailRow& row) {
  quiet();
  if (!row.fileProblem.isEmpty()) {
    m_speaker.SayText(QStringLiteral("\\pl=Uncertain\\I could not keep this message for the list because %1.")
                          .arg(PlainSpeech(row.fileProblem)));
    return;
  }
  const std::optional<QStringList> lines = m_files.Read(row.fileIndex);
  if (!lines) return;
  for (const QString& text : ListedMessageSpeech(*lines, row.flags, row.unreadable)) m_speaker.SayText(text);
  if (row.markWhenOpened && !row.messageId.isEmpty()) markOpened(row.messageId);
}

void MailReader::markOpened(const QString& id) {
  // The mailbox of the check that listed it, asking for no password: one that is needed was
  // given then.
  MailboxChoice choice = m_account.Choose(m_address);
  if (!choice.mailbox) return;  // the message stays unread: nothing is lost
  std::shared_ptr<mailbox::Mailbox> mb(std::move(choice.mailbox));
  m_work.Post([mb, id](const std::atomic<bool>&) mutable {
    if (mb->Open().ok()) mb->MarkSeen({id});
    mb.reset();
  });
}

void MailReader::ListClosed(const std::vector<MailRow>& rows) {
  Hush();
  for (const MailRow& row : rows) m_files.Remove(row.fileIndex);
}

}  // namespace chimewise
