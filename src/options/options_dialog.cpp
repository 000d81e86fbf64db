#include "options/options_dialog.h"

#include "character/character_host.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/value_reading.h"
#include "core/window_placement.h"
#include "options/autostart.h"
#include "options/voice_demo.h"
#include "schedule/schedule_rules.h"

#include <agent/character.h>
#include <agent/character_file.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace chimewise {

namespace {

const QString kGreeting = QStringLiteral("Want to make some changes?");
const QString kTutorialQuestion = QStringLiteral("Would you like a tutorial on how to use this dialog?");
const QString kDownloadSentence =
    QStringLiteral("OK, I will load your browser and take you to \\ctx=\"E-Mail\"\\our help page for characters.");
const QString kOptionsPage = QStringLiteral("options.htm");
const QString kCharactersPage = QStringLiteral("characters.htm");

// Tab leaves a picker for the next control, as it leaves every other one.
class TimePicker final : public QTimeEdit {
 public:
  using QTimeEdit::QTimeEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

// The hourglass while a character loads, whatever way the loading ends.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

template <typename W>
W* named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QLabel* captionFor(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  return label;
}

// A short box for a number of minutes.
QLineEdit* minutesBox(const char* name) {
  auto* box = named(new QLineEdit, name);
  box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
  box->setAlignment(Qt::AlignRight);
  return box;
}

// Queues a performance on the character. Its own sound effects are on while it performs (they
// are switched back off once everything is queued, as the announcement does).
void Perform(CharacterHost& host, const std::vector<VoiceStep>& steps) {
  const bool effectsWereOn = host.soundEffectsOn();
  if (!effectsWereOn) host.SetSoundEffects(true);
  for (const VoiceStep& step : steps) {
    switch (step.kind) {
      case VoiceStep::StopAll: host.StopAll(); break;
      case VoiceStep::Play: host.play(step.text); break;
      case VoiceStep::Speak: host.speak(step.text); break;
      case VoiceStep::SayText: host.SayText(step.text); break;
      case VoiceStep::MoveTo:
        if (agent::Character* c = host.character()) c->moveTo(step.at.x(), step.at.y());
        break;
      case VoiceStep::Show: host.show(); break;
    }
  }
  if (!effectsWereOn) host.SetSoundEffects(false);
}

}  // namespace

template <typename Signal>
bool OptionsDialog::offers(Signal signal) const {
  return isSignalConnected(QMetaMethod::fromSignal(signal));
}

OptionsDialog::OptionsDialog(OptionsContext& context, QWidget* parent) : QDialog(parent), m_ctx(context) {
  setWindowTitle(QStringLiteral("Options"));
  setObjectName(QStringLiteral("frmOptions"));

  tabs = named(new QTabWidget, "tbsOptions");
  tabs->addTab(buildCharactersTab(), QStringLiteral("Characters"));
  tabs->addTab(buildTimeTab(), QStringLiteral("Time Announcements"));
  tabs->addTab(buildRemindersTab(), QStringLiteral("Reminder Options"));
  tabs->addTab(buildEmailTab(), QStringLiteral("Email Options"));
  tabs->addTab(buildSyncTab(), QStringLiteral("Sync"));
  tabs->setTabToolTip(0, QStringLiteral("Set Olm Reminders Character to use."));
  tabs->setTabToolTip(1, QStringLiteral("Set the Options for Announcing the Time"));
  tabs->setTabToolTip(2, QStringLiteral("Set Options for Reminders"));
  tabs->setTabToolTip(3, QStringLiteral("Set Options for Email Reader"));
  tabs->setTabToolTip(4, QStringLiteral("Keep the reminders in step with a calendar server"));

  helpButton = named(new QPushButton(QStringLiteral("&Help")), "cmdHelp");
  okButton = named(new QPushButton(QStringLiteral("OK")), "cmdOK");
  cancelButton = named(new QPushButton(QStringLiteral("Cancel")), "cmdCancel");
  applyButton = named(new QPushButton(QStringLiteral("&Apply")), "cmdApply");
  okButton->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(helpButton);
  buttons->addStretch(1);
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);
  buttons->addWidget(applyButton);

  auto* main = new QVBoxLayout(this);
  main->addWidget(tabs);
  main->addLayout(buttons);
  main->setSizeConstraint(QLayout::SetFixedSize);

  // The keys reach the dialog before its controls: Ctrl+Tab always turns to the next tab.
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  connect(next, &QShortcut::activated, this, [this] { nextTab(); });

  load();
  connectControls();
  updateEnabling();
}

OptionsDialog::~OptionsDialog() = default;

