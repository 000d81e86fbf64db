// The update check against a real FTP server; installers are shell scripts recording their arguments.

#include "update/update_check.h"
#include "update/update_rules.h"
#include "update/update_window.h"

#include "core/program_events.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"
#include "update/ftp_server.h"

#include <signature/signature.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace chimewise::update {
namespace {

using testsupport::FtpServer;
using testsupport::RunEventsFor;
using testsupport::RunEventsUntil;
using testsupport::Slurp;
using testsupport::Touch;

// The real window, watched: every step and progress line the check shows.
class WatchedView final : public UpdateView {
 public:
  void open() override { ++opened, window.open(); }
  void close() override { ++closed, window.close(); }
  void bringToFront() override { window.bringToFront(); }
  QRect frame() const override { return window.frame(); }
  void setStep(int step) override { steps << step, window.setStep(step); }
  void addRow(const QString& text) override { window.addRow(text); }
  void selectRow(int row) override { window.selectRow(row); }
  void setProgressText(const QString& text) override {
    window.setProgressText(text);
    if (text.isEmpty()) return;
    progress << text;
    if (text.section(u' ', 0, 0) != QLatin1String("0") && onFirstBytes) std::exchange(onFirstBytes, nullptr)();
  }

  UpdateWindow window;
  QList<int> steps;
  QStringList progress;
  int opened = 0, closed = 0;
  std::function<void()> onFirstBytes;
};

// Answers from the event loop, as the desktop's windows do, after `delayMs`.
class FakeSiblings final : public SiblingWindows {
 public:
  FakeSiblings() {
    m_answer.setSingleShot(true);
    QObject::connect(&m_answer, &QTimer::timeout, [this] { ++answers, std::exchange(m_done, nullptr)(m_found); });
  }
  void closeFirstFound(const QStringList& titles, int, std::function<void(bool)> done) override {
    EXPECT_FALSE(m_done) << "one request at a time";
    asked << titles;
    m_found = running.contains(titles.first());
    m_done = std::move(done);
    m_answer.start(delayMs);
  }
  void cancel() override { ++cancels, m_answer.stop(), m_done = nullptr; }
  bool waiting() const { return bool(m_done); }

  QList<QStringList> asked;
  QStringList running;  // first titles of the lists that count as found
  int delayMs = 0, cancels = 0, answers = 0;

