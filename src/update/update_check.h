#pragma once
// The update check: looks on the update server for a file newer than this program, fetches it
// with its signature into <AppFolder>/TEMP, and when the signature verifies against the key built
// into the program, closes the sibling programs, starts the installer and asks the program to
// quit so the installer can replace it. The update window shows the steps and the progress; the
// character comments. What it asks of the program around it goes through the ports below (the
// view, the sibling windows, the character); what it tells is UpdateCheck's signals.

#include "core/problem.h"

#include <ftp/ftp_client.h>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace chimewise {

class ProgramEvents;
class Prompter;
class SettingsStore;

namespace update {

inline const QString kRemoteFolder = QStringLiteral("/pub/updrmind/");
inline const QString kLocalFileName = QStringLiteral("PELORUPD.EXE");
inline const QString kSignatureSuffix = QStringLiteral(".sig");
inline const QString kUser = QStringLiteral("Anonymous");
inline const QString kPassword = QStringLiteral("QbrTaxn@");

inline const QString kNoInternet = QStringLiteral(
    "I could not find a connection to the Internet. Please make sure you have a valid Internet Connection.");
inline const QString kLetsGo = QStringLiteral("OK, Let's go see if there are any updates for me.");
inline const QString kGoodNews = QStringLiteral("Good News! I found a new update and I am applying it now.");
inline const QString kUpToDate = QStringLiteral("Your program is up to date.");
inline const QString kErrorTitle = QStringLiteral("Update Error");
// Told when the server took longer than the check allows: "%1" is how long, in words.
inline const QString kTooSlowText =
    QStringLiteral("The update server answered too slowly, so the check was stopped after %1. Please try again later.");
inline const QString kErrorText = QStringLiteral("There was an error getting the update file. Error # ");

inline const QStringList kJokesTitles = {QStringLiteral("Olm Jesterbox"), QStringLiteral("Olm Jesterbox (Guardian ON)"),
                                         QStringLiteral("Olm Jesterbox (Guardian OFF)")};
inline const QStringList kMailTitles = {QStringLiteral("Olm Toonpost")};

// What the update window shows. The window implements it; the check drives it.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  // Shows the window centred on the screen, with the first step marked and an empty list.
  virtual void open() = 0;
  virtual void close() = 0;
  virtual void bringToFront() = 0;
  // The window's frame on the screen, in pixels.
  virtual QRect frame() const = 0;
  // Marks step 0 ("Connecting..."), 1 ("Retrieving...") or 2 ("Downloading...").
  virtual void setStep(int step) = 0;
  virtual void addRow(const QString& text) = 0;
  virtual void selectRow(int row) = 0;
  virtual void setProgressText(const QString& text) = 0;
  // The window's Abort (its button, or closing it by hand) is connected to UpdateCheck::Abort by
  // whoever makes both.
};

// The sibling programs' windows, closed before the installer starts.
class SiblingWindows {
 public:
  virtual ~SiblingWindows() = default;
  // Finds the windows titled exactly like the first title in `titles` that names any and asks
  // them to close; then calls done(found) once, when they are gone or timeoutMs has passed (at
  // the next turn of the event loop when none was found). `done` always comes from the event
  // loop, never from inside this call, and may destroy this object. One request at a time.
  virtual void closeFirstFound(const QStringList& titles, int timeoutMs, std::function<void(bool found)> done) = 0;
  // Drops the pending request: its `done` is not called.
  virtual void cancel() = 0;
};

// Over the X11 window manager's client list; finds nothing without an X display.
std::unique_ptr<SiblingWindows> SystemSiblingWindows();

// The character, as the check uses it: it comments on the check from the top of the window.
class Presenter {
 public:
  virtual ~Presenter() = default;
  // Stops its queued actions.
  virtual void stop() = 0;
  virtual void show() = 0;
  // Stands on the top edge of `frame` (a window's frame on the screen), at its left end.
  virtual void standOn(const QRect& frame) = 0;
  // Queues speech and returns at once.
  virtual void say(const QString& text) = 0;
};