QWidget* OptionsDialog::buildCharactersTab() {
  characterList = named(new QComboBox, "cmbCharacter");
  characterList->setMinimumContentsLength(18);
  characterList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  sizeList = named(new QComboBox, "cmbSize");
  sizeList->addItems(CharacterSizeNames());
  demoButton = named(new QPushButton(QStringLiteral("&Demo")), "Command1");
  downloadButton = named(new QPushButton(QStringLiteral("Do&wnload")), "cmdDownLoad");

  auto* frame = named(new QGroupBox(QStringLiteral("Character Information")), "fraCharacter");
  auto* grid = new QGridLayout(frame);
  grid->addWidget(captionFor(QStringLiteral("&Character"), characterList), 0, 0);
  grid->addWidget(characterList, 0, 1);
  grid->addWidget(demoButton, 0, 2);
  grid->addWidget(captionFor(QStringLiteral("&Size"), sizeList), 1, 0);
  grid->addWidget(sizeList, 1, 1);
  grid->setColumnStretch(1, 1);
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  grid->addWidget(line, 2, 0, 1, 3);
  // The button beside it carries the key.
  auto* downloadLabel = new QLabel(QStringLiteral("Download new characters from the Internet"));
  downloadLabel->setWordWrap(true);
  grid->addWidget(downloadLabel, 3, 0, 1, 2);
  grid->addWidget(downloadButton, 3, 2);

  auto* hint = new QLabel(QStringLiteral(
      "A character chosen here appears at once. A size chosen here is shown only while this dialog is open; "
      "OK or Apply keeps it for the next start."));
  hint->setWordWrap(true);
  hint->setForegroundRole(QPalette::PlaceholderText);

  auto* page = named(new QWidget, "picOptions0");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(frame);
  layout->addWidget(hint);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsDialog::buildTimeTab() {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  announceOn = named(new QCheckBox(QStringLiteral("A&nnounce the time")), "Check1");
  intervalList = named(new QComboBox, "cmbInterval");
  intervalList->addItems(AnnounceIntervalNames());
  phraseList = named(new QComboBox, "cmbTimes");
  phraseList->setEditable(true);
  phraseList->setInsertPolicy(QComboBox::NoInsert);
  phraseList->addItems(AnnouncePhraseChoices());
  // A phrase is kept as typed: leaving the box must not swap it for an offered one that differs
  // only in letter case ("The time is" for "The Time is").
  phraseList->completer()->setCaseSensitivity(Qt::CaseSensitive);
  // The longest offered phrase would make the box as wide as the screen.
  phraseList->setMinimumContentsLength(32);
  phraseList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  gestureList = named(new QComboBox, "cmbGestures");
  gestureList->addItems(AnnounceGestureNames());
  gestureList->setMaxVisibleItems(12);
  for (QComboBox* list : {intervalList, gestureList}) {
    list->setMinimumContentsLength(13);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  }
  sayTimeOfDay = named(new QCheckBox(QStringLiteral("Include time of &day")), "chkDayDate0");
  sayDayOfWeek = named(new QCheckBox(QStringLiteral("Include day of &Week")), "chkDayDate1");
  sayDate = named(new QCheckBox(QStringLiteral("Include dat&e")), "chkDayDate2");
  amPm = named(new QCheckBox(QStringLiteral("a&m/pm")), "chkampm");
  timeRange = named(new QCheckBox(QStringLiteral("&Only announce the time between")), "chkTimeRange");
  const auto makePicker = [&](const char* name) {
    auto* picker = named(new TimePicker, name);
    picker->setLocale(english);
    picker->setDisplayFormat(PickerTimeFormat(m_ctx.options.timeFormat));
    return picker;
  };
  rangeStart = makePicker("DTPicker1_0");
  rangeEnd = makePicker("DTPicker1_1");
  // Heard apart by a screen reader, which would otherwise call both by the group's title.
  rangeStart->setAccessibleName(QStringLiteral("Announce the time from"));
  rangeEnd->setAccessibleName(QStringLiteral("Announce the time until"));
  rangeStart->setTime(QTime(7, 0));
  rangeEnd->setTime(QTime(21, 0));
  testButton = named(new QPushButton(QStringLiteral("&Test")), "cmdTest");

  auto* frame = named(new QGroupBox(QStringLiteral("Time Announcement")), "fraTime");
  auto* grid = new QGridLayout(frame);
  grid->addWidget(announceOn, 0, 0, 1, 2);
  grid->addWidget(captionFor(QStringLiteral("Say the time e&very"), intervalList), 1, 0);
  grid->addWidget(intervalList, 1, 1, Qt::AlignLeft);
  grid->addWidget(captionFor(QStringLiteral("Say the following &before the time"), phraseList), 2, 0);
  grid->addWidget(phraseList, 2, 1);
  grid->addWidget(captionFor(QStringLiteral("Make this &gesture when announcing time"), gestureList), 3, 0);
  grid->addWidget(gestureList, 3, 1, Qt::AlignLeft);
  grid->setColumnStretch(1, 1);

  auto* includes = new QGridLayout;
  includes->addWidget(sayTimeOfDay, 0, 0);
  includes->addWidget(sayDayOfWeek, 1, 0);
  includes->addWidget(sayDate, 2, 0);
  includes->addWidget(amPm, 0, 1);
  includes->setColumnStretch(2, 1);
  includes->setHorizontalSpacing(24);
  grid->addLayout(includes, 4, 0, 1, 2);

  auto* range = new QHBoxLayout;
  range->addWidget(timeRange);
  range->addWidget(rangeStart);
  range->addWidget(new QLabel(QStringLiteral("and")));
  range->addWidget(rangeEnd);
  range->addStretch(1);
  range->addWidget(testButton);
  grid->addLayout(range, 5, 0, 1, 2);

  auto* page = named(new QWidget, "picOptions1");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(frame);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsDialog::buildRemindersTab() {
  keepOnScreen = named(new QCheckBox(QStringLiteral("&Keep Character on Screen when not in use")), "chkShow");
  noSoundEffects = named(new QCheckBox(QStringLiteral("Turn off Sound &Effects (such as Snoring)")), "chkNoSnore");
  showFuture = named(new QCheckBox(QStringLiteral("Sho&w all reminders including future reminders")), "chkShowFuture");
  readMemos = named(new QCheckBox(QStringLiteral("Character should always read the &Memos")), "chkReadMemos");
  readActivity =
      named(new QCheckBox(QStringLiteral("Character should always read the Activity &Line")), "chkReadActivity");
  remindOn = named(new QCheckBox(QStringLiteral("&Remind Me Every")), "chkRemind");
  waitTime = minutesBox("Text2");
  startAtLogin = named(new QCheckBox(QStringLiteral("&Start Olm Chimewise when I log in")), "chkStartAtLogin");
  desktopNotices =
      named(new QCheckBox(QStringLiteral("Also show reminders as &desktop notifications")), "chkDesktopNotices");
  desktopNotices->setToolTip(
      QStringLiteral("Unticked, a reminder becomes a desktop notification only when the character cannot be seen "
                     "or heard."));

  auto* frame = named(new QGroupBox(QStringLiteral("Reminder Options")), "fraReminder");
  auto* layout = new QVBoxLayout(frame);
  for (QCheckBox* box : {keepOnScreen, noSoundEffects, showFuture, readMemos, readActivity}) layout->addWidget(box);
  auto* remind = new QHBoxLayout;
  remind->addWidget(remindOn);
  remind->addWidget(waitTime);
  remind->addWidget(captionFor(QStringLiteral("m&inutes for existing reminders"), waitTime));
  remind->addStretch(1);
  layout->addLayout(remind);
  layout->addWidget(desktopNotices);
  layout->addWidget(startAtLogin);

  auto* page = named(new QWidget, "picOptions2");
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->addWidget(frame);
  pageLayout->addStretch(1);
  return page;
}

QWidget* OptionsDialog::buildEmailTab() {
  mailbox = named(new QLineEdit, "txtMailbox");
  mailbox->setPlaceholderText(QStringLiteral("~/Maildir or imaps://mail.example.org"));
  mailbox->setToolTip(
      QStringLiteral("A Maildir folder, or a mail server as imap://host[:port] or imaps://host[:port]"));
  mailboxBrowse = named(new QToolButton, "cmdMailbox");
  mailboxBrowse->setText(QStringLiteral("B&rowse..."));
  mailboxBrowse->setToolTip(QStringLiteral("Choose a Maildir folder"));
  mailUser = named(new QLineEdit, "txtUser");
  mailUser->setToolTip(QStringLiteral("The user name on the mail server"));

  checkMail = named(new QCheckBox(QStringLiteral("Auto &check for mail every")), "chkCheckInterval");
  mailInterval = minutesBox("txtInterval");
  mailInterval->installEventFilter(this);
  readAll = named(new QRadioButton(QStringLiteral("Read a&ll unread mail")), "optRead0");
  readNew = named(new QRadioButton(QStringLiteral("Read only &new mail")), "optRead1");
  autoWhen = named(new QCheckBox(QStringLiteral("Say &when sent")), "chkSayWhat5");
  autoWho = named(new QCheckBox(QStringLiteral("Say wh&o sent")), "chkSayWhat6");
  autoSubject = named(new QCheckBox(QStringLiteral("Say &subject")), "chkSayWhat7");
  autoBody = named(new QCheckBox(QStringLiteral("Say bo&dy")), "chkSayWhat8");
  manualWhen = named(new QCheckBox(QStringLiteral("Say when s&ent")), "chkSayWhat0");
  manualWho = named(new QCheckBox(QStringLiteral("Say who sen&t")), "chkSayWhat1");
  manualSubject = named(new QCheckBox(QStringLiteral("Say sub&ject")), "chkSayWhat2");
  manualBody = named(new QCheckBox(QStringLiteral("Sa&y body")), "chkSayWhat3");
  markRead = named(new QCheckBox(QStringLiteral("Mar&k messages as Read in your mailbox")), "chkSayWhat4");

  // The two sets of rules have the same boxes: a screen reader hears which set each belongs to.
  for (QCheckBox* b : {autoWhen, autoWho, autoSubject, autoBody})
    b->setAccessibleName(QString(b->text()).remove(u'&') + QStringLiteral(" on automatic checks"));
  for (QCheckBox* b : {manualWhen, manualWho, manualSubject, manualBody})
    b->setAccessibleName(QString(b->text()).remove(u'&') + QStringLiteral(" when reading mail by hand"));

  auto* box = new QGridLayout;
  box->addWidget(captionFor(QStringLiteral("Mail&box"), mailbox), 0, 0);
  box->addWidget(mailbox, 0, 1);
  box->addWidget(mailboxBrowse, 0, 2);
  box->addWidget(captionFor(QStringLiteral("&User"), mailUser), 1, 0);
  box->addWidget(mailUser, 1, 1);
  box->setColumnStretch(1, 1);

  auto* autoFrame = named(new QGroupBox(QStringLiteral("Auto check rules")), "fraAuto");
  auto* autoLayout = new QVBoxLayout(autoFrame);
  auto* every = new QHBoxLayout;
  every->addWidget(checkMail);
  every->addWidget(mailInterval);
  every->addWidget(captionFor(QStringLiteral("m&inutes"), mailInterval));
  every->addStretch(1);
  autoLayout->addLayout(every);
  autoLayout->addWidget(readAll);
  autoLayout->addWidget(readNew);
  auto* autoSay = new QGridLayout;
  autoSay->addWidget(autoWhen, 0, 0);
  autoSay->addWidget(autoWho, 0, 1);
  autoSay->addWidget(autoSubject, 1, 0);
  autoSay->addWidget(autoBody, 1, 1);
  autoLayout->addLayout(autoSay);
  autoLayout->addStretch(1);

  auto* manualFrame = named(new QGroupBox(QStringLiteral("Rules for manual mail reading")), "fraManual");
  auto* manualLayout = new QVBoxLayout(manualFrame);
  for (QCheckBox* b : {manualWhen, manualWho, manualSubject, manualBody, markRead}) manualLayout->addWidget(b);
  manualLayout->addStretch(1);

  auto* rules = new QHBoxLayout;
  rules->addWidget(autoFrame, 1);
  rules->addWidget(manualFrame, 1);

  auto* frame = named(new QGroupBox(QStringLiteral("Email Options")), "fraEmail");
  auto* layout = new QVBoxLayout(frame);
  layout->addLayout(box);
  layout->addLayout(rules);

  auto* page = named(new QWidget, "picOptions3");
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->addWidget(frame);
  pageLayout->addStretch(1);
  return page;
}

QWidget* OptionsDialog::buildSyncTab() {
  syncServer = named(new QLineEdit, "txtSyncServer");
  syncServer->setPlaceholderText(QStringLiteral("https://cloud.example.org/remote.php/dav/calendars/anna/personal/"));
  syncServer->setToolTip(
      QStringLiteral("The address of a calendar on a CalDAV server (Nextcloud, Radicale, Fastmail...)"));
  syncUser = named(new QLineEdit, "txtSyncUser");
  syncUser->setToolTip(QStringLiteral("The user name on the calendar server; empty for a server that asks for none"));
  syncPassword = named(new QLineEdit, "txtSyncPassword");
  syncPassword->setEchoMode(QLineEdit::Password);
  syncPassword->setPlaceholderText(QStringLiteral("kept in the secret store"));
  syncPassword->setToolTip(QStringLiteral("Typed only to change it: it is kept in the desktop's secret store"));
  syncNowButton = named(new QPushButton(QStringLiteral("Sync &Now")), "cmdSyncNow");
  syncNowButton->setToolTip(QStringLiteral("Apply the sync settings and sync the reminders now"));
  syncNowButton->setEnabled(m_ctx.port != nullptr);
  syncStatus = named(new QLabel, "lblSyncStatus");
  syncStatus->setWordWrap(true);
  syncStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lastSync = named(new QLabel, "lblLastSync");
  lastSync->setWordWrap(true);
  lastSync->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lastSync->setVisible(m_ctx.port != nullptr);
  ShowLastSync();

  auto* box = new QGridLayout;
  box->addWidget(captionFor(QStringLiteral("Calendar add&ress"), syncServer), 0, 0);
  box->addWidget(syncServer, 0, 1);
  box->addWidget(captionFor(QStringLiteral("Us&er name"), syncUser), 1, 0);
  box->addWidget(syncUser, 1, 1);
  box->addWidget(captionFor(QStringLiteral("Pass&word"), syncPassword), 2, 0);
  box->addWidget(syncPassword, 2, 1);
  box->setColumnStretch(1, 1);
  auto* now = new QHBoxLayout;
  now->addWidget(syncNowButton);
  now->addWidget(syncStatus, 1);

  auto* note = new QLabel(QStringLiteral(
      "The reminders are synced at start, every few minutes and after each change. Reminders made "
      "here appear in the calendar, and its events are announced here. Leave the address empty not to sync."));
  note->setWordWrap(true);

  auto* frame = named(new QGroupBox(QStringLiteral("Calendar Sync")), "fraSync");
  auto* layout = new QVBoxLayout(frame);
  layout->addLayout(box);
  layout->addLayout(now);
  layout->addWidget(lastSync);
  layout->addWidget(note);

  auto* page = named(new QWidget, "picOptions4");
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->addWidget(frame);
  pageLayout->addStretch(1);
  connect(syncNowButton, &QPushButton::clicked, this, [this] { syncNow(); });
  return page;
}

void OptionsDialog::keepSyncPassword() {
  // Without an address there is nothing to keep it for: the secret store is not touched (it may
  // ask to create a keyring), and the password stays typed.
  if (syncPassword->text().isEmpty() || syncServer->text().trimmed().isEmpty()) return;
  emit syncPasswordTyped(syncServer->text().trimmed(), syncUser->text().trimmed(), syncPassword->text());
  syncPassword->clear();
}

void OptionsDialog::syncNow() {
  if (!m_ctx.port) return;
  // Checked before anything is saved or kept.
  if (syncServer->text().trimmed().isEmpty()) {
    syncStatus->setText(kSyncAddressFirst);
    syncServer->setFocus(Qt::OtherFocusReason);
    return;
  }
  // The sync settings as typed are applied first: the sync is made with them.
  const bool written = m_ctx.settings.write(settings::SyncServer, syncServer->text().trimmed()) &&
                       m_ctx.settings.write(settings::SyncUser, syncUser->text().trimmed());
  if (!written) {
    syncStatus->setText(QStringLiteral("The sync settings could not be saved"));
    return;
  }
  keepSyncPassword();
  syncNowButton->setEnabled(false);
  syncStatus->setText(QStringLiteral("Syncing..."));
  m_ctx.port->SyncNow([dialog = QPointer<OptionsDialog>(this)](const QString& outcome) {
    if (!dialog) return;
    dialog->syncNowButton->setEnabled(true);
    dialog->syncStatus->setText(outcome);
    dialog->ShowLastSync();
  });
}

void OptionsDialog::ShowLastSync() {
  if (m_ctx.port) lastSync->setText(LastSyncText(m_ctx.port->LastSyncOutcome(), m_ctx.options.timeFormat));
}

void OptionsDialog::load() {
  const OptionsValues v = ReadOptions(m_ctx.settings, m_ctx.options);
  waitTime->setText(v.waitTime);
  remindOn->setChecked(v.remindOn);
  readMemos->setChecked(v.readMemos);
  readActivity->setChecked(v.readActivity);

  checkMail->setChecked(v.checkMail);
  mailInterval->setText(v.mailInterval);
  autoWhen->setChecked(v.autoWhen);
  autoWho->setChecked(v.autoWho);
  autoSubject->setChecked(v.autoSubject);
  autoBody->setChecked(v.autoBody);
  (v.readAll ? readAll : readNew)->setChecked(true);
  manualWhen->setChecked(v.when);
  manualWho->setChecked(v.who);
  manualSubject->setChecked(v.subject);
  manualBody->setChecked(v.body);
  markRead->setChecked(v.markRead);
  mailbox->setText(v.mailbox);
  mailUser->setText(v.mailUser);
  syncServer->setText(v.syncServer);
  syncUser->setText(v.syncUser);

  timeRange->setChecked(v.timeOn);
  if (v.rangeStart.isValid()) rangeStart->setTime(v.rangeStart);
  if (v.rangeEnd.isValid()) rangeEnd->setTime(v.rangeEnd);
  intervalList->setCurrentIndex(v.interval);
  sayTimeOfDay->setChecked(v.sayTimeOfDay);
  sayDayOfWeek->setChecked(v.sayDayOfWeek);
  sayDate->setChecked(v.sayDate);
  keepOnScreen->setChecked(v.showOnStart);
  phraseList->setCurrentIndex(-1);
  phraseList->setEditText(v.phrase);
  announceOn->setChecked(v.announceOn);
  sizeList->setCurrentIndex(v.size >= 0 && v.size < sizeList->count() ? v.size : -1);

  m_entries = CharacterEntries(m_ctx.characterFolders.isEmpty() ? CharacterFolders() : m_ctx.characterFolders);
  characterList->clear();
  for (const CharacterEntry& e : m_entries) characterList->addItem(e.name);
  // With no name stored yet, the character on the screen is the one chosen.
  QString chosen = v.characterName;
  if (chosen.trimmed().isEmpty())
    if (const agent::Character* c = m_ctx.character.character()) chosen = c->name();
  characterList->setCurrentIndex(CharacterListPosition(m_entries, chosen, v.characterIndex));
  m_shownCharacter = characterList->currentIndex();

  gestureList->setCurrentIndex(v.gestureIndex >= 0 && v.gestureIndex < gestureList->count() ? v.gestureIndex : -1);
  showFuture->setChecked(v.showFuture);
  noSoundEffects->setChecked(v.noSoundEffects);
  desktopNotices->setChecked(v.desktopNotices);
  amPm->setChecked(v.amPm);
  startAtLogin->setChecked(StartsAtLogin());
}

void OptionsDialog::connectControls() {
  connect(okButton, &QPushButton::clicked, this, [this] {
    if (Apply()) accept();
  });
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(applyButton, &QPushButton::clicked, this, [this] { Apply(); });
  connect(helpButton, &QPushButton::clicked, this, [this] { help(); });
  connect(demoButton, &QPushButton::clicked, this, [this] { Demo(); });
  connect(testButton, &QPushButton::clicked, this, [this] { TestVoice(); });
  connect(downloadButton, &QPushButton::clicked, this, [this] { download(); });
  connect(mailboxBrowse, &QToolButton::clicked, this, [this] { browseMailbox(); });

  // What takes effect at once, Apply or not.
  connect(amPm, &QCheckBox::toggled, this, [this](bool on) {
    m_ctx.options.timeFormat = TimeFormatFor(on);
    for (QTimeEdit* picker : {rangeStart, rangeEnd})
      picker->setDisplayFormat(PickerTimeFormat(m_ctx.options.timeFormat));
  });
  connect(readMemos, &QCheckBox::toggled, this, [this](bool on) { m_ctx.options.readMemos = on; });
  connect(waitTime, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_ctx.options.waitTime = NumericReading(text); });
  connect(characterList, &QComboBox::currentIndexChanged, this, [this](int position) { onCharacterChosen(position); });
  connect(sizeList, &QComboBox::currentIndexChanged, this, [this](int position) { onSizeChosen(position); });

  for (QCheckBox* box : {announceOn, checkMail, timeRange})
    connect(box, &QCheckBox::toggled, this, [this] { updateEnabling(); });
  connect(rangeStart, &QTimeEdit::timeChanged, this, [this] { onRangeStartChanged(); });
  connect(rangeEnd, &QTimeEdit::timeChanged, this, [this] { onRangeEndChanged(); });
}

void OptionsDialog::updateEnabling() {
  const bool announce = announceOn->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{intervalList, phraseList, gestureList, testButton})
    w->setEnabled(announce);
  mailInterval->setEnabled(checkMail->isChecked());
  rangeStart->setEnabled(timeRange->isChecked());
  rangeEnd->setEnabled(timeRange->isChecked());
}