 private:
  QTimer m_answer;
  std::function<void(bool)> m_done;
  bool m_found = false;
};

// The character: only what it says is watched.
class SayingCharacter final : public Presenter {
 public:
  void stop() override {}
  void show() override {}
  void standOn(const QRect&) override {}
  void say(const QString& text) override { said << text; }
  QStringList said;
};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir.filePath("srv/pub/updrmind");
    ASSERT_TRUE(QDir().mkpath(folder));
    keys = signature::GenerateKeyPair();
  }

  void serve(const QString& name, const QByteArray& bytes, bool sign = false) {
    Touch(folder + "/" + name, bytes);
    if (sign) Touch(folder + "/" + name + ".sig", signature::Sign(bytes, keys.secretKey));
  }
  QByteArray installer(const QString& marker = "installer") const {
    return "#!/bin/sh\n# " + marker.toUtf8() + "\nprintf '%s' \"$*\" > '" + record.toUtf8() + "'\n";
  }

  std::unique_ptr<UpdateCheck> checker(std::optional<double> ownVersion = std::nullopt) {
    UpdateOptions o;
    o.appFolder = state.AppFolder;
    o.publicKey = withoutKey ? QByteArray() : keys.publicKey;  // empty: the key built in, if any
    o.connectTimeoutSeconds = 10;
    o.ownVersion = ownVersion;
    o.maxUpdateBytes = maxUpdateBytes;
    o.checkDeadlineSeconds = checkDeadlineSeconds;
    // Run the installer to its end, so what it recorded is there when the check ends.
    o.startInstaller = [this](const QString& program, const QStringList& args) {
      installerRuns << program;
      QProcess p;
      p.start(program, args);
      if (!p.waitForFinished(20000) || p.exitCode() != 0) return Problem{ProblemKind::FileFault, {}, p.errorString()};
      return Problem{};
    };
    auto c = std::make_unique<UpdateCheck>(settings, prompter, view, siblings, character, events.get(), o);
    QObject::connect(c.get(), &UpdateCheck::setMainWindowEnabled, [this](bool on) { mainEnabled << on; });
    QObject::connect(c.get(), &UpdateCheck::quit, [this] { ++quits; });
    QObject::connect(c.get(), &UpdateCheck::finished, [this] { ++finishes; });
    QObject::connect(&view.window, &UpdateWindow::abortRequested, c.get(), &UpdateCheck::Abort);
    return c;
  }

  // One whole check, run until it has told that it is over.
  void check(const QString& server, std::optional<double> ownVersion = std::nullopt) {
    settings.write(settings::UpdateServer, server);
    const auto c = checker(ownVersion);
    const int before = finishes;
    c->CheckForUpdate();
    const bool started = c->running();  // a check that never started has nothing to finish
    if (started) {
      ASSERT_TRUE(RunEventsUntil([&] { return finishes > before; }, 60000));
    }
    EXPECT_EQ(finishes, before + int(started));
    EXPECT_FALSE(c->running());
  }

  QString startServer(FtpServer::Options o = {}) {
    ftp = std::make_unique<FtpServer>(dir.filePath("srv"), o);
    EXPECT_TRUE(ftp->ready());
    settings.write(settings::UpdateServer, ftp->address());
    return ftp->address();
  }
  QString local() const { return state.AppFolder + "/TEMP/PELORUPD.EXE"; }
  bool noBox() const { return prompter.asked.empty(); }
  // The one notice the check showed (an error box that holds nothing up), then forgotten.
  Prompt takeBox() {
    if (prompter.asked.size() != 1u) return ADD_FAILURE() << prompter.asked.size() << " boxes", Prompt{};
    const Prompt p = std::exchange(prompter.asked, {}).front();
    EXPECT_TRUE(p.title == kErrorTitle);
    return p;
  }

  QApplication& app = testsupport::EnsureQtApp();
  QTemporaryDir dir;
  QString folder;
  SharedState state;
  std::unique_ptr<ProgramEvents> events = std::make_unique<ProgramEvents>();  // what the check hears of shutdown
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  signature::KeyPair keys;
  bool withoutKey = false;
  QString record = dir.filePath("installer-arguments.txt");
  WatchedView view;
  FakeSiblings siblings;
  SayingCharacter character;
  QStringList& said = character.said;
  QList<bool> mainEnabled;
  QStringList installerRuns;
  int quits = 0, finishes = 0;
  qint64 maxUpdateBytes = qint64(256) << 20;
  int checkDeadlineSeconds = 120;
  std::unique_ptr<FtpServer> ftp;
};

// Only older files: up to date. The first newer row is fetched, verified, installed; the program quits.
TEST_F(UpdateCheckTest, UpToDateOrTheFirstNewerRowIsFetchedVerifiedAndInstalled) {
  const QString server = startServer();
  serve("9.exe", "old");
  check(server, 10.6);
  EXPECT_EQ(said, QStringList({kLetsGo, kUpToDate}));
  EXPECT_TRUE(noBox());
  EXPECT_EQ(mainEnabled, QList<bool>({false, true}));
  EXPECT_EQ(view.steps, QList<int>({1}));
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(siblings.asked.isEmpty());

  QFile::remove(folder + "/9.exe");
  serve("105.exe", installer("105"), true);
  serve("107.exe", installer("107"), true);
  said.clear();
  mainEnabled.clear();
  check(server, 10.6);
  EXPECT_TRUE(noBox());
  EXPECT_EQ(said, QStringList({kLetsGo, kGoodNews}));
  EXPECT_EQ(view.steps, QList<int>({1, 1, 2}));
  EXPECT_TRUE(Slurp(local()).contains("# 105"));
  EXPECT_EQ(installerRuns, QStringList({local()}));
  EXPECT_EQ(Slurp(record), "False,-1,False");
  EXPECT_EQ(siblings.asked, QList<QStringList>({kJokesTitles, kMailTitles}));
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(mainEnabled, QList<bool>({false}));  // the program is on its way out
}

// A slot may destroy the check at its end, whichever way it ended: nothing more is emitted, and
// nothing of the check is touched (the sanitizer build sees that).
TEST_F(UpdateCheckTest, ASlotThatDestroysTheCheckAtItsEndEndsItsSignalsThere) {
  startServer();
  serve("105.exe", installer(), true);
  for (const bool installs : {false, true}) {
    auto c = checker(installs ? 10.6 : 200);
    // The first signal of either end: the main window back in use, or (installing) finished.
    QObject::connect(c.get(), &UpdateCheck::setMainWindowEnabled, [&c](bool on) { on ? c.reset() : void(); });
    QObject::connect(c.get(), &UpdateCheck::finished, [&c] { c.reset(); });
    const int before = finishes;
    c->CheckForUpdate();
    ASSERT_TRUE(RunEventsUntil([&] { return !c; }, 60000)) << installs;
    EXPECT_EQ(std::tuple(finishes - before, quits, installerRuns.size()),
              std::tuple(int(installs), 0, qsizetype(installs)));
  }
}

