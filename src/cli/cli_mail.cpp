#include "cli/cli_mail.h"

#include "character/transcript_speaker.h"
#include "cli/terminal_text.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "mail/mail_account.h"
#include "mail/mail_reader.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <vector>

namespace chimewise {

namespace {

// The rows the unread e-mail window would list.
class CollectedRows final : public MailList {
 public:
  void Load() override {}
  int rowCount() const override { return static_cast<int>(rows.size()); }
  void AddRow(const MailRow& row) override { rows.push_back(row); }
  void PlaceAndShow() override {}
  std::vector<MailRow> rows;
};

// Asks on the terminal and answers at once (no answer where the input is not a terminal).
class TerminalPasswordAsker final : public PasswordAsker {
 public:
  explicit TerminalPasswordAsker(QTextStream& err) : m_err(err) {}
  void AskPassword(const QString& server, const QString& user, Answer answered) override {
    answered(AskPasswordOnTerminal(m_err, server, user));
  }

 private:
  QTextStream& m_err;
};

// The message files of one run live in "chimewise-mail-<pid>-XXXXXX" in the temporary folder. A
// run that was killed could not remove its own; the next run removes those whose process is
// gone.
const QString kFilesPrefix = QStringLiteral("chimewise-mail-");

void RemoveLeftFolders() {
  static const QRegularExpression name(QStringLiteral("^chimewise-mail-([0-9]+)-"));
  const QDir temp(QDir::tempPath());
  for (const QFileInfo& info : temp.entryInfoList({kFilesPrefix + u'*'}, QDir::Dirs | QDir::NoDotAndDotDot)) {
    const auto m = name.match(info.fileName());
    if (!m.hasMatch() || info.isSymLink() || info.ownerId() != getuid()) continue;
    const pid_t pid = static_cast<pid_t>(m.captured(1).toLongLong());
    if (pid <= 0 || pid == getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
    QDir(info.absoluteFilePath()).removeRecursively();
  }
}

}  // namespace

Checked<MailRequest> ReadMailArguments(const QStringList& args) {
  MailRequest request;
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--auto")) {
      request.automatic = true;
    } else if (args[i] == QStringLiteral("--mailbox") && i + 1 < args.size() && request.address.isEmpty()) {
      request.address = args[++i];
      if (request.address.trimmed().isEmpty())
        return UsageError{QStringLiteral("--mailbox needs a folder or an imap:// or imaps:// address")};
    } else {
      return UsageError{args[i] == QStringLiteral("--mailbox") ? QStringLiteral("--mailbox needs a value, once")
                                                               : QStringLiteral("mail does not take ") + args[i]};
    }
  }
  return request;
}

int RunMailCommand(const MailRequest& request, const QString& appFolder, const QDateTime& now, QTextStream& out,
                   QTextStream& err) {
  SharedState state;
  state.AppFolder = appFolder;
  SettingsStore settings(SettingsFilePath());
  ManualClock clock(now.isValid() ? now : QDateTime::currentDateTime());
  TranscriptSpeaker speaker;
  SecretServiceVault vault;
  TerminalPasswordAsker asker(err);
  MailAccount account(settings, vault, &asker);
  // The message files of this run live in a folder of its own and go with it, so a running
  // program's window keeps its own.
  RemoveLeftFolders();
  QTemporaryDir files(QDir::tempPath() + u'/' + kFilesPrefix + QString::number(getpid()) + QStringLiteral("-XXXXXX"));
  if (!files.isValid()) {
    err << "chimewise-cli: no temporary folder for the message files: " << files.errorString() << Qt::endl;
    return 1;
  }
  CollectedRows rows;
  NoWindows windows;
  MailReader reader(state, settings, clock, speaker, windows, account, MessageFiles(files.path()));
  reader.setSynchronous(true);
  reader.setMailboxAddress(request.address);
  reader.setList(&rows);
  // As the timer starts it, or as a request from the menu does.
  reader.CheckNewMail(request.automatic, !request.automatic);
  for (const MailRow& row : rows.rows) reader.ReadMyMail(row);
  reader.ListClosed(rows.rows);
  for (const QString& line : speaker.lines) out << TerminalLine(line) << Qt::endl;
  if (!reader.lastFailure().ok()) {
    err << "Could not reach the mailbox: " << TerminalLine(reader.lastFailure().reason) << Qt::endl;
    return 1;
  }
  return 0;
}

}  // namespace chimewise
