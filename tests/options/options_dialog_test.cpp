// The Options dialog driven as a user drives it, offscreen, with the real character beside it on
// the silent output whose clock the test moves.
#include "options/options_dialog.h"
#include "options/autostart.h"
#include "options/options_windows.h"
#include "options/voice_demo.h"

#include "character/character_host.h"
#include "clock/spoken_time.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/window_placement.h"
#include "support/access_keys.h"
#include "support/accessible_names.h"
#include "support/character_rig.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <agent/character.h>
#include <agent/clock.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// A Friday afternoon.
const QDateTime kNow(QDate(2026, 12, 4), QTime(15, 5, 30));

// What the character did, in order: each line as its balloon showed it, each animation played,
// each request that failed.
struct Performance {
  QStringList said;
  QStringList played;
  QStringList failed;
  QList<QMetaObject::Connection> connections;

  void watch(agent::Character* c) {
    auto speech = std::make_shared<QSet<agent::RequestId>>();
    connections << QObject::connect(c, &agent::Character::speechStarted,
                                    [speech](agent::RequestId id) { speech->insert(id); });
    connections << QObject::connect(c, &agent::Character::requestStarted, [this, c](agent::RequestId) {
      // A Play's animation is on by the time the next event is handled.
      QTimer::singleShot(0, c, [this, c] {
        const QString a = c->currentAnimation();
        if (!a.isEmpty() && !a.startsWith("Idle") && !a.startsWith(u'(') && (played.isEmpty() || played.last() != a))
          played << a;
      });
    });
    connections << QObject::connect(
        c, &agent::Character::requestCompleted,
        [this, c, speech](agent::RequestId id, agent::RequestStatus status, const QString& message) {
          if (status == agent::RequestStatus::Failed) failed << message;
          if (status == agent::RequestStatus::Complete && speech->contains(id)) said << c->balloonText().trimmed();
        });
  }
  ~Performance() {
    for (const auto& c : connections) QObject::disconnect(c);
  }
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

  OptionsHooks loggedHooks() {
    OptionsHooks h;
    h.applyShowFuture = [this](bool on) { log << QStringLiteral("showFuture %1").arg(on); };
    h.scheduleNextAnnouncement = [this](int i) { log << QStringLiteral("announce %1").arg(i); };
    h.scheduleNextMailCheck = [this](int m) { log << QStringLiteral("mail %1").arg(m); };
    h.openDocument = [this](const QString& path) { log << "open " + QFileInfo(path).fileName(); };
    h.viewerOpen = [this] { return viewerOpen; };
    return h;
  }
  // Opens the dialog and waits until the character has been greeted beside it.
  OptionsDialog& open(OptionsHooks hooks) {
    windows = std::make_unique<OptionsWindows>(OptionsContext{
        state, options, settings, prompter, clock, *host, {userChars, installedChars}, std::move(hooks)});
    windows->ShowOptions();
    OptionsDialog* d = windows->dialog();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(d));
    drain();
    return *d;
  }
  OptionsDialog& open() { return open(loggedHooks()); }
  void activate(OptionsDialog& d) {
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
  }
  agent::Character& character() { return *host->character(); }
  // Lets the character finish everything it was asked to do.
  void drain() {
    QCoreApplication::processEvents();
    testsupport::RunEventsUntil([&] { return !host->character() || character().queuedRequests() == 0; }, 120000);
    QCoreApplication::processEvents();
  }
  QString stored(const SettingKey& key) { return settings.read(key.section, key.key, "<absent>"); }
  QPoint foot(OptionsDialog& d) {
    return CharacterAtDialogFoot(d.frameGeometry(), QSize(character().width(), character().height()),
                                 d.screen()->availableGeometry(), TwipsPerPixel(d.screen()->logicalDotsPerInch()));
  }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  bool viewerOpen = false;  // what the viewer hook answers
  SettingsStore settings{dir.filePath("settings.ini")};
  ScriptedPrompter prompter;
  agent::ManualClock agentClock;
  QTimer pump;
  ManualClock clock{kNow};
  std::unique_ptr<CharacterHost> host;
  QString userChars;
  QString installedChars;
  QStringList log;
  std::unique_ptr<OptionsWindows> windows;
};

}  // namespace