OptionsValues OptionsDialog::values() const {
  OptionsValues v;
  v.characterName = characterList->currentText();
  v.characterIndex = characterList->currentIndex();
  v.size = sizeList->currentIndex();
  v.announceOn = announceOn->isChecked();
  v.interval = intervalList->currentIndex();
  v.phrase = phraseList->currentText();
  v.gestureIndex = gestureList->currentIndex();
  v.gestureText = gestureList->currentText();
  v.sayTimeOfDay = sayTimeOfDay->isChecked();
  v.sayDayOfWeek = sayDayOfWeek->isChecked();
  v.sayDate = sayDate->isChecked();
  v.amPm = amPm->isChecked();
  v.timeOn = timeRange->isChecked();
  v.rangeStart = rangeStart->time();
  v.rangeEnd = rangeEnd->time();
  v.showOnStart = keepOnScreen->isChecked();
  v.noSoundEffects = noSoundEffects->isChecked();
  v.desktopNotices = desktopNotices->isChecked();
  v.showFuture = showFuture->isChecked();
  v.readMemos = readMemos->isChecked();
  v.readActivity = readActivity->isChecked();
  v.remindOn = remindOn->isChecked();
  v.waitTime = waitTime->text();
  v.mailbox = MailboxToStore(mailbox->text(), QDir::homePath());
  v.mailUser = mailUser->text();
  v.checkMail = checkMail->isChecked();
  v.mailInterval = mailInterval->text();
  v.readAll = readAll->isChecked();
  v.autoWhen = autoWhen->isChecked();
  v.autoWho = autoWho->isChecked();
  v.autoSubject = autoSubject->isChecked();
  v.autoBody = autoBody->isChecked();
  v.when = manualWhen->isChecked();
  v.who = manualWho->isChecked();
  v.subject = manualSubject->isChecked();
  v.body = manualBody->isChecked();
  v.markRead = markRead->isChecked();
  v.syncServer = syncServer->text();
  v.syncUser = syncUser->text();
  return v;
}

