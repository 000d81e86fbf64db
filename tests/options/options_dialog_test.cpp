// The Options dialog driven offscreen, with the real character on the silent output.
#include "options/options_dialog.h"
#include "options/options_windows.h"

#include "character/character_host.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/character_rig.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>
#include <agent/timer_clock.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

const QDateTime kNow(QDate(2026, 12, 4), QTime(15, 5, 30));

// The program as the dialog asks it; a sync notes the calendar address stored as it was asked for.
class ProgramAnswers final : public OptionsPort {
 public:
  explicit ProgramAnswers(const SettingsStore& settings) : store(settings) {}
  bool ViewerOpen() const override { return viewerOpen; }
  std::optional<LastSync> LastSyncOutcome() const override { return last; }
  void SyncNow(std::function<void(const QString&)> done) override {
    syncedWith << store.read(settings::SyncServer);
    pending = std::move(done);
  }
  const SettingsStore& store;
  bool viewerOpen = false;
  std::optional<LastSync> last;
  QStringList syncedWith;
  std::function<void(const QString&)> pending;
};

class OptionsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    // The login box reads and writes the autostart folder here, never the user's own.
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    host = testsupport::FastCharacterHost(dir, state, settings, prompter, agentClock, pump);
    host->LoadCharacter("Hoot.ochar", false);
    ASSERT_NE(host->character(), nullptr);
    userChars = dir.filePath("base/msagent/chars");
    installedChars = qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + "/assets/characters";
  }
  void TearDown() override { windows.reset(); }
  // Opens the dialog and waits until the character has been greeted beside it (`tours`: with a tour).
  OptionsDialog& open(bool tours = false) {
    windows = std::make_unique<OptionsWindows>(
        OptionsContext{state, options, settings, prompter, clock, *host, {userChars, installedChars}, &program});
    QObject::connect(windows.get(), &OptionsWindows::showFutureApplied,
                     [this](bool on) { log << QStringLiteral("showFuture %1").arg(on); });
    QObject::connect(windows.get(), &OptionsWindows::announcementIntervalApplied,
                     [this](int i) { log << QStringLiteral("announce %1").arg(i); });
    QObject::connect(windows.get(), &OptionsWindows::mailIntervalApplied,
                     [this](int m) { log << QStringLiteral("mail %1").arg(m); });
    QObject::connect(windows.get(), &OptionsWindows::openDocument,
                     [this](const QString& path) { log << "page " + QFileInfo(path).fileName(); });
    if (tours)
      QObject::connect(windows.get(), &OptionsWindows::tourWanted,
                       [this](OptionsDialog*, int section) { log << QStringLiteral("tour %1").arg(section); });
    windows->ShowOptions();
    OptionsDialog* d = windows->dialog();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(d));
    drain();
    return *d;
  }
  agent::Character& character() { return *host->character(); }
  // Lets the character finish everything it was asked to do.
  void drain() {
    QCoreApplication::processEvents();
    testsupport::RunEventsUntil([&] { return !host->character() || character().queuedRequests() == 0; }, 120000);
    QCoreApplication::processEvents();
  }
  QString stored(const SettingKey& key) { return settings.read(key.section, key.key, "<absent>"); }
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ProgramAnswers program{settings};
  ScriptedPrompter prompter;
  agent::ManualTimerClock agentClock;
  QTimer pump;
  ManualClock clock{kNow};
  std::unique_ptr<CharacterHost> host;
  QString userChars;
  QString installedChars;
  QStringList log;
  std::unique_ptr<OptionsWindows> windows;
};

}  // namespace

TEST_F(OptionsDialogTest, ImmediateEffectsOutliveCancelAndEveryCloseStoresTheReadSwitches) {
  OptionsDialog& d = open();
  ASSERT_TRUE(d.amPm->isChecked());
  d.amPm->click();
  EXPECT_EQ(options.timeFormat, "h:mm");  // until the next start; nothing of it is stored
  d.readMemos->click();
  EXPECT_FALSE(options.readMemos);
  d.waitTime->setText("25");
  d.sizeList->setCurrentIndex(0);
  d.cancelButton->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(stored(settings::TimeFormat) + stored(settings::WaitTime) + stored(settings::AnnounceGesture),
            "<absent><absent><absent>");
  EXPECT_EQ(stored(settings::ReadMemos) + stored(settings::ReadActivity) + stored(settings::OptionsOpened),
            "0120261204");
  EXPECT_EQ(character().height(), character().originalHeight());  // the preview size is given back
}