// Bad or missing signatures, no key held, over the size limit, a planted link: nothing kept or run.
TEST_F(UpdateCheckTest, UnsignedTamperedForeignOversizedOrPlantedFilesAreRefusedAndDeleted) {
  const QString server = startServer(), outside = dir.filePath("outside.txt");
  Touch(outside, "precious");
  const auto signedBy = [&](const QByteArray& sig) {
    serve("300.exe", installer());
    Touch(folder + "/300.exe.sig", sig);
  };
  const struct {
    const char* name;
    std::function<void()> prepare;
    const char* why;
  } cases[] = {
      {"unsigned", [&] { serve("300.exe", installer()); }, "signature is missing"},
      {"planted link", [&] { serve("300.exe", installer()), QFile::link(outside, local()); }, "signature is missing"},
      {"tampered", [&] { signedBy(signature::Sign("#!/bin/sh\n", keys.secretKey)); }, "does not match"},
      {"foreign key", [&] { signedBy(signature::Sign(installer(), signature::GenerateKeyPair().secretKey)); },
       "does not match"},
      {"damaged signature", [&] { signedBy("garbage"); }, "damaged"},
      // A build with a key of its own finds the test's signature foreign.
      {"no key held", [&] { serve("300.exe", installer(), true), withoutKey = true; }, "holds no key|does not match"},
      {"oversized", [&] { serve("300.exe", installer(), true), maxUpdateBytes = 20; }, "23: .* more than 20 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(folder + "/300.exe.sig");
    c.prepare();
    said.clear();
    check(server);
    const QString text = takeBox().text;
    EXPECT_TRUE(text.contains(QRegularExpression(c.why))) << text.toStdString();
    EXPECT_EQ(said, QStringList({kLetsGo, kGoodNews}));
    EXPECT_FALSE(QFile::exists(local()) || QFile::exists(local() + ".sig") || QFile::exists(record));
    EXPECT_TRUE(installerRuns.isEmpty());
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(mainEnabled.last(), true);
    withoutKey = false;
    maxUpdateBytes = qint64(256) << 20;
  }
  EXPECT_EQ(Slurp(outside), "precious");
}

// No or no FTP address (no window), refused, an unknown host, a server without the update folder.
TEST_F(UpdateCheckTest, NoServerRefusedConnectionUnknownHostAndMissingFolder) {
  check(QString());
  EXPECT_TRUE(takeBox().text.contains(settings.filePath()));
  check(QStringLiteral("http://example.com/"));
  EXPECT_TRUE(takeBox().text.contains("is not an FTP address"));
  EXPECT_EQ(view.opened, 0);
  check(QStringLiteral("ftp://127.0.0.1:%1").arg(FtpServer::FreePort()));
  EXPECT_TRUE(takeBox().text.startsWith(kErrorText + "7: "));
  EXPECT_TRUE(said.isEmpty());
  EXPECT_EQ(mainEnabled, QList<bool>({false, true}));
  check(QStringLiteral("no-such-host.invalid"));
  EXPECT_TRUE(noBox());
  EXPECT_EQ(said, QStringList({kNoInternet}));
  ASSERT_TRUE(QDir(folder).removeRecursively());
  said.clear();
  check(startServer());
  EXPECT_EQ(said, QStringList({kLetsGo}));
  EXPECT_TRUE(takeBox().text.startsWith(kErrorText + "9: "));
}

// A server that trickles its listing (1 byte a second, far above curl's stall rule) is given up
// once the check's time is up, with a message; nothing is left behind.
TEST_F(UpdateCheckTest, AServerThatTricklesItsListingIsGivenUpAtTheDeadline) {
  for (int i = 0; i < 40; ++i) serve(QStringLiteral("%1.exe").arg(100 + i), "x");
  checkDeadlineSeconds = 2;
  QElapsedTimer took;
  took.start();
  check(startServer({.bytesPerSecond = 1}));
  EXPECT_LT(took.elapsed(), 20000);
  EXPECT_EQ(takeBox().text, kTooSlowText.arg("2 seconds"));
  EXPECT_EQ(mainEnabled, QList<bool>({false, true}));
  EXPECT_FALSE(view.window.isVisible() || QFile::exists(local()));
  EXPECT_EQ(DeadlineText(120), "2 minutes");
}

// Abort, shutdown or destruction mid-download: the transfer stops at once, the partial file goes, and
// a destroyed check calls nothing back afterwards (no hook, no view, no abort button, no shutdown).
TEST_F(UpdateCheckTest, AbortShutdownOrDestructionDuringASlowTransferStopsItAndDeletesThePartialFile) {
  serve("400.exe", QByteArray(300000, 'x'), true);
  const QString server = startServer({.bytesPerSecond = 20000});
  view.onFirstBytes = [&] { view.window.abortButton()->click(); };
  check(server);
  EXPECT_FALSE(view.onFirstBytes || QFile::exists(local()));  // Abort was clicked, the part deleted
  EXPECT_EQ(mainEnabled, QList<bool>({false, true}));
  EXPECT_FALSE(view.window.isVisible());
  view.onFirstBytes = [&] { events->BeginClosing(); };
  check(server);
  EXPECT_FALSE(view.onFirstBytes || QFile::exists(local()) || quits);  // shutdown came at the first bytes
  EXPECT_TRUE(noBox());

  events = std::make_unique<ProgramEvents>();
  auto running = checker();
  running->CheckForUpdate();
  ASSERT_TRUE(RunEventsUntil([&] { return QFileInfo(local()).size() > 0; }, 30000));
  const auto trace = [&] { return std::tuple(said, view.progress.size(), view.closed, finishes, quits, mainEnabled); };
  const auto before = trace();
  running.reset();
  EXPECT_FALSE(QFile::exists(local()));
  view.window.abortButton()->click();
  events->BeginClosing();
  // All three downloads were cut off by the client, far from the end of the file.
  ASSERT_TRUE(RunEventsUntil([&] { return ftp->transfers("400.exe").size() == 3; }, 30000));
  for (const testsupport::FtpTransfer& t : ftp->transfers("400.exe")) {
    EXPECT_FALSE(t.complete) << "the transfer ran on after the abort";
    EXPECT_LT(t.bytes, 300000 / 2);
  }
  RunEventsFor(300);
  EXPECT_EQ(trace(), before);
  EXPECT_TRUE(noBox());
}

// Sibling programs are closed and named to the installer, which waits for both answers without
// holding the program up. Shutdown during that wait drops it: no installer, the download deleted.
TEST_F(UpdateCheckTest, TheInstallerWaitsForTheSiblingWindowsAndShutdownMeanwhileStartsNone) {
  serve("810.exe", installer(), true);
  startServer({.noSize = true});  // a server that cannot tell the size still gives the update
  siblings.running = {kJokesTitles.first()};
  check(ftp->address());
  EXPECT_EQ(Slurp(record), "True,-1,False");
  installerRuns.clear();
  siblings.asked.clear();
  siblings.delayMs = 400;
  siblings.running = {kMailTitles.first()};
  auto running = checker();
  running->CheckForUpdate();
  ASSERT_TRUE(RunEventsUntil([&] { return siblings.waiting(); }, 30000));
  EXPECT_FALSE(view.window.isVisible());  // closed before the sibling programs are
  EXPECT_TRUE(installerRuns.isEmpty());
  ASSERT_TRUE(RunEventsUntil([&] { return finishes > 1; }, 30000));
  EXPECT_EQ(siblings.asked, QList<QStringList>({kJokesTitles, kMailTitles}));
  EXPECT_EQ(installerRuns, QStringList({local()}));
  EXPECT_EQ(Slurp(record), "False,-1,True");
  EXPECT_EQ(quits, 2);

  installerRuns.clear();
  mainEnabled.clear();
  siblings.delayMs = 60000;
  siblings.answers = 0;
  running = checker();
  running->CheckForUpdate();
  ASSERT_TRUE(RunEventsUntil([&] { return siblings.waiting(); }, 30000));
  ASSERT_TRUE(QFile::exists(local()));
  events->BeginClosing();
  EXPECT_EQ(finishes, 2);  // ended from the event loop, not inside the shutdown's signal
  ASSERT_TRUE(RunEventsUntil([&] { return finishes > 2; }, 30000));
  EXPECT_EQ(siblings.answers, 0) << "the check waited for the sibling programs' answer";
  EXPECT_EQ(siblings.cancels, 1);
  EXPECT_TRUE(installerRuns.isEmpty());
  EXPECT_FALSE(QFile::exists(local()) || QFile::exists(local() + ".sig"));
  EXPECT_EQ(quits, 2);
  EXPECT_EQ(mainEnabled, QList<bool>({false, true}));
  EXPECT_TRUE(noBox());
  EXPECT_FALSE(running->running());
}

}  // namespace
}  // namespace chimewise::update