bool OptionsDialog::Apply() {
  // The interval's rule holds for a value typed and applied with Enter too, never left.
  const QString interval = ClampedMailInterval(mailInterval->text());
  if (interval != mailInterval->text()) mailInterval->setText(interval);
  // A value that cannot be used is told, and left on its tab, selected, for correction.
  const auto refused = [this](const QString& problem, int tab, QLineEdit* box) {
    if (problem.isEmpty()) return false;
    m_ctx.prompter.notice(problem, QString(), PromptIcon::Information);
    tabs->setCurrentIndex(tab);
    box->setFocus(Qt::OtherFocusReason);
    box->selectAll();
    return true;
  };
  if (refused(WaitTimeProblem(waitTime->text()), 2, waitTime) || refused(MailboxProblem(mailbox->text()), 3, mailbox))
    return false;

  const OptionsValues v = values();
  const QString error = StoreOptions(v, m_ctx.settings, m_ctx.options);
  m_ctx.character.SetSoundEffects(!v.noSoundEffects);
  const bool viewer = viewerOpen();
  if (viewer) emit showFutureApplied(v.showFuture);
  emit announcementIntervalApplied(v.interval);
  emit mailIntervalApplied(NumericReading(v.mailInterval));
  // The size chosen is a preview: the stored one takes effect at the next start.
  m_ctx.character.SetCharacterSize(-10);
  if (!v.showOnStart && !viewer) m_ctx.character.hide();
  if (!error.isEmpty()) m_ctx.prompter.notice(error, QString(), PromptIcon::Warning);
  keepSyncPassword();
  applyStartAtLogin();
  return true;
}

