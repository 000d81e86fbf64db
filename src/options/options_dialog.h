#pragma once
// The Options dialog: every preference on four tabs, with the character standing beside it and
// reacting at once (another character is loaded, another size previewed, the am/pm box changes
// how times are said). Apply stores the rest; closing, however it happens, stores the two read
// switches and the day, and gives the character back its own size. The controls are public so a
// guided tour can point at them and tests can drive them.

#include "options/options_port.h"
#include "options/options_rules.h"
#include "options/options_store.h"

#include <QDialog>
#include <QStringList>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class QToolButton;

namespace chimewise {

// Sync Now with no calendar address.
inline const QString kSyncAddressFirst = QStringLiteral("Enter the calendar's address first.");

class CharacterHost;
class Clock;
class Prompter;
class SettingsStore;
struct ProgramOptions;
struct SharedState;

// Everything the dialog works with, owned elsewhere and outliving it.
struct OptionsContext {
  SharedState& state;
  // The running program's options: the dialog changes some at once, Apply the others.
  ProgramOptions& options;
  SettingsStore& settings;
  Prompter& prompter;
  Clock& clock;
  CharacterHost& character;
  // The folders whose character files the character list offers: the user's own, then the
  // installed ones. Empty: CharacterFolders().
  QStringList characterFolders;
  // What the dialog asks of the program; null: the dialog stands alone (see OptionsPort).
  OptionsPort* port = nullptr;
};

class OptionsDialog final : public QDialog {
  Q_OBJECT
 public:
  // Builds and fills the dialog. Filling it changes nothing: no character is loaded or resized.
  explicit OptionsDialog(OptionsContext& context, QWidget* parent = nullptr);
  ~OptionsDialog() override;

  // What the controls hold now.
  OptionsValues values() const;
  // Stores every value and brings the running program in line; last, writes or removes the
  // autostart entry when the login box changed. False, with nothing stored and the user told why,
  // when the mailbox cannot be used.
  bool Apply();

  // The performances of the two buttons, queued on the character; both return at once.
  void TestVoice();
  void Demo();

  QTabWidget* tabs = nullptr;
  // "Characters"
  QComboBox* characterList = nullptr;
  QComboBox* sizeList = nullptr;
  QPushButton* demoButton = nullptr;
  QPushButton* downloadButton = nullptr;
  // "Time Announcements"
  QCheckBox* announceOn = nullptr;
  QComboBox* intervalList = nullptr;
  QComboBox* phraseList = nullptr;
  QComboBox* gestureList = nullptr;
  QCheckBox* sayTimeOfDay = nullptr;
  QCheckBox* sayDayOfWeek = nullptr;
  QCheckBox* sayDate = nullptr;
  QCheckBox* amPm = nullptr;
  QCheckBox* timeRange = nullptr;
  QTimeEdit* rangeStart = nullptr;
  QTimeEdit* rangeEnd = nullptr;
  QPushButton* testButton = nullptr;
  // "Reminder Options"
  QCheckBox* keepOnScreen = nullptr;
  QCheckBox* noSoundEffects = nullptr;
  QCheckBox* showFuture = nullptr;
  QCheckBox* readMemos = nullptr;
  QCheckBox* readActivity = nullptr;
  QCheckBox* remindOn = nullptr;
  QLineEdit* waitTime = nullptr;
  // Shows whether the program starts at login; Apply writes or removes its autostart entry.
  QCheckBox* startAtLogin = nullptr;
  QCheckBox* desktopNotices = nullptr;
  // "Email Options"
  QLineEdit* mailbox = nullptr;
  QToolButton* mailboxBrowse = nullptr;
  QLineEdit* mailUser = nullptr;
  QCheckBox* checkMail = nullptr;
  QLineEdit* mailInterval = nullptr;
  QRadioButton* readAll = nullptr;
  QRadioButton* readNew = nullptr;
  QCheckBox* autoWhen = nullptr;
  QCheckBox* autoWho = nullptr;
  QCheckBox* autoSubject = nullptr;
  QCheckBox* autoBody = nullptr;
  QCheckBox* manualWhen = nullptr;
  QCheckBox* manualWho = nullptr;
  QCheckBox* manualSubject = nullptr;
  QCheckBox* manualBody = nullptr;
  QCheckBox* markRead = nullptr;
  // "Sync"
  QLineEdit* syncServer = nullptr;
  QLineEdit* syncUser = nullptr;
  QLineEdit* syncPassword = nullptr;
  QPushButton* syncNowButton = nullptr;
  QLabel* syncStatus = nullptr;
  QLabel* lastSync = nullptr;  // how the last sync went, with its notes
  // The dialog's own buttons.
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QPushButton* applyButton = nullptr;
  QPushButton* helpButton = nullptr;

  // The character files the character list offers, in list order.
  const std::vector<CharacterEntry>& characterEntries() const { return m_entries; }
  // Shows how the last sync went, as the port tells it (after any sync, not only Sync Now).
  void ShowLastSync();

 signals:
  // Apply, while the Reminder Viewer is open: it is to list every reminder (true) or only the
  // current ones, and tick its "View Future Events" to match.
  void showFutureApplied(bool showFuture);
  // Apply: the next time announcement is due from now at this interval (a position 0-6), and the
  // next automatic mail check after this many minutes.
  void announcementIntervalApplied(int intervalPosition);
  void mailIntervalApplied(int minutes);
  // Apply or Sync Now with a password typed in the Sync tab, and an address: it is to be kept for
  // the user on the server (in the secret store, else for this session). The box is emptied.
  void syncPasswordTyped(const QString& server, const QString& user, const QString& password);
  // The spoken tour of the dialog: section 0 runs them all (the first activation while the
  // settings' "Options" / "ShowHelp" is "1"), 1-4 the tab of that number (Help, answered Yes).
  // Not connected: there is no tour, and Help's Yes opens the help page.
  void tourWanted(int section);
  // Opens a document (a help page). Not connected: the desktop's viewer (QDesktopServices).
  void openDocument(const QString& path);

 public slots:
  // Every close (OK, Cancel, Escape, the close box) comes through here.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* buildCharactersTab();
  QWidget* buildTimeTab();
  QWidget* buildRemindersTab();
  QWidget* buildEmailTab();
  QWidget* buildSyncTab();
  void keepSyncPassword();
  void syncNow();
  void load();
  void connectControls();
  void updateEnabling();
  void applyStartAtLogin();
  void centreOnScreen();
  void greet();
  void onCharacterChosen(int position);
  void onSizeChosen(int position);
  void onRangeStartChanged();
  void onRangeEndChanged();
  void help();
  void download();
  void browseMailbox();
  void openHelpPage(const QString& page);
  void nextTab();
  bool viewerOpen() const;
  // Whether something is connected to `signal` (a request nothing answers is left out).
  template <typename Signal>
  bool offers(Signal signal) const;
  QRect screenArea() const;
  double twipsPerPixel() const;
  QPoint characterFoot() const;

  OptionsContext& m_ctx;
  std::vector<CharacterEntry> m_entries;
  int m_shownCharacter = -1;  // the list position of the character on the screen
  bool m_greeted = false;
  bool m_activatedOnce = false;
  bool m_closed = false;
};

}  // namespace chimewise
