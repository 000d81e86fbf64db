#include "update/update_check.h"

#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "update/update_rules.h"

#include <signature/signature.h>
#include <x11windows/window_closer.h>

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
  void closeFirstFound(const QStringList& titles, int timeoutMs, std::function<void(bool)> done) override {
    for (const QString& title : titles) {
      const QList<x11windows::WindowId> found = m_closer.findByTitle(title);
      if (found.isEmpty()) continue;
      m_closer.requestClose(found);
      m_closer.whenGone(found, timeoutMs, [done = std::move(done)](bool) { done(true); });
      return;
    }
    // Nothing to wait for: the answer still comes from the event loop.
    m_closer.whenGone({}, 0, [done = std::move(done)](bool) { done(false); });
  }
  void cancel() override { m_closer.cancelWait(); }

 private:
  x11windows::WindowCloser m_closer;
};

Problem StartDetached(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setWorkingDirectory(QFileInfo(program).absolutePath());
  if (process.startDetached()) return {};
  return {ProblemKind::FileFault, {}, process.errorString()};
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
                         Presenter& character, ProgramEvents* events, UpdateOptions options)
    : m_settings(settings),
      m_prompter(prompter),
      m_view(view),
      m_siblings(siblings),
      m_character(character),
      m_events(events),
      m_options(std::move(options)) {
  if (m_options.publicKey.isEmpty()) m_options.publicKey = BuiltInPublicKey();
  if (!m_options.startInstaller) m_options.startInstaller = &StartDetached;
  m_deadline.setSingleShot(true);
  QObject::connect(&m_deadline, &QTimer::timeout, &m_context, [this] { onDeadline(); });
  // Shutdown beginning (the program's waits are woken) stops a check in progress at once.
  if (m_events)
    QObject::connect(m_events, &ProgramEvents::waitInterrupted, &m_context, [this] {
      if (m_events->closing()) Abort();
    });
}

UpdateCheck::~UpdateCheck() {
  if (m_events) QObject::disconnect(m_events, nullptr, &m_context, nullptr);
  if (!m_running) return;
  if (m_step == Step::Siblings) m_siblings.cancel();
  // Stops the transfer and waits for its worker, which closes the file it writes.
  m_client.reset();
  removeDownload();
}

QString UpdateCheck::localFilePath() const { return m_options.appFolder + QStringLiteral("/TEMP/") + kLocalFileName; }

void UpdateCheck::Abort() {
  if (!m_running || m_aborted) return;
  m_aborted = true;
  if (m_client) m_client->abort();
  if (m_step == Step::Siblings) {
    // No transfer to give up: the wait for the sibling windows is dropped and the check ends
    // without starting the installer.
    m_siblings.cancel();
    QMetaObject::invokeMethod(
        &m_context, [this] { conclude(); }, Qt::QueuedConnection);
  }
}

bool UpdateCheck::stopped() const { return m_aborted || (m_events && m_events->closing()); }

void UpdateCheck::removeDownload() const {
  QFile::remove(localFilePath());
  QFile::remove(localFilePath() + kSignatureSuffix);
}

void UpdateCheck::startOperation(Step step, const std::function<bool(ftp::FtpClient&)>& start) {
  m_step = step;
  if (stopped()) {
    m_aborted = true;
    postReply({{ftp::kAborted, QStringLiteral("Aborted")}, {}, -1});
    return;
  }
  if (!start(*m_client)) postReply({{ftp::kAborted, QStringLiteral("Busy")}, {}, -1});
}

// A reply made here rather than by the client arrives the same way, from the event loop.
void UpdateCheck::postReply(const ftp::Reply& reply) {
  QMetaObject::invokeMethod(
      &m_context, [this, reply] { onReply(reply); }, Qt::QueuedConnection);
}