void OptionsDialog::applyStartAtLogin() {
  const bool wanted = startAtLogin->isChecked();
  if (wanted == StartsAtLogin()) return;
  const QString problem = wanted ? EnableStartAtLogin(QCoreApplication::applicationFilePath()) : DisableStartAtLogin();
  if (!problem.isEmpty()) m_ctx.prompter.notice(problem, QString(), PromptIcon::Warning);
  // Whatever happened, the box tells the truth.
  startAtLogin->setChecked(StartsAtLogin());
}

void OptionsDialog::done(int result) {
  if (!m_closed) {
    m_closed = true;
    const QString error = StoreOnClose(m_ctx.settings, m_ctx.options, m_ctx.clock.now().date());
    m_ctx.character.SetCharacterSize(-10);
    if (!error.isEmpty()) m_ctx.prompter.notice(error, QString(), PromptIcon::Warning);
  }
  QDialog::done(result);
}

void OptionsDialog::TestVoice() {
  VoiceTestChoices choices;
  choices.gesture = gestureList->currentText();
  choices.phrase = phraseList->currentText();
  choices.sayTimeOfDay = sayTimeOfDay->isChecked();
  choices.sayDayOfWeek = sayDayOfWeek->isChecked();
  choices.sayDate = sayDate->isChecked();
  Perform(m_ctx.character, VoiceTestSteps(choices, m_ctx.clock.now(), m_ctx.options.timeFormat));
}

