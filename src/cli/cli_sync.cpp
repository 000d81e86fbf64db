#include "cli/cli_sync.h"

#include "cli/terminal_text.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar_memo.h"
#include "exchange/calendar_sync.h"
#include "mail/mail_account.h"

#include <QUrl>

namespace chimewise {

namespace {

// The password for `user` on `server`: the secret store's, else the environment's (for scripts),
// else typed on the terminal; none for a server used without a user name.
std::optional<QString> SyncPassword(const QString& server, const QString& user, QTextStream& err) {
  if (user.isEmpty()) return QString();
  SecretServiceVault vault;
  if (const auto found = vault.Find(server, user); found.password) return found.password;
  if (const QByteArray fromEnvironment = qgetenv("CHIMEWISE_SYNC_PASSWORD"); !fromEnvironment.isNull())
    return QString::fromUtf8(fromEnvironment);
  return AskPasswordOnTerminal(err, server, user);
}

}  // namespace

int RunSyncCommand(const SyncCommand& command, SyncTools tools, QTextStream& out, QTextStream& err, bool* changedHere) {
  const QString server =
      (command.server.isEmpty() ? tools.settings.read(settings::SyncServer) : command.server).trimmed();
  const QString user = (command.user.isEmpty() ? tools.settings.read(settings::SyncUser) : command.user).trimmed();
  if (server.isEmpty()) {
    err << "chimewise-cli: no calendar server is set up: give --server, or set Server in the [Sync] section of "
           "the settings"
        << Qt::endl;
    return 1;
  }
  const QUrl url(server, QUrl::StrictMode);
  if (!url.isValid() || (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http")) ||
      url.host().isEmpty()) {
    err << "chimewise-cli: the calendar server is to be an https:// (or http://) address, not \""
        << TerminalLine(server) << "\"" << Qt::endl;
    return 1;
  }
  const std::optional<QString> password = SyncPassword(server, user, err);
  if (!password) {
    err << "chimewise-cli: no password for " << TerminalLine(user)
        << ": keep it in the secret store, or give it in CHIMEWISE_SYNC_PASSWORD" << Qt::endl;
    return 1;
  }
  caldav::Settings connection;
  connection.url = url;
  connection.user = user;
  connection.password = *password;
  // A table of an earlier version keeps its series in its memos: they go where the sync reads them.
  if (const MemoMove moved = MoveCalendarMemos(tools.store.engine, tools.store.state.AppFolder); !moved.problem.ok()) {
    err << "chimewise-cli: " << TerminalText(Describe(moved.problem).text) << Qt::endl;
    return 1;
  }
  CalendarSync sync(tools.store, std::make_unique<caldav::BlockingClient>(connection), url);
  sync.options = command.import;
  SyncReport report;
  sync.finished = [&report](const SyncReport& r) { report = r; };
  sync.Start();  // a blocking port: the pass is over when this returns
  *changedHere = report.changedHere();
  for (const QString& note : report.notes) out << "note: " << TerminalLine(note) << Qt::endl;
  out << SyncSummary(report) << Qt::endl;
  if (!report.ok()) {
    err << TerminalText(SyncProblemText(report)) << Qt::endl;
    return 1;
  }
  if (!report.complete()) {
    // The server was worked with, but something is left: scripts are to tell that from a whole sync.
    err << "chimewise-cli: " << TerminalText(SyncProblemText(report)) << Qt::endl;
    return kSyncIncompleteExit;
  }
  return 0;
}

}  // namespace chimewise
