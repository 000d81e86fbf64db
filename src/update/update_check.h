#pragma once
// The update check: looks on the update server for a file newer than this program, fetches it
// with its signature into <AppFolder>/TEMP, and when the signature verifies against the key built
// into the program, closes the sibling programs, starts the installer and asks the program to
// quit so the installer can replace it. The update window shows the steps and the progress; the
// character comments. Everything above this folder comes in through UpdateHooks.

#include <ftp/FtpClient.h>

#include <QByteArray>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace chimewise {

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
  // Called when the user clicks Abort or closes the window.
  std::function<void()> onAbort;
};

// The sibling programs' windows, closed before the installer starts.
class SiblingWindows {
 public:
  virtual ~SiblingWindows() = default;
  // Finds the windows titled exactly like the first title in `titles` that names any, asks them
  // to close and waits until they are gone or timeoutMs has passed. True when one was found.
  virtual bool closeFirstFound(const QStringList& titles, int timeoutMs) = 0;
};

// Over the X11 window manager's client list; finds nothing without an X display.
std::unique_ptr<SiblingWindows> SystemSiblingWindows();

// What the check needs from the program around it. An unset hook is skipped.
struct UpdateHooks {
  // The main window (the program's other windows) taken out of use while the check runs.
  std::function<void(bool enabled)> setMainWindowEnabled;
  // Shuts the program down as the Quit command does, once the installer has started.
  std::function<void()> quit;
  // True once shutdown has begun: a check in progress then stops as if aborted.
  std::function<bool()> closing;
  // The character: stop its queued actions, show it, move its top left corner, its height,
  // and queue speech (returns at once).
  std::function<void()> stopCharacter;
  std::function<void()> showCharacter;
  std::function<void(int x, int y)> moveCharacter;
  std::function<int()> characterHeight;
  std::function<void(const QString& text)> say;
};

struct UpdateOptions {
  QString appFolder;  // the data folder; the download goes to <appFolder>/TEMP
  // The release key's public half (32 bytes). Empty: the key built into the program.
  QByteArray publicKey;
  int siblingWaitMs = 60000;
  qint64 maxUpdateBytes = qint64(256) << 20;
  int connectTimeoutSeconds = 30;
  // The version number files are compared with; unset: this build's (OwnVersionNumber()).
  std::optional<double> ownVersion;
  // Starts the installer, not waiting for it; false with a reason when it could not start.
  // Unset: a detached process.
  std::function<bool(const QString& program, const QStringList& arguments, QString* error)> startInstaller;
};

// The public key built into the program (the CHIMEWISE_UPDATE_PUBLIC_KEY build setting), empty
// when the build has none.
QByteArray BuiltInPublicKey();

class UpdateCheck final {
 public:
  UpdateCheck(SettingsStore& settings, Prompter& prompter, UpdateView& view, SiblingWindows& siblings,
              UpdateHooks hooks, UpdateOptions options);
  ~UpdateCheck();
  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  // The whole check, from the server's address to the installer. Returns when it is over;
  // events keep being handled meanwhile. A second call while one runs only brings the window
  // to the front.
  void CheckForUpdate();
  // Stops a check in progress (the window's Abort; also for shutdown). The partial file goes.
  void Abort();
  bool running() const { return m_running; }

  QString localFilePath() const;

 private:
  enum class Outcome { Finished, Installing };
  Outcome run();
  ftp::Reply runOperation(const std::function<bool(ftp::FtpClient&)>& start);
  bool stopped() const;
  void removeDownload() const;
  bool verifyDownload(QString* why) const;
  bool startInstaller();
  void call(const std::function<void()>& f) const {
    if (f) f();
  }

  SettingsStore& m_settings;
  Prompter& m_prompter;
  UpdateView& m_view;
  SiblingWindows& m_siblings;
  UpdateHooks m_hooks;
  UpdateOptions m_options;
  std::unique_ptr<ftp::FtpClient> m_client;
  bool m_running = false;
  bool m_aborted = false;
  QString m_sizeText;
  bool m_showProgress = false;  // progress reports are the update file's (not its signature's)
  // Shutdown beginning (the program's waits are woken) stops a check in progress at once.
  QMetaObject::Connection m_closingWatch;
};

}  // namespace update
}  // namespace chimewise