void OptionsDialog::Demo() {
  const agent::Character* c = m_ctx.character.character();
  Perform(m_ctx.character, DemoSteps(c ? c->name() : QString(), characterFoot()));
}

void OptionsDialog::showEvent(QShowEvent* event) {
  if (!m_greeted) centreOnScreen();
  QDialog::showEvent(event);
  if (!m_greeted) {
    m_greeted = true;
    // Once shown, the window frame's size is known: the dialog is centred again with it, and the
    // character comes to stand beside it.
    QTimer::singleShot(0, this, [this] {
      centreOnScreen();
      greet();
    });
  }
}

void OptionsDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isActiveWindow() || m_activatedOnce) return;
  m_activatedOnce = true;
  if (!offers(&OptionsDialog::tourWanted) || m_ctx.settings.read(settings::OptionsShowHelp) != QStringLiteral("1"))
    return;
  // After the activation has been handled: the tour disables, moves and raises the window, and
  // must not do that inside the window system's activation.
  QTimer::singleShot(0, this, [this] {
    if (offers(&OptionsDialog::tourWanted) && m_ctx.settings.read(settings::OptionsShowHelp) == QStringLiteral("1"))
      emit tourWanted(0);
  });
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mailInterval && event->type() == QEvent::FocusOut) {
    const QString clamped = ClampedMailInterval(mailInterval->text());
    if (clamped != mailInterval->text()) mailInterval->setText(clamped);
  }
  return QDialog::eventFilter(watched, event);
}

