// The unread e-mail window closed with Escape as a user presses it: a real key event from xdotool on
// an X server and openbox of the test's own (skipped where Xvfb, openbox or xdotool are missing).
#include "mail/email_window.h"

#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "mail/mail_account.h"
#include "mail/mail_reader.h"
#include "support/qt_app.h"
#include "support/window_manager_desktop.h"

#include <QListWidget>
#include <QTemporaryDir>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

auto* desktop = static_cast<WindowManagerDesktop*>(::testing::AddGlobalTestEnvironment(new WindowManagerDesktop));

class NoVault final : public PasswordVault {
 public:
  Lookup Find(const QString&, const QString&) override { return {}; }
  bool Keep(const QString&, const QString&, const QString&) override { return false; }
};

TEST(EmailWindowDesktop, EscapeTypedIntoTheWindowClosesIt) {
  if (!desktop->missing.isEmpty()) GTEST_SKIP() << desktop->missing.toStdString() << " is missing";
  EnsureQtApp();
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  QTemporaryDir dir;
  SharedState state;
  SettingsStore settings(dir.filePath("settings.ini"));
  ManualClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 41)));
  TranscriptSpeaker speaker;
  NoVault vault;
  MailAccount account(settings, vault);
  NoWindows windows;
  MailReader reader(state, settings, clock, speaker, windows, account, MessageFiles(dir.filePath("NewMail")));
  EmailWindow w(speaker, reader);
  w.Load();
  w.AddRow(MailRow{QStringLiteral("Lunch on Friday?")});
  w.PlaceAndShow();
  ASSERT_TRUE(WindowManagerDesktop::activate(w.winId(), [&w] { return w.isActiveWindow(); }));
  w.listWidget()->setFocus();
  WindowManagerDesktop::xdotool({"key", "Escape"});
  EXPECT_TRUE(RunEventsUntil([&w] { return !w.isVisible(); }, 3000)) << "Escape left the window open";
}

}  // namespace