TEST_F(OptionsDialogTest, OpensFilledBesideTheCharacterWithoutReloadingOrResizingIt) {
  settings.write(settings::CharacterName, "HOOT");
  settings.write(settings::CharacterIndexName, "0");  // a stale position: the name wins
  settings.write(settings::CharacterSize, "6");
  settings.write(settings::GestureIndex, "13");
  settings.write(settings::AnnounceOn, "0");
  settings.write(settings::CheckMail, "0");
  settings.write(settings::Mailbox, "imaps://mail.example.org");
  testsupport::Touch(userChars + "/bolt.ochar", "a copy of the user's own");
  agent::Character* before = host->character();
  Performance seen;
  seen.watch(before);

  OptionsDialog& d = open();

  // The lists were filled and chosen without a word to the character: the same one, its own size.
  EXPECT_EQ(host->character(), before);
  EXPECT_EQ(character().height(), character().originalHeight());
  QStringList names;
  for (int i = 0; i < d.characterList->count(); ++i) names << d.characterList->itemText(i);
  EXPECT_EQ(names, QStringList({"Bolt", "Hoot"}));  // the user's Bolt; the installed one is not listed again
  EXPECT_EQ(QStringList({d.characterList->currentText(), d.sizeList->currentText(), d.gestureList->currentText(),
                         d.phraseList->currentText(), d.mailbox->text()}),
            QStringList({"Hoot", "Gigantic", "Greet", "The time is", "imaps://mail.example.org"}));
  EXPECT_TRUE(d.readNew->isChecked());

  // The enabling rules hold from the start and follow the boxes.
  EXPECT_FALSE(d.intervalList->isEnabled());
  EXPECT_FALSE(d.testButton->isEnabled());
  EXPECT_FALSE(d.mailInterval->isEnabled());
  EXPECT_TRUE(d.rangeStart->isEnabled());
  d.announceOn->setChecked(true);
  d.checkMail->setChecked(true);
  d.timeRange->setChecked(false);
  for (QWidget* w :
       std::initializer_list<QWidget*>{d.intervalList, d.phraseList, d.gestureList, d.testButton, d.mailInterval})
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(d.rangeStart->isEnabled());
  EXPECT_FALSE(d.rangeEnd->isEnabled());

  // The character stands at the dialog's upper right corner and asks.
  EXPECT_TRUE(character().isVisible());
  EXPECT_EQ(QPoint(character().left(), character().top()),
            CharacterBesideDialog(d.frameGeometry(), QSize(character().width(), character().height()),
                                  d.screen()->availableGeometry()));
  // Gigantic on a small screen, it has no room beside the dialog and stands above or below it.
  EXPECT_FALSE(character().drawnGeometry().intersects(d.frameGeometry()));
  EXPECT_EQ(seen.said, QStringList({"Want to make some changes?"}));
  EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(OptionsDialogTest, ImmediateEffectsOutliveCancelAndEveryCloseStoresTheReadSwitches) {
  OptionsDialog& d = open();
  ASSERT_TRUE(d.amPm->isChecked());
  d.amPm->click();
  // Times are said in 24 hours from now on, until the next start; nothing of it is stored.
  EXPECT_EQ(options.timeFormat, "h:mm");
  EXPECT_EQ(SpokenTime(clock.now(), options.timeFormat), "15:05");
  EXPECT_EQ(d.rangeEnd->text(), "21:00");
  d.readMemos->click();
  EXPECT_FALSE(options.readMemos);
  d.waitTime->setText("25");
  EXPECT_EQ(options.waitTime, 25);
  d.sizeList->setCurrentIndex(0);
  EXPECT_EQ(character().height(), character().originalHeight() / 4);
  d.gestureList->setCurrentIndex(0);
  d.cancelButton->click();
  QCoreApplication::processEvents();

  EXPECT_EQ(windows->dialog(), nullptr);
  EXPECT_EQ(options.timeFormat, "h:mm");
  EXPECT_EQ(stored(settings::TimeFormat) + stored(settings::WaitTime) + stored(settings::AnnounceGesture),
            "<absent><absent><absent>");
  EXPECT_EQ(stored(settings::ReadMemos) + stored(settings::ReadActivity) + stored(settings::OptionsOpened),
            "0120261204");
  // The preview size is given back.
  EXPECT_EQ(character().height(), character().originalHeight());

  // The window's close box closes the same way.
  clock.set(kNow.addDays(3));
  OptionsDialog& again = open();
  EXPECT_FALSE(again.amPm->isChecked());  // from the running format
  EXPECT_FALSE(again.readMemos->isChecked());
  again.readMemos->click();
  again.close();
  QCoreApplication::processEvents();
  EXPECT_EQ(windows->dialog(), nullptr);
  EXPECT_EQ(stored(settings::ReadMemos), "1");
  EXPECT_EQ(stored(settings::OptionsOpened), "20261207");
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
  // The mail rules in a pattern where every box differs from its neighbour and from its
  // namesake in the other set: a value read from the wrong box shows.
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

  // Which key each value goes under is the store's test; here, that each control gives its own.
  EXPECT_FALSE(options.remindOn);
  EXPECT_FALSE(options.readActivity);
  EXPECT_EQ(options.rangeStart, QTime(8, 15));
  EXPECT_EQ(options.rangeEnd, QTime(20, 45));
  QStringList values;
  for (const SettingKey& k :
       {settings::AnnounceGesture, settings::GestureIndex, settings::AnnounceInterval, settings::AnnouncePhrase,
        settings::ReadAll, settings::CheckMail, settings::Mailbox, settings::MailUser, settings::CharacterName,
        settings::CharacterSize, settings::TimeFormat, settings::MailWhen, settings::MailWho, settings::MailSubject,
        settings::MailBody, settings::AutoWhen, settings::AutoWho, settings::AutoSubject, settings::AutoBody})
    values << stored(k);
  // The mail check ticked by the dialog's own default; the rules as set, none from a neighbour.
  EXPECT_EQ(values, QStringList({"", "0", "3", "Wake up sleepy head its", "-1", "1", "imaps://mail.example.org:993",
                                 "ann", "Hoot", "6", "h:mm am/pm", "0", "1", "0", "1", "1", "0", "1", "0"}));
  // The stored size waits for the next start: the character is back at its own size now.
  EXPECT_EQ(character().height(), character().originalHeight());
  EXPECT_FALSE(character().soundEffectsOn());
  // No viewer is open: its filter is left alone; both schedules start again from now.
  EXPECT_EQ(log, QStringList({"announce 3", "mail 10"}));
  EXPECT_TRUE(character().isVisible());  // kept on screen

  // With the viewer open it follows the future-reminders box; the dialog stays open after Apply.
  log.clear();
  viewerOpen = true;
  d.keepOnScreen->setChecked(false);
  d.applyButton->click();
  EXPECT_EQ(log, QStringList({"showFuture 0", "announce 3", "mail 10"}));
  drain();
  EXPECT_TRUE(character().isVisible());  // the viewer keeps it
  EXPECT_TRUE(windows->dialog());
  // Neither kept on screen nor a viewer open: Apply sends the character away.
  viewerOpen = false;
  d.okButton->click();
  drain();
  EXPECT_FALSE(character().isVisible());
  EXPECT_EQ(windows->dialog(), nullptr);
}

TEST_F(OptionsDialogTest, SyncTabAppliesItsSettingsKeepsThePasswordAsideAndSyncNowTellsTheOutcome) {
  settings.write(settings::SyncServer, "https://cal.example.org/dav/anna/reminders/");
  settings.write(settings::SyncUser, "anna");
  QStringList kept;
  std::function<void(const QString&)> pending;
  OptionsHooks hooks = loggedHooks();
  hooks.keepSyncPassword = [&](const QString& server, const QString& user, const QString& password) {
    kept << server + ' ' + user + ' ' + password;
  };
  hooks.syncNow = [&](std::function<void(const QString&)> done) {
    log << "sync now with " + stored(settings::SyncServer);
    pending = std::move(done);
  };
  OptionsDialog& d = open(std::move(hooks));
  EXPECT_EQ(d.syncServer->text(), "https://cal.example.org/dav/anna/reminders/");
  EXPECT_EQ(d.syncUser->text(), "anna");
  EXPECT_TRUE(d.syncPassword->text().isEmpty()) << "a password is never shown again";
  EXPECT_EQ(d.syncPassword->echoMode(), QLineEdit::Password);

  // Sync Now applies what the tab holds first, and the password goes to the keeper, not the file.
  d.syncServer->setText(" https://cloud.example.org/remote.php/dav/calendars/anna/personal/ ");
  d.syncPassword->setText("s3cret");
  d.syncNowButton->click();
  EXPECT_TRUE(log.contains("sync now with https://cloud.example.org/remote.php/dav/calendars/anna/personal/"))
      << log.join('\n').toStdString();
  EXPECT_EQ(kept, QStringList{"https://cloud.example.org/remote.php/dav/calendars/anna/personal/ anna s3cret"});
  EXPECT_TRUE(d.syncPassword->text().isEmpty());
  QFile file(settings.filePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_FALSE(file.readAll().contains("s3cret"));
  EXPECT_FALSE(d.syncNowButton->isEnabled()) << "one sync at a time";
  ASSERT_TRUE(pending);
  pending("The calendar server refused the user name or password");
  EXPECT_EQ(d.syncStatus->text(), "The calendar server refused the user name or password");
  EXPECT_TRUE(d.syncNowButton->isEnabled());

  // Apply stores the user; a password left empty is not kept again.
  d.syncUser->setText("anna.b");
  ASSERT_TRUE(d.Apply());
  EXPECT_EQ(stored(settings::SyncUser), "anna.b");
  EXPECT_EQ(kept.size(), 1);
}

TEST_F(OptionsDialogTest, ChoosingACharacterLoadsItAtTheDialogsFootAndApplyKeepsIt) {
  OptionsDialog& d = open();
  d.characterList->setCurrentIndex(d.characterList->findText("Bolt"));
  ASSERT_NE(host->character(), nullptr);
  EXPECT_EQ(character().name(), "Bolt");
  drain();
  EXPECT_TRUE(character().isVisible());
  EXPECT_EQ(QPoint(character().left(), character().top()), foot(d));
  d.okButton->click();
  EXPECT_EQ(stored(settings::CharacterName), "Bolt");
  EXPECT_EQ(stored(settings::CharacterIndexName), "0");
  EXPECT_TRUE(prompter.asked.empty());

  // A file that is no character: told, and the character on the screen stays.
  testsupport::Touch(userChars + "/Broken.ochar", "{ \"name\": ");
  OptionsDialog& again = open();
  agent::Character* before = host->character();
  again.characterList->setCurrentIndex(again.characterList->findText("Broken"));
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].title, "Damaged Character");
  EXPECT_TRUE(prompter.asked[0].text.contains("Broken.ochar")) << prompter.asked[0].text.toStdString();
  EXPECT_EQ(host->character(), before);
  EXPECT_EQ(again.characterList->currentText(), "Bolt");
}