TEST_F(OptionsDialogTest, ApplyStoresTheControlsAndBringsTheProgramInLine) {
  OptionsDialog& d = open();
  d.gestureList->setCurrentIndex(d.gestureList->findText("None"));
  d.remindOn->setChecked(false);
  d.readActivity->setChecked(false);
  d.intervalList->setCurrentIndex(3);
  d.phraseList->setEditText("  Wake up sleepy head its ");
  d.rangeStart->setTime(QTime(8, 15));
  d.rangeEnd->setTime(QTime(20, 45));
  const QList<QCheckBox*> mailRules{d.manualWhen, d.manualWho, d.manualSubject, d.manualBody,
                                    d.autoWhen,   d.autoWho,   d.autoSubject,   d.autoBody};
  for (int i = 0; i < mailRules.size(); ++i) mailRules[i]->setChecked(i % 2 != i / 4);
  d.readAll->setChecked(true);
  d.showFuture->setChecked(false);
  d.noSoundEffects->setChecked(true);
  d.keepOnScreen->setChecked(true);
  d.mailbox->setText(" imaps://mail.example.org:993 ");
  d.mailUser->setText("ann");
  d.sizeList->setCurrentIndex(6);
  EXPECT_EQ(character().height(), character().originalHeight() * 2);
  d.applyButton->click();
  EXPECT_TRUE(!options.remindOn && !options.readActivity);
  EXPECT_EQ(QPair(options.rangeStart, options.rangeEnd), QPair(QTime(8, 15), QTime(20, 45)));
  QStringList values;
  for (const SettingKey& k :
       {settings::AnnounceGesture, settings::GestureIndex, settings::AnnounceInterval, settings::AnnouncePhrase,
        settings::ReadAll, settings::CheckMail, settings::Mailbox, settings::MailUser, settings::CharacterName,
        settings::CharacterSize, settings::TimeFormat, settings::MailWhen, settings::MailWho, settings::MailSubject,
        settings::MailBody, settings::AutoWhen, settings::AutoWho, settings::AutoSubject, settings::AutoBody})
    values << stored(k);
  EXPECT_EQ(values, QStringList({"", "0", "3", "Wake up sleepy head its", "-1", "1", "imaps://mail.example.org:993",
                                 "ann", "Hoot", "6", "h:mm am/pm", "0", "1", "0", "1", "1", "0", "1", "0"}));
  EXPECT_TRUE(character().height() == character().originalHeight() && !character().soundEffectsOn());
  EXPECT_EQ(log, QStringList({"announce 3", "mail 10"}));
  log.clear();
  program.viewerOpen = true;
  d.okButton->click();
  EXPECT_EQ(log, QStringList({"showFuture 0", "announce 3", "mail 10"}));
}