QRect OptionsDialog::screenArea() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->availableGeometry() : QRect();
}

double OptionsDialog::twipsPerPixel() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return TwipsPerPixel(s ? s->logicalDotsPerInch() : 96.0);
}

void OptionsDialog::centreOnScreen() {
  const QRect area = screenArea();
  if (area.isEmpty()) return;
  const QSize frame = isVisible() ? frameGeometry().size() : sizeHint();
  move(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2);
}

QPoint OptionsDialog::characterFoot() const {
  const agent::Character* c = m_ctx.character.character();
  const QSize size = c ? QSize(c->width(), c->height()) : QSize();
  return CharacterAtDialogFoot(frameGeometry(), size, screenArea(), twipsPerPixel());
}

void OptionsDialog::greet() {
  CharacterHost& host = m_ctx.character;
  host.StopAll();
  if (agent::Character* c = host.character()) {
    const QPoint at = CharacterBesideDialog(frameGeometry(), QSize(c->width(), c->height()), screenArea());
    c->moveTo(at.x(), at.y());
  }
  host.SayText(kGreeting);
  host.show();
}

void OptionsDialog::onCharacterChosen(int position) {
  if (position < 0 || position >= static_cast<int>(m_entries.size())) return;
  const CharacterEntry& entry = m_entries[static_cast<std::size_t>(position)];
  CharacterHost& host = m_ctx.character;
  {
    BusyCursor busy;
    // A file that is no character is found out before the character on the screen is unloaded:
    // the user is told, and keeps the one there is.
    const agent::LoadResult check = agent::loadCharacterFile(entry.path);
    if (check) {
      host.LoadCharacter(entry.fileName, false);
      m_shownCharacter = position;
      // The new character takes the place of the old one beside the dialog, at its foot.
      if (agent::Character* c = host.character()) {
        const QPoint foot = characterFoot();
        c->moveTo(foot.x(), foot.y());
        host.show();
      }
      return;
    }
    const QSignalBlocker quiet(characterList);
    characterList->setCurrentIndex(m_shownCharacter);
    const Wording damaged = Describe(CharacterLoadProblem(check.failure()));
    m_ctx.prompter.notice(damaged.text, damaged.title, damaged.icon);
  }
}