TEST_F(OptionsDialogTest, TestSpeaksTheUnappliedChoicesWithTheAmPmBoxUnticked) {
  OptionsDialog& d = open();
  d.amPm->click();
  d.gestureList->setCurrentIndex(0);  // "None": the character has no such animation
  d.phraseList->setEditText("The time is");
  d.sayTimeOfDay->setChecked(true);
  d.sayDayOfWeek->setChecked(true);
  host->SetSoundEffects(false);
  Performance seen;
  seen.watch(host->character());
  d.testButton->click();
  EXPECT_FALSE(character().soundEffectsOn());  // switched back once everything was queued
  drain();
  ASSERT_EQ(seen.failed.size(), 1);
  EXPECT_TRUE(seen.failed[0].contains("\"None\"")) << seen.failed[0].toStdString();
  EXPECT_EQ(seen.said, QStringList({"Good Afternoon", "The time is 15:05", "on Friday"}));
  EXPECT_EQ(stored(settings::TimeFormat), "<absent>");

  // A second press drops what the first queued and starts again.
  seen.said.clear();
  d.testButton->click();
  d.testButton->click();
  drain();
  EXPECT_EQ(seen.said, QStringList({"Good Afternoon", "The time is 15:05", "on Friday"}));
}

TEST_F(OptionsDialogTest, DemoPerformsTheShowInOrderAndEndsAtTheDialogsFoot) {
  OptionsDialog& d = open();
  Performance seen;
  seen.watch(host->character());
  d.demoButton->click();
  EXPECT_EQ(character().queuedRequests(), 27);
  drain();
  EXPECT_TRUE(seen.failed.isEmpty()) << seen.failed.join("; ").toStdString();
  // The show is the demo's own steps (their words are the demo's test): each sentence said, each
  // gesture played, in order.
  QStringList sentences, gestures;
  for (const VoiceStep& step : DemoSteps("Hoot", foot(d))) {
    if (step.kind == VoiceStep::Speak) sentences << step.text;
    if (step.kind == VoiceStep::Play) gestures << step.text;
  }
  ASSERT_EQ(seen.said.size(), sentences.size()) << seen.said.join(" | ").toStdString();
  for (const QString& said : seen.said) EXPECT_FALSE(said.isEmpty());
  EXPECT_TRUE(seen.said.contains("Hello I am Hoot")) << seen.said.join(" | ").toStdString();
  EXPECT_EQ(seen.played, gestures);
  EXPECT_TRUE(character().isVisible());
  EXPECT_EQ(QPoint(character().left(), character().top()), foot(d));
  // Below the dialog or beside it: the character leaves every control of the dialog free.
  EXPECT_FALSE(character().drawnGeometry().intersects(d.frameGeometry()));
}

