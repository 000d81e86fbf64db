// Help as the program opens it: the shipped page in the program's own window, never through the
// desktop's URL opener, which the test stands in for; the browser only from the window's link.
#include "shell/help_window.h"

#include "core/clock.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "extras/about_dialog.h"
#include "extras/about_texts.h"
#include "shell/program.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/scripted_prompter.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// Stands for the desktop's URL opener: notes what it was asked to open.
class UrlOpener : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

template <class W>
W* Shown() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) return found;
  return nullptr;
}

}  // namespace

// The tray's About, then its Detailed Info: the page shows in the help window and nothing is
// handed to the desktop; the window's link hands it over; Escape closes the window.
TEST(HelpWindow, TheProgramShowsHelpItselfAndTheBrowserOnlyFromTheLink) {
  testsupport::EnsureQtApp();
  QTemporaryDir dir;
  SharedState state;
  state.AppFolder = dir.path();
  const QString page = dir.filePath(kAboutHelpPage);
  testsupport::Touch(page, "<html><body><h1>About Olm Chimewise</h1></body></html>");
  SettingsStore settings(dir.filePath("settings.ini"));
  ScriptedPrompter prompter;
  ManualClock clock(QDateTime(QDate(2026, 12, 8), QTime(21, 0)));
  UrlOpener opener;
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::setUrlHandler(scheme, &opener, "open");
  {
    Program program(state, settings, prompter, clock, ProgramSetup{{}, dir.filePath("windows"), true, std::nullopt});
    ASSERT_TRUE(program.commands().Run(Command::About));
    AboutDialog* about = Shown<AboutDialog>();
    ASSERT_NE(about, nullptr);
    QPushButton* more = nullptr;
    for (QPushButton* b : about->findChildren<QPushButton*>())
      if (b->text() == "Detailed Info") more = b;
    ASSERT_NE(more, nullptr);
    more->click();
    EXPECT_TRUE(opener.opened.isEmpty()) << "help was handed to the desktop's URL opener";
    HelpWindow* help = Shown<HelpWindow>();
    ASSERT_NE(help, nullptr) << "no help window";
    EXPECT_EQ(help->browser()->source(), QUrl::fromLocalFile(page));
    EXPECT_TRUE(help->browser()->toPlainText().contains("About Olm Chimewise"));
    emit help->browserLink()->linkActivated("browser");
    EXPECT_EQ(opener.opened, QList<QUrl>{QUrl::fromLocalFile(page)});
    QTest::keyClick(help->browser(), Qt::Key_Escape);
    EXPECT_EQ(Shown<HelpWindow>(), nullptr);
  }
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
}

#include "help_window_test.moc"