void OptionsDialog::onSizeChosen(int position) { m_ctx.character.SetCharacterSize(position); }

void OptionsDialog::onRangeStartChanged() {
  if (!isVisible()) return;
  if (const auto end = DraggedRangeEnd(rangeStart->time(), rangeEnd->time())) rangeEnd->setTime(*end);
}

void OptionsDialog::onRangeEndChanged() {
  if (!isVisible()) return;
  if (const auto start = DraggedRangeStart(rangeStart->time(), rangeEnd->time())) rangeStart->setTime(*start);
}

void OptionsDialog::nextTab() { tabs->setCurrentIndex(NextTab(tabs->currentIndex(), tabs->count())); }

bool OptionsDialog::viewerOpen() const { return m_ctx.port && m_ctx.port->ViewerOpen(); }

void OptionsDialog::help() {
  QPointer<OptionsDialog> self(this);
  m_ctx.prompter.ask(kTutorialQuestion, QStringLiteral("Tutorial Help"), PromptIcon::None, [self](bool tour) {
    if (!self || !self->isVisible()) return;
    // The tour knows the first four tabs; the others have their help page.
    if (tour && self->offers(&OptionsDialog::tourWanted) && self->tabs->currentIndex() < 4) {
      emit self->tourWanted(self->tabs->currentIndex() + 1);
      return;
    }
    self->openHelpPage(kOptionsPage);
  });
}

void OptionsDialog::download() {
  m_ctx.character.speak(kDownloadSentence);
  openHelpPage(kCharactersPage);
}

void OptionsDialog::openHelpPage(const QString& page) {
  const QString path = HelpPagePath(m_ctx.state.AppFolder, TemplateFolder(), page);
  if (offers(&OptionsDialog::openDocument))
    emit openDocument(path);
  else
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void OptionsDialog::browseMailbox() {
  QString start = mailbox->text().trimmed();
  if (start.startsWith(QStringLiteral("~/"))) start = QDir::homePath() + start.mid(1);
  if (start.isEmpty() || start.contains(QStringLiteral("://"))) start = QDir::homePath();
  const auto take = [this](const QString& chosen) {
    if (!chosen.isEmpty()) mailbox->setText(QDir::cleanPath(chosen));
  };
  // Window-modal, and the folder chosen arrives as a signal: nothing waits for the picker.
  auto* picker = new QFileDialog(this, QStringLiteral("Mailbox"), start);
  picker->setAttribute(Qt::WA_DeleteOnClose);
  picker->setFileMode(QFileDialog::Directory);
  picker->setOption(QFileDialog::ShowDirsOnly);
  connect(picker, &QFileDialog::fileSelected, this, take);
  picker->open();
}

}  // namespace chimewise