TEST_F(OptionsDialogTest, HelpOffersTheTourAndElseOpensTheHelpPage) {
  // No tour in the program: Yes and No both open the page.
  {
    OptionsDialog& d = open();
    prompter.answers = {true};
    d.helpButton->click();
    d.helpButton->click();
    ASSERT_EQ(prompter.asked.size(), 2u);
    EXPECT_TRUE(prompter.asked[0].yesNo);
    EXPECT_EQ(log, QStringList({"open options.htm", "open options.htm"}));
    d.reject();
  }
  // With a tour: the first activation runs it all while "ShowHelp" is "1"; Yes runs the section
  // of the selected tab.
  log.clear();
  OptionsHooks hooks = loggedHooks();
  hooks.runTour = [this](OptionsDialog& dialog, int section) {
    log << QStringLiteral("tour %1").arg(section);
    if (section == 0) settings.write(settings::OptionsShowHelp, "0");  // as the tour does
    EXPECT_EQ(&dialog, windows->dialog());
  };
  OptionsDialog& d = open(hooks);
  ASSERT_NO_FATAL_FAILURE(activate(d));
  QCoreApplication::processEvents();
  EXPECT_EQ(log, QStringList({"tour 0"}));
  d.tabs->setCurrentIndex(2);
  prompter.answers = {true, false};
  d.helpButton->click();
  d.helpButton->click();
  EXPECT_EQ(log, QStringList({"tour 0", "tour 3", "open options.htm"}));

  // Download speaks and opens the page on characters.
  log.clear();
  Performance seen;
  seen.watch(host->character());
  d.downloadButton->click();
  EXPECT_EQ(log, QStringList({"open characters.htm"}));
  drain();
  ASSERT_EQ(seen.said.size(), 1);
  EXPECT_TRUE(seen.said[0].endsWith("our help page for characters.")) << seen.said[0].toStdString();
}