struct UpdateOptions {
  QString appFolder;  // the data folder; the download goes to <appFolder>/TEMP
  // The release key's public half (32 bytes). Empty: the key built into the program.
  QByteArray publicKey;
  int siblingWaitMs = 60000;
  qint64 maxUpdateBytes = qint64(256) << 20;
  int connectTimeoutSeconds = 30;
  // The most the check may take from the connection to the update file's size (a server that
  // trickles its listing is given up), and the most the download of the file and its signature
  // may take. Either passing ends the check with kTooSlowText.
  int checkDeadlineSeconds = 120;
  int downloadDeadlineSeconds = 30 * 60;
  // The version number files are compared with; unset: this build's (OwnVersionNumber()).
  std::optional<double> ownVersion;
  // Starts the installer, not waiting for it; false with a reason when it could not start.
  // Unset: a detached process. A seam to the system for tests, not a way up: it stays a setting.
  std::function<Problem(const QString& program, const QStringList& arguments)> startInstaller;
};

// The public key built into the program (the CHIMEWISE_UPDATE_PUBLIC_KEY build setting), empty
// when the build has none.
QByteArray BuiltInPublicKey();

// Runs as a chain of steps, each started by the end of the one before (an FTP reply, the sibling
// windows' answer); nothing in it waits in a nested event loop.
class UpdateCheck final : public QObject {
  Q_OBJECT
 public:
  // The settings, prompter, view, sibling windows and character must outlive the check. Once
  // shutdown has begun (`events`, when given, is closing), a check in progress stops as if aborted.
  UpdateCheck(SettingsStore& settings, Prompter& prompter, UpdateView& view, SiblingWindows& siblings,
              Presenter& character, ProgramEvents* events, UpdateOptions options);
  // A check in progress stops here as with Abort, its partial download removed, but nothing is
  // called back: no signal, no port, no view method, now or later.
  ~UpdateCheck();
  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  // Starts the whole check, from the server's address to the installer, and returns at once;
  // `finished` tells when it is over. Without a usable server address it only says so
  // and starts nothing. A second call while one runs only brings the window to the front.
  void CheckForUpdate();
  // Stops a check in progress (the window's Abort; also for shutdown): it ends at the next turn
  // of the event loop, or as soon as the running transfer has given up. The partial file goes.
  void Abort();
  bool running() const { return m_running; }

  QString localFilePath() const;

 signals:
  // The main window (the program's other windows) is taken out of use while the check runs
  // (false), and back in use when it ends without the installer (true).
  void setMainWindowEnabled(bool enabled);
  // A check that started has ended: the window is closed, and the main window is back in use
  // unless the installer started. Emitted last, or just before `quit`.
  void finished();
  // The installer has started: shut the program down as the Quit command does. Emitted last.
  void quit();
  // A slot may destroy the check; nothing more is emitted then (as Qt's own emission stops
  // calling the slots of a sender destroyed by one of them), and nothing of it is touched.

 private:
  enum class Step { Idle, Probe, List, Size, Download, Signature, Siblings };
  enum class Outcome { Finished, Installing };
  void startOperation(Step step, const std::function<bool(ftp::FtpClient&)>& start);
  void postReply(const ftp::Reply& reply);
  void onReply(const ftp::Reply& reply);
  void afterProbe(const ftp::Result& result);
  void afterList(const ftp::Reply& listing);
  void afterSize(const ftp::Reply& size);
  void afterDownload(const ftp::Result& result);
  void conclude();
  // (Re)starts the deadline of the steps that talk to the server.
  void armDeadline(int seconds);
  void onDeadline();
  void closeSiblings();
  void startInstaller(bool jokesRunning, bool emailRunning);
  void finish(Outcome outcome);
  bool stopped() const;
  void removeDownload() const;
  bool verifyDownload(QString* why) const;

  SettingsStore& m_settings;
  Prompter& m_prompter;
  UpdateView& m_view;
  SiblingWindows& m_siblings;
  Presenter& m_character;
  ProgramEvents* m_events;
  UpdateOptions m_options;
  std::unique_ptr<ftp::FtpClient> m_client;
  bool m_running = false;
  bool m_aborted = false;
  Step m_step = Step::Idle;
  // What the steps hand on: the result that decides the end, whether a newer file was found and
  // its remote path, the size text for the progress line.
  ftp::Result m_result;
  bool m_newerFound = false;
  QString m_remote;
  QString m_sizeText;
  bool m_showProgress = false;  // progress reports are the update file's (not its signature's)
  bool m_jokesRunning = false;
  // Ends the check once its time is up (see UpdateOptions); the reason is told at the end.
  QTimer m_deadline;
  int m_deadlineSeconds = 0;
  int m_timedOutAfter = 0;  // seconds; 0 while the time is not up
  // Receives the client's replies and the posted steps. Destroyed with the check, so nothing
  // queued for it runs afterwards; the closing watch goes with it too.
  QObject m_context;
};

}  // namespace update
}  // namespace chimewise