TEST_F(OptionsDialogTest, SyncTabAppliesItsSettingsKeepsThePasswordAsideAndSyncNowTellsTheOutcome) {
  settings.write(settings::SyncUser, "anna");
  QStringList kept;
  OptionsDialog& d = open();
  QObject::connect(windows.get(), &OptionsWindows::syncPasswordTyped,
                   [&](const QString& server, const QString& user, const QString& password) {
                     kept << server + ' ' + user + ' ' + password;
                   });
  EXPECT_EQ(d.lastSync->text(), "Not synced yet.");
  // No address: said, and nothing saved, kept or synced; the password stays typed.
  d.syncPassword->setText("s3cret");
  d.syncNowButton->click();
  EXPECT_EQ(d.syncStatus->text(), kSyncAddressFirst);
  EXPECT_TRUE(kept.isEmpty() && program.syncedWith.isEmpty());
  EXPECT_EQ(d.syncPassword->text(), "s3cret");
  d.syncServer->setText(" https://cloud.example.org/remote.php/dav/calendars/anna/personal/ ");
  d.syncNowButton->click();
  EXPECT_EQ(program.syncedWith, QStringList{"https://cloud.example.org/remote.php/dav/calendars/anna/personal/"});
  EXPECT_EQ(kept, QStringList{"https://cloud.example.org/remote.php/dav/calendars/anna/personal/ anna s3cret"});
  EXPECT_TRUE(d.syncPassword->text().isEmpty());
  EXPECT_FALSE(testsupport::Slurp(settings.filePath()).contains("s3cret"));
  ASSERT_TRUE(program.pending);
  std::optional<LastSync>& last = program.last =
      LastSync{QDateTime(QDate(2026, 12, 8), QTime(19, 10)), "Synced: nothing changed",
               QStringList{"\"Dentist\" changed on the server but was not taken: it is past"}};
  program.pending("The calendar server refused the user name or password");
  EXPECT_EQ(d.syncStatus->text(), "The calendar server refused the user name or password");
  // The last sync's time, outcome and notes, in the user's time format; at most ten notes.
  EXPECT_EQ(d.lastSync->text(),
            "Last sync: 12/08/2026 7:10 pm. Synced: nothing changed\n\"Dentist\" changed on the "
            "server but was not taken: it is past");
  last->notes = QStringList(12, "n");
  EXPECT_TRUE(LastSyncText(last, "h:mm").endsWith("\nn\n... and 2 more (chimewise-cli sync lists them all)"));
  ASSERT_TRUE(d.Apply());
  EXPECT_EQ(kept.size(), 1);
}

// A typed value the rules refuse is told on its tab and nothing is stored; the interval is clamped.
TEST_F(OptionsDialogTest, TypedValuesAreCheckedAndOnesThatCannotBeUsedAreTold) {
  OptionsDialog& d = open();
  d.waitTime->setText("30");
  d.mailbox->setText("pop3://mail.example.org");
  d.okButton->click();
  EXPECT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(d.tabs->currentIndex(), 3);
  EXPECT_EQ(stored(settings::Mailbox) + stored(settings::WaitTime), "<absent><absent>");
  // A folder chosen with Browse... is the mailbox.
  d.mailboxBrowse->click();
  auto* picker = d.findChild<QFileDialog*>();
  ASSERT_NE(picker, nullptr);
  emit picker->fileSelected(dir.filePath("Maildir/"));
  picker->reject();
  EXPECT_EQ(d.mailbox->text(), dir.filePath("Maildir"));
  d.mailInterval->setText("0");
  d.okButton->click();
  EXPECT_EQ(stored(settings::WaitTime) + " " + stored(settings::MailInterval), "30 1");
}

// Help's Yes runs the tab's tour where there is a tour (all of it at first activation), else its page.
TEST_F(OptionsDialogTest, HelpRunsTheTabsTourWhereThereIsOneElseOpensTheHelpPage) {
  for (const bool tours : {false, true}) {
    log.clear();
    OptionsDialog& d = open(tours);
    d.tabs->setCurrentIndex(2);
    prompter.answers = {true};
    d.helpButton->click();
    testsupport::RunEventsUntil([&] { return !log.isEmpty() && !log.last().startsWith("tour 0"); }, 5000);
    EXPECT_EQ(log, tours ? QStringList({"tour 0", "tour 3"}) : QStringList{"page options.htm"});
  }
}

// Every control on every tab has room, an access key of its own and a name of its own.
TEST_F(OptionsDialogTest, EveryControlHasRoomAnAccessKeyAndANameOfItsOwn) {
  OptionsDialog& d = open();
  QList<QWidget*> pages;
  for (int i = 0; i < d.tabs->count(); ++i) {
    d.tabs->setCurrentIndex(i);
    QCoreApplication::processEvents();
    EXPECT_TRUE(testsupport::NoProblems(testsupport::CutShort(d.tabs->widget(i)))) << "tab " << i;
    pages << d.tabs->widget(i);
  }
  EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&d)));
  EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckAccessKeys(
      pages, {d.helpButton, d.applyButton, d.okButton, d.cancelButton}, {d.okButton, d.cancelButton})));
}