// Typed values are checked: the mail interval as the box is left or applied, the range pickers as
// they change; a repeat time or a mailbox that cannot be used is told and nothing is stored.
TEST_F(OptionsDialogTest, TypedValuesAreCheckedAndOnesThatCannotBeUsedAreTold) {
  OptionsDialog& d = open();
  ASSERT_NO_FATAL_FAILURE(activate(d));
  d.tabs->setCurrentIndex(3);
  const auto typeAndLeave = [&](const QString& text) {
    d.mailInterval->setFocus();
    d.mailInterval->selectAll();
    QTest::keyClicks(d.mailInterval, text);
    EXPECT_EQ(d.mailInterval->text(), text);  // nothing changes while typing
    d.mailUser->setFocus();
    return d.mailInterval->text();
  };
  EXPECT_EQ(typeAndLeave("0"), "1");
  EXPECT_EQ(typeAndLeave("1500"), "999");
  d.rangeStart->setTime(QTime(9, 0));
  d.rangeEnd->setTime(QTime(8, 30));  // before the start: the start comes along
  EXPECT_EQ(d.rangeStart->time(), QTime(8, 30));
  d.rangeStart->setTime(QTime(22, 0));  // past the end: the end comes along
  EXPECT_EQ(d.rangeEnd->time(), QTime(22, 0));

  d.waitTime->setText("0");
  d.okButton->click();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.contains("from 1 to 1440")) << prompter.asked[0].text.toStdString();
  EXPECT_EQ(d.tabs->currentIndex(), 2);
  EXPECT_EQ(stored(settings::WaitTime), "<absent>");
  d.mailbox->setText("pop3://mail.example.org");
  d.waitTime->setText("30");
  d.okButton->click();
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(prompter.asked[1].text.contains("Maildir folder")) << prompter.asked[1].text.toStdString();
  EXPECT_TRUE(windows->dialog());  // still open, on the mail tab, the text kept
  EXPECT_EQ(d.tabs->currentIndex(), 3);
  EXPECT_EQ(d.mailbox->text(), "pop3://mail.example.org");
  EXPECT_EQ(stored(settings::Mailbox) + stored(settings::WaitTime), "<absent><absent>");
  EXPECT_TRUE(log.isEmpty());

  // A folder chosen with Browse... is a mailbox; an interval typed and applied without leaving the
  // box (Enter) is checked before it is stored.
  d.chooseFolder = [this](const QString&) { return dir.filePath("Maildir/"); };
  d.mailboxBrowse->click();
  EXPECT_EQ(d.mailbox->text(), dir.filePath("Maildir"));
  d.mailInterval->setFocus();
  d.mailInterval->setText("0");
  d.okButton->click();
  EXPECT_EQ(stored(settings::Mailbox), dir.filePath("Maildir"));
  EXPECT_EQ(stored(settings::WaitTime) + " " + stored(settings::MailInterval), "30 1");
  EXPECT_EQ(log.last(), "mail 1");
}

