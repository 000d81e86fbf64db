#include "update/update_check.h"

#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/wait_scope.h"
#include "update/update_rules.h"

#include <signature/Signature.h>
#include <x11windows/WindowCloser.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace chimewise::update {

namespace {

// A signature file is 64 bytes, or a line of text; anything larger is not one.
constexpr qint64 kMaxSignatureBytes = 4096;

class X11SiblingWindows final : public SiblingWindows {
 public:
  bool closeFirstFound(const QStringList& titles, int timeoutMs) override {
    for (const QString& title : titles) {
      const QList<x11windows::WindowId> found = m_closer.findByTitle(title);
      if (found.isEmpty()) continue;
      m_closer.requestClose(found);
      WaitScope wait;
      m_closer.waitUntilGone(found, timeoutMs);
      return true;
    }
    return false;
  }

 private:
  x11windows::WindowCloser m_closer;
};

bool StartDetached(const QString& program, const QStringList& arguments, QString* error) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setWorkingDirectory(QFileInfo(program).absolutePath());
  if (process.startDetached()) return true;
  *error = process.errorString();
  return false;
}

}  // namespace

std::unique_ptr<SiblingWindows> SystemSiblingWindows() { return std::make_unique<X11SiblingWindows>(); }

QByteArray BuiltInPublicKey() {
#ifdef CHIMEWISE_UPDATE_PUBLIC_KEY
  return signature::ParseKeyText(QStringLiteral(CHIMEWISE_UPDATE_PUBLIC_KEY)).value_or(QByteArray());
#else
  return {};
#endif
}

UpdateCheck::UpdateCheck(SettingsStore& settings, Prompter& prompter, UpdateView& view, SiblingWindows& siblings,
                         UpdateHooks hooks, UpdateOptions options)
    : m_settings(settings),
      m_prompter(prompter),
      m_view(view),
      m_siblings(siblings),
      m_hooks(std::move(hooks)),
      m_options(std::move(options)) {
  if (m_options.publicKey.isEmpty()) m_options.publicKey = BuiltInPublicKey();
  if (!m_options.startInstaller) m_options.startInstaller = &StartDetached;
  m_view.onAbort = [this] { Abort(); };
  m_closingWatch = QObject::connect(&ProgramEvents::instance(), &ProgramEvents::waitInterrupted, [this] {
    if (m_hooks.closing && m_hooks.closing()) Abort();
  });
}

UpdateCheck::~UpdateCheck() {
  QObject::disconnect(m_closingWatch);
  m_view.onAbort = nullptr;
}

QString UpdateCheck::localFilePath() const { return m_options.appFolder + QStringLiteral("/TEMP/") + kLocalFileName; }

void UpdateCheck::Abort() {
  if (!m_running) return;
  m_aborted = true;
  if (m_client) m_client->abort();
}

bool UpdateCheck::stopped() const { return m_aborted || (m_hooks.closing && m_hooks.closing()); }

void UpdateCheck::removeDownload() const {
  QFile::remove(localFilePath());
  QFile::remove(localFilePath() + kSignatureSuffix);
}

ftp::Reply UpdateCheck::runOperation(const std::function<bool(ftp::FtpClient&)>& start) {
  if (stopped()) return {{ftp::kAborted, QStringLiteral("Aborted")}, {}, -1};
  if (!start(*m_client)) return {{ftp::kAborted, QStringLiteral("Busy")}, {}, -1};
  ftp::Reply reply;
  {
    WaitScope wait;
    reply = m_client->waitForFinished();
  }
  // Shutdown may have begun while the transfer ran; it ends the check as Abort does.
  if (stopped()) m_aborted = true;
  return reply;
}

void UpdateCheck::CheckForUpdate() {
  if (m_running) {
    m_view.bringToFront();
    return;
  }
  const ServerAddress server = ParseServerAddress(m_settings.read(settings::UpdateServer));
  if (server.kind == ServerAddress::NotSet) {
    m_prompter.message(QStringLiteral("No update server is set up. Enter its address (for example "
                                      "ftp://ftp.example.com) as Server in the [Update] section of %1.")
                           .arg(QDir::toNativeSeparators(m_settings.filePath())),
                       kErrorTitle, PromptIcon::Information);
    return;
  }
  if (server.kind == ServerAddress::Invalid) {
    m_prompter.message(
        QStringLiteral("The update server address \"%1\" is not an FTP address. Enter it as a host "
                       "name or as ftp://host:port under [Update] Server in %2.")
            .arg(m_settings.read(settings::UpdateServer).left(200), QDir::toNativeSeparators(m_settings.filePath())),
        kErrorTitle, PromptIcon::Information);
    return;
  }

  ftp::ServerOptions ftpOptions;
  ftpOptions.host = server.host;
  ftpOptions.port = server.port;
  ftpOptions.user = kUser;
  ftpOptions.password = kPassword;
  ftpOptions.connectTimeoutSeconds = m_options.connectTimeoutSeconds;
  m_client = std::make_unique<ftp::FtpClient>(ftpOptions);
  QObject::connect(m_client.get(), &ftp::FtpClient::progress, [this](qint64 received, qint64) {
    if (m_showProgress) m_view.setProgressText(ProgressText(received, m_sizeText));
  });
  m_running = true;
  m_aborted = false;
  m_sizeText.clear();

  const Outcome outcome = run();

  m_running = false;
  m_client.reset();
  if (outcome == Outcome::Installing) {
    // The shutdown may destroy this object: nothing of it is touched once the hook runs.
    const std::function<void()> quit = m_hooks.quit;
    if (quit) quit();
    return;
  }
  m_view.close();
  if (m_hooks.setMainWindowEnabled) m_hooks.setMainWindowEnabled(true);
}

