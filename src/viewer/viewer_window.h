#pragma once
// The Reminder Viewer window: the reminders in a grid (the current ones or all), the memo of the
// highlighted one in an editable box below it, a banner that opens the viewer's help page, and
// the menus and toolbar of the commands on the highlighted reminder.
//
// The window is created loaded (placement restored, table open, list read) and deletes itself
// when closed. While it is loaded its context says the viewer is open, and it keeps the reminder table
// open under the alias CALENDAR; it closes that work area as it closes.

#include "alarms/repeat_series.h"
#include "core/ports.h"
#include "core/problem.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "exchange/calendar_import.h"
#include "viewer/viewer_commands.h"
#include "viewer/viewer_import.h"

#include <QAbstractButton>
#include <QMainWindow>
#include <QPointer>
#include <QStyle>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSvgRenderer;
class QTableView;
class QToolBar;
class QToolButton;

namespace chimewise {
class AlarmService;
class Clock;
class MainTimerPort;
class Prompter;
class SchedulePort;
class SettingsStore;
class SpeakerPort;
struct SharedState;
}  // namespace chimewise

namespace xbase {
class Engine;
}

namespace chimewise::viewer {

class ReminderListModel;

// Everything the viewer works with, owned elsewhere and outliving the window.
struct ViewerContext {
  SharedState& state;
  SettingsStore& settings;
  Prompter& prompter;
  Clock& clock;
  xbase::Engine& engine;
  AlarmService& alarms;
  SpeakerPort& speaker;
  SchedulePort& schedule;
  MainTimerPort& timer;
  ViewerCommands& commands;
  // The reminders deleted in this run of the program, the latest last: "&Undo Delete" puts them
  // back one at a time. Kept here, so closing the viewer forgets none of them.
  std::vector<RecordImage> deleted = {};
  // Occurrences of repeating reminders deleted in this run, the latest last, each with how many
  // whole reminders had been deleted before it: "&Undo Delete" puts back whichever came last.
  struct TakenOccurrence {
    std::uint32_t recno = 0;
    QString recordId;
    ReminderFacts before;
    QStringList series;
    std::size_t deletedBefore = 0;
  };
  std::vector<TakenOccurrence> takenOccurrences = {};
  // A window is loaded: shown, and not closed since.
  bool open = false;
};

// The picture at the top of the viewer: clicking it (or Space with the focus on it) opens the
// viewer's help page.
class BannerButton final : public QAbstractButton {
  Q_OBJECT
 public:
  explicit BannerButton(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSvgRenderer* m_picture;
};

class ViewerWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit ViewerWindow(ViewerContext& context, QWidget* parent = nullptr);
  ~ViewerWindow() override;

  // Lists every reminder (true) or only the current ones, and ticks "&View Future Events" to
  // match; nothing happens when the list already is so.
  void ApplyShowFuture(bool showFuture);
  bool showsFuture() const { return m_showFuture; }
  // Reads the list again (after the table changed), keeping the highlighted reminder highlighted
  // where it is still listed. A memo being typed is saved first.
  void Refresh();
  // Stores the memo and closes the table until the next Refresh (ViewerPort::LetGoOfTable).
  void LetGoOfTable();
  // Closed (its table let go): it deletes itself at the next turn of the event loop and is never
  // shown again.
  bool closed() const { return m_closed; }
  // Highlights a reminder of the list (one just announced); nothing when it is not listed.
  void Highlight(std::uint32_t recno);
  // The next close keeps the character on screen (the viewer is closed only for the upkeep).
  void keepCharacterOnClose() { m_keepCharacter = true; }

  // The record of the highlighted reminder; 0 when none.
  std::uint32_t currentRecno() const { return m_currentRecno; }
  // Saves a memo being typed now; true when nothing is left unsaved.
  bool SaveMemo();
  // Reads the calendar file at `path` in (File > Import Calendar once its file is chosen): read on
  // a thread of its own and saved a slice at a time, with progress and Cancel in the status bar;
  // the list is read again and the outcome told at the end.
  void ImportCalendar(const QString& path);
  // The import under way; null when none.
  CalendarImportRun* calendarImport() const { return m_import; }
  QPushButton* importCancelButton() const { return m_importCancel; }