void UpdateCheck::CheckForUpdate() {
  if (m_running) {
    m_view.bringToFront();
    return;
  }
  const ServerAddress server = ParseServerAddress(m_settings.read(settings::UpdateServer));
  if (server.kind == ServerAddress::NotSet) {
    m_prompter.notice(QStringLiteral("No update server is set up. Enter its address (for example "
                                     "ftp://ftp.example.com) as Server in the [Update] section of %1.")
                          .arg(QDir::toNativeSeparators(m_settings.filePath())),
                      kErrorTitle, PromptIcon::Information);
    return;
  }
  if (server.kind == ServerAddress::Invalid) {
    m_prompter.notice(
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
  QObject::connect(m_client.get(), &ftp::FtpClient::progress, &m_context, [this](qint64 received, qint64) {
    if (m_showProgress) m_view.setProgressText(ProgressText(received, m_sizeText));
  });
  // Queued: each step runs from the event loop, outside the client's own signal, so it may start
  // the next operation or let the client go.
  QObject::connect(
      m_client.get(), &ftp::FtpClient::finished, &m_context, [this](const ftp::Reply& reply) { onReply(reply); },
      Qt::QueuedConnection);
  m_running = true;
  m_aborted = false;
  m_result = {};
  m_newerFound = false;
  m_remote.clear();
  m_sizeText.clear();
  m_showProgress = false;
  m_jokesRunning = false;
  armDeadline(m_options.checkDeadlineSeconds);

  const QString tempFolder = m_options.appFolder + QStringLiteral("/TEMP");
  if (!QFileInfo(tempFolder).isDir()) QDir().mkpath(tempFolder);

  m_character.stop();
  emit setMainWindowEnabled(false);
  m_view.open();
  m_character.show();
  m_character.standOn(m_view.frame());

  // Connect.
  startOperation(Step::Probe, [](ftp::FtpClient& c) { return c.probe(); });
}

void UpdateCheck::onReply(const ftp::Reply& reply) {
  // Shutdown may have begun while the transfer ran; it ends the check as Abort does.
  if (stopped()) m_aborted = true;
  switch (m_step) {
    case Step::Probe: afterProbe(reply.result); break;
    case Step::List: afterList(reply); break;
    case Step::Size: afterSize(reply); break;
    case Step::Download: afterDownload(reply.result); break;
    // The signature's own result is not looked at: a missing one is told as a bad one is.
    case Step::Signature: conclude(); break;
    case Step::Idle:
    case Step::Siblings: break;
  }
}

void UpdateCheck::afterProbe(const ftp::Result& result) {
  m_view.bringToFront();
  if (m_aborted) return finish(Outcome::Finished);
  if (result.code == ftp::kHostNotFound) {
    m_character.say(kNoInternet);
    return finish(Outcome::Finished);
  }
  m_result = result;
  if (!result.ok()) return conclude();
  m_character.say(kLetsGo);
  m_view.setStep(1);
  startOperation(Step::List, [](ftp::FtpClient& c) { return c.list(kRemoteFolder); });
}

void UpdateCheck::afterList(const ftp::Reply& listing) {
  m_result = listing.result;
  for (const QString& row : listing.names) m_view.addRow(DisplayRow(row));

  removeDownload();
  const double own = m_options.ownVersion.value_or(OwnVersionNumber());
  const int newer = m_aborted ? -1 : FirstNewerRow(listing.names, own);
  // The rows are looked at in order, up to the one fetched (or all of them).
  const int last = newer >= 0 ? newer : int(listing.names.size()) - 1;
  for (int i = 0; i <= last; ++i) m_view.selectRow(i);
  if (newer < 0) return conclude();
  m_newerFound = true;
  m_remote = kRemoteFolder + listing.names[newer];
  const QString remote = m_remote;
  startOperation(Step::Size, [&remote](ftp::FtpClient& c) { return c.size(remote); });
}

void UpdateCheck::afterSize(const ftp::Reply& size) {
  m_sizeText = size.result.ok() && size.size >= 0 ? FormatCount(size.size) : QString();
  m_view.setStep(2);
  m_view.setProgressText(QString());
  m_character.say(kGoodNews);
  const QString remote = m_remote;
  const QString local = localFilePath();
  const qint64 max = m_options.maxUpdateBytes;
  m_showProgress = true;
  armDeadline(m_options.downloadDeadlineSeconds);
  startOperation(Step::Download, [&](ftp::FtpClient& c) { return c.download(remote, local, max); });
}

void UpdateCheck::afterDownload(const ftp::Result& result) {
  // The client reports the last progress before it finishes.
  m_showProgress = false;
  m_result = result;
  if (!result.ok() || m_aborted) return conclude();
  // The signature comes the same way.
  const QString remote = m_remote + kSignatureSuffix;
  const QString local = localFilePath() + kSignatureSuffix;
  startOperation(Step::Signature, [&](ftp::FtpClient& c) { return c.download(remote, local, kMaxSignatureBytes); });
}

// The transfers are over (or were given up): what they brought is told, checked and installed.
void UpdateCheck::armDeadline(int seconds) {
  m_timedOutAfter = 0;
  m_deadlineSeconds = seconds;
  m_deadline.start(std::chrono::seconds(seconds));
}

void UpdateCheck::onDeadline() {
  // Only a transfer is cut short: the wait for the sibling programs has its own bound.
  if (!m_running || m_aborted || m_step == Step::Idle || m_step == Step::Siblings) return;
  m_timedOutAfter = m_deadlineSeconds;
  Abort();
}

void UpdateCheck::conclude() {
  m_step = Step::Idle;
  m_deadline.stop();
  if (!m_aborted && !m_newerFound && m_result.ok()) m_character.say(kUpToDate);
  m_view.close();

  if (m_aborted) {
    removeDownload();
    return finish(Outcome::Finished);
  }
  if (!m_result.ok()) {
    removeDownload();
    QString text = kErrorText + QString::number(m_result.code);
    if (!m_result.text.isEmpty()) text += QStringLiteral(": ") + m_result.text;
    m_prompter.notice(text, kErrorTitle, PromptIcon::Information);
    return finish(Outcome::Finished);
  }
  if (!m_newerFound || !QFileInfo::exists(localFilePath())) return finish(Outcome::Finished);

  QString why;
  if (!verifyDownload(&why)) {
    removeDownload();
    m_prompter.notice(QStringLiteral("The update file could not be verified (%1), so it was not installed. "
                                     "It has been deleted.")
                          .arg(why),
                      kErrorTitle, PromptIcon::Warning);
    return finish(Outcome::Finished);
  }
  closeSiblings();
}

void UpdateCheck::closeSiblings() {
  m_step = Step::Siblings;
  m_siblings.closeFirstFound(kJokesTitles, m_options.siblingWaitMs, [this](bool jokesRunning) {
    m_jokesRunning = jokesRunning;
    m_siblings.closeFirstFound(kMailTitles, m_options.siblingWaitMs,
                               [this](bool emailRunning) { startInstaller(m_jokesRunning, emailRunning); });
  });
}

void UpdateCheck::startInstaller(bool jokesRunning, bool emailRunning) {
  m_step = Step::Idle;
  const QString program = localFilePath();
  // Downloaded data carries no execute permission; the verified installer gets it for its owner.
  QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
  if (const Problem p = m_options.startInstaller(program, {InstallerArguments(jokesRunning, emailRunning)}); !p.ok()) {
    m_prompter.notice(QStringLiteral("The update could not be started: %1").arg(Describe(p).text), kErrorTitle,
                      PromptIcon::Information);
    return finish(Outcome::Finished);
  }
  finish(Outcome::Installing);
}

void UpdateCheck::finish(Outcome outcome) {
  m_step = Step::Idle;
  m_deadline.stop();
  if (std::exchange(m_timedOutAfter, 0) > 0)
    m_prompter.notice(kTooSlowText.arg(DeadlineText(m_deadlineSeconds)), kErrorTitle, PromptIcon::Information);
  m_running = false;
  m_showProgress = false;
  // Called from a queued reply or a sibling answer, never from inside the client's own signal.
  m_client.reset();
  // A slot may destroy this check: once one has, nothing of it is touched.
  const QPointer<UpdateCheck> alive(this);
  if (outcome == Outcome::Installing) {
    emit finished();
    if (alive) emit quit();
    return;
  }
  m_view.close();
  emit setMainWindowEnabled(true);
  if (alive) emit finished();
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

}  // namespace chimewise::update