// Every tab shows all its controls at the dialog's natural size; every control has an access key of
// its own on its tab (the dialog's buttons count on every tab) and a name of its own for a screen
// reader; Ctrl+Tab turns the tabs round, from inside the editable phrase box too.
TEST_F(OptionsDialogTest, EveryControlHasRoomAnAccessKeyAndANameOfItsOwn) {
  OptionsDialog& d = open();
  const QString shots = qEnvironmentVariable("CHIMEWISE_SHOT_DIR");
  QList<QWidget*> pages;
  for (int i = 0; i < d.tabs->count(); ++i) {
    d.tabs->setCurrentIndex(i);
    QCoreApplication::processEvents();
    if (!shots.isEmpty()) d.grab().save(QStringLiteral("%1/options-tab%2.png").arg(shots).arg(i + 1));
    EXPECT_TRUE(testsupport::NoProblems(testsupport::CutShort(d.tabs->widget(i)))) << "tab " << i;
    pages << d.tabs->widget(i);
  }
  EXPECT_EQ(d.size(), d.sizeHint());
  EXPECT_TRUE(testsupport::NoProblems(testsupport::NameProblems(&d)));
  EXPECT_TRUE(testsupport::NoProblems(testsupport::CheckAccessKeys(
      pages, {d.helpButton, d.applyButton, d.okButton, d.cancelButton}, {d.okButton, d.cancelButton})));
  ASSERT_NO_FATAL_FAILURE(activate(d));
  d.syncServer->setFocus();
  QTest::keyClick(d.syncServer, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.tabs->tabText(d.tabs->currentIndex()), "Characters");
  QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Tab, Qt::ControlModifier);
  d.phraseList->setFocus();
  QTest::keyClick(d.phraseList->lineEdit(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.tabs->tabText(d.tabs->currentIndex()), "Reminder Options");
  EXPECT_EQ(d.phraseList->currentText(), "The time is");
  // The two sets of mail rules are told apart by their keys: Alt+E is the manual "when".
  d.tabs->setCurrentIndex(3);
  d.manualWhen->setChecked(false);
  d.autoWhen->setChecked(false);
  QTest::keyClick(&d, Qt::Key_E, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.manualWhen->isChecked(); }, 2000));
  EXPECT_FALSE(d.autoWhen->isChecked());
  QTest::keyClick(&d, Qt::Key_B, Qt::AltModifier);
  EXPECT_TRUE(d.mailbox->hasFocus());
}