UpdateCheck::Outcome UpdateCheck::run() {
  const QString tempFolder = m_options.appFolder + QStringLiteral("/TEMP");
  if (!QFileInfo(tempFolder).isDir()) QDir().mkpath(tempFolder);

  call(m_hooks.stopCharacter);
  if (m_hooks.setMainWindowEnabled) m_hooks.setMainWindowEnabled(false);
  m_view.open();
  call(m_hooks.showCharacter);
  if (m_hooks.moveCharacter) {
    const QRect frame = m_view.frame();
    const int height = m_hooks.characterHeight ? m_hooks.characterHeight() : 0;
    m_hooks.moveCharacter(frame.left(), frame.top() - height);
  }
  ProcessEventsInWait();

  auto say = [this](const QString& text) {
    if (m_hooks.say) m_hooks.say(text);
  };

  // Connect.
  ftp::Result result = runOperation([](ftp::FtpClient& c) { return c.probe(); }).result;
  m_view.bringToFront();
  if (m_aborted) return Outcome::Finished;
  if (result.code == ftp::kHostNotFound) {
    say(kNoInternet);
    return Outcome::Finished;
  }

  bool newerFound = false;
  if (result.ok()) {
    say(kLetsGo);
    m_view.setStep(1);
    ProcessEventsInWait();
    const ftp::Reply listing = runOperation([](ftp::FtpClient& c) { return c.list(kRemoteFolder); });
    result = listing.result;
    for (const QString& row : listing.names) m_view.addRow(DisplayRow(row));

    removeDownload();
    const double own = m_options.ownVersion.value_or(OwnVersionNumber());
    const int newer = m_aborted ? -1 : FirstNewerRow(listing.names, own);
    // The rows are looked at in order, up to the one fetched (or all of them).
    const int last = newer >= 0 ? newer : int(listing.names.size()) - 1;
    for (int i = 0; i <= last; ++i) m_view.selectRow(i);
    if (newer >= 0) {
      newerFound = true;
      const QString name = listing.names[newer];
      const QString remote = kRemoteFolder + name;
      const ftp::Reply size = runOperation([&remote](ftp::FtpClient& c) { return c.size(remote); });
      m_sizeText = size.result.ok() && size.size >= 0 ? FormatCount(size.size) : QString();
      m_view.setStep(2);
      m_view.setProgressText(QString());
      ProcessEventsInWait();
      say(kGoodNews);
      const QString local = localFilePath();
      const qint64 max = m_options.maxUpdateBytes;
      m_showProgress = true;
      result = runOperation([&](ftp::FtpClient& c) { return c.download(remote, local, max); }).result;
      ProcessEventsInWait();  // the last progress report
      m_showProgress = false;
      if (result.ok() && !m_aborted) {
        // The signature comes the same way; a missing one is told below, as a bad one is.
        runOperation([&](ftp::FtpClient& c) {
          return c.download(remote + kSignatureSuffix, local + kSignatureSuffix, kMaxSignatureBytes);
        });
      }
    }
  }

  if (!m_aborted && !newerFound && result.ok()) say(kUpToDate);
  m_view.close();

  if (m_aborted) {
    removeDownload();
    return Outcome::Finished;
  }
  if (!result.ok()) {
    removeDownload();
    QString text = kErrorText + QString::number(result.code);
    if (!result.text.isEmpty()) text += QStringLiteral(": ") + result.text;
    m_prompter.message(text, kErrorTitle, PromptIcon::Information);
    return Outcome::Finished;
  }
  if (!newerFound || !QFileInfo::exists(localFilePath())) return Outcome::Finished;

  QString why;
  if (!verifyDownload(&why)) {
    removeDownload();
    m_prompter.message(QStringLiteral("The update file could not be verified (%1), so it was not installed. "
                                      "It has been deleted.")
                           .arg(why),
                       kErrorTitle, PromptIcon::Warning);
    return Outcome::Finished;
  }
  return startInstaller() ? Outcome::Installing : Outcome::Finished;
}

bool UpdateCheck::verifyDownload(QString* why) const {
  if (m_options.publicKey.size() != signature::kPublicKeyBytes) {
    *why = QStringLiteral("this copy of the program holds no key to check updates with");
    return false;
  }
  QFile sigFile(localFilePath() + kSignatureSuffix);
  if (!sigFile.open(QIODevice::ReadOnly)) {
    *why = QStringLiteral("its signature is missing");
    return false;
  }
  const std::optional<QByteArray> sig = signature::ParseSignatureText(sigFile.read(kMaxSignatureBytes));
  if (!sig) {
    *why = QStringLiteral("its signature file is damaged");
    return false;
  }
  QFile file(localFilePath());
  if (!file.open(QIODevice::ReadOnly) || file.size() > m_options.maxUpdateBytes) {
    *why = QStringLiteral("it cannot be read");
    return false;
  }
  if (!signature::Verify(file.readAll(), *sig, m_options.publicKey)) {
    *why = QStringLiteral("its signature does not match");
    return false;
  }
  return true;
}

bool UpdateCheck::startInstaller() {
  const bool jokesRunning = m_siblings.closeFirstFound(kJokesTitles, m_options.siblingWaitMs);
  ProcessEventsInWait();
  const bool emailRunning = m_siblings.closeFirstFound(kMailTitles, m_options.siblingWaitMs);
  ProcessEventsInWait();

  const QString program = localFilePath();
  // Downloaded data carries no execute permission; the verified installer gets it for its owner.
  QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
  QString error;
  if (!m_options.startInstaller(program, {InstallerArguments(jokesRunning, emailRunning)}, &error)) {
    m_prompter.message(QStringLiteral("The update could not be started: %1").arg(error), kErrorTitle,
                       PromptIcon::Information);
    return false;
  }
  return true;
}

}  // namespace chimewise::update