  // The parts, for tests and the program's tours.
  QTableView* grid() const { return m_grid; }
  QPlainTextEdit* memoBox() const { return m_memo; }
  // The memo area's header: how the highlighted reminder repeats (hidden for one that does not).
  QLabel* repeatHeader() const { return m_repeatHeader; }
  ReminderListModel* model() const { return m_model; }
  BannerButton* banner() const { return m_banner; }
  QToolBar* toolBar() const { return m_toolBar; }
  QToolButton* readButton() const { return m_readButton; }
  QAction* futureAction() const { return m_future; }
  QAction* menuAction(const QString& objectName) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Gives the table back (the list empty until it is opened again).
  void closeTable();
  // The table while the window holds it: its work area number (0 when not held) and work area
  // (null when not held, or when the whole engine was closed under it).
  xbase::WorkArea* table() const { return m_table ? m_table->get() : nullptr; }
  void buildMenus();
  int dateColumnNeed() const;  // twips the widest reminder time takes in the list's font
  void buildToolBar();
  void paintIcons();  // the toolbar's icons for the window's palette, light or dark
  void openTable();
  void layOut();
  void positionOn(int row);
  void updateCommands();
  void loadMemo();
  void report(const Problem& problem);
  double twipsPerPixel() const;
  void restorePlacement();
  void savePlacement();

  // The commands.
  void readReminder(int readActivity, int readMemos, int mode);
  // Reads the reminder out as the options ask (the activity line, the memo).
  void readReminderAsSet();
  void addReminder();
  void editReminder();
  // Once the Schedule Activity dialog has closed: `edited`, the record it edited (0: a new one).
  void afterSchedule(bool saved, std::uint32_t edited);
  void deleteReminder();
  // The highlighted reminder deleted whole, or (a repeating one) only the occurrence it stands at.
  void deleteWhole();
  void deleteOccurrence(std::uint32_t recno, const QString& recordId);
  // Skip Next Occurrence and Done on the highlighted repeating reminder.
  void stepOccurrence(OccurrenceStep step);
  // How the highlighted reminder repeats, in words; empty when it does not.
  QString currentRepeat() const;
  void undoDelete();
  void snooze(int choice);
  void toggleFuture(bool checked);
  void openHelp();
  void runLater(void (ViewerCommands::*command)());
  void optimize();
  void about();
  // File > Import Calendar / Export Calendar: a file chosen in a window-modal dialog, then read
  // in or written out, and the outcome told.
  void chooseCalendarFile(bool exporting);
  void importProgress(int done, int total);
  void importFinished(const QString& path, const ImportReport& report, bool cancelled);
  void exportCalendar(const QString& path);

  ViewerContext& m_ctx;
  ProblemReporter m_reporter;
  std::optional<data::TableHandle> m_table;
  // The table could not be opened with the window because another program held it: the next
  // refresh opens it.
  bool m_openWhenFree = false;
  bool m_showFuture = true;
  bool m_keepCharacter = false;
  std::uint32_t m_currentRecno = 0;
  bool m_positioning = false;

  ReminderListModel* m_model = nullptr;
  QWidget* m_pane = nullptr;
  BannerButton* m_banner = nullptr;
  QTableView* m_grid = nullptr;
  QPlainTextEdit* m_memo = nullptr;
  QLabel* m_repeatHeader = nullptr;
  QToolBar* m_toolBar = nullptr;
  bool m_closed = false;
  // The user chose to drop a memo that cannot be stored: the next close goes on without it.
  bool m_dropMemo = false;
  QToolButton* m_readButton = nullptr;
  QStyle::StandardPixmap m_readIcon = QStyle::SP_MediaPlay;
  std::vector<std::pair<QAction*, QStyle::StandardPixmap>> m_icons;

  // The memo box's record, whether the box holds text not yet saved, and the idle timer.
  std::uint32_t m_memoRecno = 0;
  bool m_memoDirty = false;
  bool m_loadingMemo = false;
  QTimer m_memoIdle;

  QAction* m_read = nullptr;
  QAction* m_options = nullptr;
  QAction* m_optimize = nullptr;
  QAction* m_exit = nullptr;
  QMenu* m_snoozeMenu = nullptr;
  std::array<QAction*, 9> m_snooze{};
  QAction* m_add = nullptr;
  QAction* m_properties = nullptr;
  QAction* m_delete = nullptr;
  QAction* m_undoDelete = nullptr;
  QAction* m_skipNext = nullptr;
  QAction* m_done = nullptr;
  QAction* m_future = nullptr;
  QAction* m_tutorial = nullptr;
  QAction* m_help = nullptr;
  QAction* m_update = nullptr;
  QAction* m_about = nullptr;
  QAction* m_toolNew = nullptr;
  QAction* m_toolProperties = nullptr;
  QAction* m_toolDelete = nullptr;
  QAction* m_toolOptions = nullptr;

  // File > Import Calendar: what saves the reminders, the import under way and its progress.
  NoWindows m_noViewer;  // the list is read again by this window, once at the end
  std::unique_ptr<CalendarImporter> m_importer;
  QPointer<CalendarImportRun> m_import;
  QProgressBar* m_importProgress = nullptr;
  QPushButton* m_importCancel = nullptr;
};

}  // namespace chimewise::viewer