// Start at login and desktop notifications are off until ticked and change only with Apply or OK;
// an autostart folder that cannot be written is told and the box shows it off.
TEST_F(OptionsDialogTest, StartAtLoginAndDesktopNoticesChangeOnlyWithApplyOrOk) {
  const QString entry = AutostartEntryPath();
  ASSERT_TRUE(entry.startsWith(dir.path()));
  OptionsDialog& d = open();
  EXPECT_FALSE(d.startAtLogin->isChecked() || d.desktopNotices->isChecked());
  d.applyButton->click();
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("config")));  // nothing written by default
  d.startAtLogin->click();
  d.desktopNotices->click();
  d.cancelButton->click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(QFileInfo::exists(entry));
  EXPECT_EQ(stored(settings::DesktopNotices), "0");

  OptionsDialog& ticking = open();
  EXPECT_FALSE(ticking.startAtLogin->isChecked());
  ticking.startAtLogin->click();
  ticking.desktopNotices->click();
  ticking.applyButton->click();
  EXPECT_EQ(stored(settings::DesktopNotices), "1");
  // It starts the program that is running.
  EXPECT_TRUE(testsupport::Slurp(entry).contains(
      "\nExec=" + DesktopExecArgument(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
  ticking.okButton->click();

  OptionsDialog& unticking = open();
  EXPECT_TRUE(unticking.startAtLogin->isChecked() && unticking.desktopNotices->isChecked());
  unticking.startAtLogin->click();
  unticking.desktopNotices->click();
  unticking.okButton->click();
  EXPECT_FALSE(QFileInfo::exists(entry));
  EXPECT_EQ(stored(settings::DesktopNotices), "0");
  EXPECT_TRUE(prompter.asked.empty());

  // An entry the desktop's own settings switched off shows unticked, and Apply leaves it be.
  const QByteArray disabled = "[Desktop Entry]\nType=Application\nName=Olm Chimewise\nExec=/usr/bin/x\nHidden=true\n";
  testsupport::Touch(entry, disabled);
  OptionsDialog& hidden = open();
  EXPECT_FALSE(hidden.startAtLogin->isChecked());
  hidden.applyButton->click();
  EXPECT_EQ(testsupport::Slurp(entry), disabled);
  hidden.okButton->click();

  ASSERT_TRUE(QDir(AutostartFolder()).removeRecursively());
  testsupport::Touch(AutostartFolder(), "a file where the folder should be");
  OptionsDialog& blocked = open();
  blocked.waitTime->setText("30");
  blocked.startAtLogin->click();
  blocked.applyButton->click();
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_TRUE(prompter.asked[0].text.contains("start when you log in")) << prompter.asked[0].text.toStdString();
  EXPECT_TRUE(prompter.asked[0].text.contains(AutostartFolder())) << prompter.asked[0].text.toStdString();
  EXPECT_EQ(prompter.asked[0].icon, PromptIcon::Warning);
  EXPECT_FALSE(blocked.startAtLogin->isChecked());
  // The rest was applied all the same, and the dialog stays open.
  EXPECT_EQ(stored(settings::WaitTime), "30");
  EXPECT_TRUE(windows->dialog());
}
