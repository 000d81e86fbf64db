#include "viewer/viewer_window.h"

#include "alarms/alarm_service.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "core/value_reading.h"
#include "core/window_placement.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "exchange/calendar_export.h"
#include "exchange/calendar_import.h"
#include "viewer/reminder_list_model.h"
#include "viewer/viewer_import.h"
#include "viewer/viewer_rules.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <xbase/engine.h>

#include <cmath>
#include <utility>

namespace chimewise::viewer {

namespace {

const QString kCalendarAlias = QString::fromLatin1(data::kAliasCalendar);
const QString kSection = QString::fromLatin1(settings::ViewerSection);
const QString kDropUnsavedMemo = QStringLiteral(
    "The memo could not be saved, so closing now would lose what you typed in it. Close the Reminder Viewer "
    "anyway?");
// The banner's height in twips (40 pixels at 96 DPI).
constexpr int kBannerHeight = 600;
// The snooze entries' captions. "1&0 Minutes" reads "10 Minutes" like its neighbour "&1 Minute"
// but has an access key of its own, so every entry can be chosen from the keyboard.
const char* const kSnoozeCaptions[9] = {"&1 Minute", "&5 Minutes", "1&0 Minutes", "&30 Minutes", "1 &Hour",
                                        "3 Ho&urs",  "5 Hou&rs",   "1 &Day",      "1 &Week"};

// The part of the window under the toolbar: banner, grid and memo box, placed by the window's
// arithmetic whenever it changes size.
class ViewerPane final : public QWidget {
 public:
  ViewerPane(std::function<void()> onResize, QWidget* parent) : QWidget(parent), m_onResize(std::move(onResize)) {}

 protected:
  void resizeEvent(QResizeEvent*) override { m_onResize(); }

 private:
  std::function<void()> m_onResize;
};

// A standard icon as it shows on buttons of this palette. The built-in icons are drawn in dark
// strokes for light buttons; on dark buttons those strokes take the palette's button text colour,
// their coloured parts kept.
QIcon IconForPalette(const QStyle* style, QStyle::StandardPixmap which, const QPalette& palette) {
  const QIcon icon = style->standardIcon(which);
  if (palette.color(QPalette::Button).lightnessF() >= 0.5) return icon;
  const QColor ink = palette.color(QPalette::ButtonText);
  QIcon drawn;
  for (int size : {16, 24, 32, 48}) {
    QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.alpha() == 0 || c.lightnessF() >= 0.35) continue;
        QColor stroke = ink;
        stroke.setAlpha(c.alpha());
        image.setPixelColor(x, y, stroke);
      }
    drawn.addPixmap(QPixmap::fromImage(image));
  }
  return drawn;
}

}  // namespace

BannerButton::BannerButton(QWidget* parent)
    : QAbstractButton(parent), m_picture(new QSvgRenderer(QStringLiteral(":/viewer/viewer-banner.svg"), this)) {
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  setToolTip(QStringLiteral("Help on the Reminder Viewer"));
  setAccessibleName(QStringLiteral("Reminder Viewer help"));
}

QSize BannerButton::sizeHint() const { return {480, 40}; }

void BannerButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QSvgRenderer& renderer = *m_picture;
  if (renderer.isValid()) {
    // The picture keeps its proportions at the left; the band behind it fills the width.
    const QSizeF natural = renderer.defaultSize();
    const double scale = natural.height() > 0 ? height() / natural.height() : 1.0;
    p.fillRect(rect(), QColor(0x1d, 0x3b, 0x5c));
    renderer.render(&p, QRectF(0, 0, natural.width() * scale, height()));
  }
  if (hasFocus()) {
    p.setPen(QPen(palette().highlight().color(), 2, Qt::DotLine));
    p.drawRect(rect().adjusted(1, 1, -2, -2));
  }
}

ViewerWindow::ViewerWindow(ViewerContext& context, QWidget* parent)
    : QMainWindow(parent), m_ctx(context), m_reporter(context.prompter) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("ReminderView"));
  setWindowTitle(kProgramTitle);

  m_model = new ReminderListModel(m_ctx.engine, this);
  m_model->setTimeFormat(m_ctx.alarms.options().timeFormat);
  m_pane = new ViewerPane([this] { layOut(); }, this);
  setCentralWidget(m_pane);
  m_banner = new BannerButton(m_pane);
  m_grid = new QTableView(m_pane);
  m_grid->setObjectName(QStringLiteral("DBGrid1"));
  m_grid->setAccessibleName(QStringLiteral("Reminders"));
  m_grid->setModel(m_model);
  m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
  m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_grid->setTabKeyNavigation(false);
  m_grid->setAlternatingRowColors(true);
  m_grid->setWordWrap(false);
  m_grid->verticalHeader()->hide();
  // Rows of one height: the view never measures rows it does not show.
  m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
  // The column widths follow the window's width (see ColumnWidths).
  m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_grid->horizontalHeader()->setHighlightSections(false);
  m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_grid->installEventFilter(this);
  m_memo = new QPlainTextEdit(m_pane);
  m_memo->setObjectName(QStringLiteral("Text1"));
  m_memo->setTabChangesFocus(true);
  m_memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_memo->setPlaceholderText(QStringLiteral("Memo"));
  m_memo->setAccessibleName(QStringLiteral("Memo"));
  m_repeatHeader = new QLabel(m_pane);
  m_repeatHeader->setObjectName(QStringLiteral("RepeatHeader"));
  m_repeatHeader->setAccessibleName(QStringLiteral("Repeats"));
  m_repeatHeader->hide();
  setTabOrder(m_banner, m_grid);
  setTabOrder(m_grid, m_memo);

  m_memoIdle.setSingleShot(true);
  m_memoIdle.setInterval(kMemoIdleSaveMs);
  connect(&m_memoIdle, &QTimer::timeout, this, [this] { SaveMemo(); });
  connect(m_memo, &QPlainTextEdit::textChanged, this, [this] {
    if (m_loadingMemo || m_memoRecno == 0) return;
    m_memoDirty = true;
    m_memoIdle.start();
  });
  connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
    if (!m_positioning) positionOn(current.isValid() ? current.row() : -1);
  });
  connect(m_grid, &QAbstractItemView::doubleClicked, this, [this] { readReminderAsSet(); });
  connect(m_banner, &QAbstractButton::clicked, this, [this] { openHelp(); });

  buildMenus();
  buildToolBar();

  // Loading: placement, the character, the flag, the table, the list.
  restorePlacement();
  m_ctx.speaker.show();
  m_ctx.open = true;
  openTable();
  m_showFuture = ShowFutureFromText(m_ctx.settings.read(settings::ShowFuture));
  m_future->setChecked(m_showFuture);
  Refresh();  // highlights the first row, if any
  m_grid->setFocus();
}

// A window destroyed without a close (the program ending) still gives the table back: its handle
// closes it.
ViewerWindow::~ViewerWindow() = default;

int ViewerWindow::dateColumnNeed() const {
  // The widest reminder time in the user's time format, in the list's own font (the user's: a
  // large desktop font widens the columns, it is never shrunk to fit them), with the cell's
  // margins.
  const QString widest =
      FormatDateTimeText(QDateTime(QDate(2026, 12, 28), QTime(12, 58)), m_ctx.alarms.options().timeFormat);
  const int pixels = m_grid->fontMetrics().horizontalAdvance(widest) + 12;
  return static_cast<int>(std::lround(pixels * twipsPerPixel()));
}

QAction* ViewerWindow::menuAction(const QString& objectName) const { return findChild<QAction*>(objectName); }

void ViewerWindow::buildMenus() {
  auto entry = [this](QMenu* menu, const char* caption, const char* name, auto handler) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  // An entry whose command lives elsewhere is there only when that command exists.
  const ViewerCommands& commands = m_ctx.commands;
  auto hooked = [&commands](QAction* a, void (ViewerCommands::*command)()) { a->setEnabled(commands.offers(command)); };

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  m_read = entry(file, "&Read Message", "mnuRead", [this] { readReminderAsSet(); });
  file->addSeparator();
  m_options = entry(file, "&Options...", "mnuOptions", [this] { runLater(&ViewerCommands::showOptions); });
  hooked(m_options, &ViewerCommands::showOptions);
  m_optimize = entry(file, "Optimi&ze Reminders", "mnuOptimize", [this] { optimize(); });
  hooked(m_optimize, &ViewerCommands::optimize);
  file->addSeparator();
  entry(file, "&Import Calendar...", "mnuImportCalendar", [this] { chooseCalendarFile(false); });
  entry(file, "&Export Calendar...", "mnuExportCalendar", [this] { chooseCalendarFile(true); });
  file->addSeparator();
  m_exit = entry(file, "E&xit", "mnuExit", [this] { close(); });

  m_snoozeMenu = menuBar()->addMenu(QStringLiteral("&Snooze"));
  m_snoozeMenu->menuAction()->setObjectName(QStringLiteral("mnuSnooze"));
  for (int i = 0; i < 9; ++i) {
    QAction* a = m_snoozeMenu->addAction(QString::fromUtf8(kSnoozeCaptions[i]));
    a->setObjectName(QStringLiteral("mnuSnoozeTimes%1").arg(i));
    connect(a, &QAction::triggered, this, [this, i] { snooze(i); });
    m_snooze[static_cast<size_t>(i)] = a;
  }

  QMenu* reminder = menuBar()->addMenu(QStringLiteral("&Reminder"));
  m_add = entry(reminder, "&Add", "mnuAdd", [this] { addReminder(); });
  m_properties = entry(reminder, "&Properties", "mnuProperties", [this] { editReminder(); });
  m_delete = entry(reminder, "&Delete", "mnuDelete", [this] { deleteReminder(); });
  m_delete->setShortcut(QKeySequence::Delete);
  // In the memo box Delete deletes text, as in every text box; everywhere else it is this.
  m_delete->setShortcutContext(Qt::WindowShortcut);
  m_undoDelete = entry(reminder, "&Undo Delete", "mnuUndoDelete", [this] { undoDelete(); });
  m_undoDelete->setShortcut(QKeySequence::Undo);
  // In the memo box Ctrl+Z undoes typing, as in every text box; everywhere else it is this.
  m_undoDelete->setShortcutContext(Qt::WindowShortcut);
  reminder->addSeparator();
  m_skipNext =
      entry(reminder, "S&kip Next Occurrence", "mnuSkipNext", [this] { stepOccurrence(OccurrenceStep::Skip); });
  m_done = entry(reminder, "D&one", "mnuDone", [this] { stepOccurrence(OccurrenceStep::Done); });
  reminder->addSeparator();
  m_future = reminder->addAction(QStringLiteral("&View Future Events"));
  m_future->setObjectName(QStringLiteral("mnuFuture"));
  m_future->setCheckable(true);
  connect(m_future, &QAction::triggered, this, [this](bool checked) { toggleFuture(checked); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  m_tutorial = entry(help, "&Tutorial", "mnuTutorial", [this] { runLater(&ViewerCommands::tutorial); });
  hooked(m_tutorial, &ViewerCommands::tutorial);
  m_help = entry(help, "&Program Help", "mnuProgramHelp", [this] { openHelp(); });
  help->addSeparator();
  m_update = entry(help, "&Update Me", "mnuUpdate", [this] { runLater(&ViewerCommands::update); });
  hooked(m_update, &ViewerCommands::update);
  m_about = entry(help, "&About Olm Chimewise...", "mnuAbout", [this] { about(); });
  hooked(m_about, &ViewerCommands::about);
}

void ViewerWindow::buildToolBar() {
  m_toolBar = addToolBar(QStringLiteral("Toolbar"));
  m_toolBar->setObjectName(QStringLiteral("Toolbar1"));
  m_toolBar->setMovable(false);
  m_toolBar->setFloatable(false);
  m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  m_toolBar->setIconSize(QSize(24, 24));

  auto* readMenu = new QMenu(this);
  auto readEntry = [this, readMenu](const char* caption, const char* name, int activity, int memos, int mode) {
    QAction* a = readMenu->addAction(QString::fromLatin1(caption));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [this, activity, memos, mode] { readReminder(activity, memos, mode); });
  };
  readEntry("Read Subject", "ReadSubject", 1, 0, 0);
  readEntry("Read Comment", "ReadComment", 0, 1, 0);
  readEntry("Read Both", "ReadBoth", 1, 1, 0);
  readMenu->addSeparator();
  readEntry("Play Sound", "PlaySound", 0, 0, 10);

  m_readButton = new QToolButton(m_toolBar);
  m_readButton->setObjectName(QStringLiteral("ToolRead"));
  m_readButton->setText(QStringLiteral("Read"));
  m_readButton->setToolTip(QStringLiteral("Read This Reminder"));
  m_readIcon = QStyle::SP_MediaPlay;
  m_readButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  m_readButton->setPopupMode(QToolButton::MenuButtonPopup);
  m_readButton->setMenu(readMenu);
  connect(m_readButton, &QToolButton::clicked, this, [this] { readReminderAsSet(); });
  m_toolBar->addWidget(m_readButton);

  auto tool = [this](const char* caption, const char* tip, const char* name, QStyle::StandardPixmap icon,
                     auto handler) {
    QAction* a = m_toolBar->addAction(QString::fromLatin1(caption));
    m_icons.emplace_back(a, icon);
    a->setToolTip(QString::fromLatin1(tip));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  m_toolNew = tool("New", "Add New Reminder", "ToolNew", QStyle::SP_FileIcon, [this] { addReminder(); });
  m_toolProperties = tool("Properties", "Change Properties", "ToolProperties", QStyle::SP_FileDialogDetailedView,
                          [this] { editReminder(); });
  m_toolDelete =
      tool("Delete", "Delete This Reminder", "ToolDelete", QStyle::SP_TrashIcon, [this] { deleteReminder(); });
  m_toolOptions = tool("Options", "Set Reminder Options", "ToolOptions", QStyle::SP_FileDialogContentsView,
                       [this] { runLater(&ViewerCommands::showOptions); });
  m_toolOptions->setEnabled(m_ctx.commands.offers(&ViewerCommands::showOptions));
  paintIcons();
}

void ViewerWindow::paintIcons() {
  const QPalette& colours = palette();
  m_readButton->setIcon(IconForPalette(style(), m_readIcon, colours));
  for (const auto& [action, which] : m_icons) action->setIcon(IconForPalette(style(), which, colours));
}

void ViewerWindow::openTable() {
  closeTable();  // what the whole engine's closing left behind
  if (Problem place = CalendarPlaceProblem(m_ctx.state.AppFolder); !place.ok()) {
    report(place);
    return;
  }
  data::TableHandle table = data::TableHandle::Calendar(m_ctx.engine, m_ctx.state.AppFolder, kCalendarAlias);
  xbase::Status s = table.status();
  if (table) {
    s = table->SetOrder("ALARM");
    if (Problem repaired = TableRepairProblem(*table); !repaired.ok()) report(repaired);
  }
  m_openWhenFree = s.IsBusy();
  if (!s.ok()) {
    report(ProblemOf(s));
    return;
  }
  m_table.emplace(std::move(table));  // held while the window shows; closeEvent gives it back
  m_model->setArea(m_table->area());
}

void ViewerWindow::report(const Problem& problem) {
  if (problem.ok()) return;
  m_reporter.Report(problem);
}

double ViewerWindow::twipsPerPixel() const {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  return TwipsPerPixel(screen ? screen->logicalDotsPerInch() : 96.0);
}

void ViewerWindow::restorePlacement() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const double tpp = twipsPerPixel();
  auto twips = [tpp](int px) { return static_cast<std::int32_t>(std::lround(px * tpp)); };
  auto pixels = [tpp](std::int32_t tw) { return static_cast<int>(std::lround(tw / tpp)); };
  // Room for the list's font: both dates whole and three rows in view.
  const int chrome = menuBar()->sizeHint().height() + m_toolBar->sizeHint().height() + pixels(kBannerHeight);
  const TwipsSize minimum =
      MinimumViewerSize(dateColumnNeed(), twips(m_grid->verticalHeader()->defaultSectionSize()), twips(chrome));
  setMinimumSize(pixels(minimum.width), pixels(minimum.height));
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  // A first start (nothing saved) opens at a comfortable size.
  const QSize start(std::max(minimumWidth(), 640), std::max(minimumHeight(), 420));
  const TwipsRect r = ReadPlacement(m_ctx.settings, kSection, twips(start.width()), twips(start.height()),
                                    twips(avail.width()), twips(avail.height()));
  const TwipsSize size{std::max(r.width, minimum.width), std::max(r.height, minimum.height)};
  resize(pixels(size.width), pixels(size.height));
  move(avail.x() + pixels(r.left), avail.y() + pixels(r.top));
}

void ViewerWindow::savePlacement() {
  const double tpp = twipsPerPixel();
  auto twips = [tpp](int px) { return QString::number(std::lround(px * tpp)); };
  // A maximized or minimized window keeps the last placement it had in the normal state. The
  // frame's top left is kept (a move puts it back there): the inside's would move the window down
  // by its title bar at every reopen.
  const bool normal = !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
  const QRect g = PlacementToSave(frameGeometry(), geometry(), normal ? QRect() : normalGeometry());
  if (!g.isValid()) return;
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QPoint origin = screen ? screen->availableGeometry().topLeft() : QPoint();
  m_ctx.settings.write(kSection, QString::fromLatin1(settings::PlacementTop), twips(g.y() - origin.y()));
  m_ctx.settings.write(kSection, QString::fromLatin1(settings::PlacementLeft), twips(g.x() - origin.x()));
  m_ctx.settings.write(kSection, QString::fromLatin1(settings::PlacementWidth), twips(g.width()));
  m_ctx.settings.write(kSection, QString::fromLatin1(settings::PlacementHeight), twips(g.height()));
}

void ViewerWindow::layOut() {
  const double tpp = twipsPerPixel();
  auto twips = [tpp](int px) { return static_cast<int>(std::lround(px * tpp)); };
  auto pixels = [tpp](int tw) { return static_cast<int>(std::lround(tw / tpp)); };
  const int bannerPx = pixels(kBannerHeight);
  m_banner->setGeometry(0, 0, m_pane->width(), bannerPx);
  const ViewerLayout l =
      LayoutViewer(twips(m_pane->width()), twips(m_pane->height()), kBannerHeight, kBannerHeight, dateColumnNeed());
  m_grid->setGeometry(0, pixels(l.gridTop), pixels(l.width), pixels(l.gridHeight));
  // A repeating reminder's memo area is headed by how it repeats.
  const int header = m_repeatHeader->isVisible() ? m_repeatHeader->sizeHint().height() : 0;
  m_repeatHeader->setGeometry(4, pixels(l.memoTop), pixels(l.width) - 8, header);
  m_memo->setGeometry(0, pixels(l.memoTop) + header, pixels(l.width), std::max(0, pixels(l.memoHeight) - header));
  for (int c = 0; c < 3; ++c) m_grid->setColumnWidth(c, pixels(l.columns[static_cast<size_t>(c)]));
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (isMinimized()) return;
  if (isVisible() && !m_ctx.speaker.visible()) m_ctx.speaker.show();
}

void ViewerWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && m_toolBar) paintIcons();
  if (event->type() == QEvent::WindowStateChange && isMinimized() &&
      HideCharacterWithViewer(m_ctx.settings.read(settings::ShowOnStart), false))
    m_ctx.speaker.hide();
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_grid && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      readReminderAsSet();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes the viewer as it closes a dialog (the list and the memo box leave it to us).
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  // A memo that cannot be stored stays in its box for the user to mend, unless the user chooses to
  // drop it. When the whole program is closing nobody is asked: it has been told already.
  if (!std::exchange(m_dropMemo, false) && !SaveMemo() && !m_ctx.state.events->closing()) {
    event->ignore();
    QPointer<ViewerWindow> self(this);
    m_ctx.prompter.ask(kDropUnsavedMemo, windowTitle(), PromptIcon::Question, [self](bool drop) {
      if (!self || !drop || !self->isVisible()) return;
      self->m_dropMemo = true;
      self->close();
    });
    return;
  }
  m_memoIdle.stop();
  savePlacement();
  m_ctx.settings.write(settings::ShowFuture, ShowFutureText(m_future->isChecked()));
  m_ctx.open = false;
  if (HideCharacterWithViewer(m_ctx.settings.read(settings::ShowOnStart), m_keepCharacter)) m_ctx.speaker.hide();
  m_keepCharacter = false;
  closeTable();
  m_closed = true;
  event->accept();
}

void ViewerWindow::closeTable() {
  m_table.reset();
  m_model->setArea(0);
}

void ViewerWindow::LetGoOfTable() {
  SaveMemo();
  if (!table()) return;
  closeTable();
  m_openWhenFree = true;
}

void ViewerWindow::Refresh() {
  SaveMemo();
  // (Not while the window is being built: it has just tried.)
  if (!table() && m_openWhenFree && isVisible() && !m_closed) openTable();
  const std::uint32_t previous = m_currentRecno;
  const int previousRow = m_model->rowOf(previous);
  report(ProblemOf(m_model->reload(m_showFuture, m_ctx.clock.now())));
  positionOn(RowToHighlight(m_model->rowOf(previous), previousRow < 0 ? 0 : previousRow, m_model->rows()));
}

void ViewerWindow::Highlight(std::uint32_t recno) {
  if (const int row = m_model->rowOf(recno); row >= 0) positionOn(row);
}

void ViewerWindow::positionOn(int row) {
  // A memo that cannot be stored (characters the table lacks, a record locked elsewhere) keeps
  // the highlight on its reminder, so the text stays in the box for the user to mend.
  if (m_memoRecno != m_model->recnoAt(row) && !SaveMemo()) {
    if (const int back = m_model->rowOf(m_memoRecno); back >= 0) row = back;
  }
  m_positioning = true;
  if (row >= 0) {
    m_grid->setCurrentIndex(m_model->index(row, 0));
    m_grid->selectRow(row);
  } else {
    m_grid->clearSelection();
  }
  m_positioning = false;
  m_currentRecno = m_model->recnoAt(row);
  // Text not yet stored for this very reminder is not replaced by the table's.
  if (!(m_memoDirty && m_memoRecno == m_currentRecno)) loadMemo();
  updateCommands();
}

void ViewerWindow::updateCommands() {
  const bool on = RecordCommandsEnabled(m_model->rows());
  for (QAction* a : {m_read, m_properties, m_delete, m_toolProperties, m_toolDelete}) a->setEnabled(on);
  m_snoozeMenu->menuAction()->setEnabled(on);
  m_undoDelete->setEnabled(!m_ctx.deleted.empty() || !m_ctx.takenOccurrences.empty());
  const QString repeat = on ? currentRepeat() : QString();
  m_skipNext->setEnabled(!repeat.isEmpty());
  m_done->setEnabled(!repeat.isEmpty());
  if (m_repeatHeader->text() != QStringLiteral("Repeats ") + repeat || m_repeatHeader->isHidden() != repeat.isEmpty()) {
    m_repeatHeader->setText(QStringLiteral("Repeats ") + repeat);
    m_repeatHeader->setVisible(!repeat.isEmpty());
    layOut();
  }
  m_readButton->setEnabled(on);
  m_memo->setEnabled(on);
}

void ViewerWindow::loadMemo() {
  QString text;
  xbase::WorkArea* wa = table();
  if (wa && m_currentRecno > 0 && wa->Go(m_currentRecno).ok()) text = TableMemo(*wa, "COMMENT");
  m_loadingMemo = true;
  m_memo->setPlainText(text);
  m_loadingMemo = false;
  m_memoRecno = m_currentRecno;
  m_memoDirty = false;
  m_memoIdle.stop();
}

bool ViewerWindow::SaveMemo() {
  m_memoIdle.stop();
  if (!m_memoDirty || m_memoRecno == 0) return true;
  const QString text = m_memo->toPlainText();
  xbase::WorkArea* wa = table();
  if (!wa) {
    // The program ending closes every table before its windows: the table is opened again so
    // the last words typed are stored all the same.
    openTable();
    wa = table();
    if (!wa) return false;
  }
  if (!data::CharactersOutsideTable(*wa, text).isEmpty()) {
    // The table becomes UTF-8 once (unless it is to keep its code page), which needs it alone.
    closeTable();
    const bool keep = NumericReading(m_ctx.settings.read(settings::KeepTableCodePage)) == 1;
    const xbase::Status room = data::MakeRoomForText(m_ctx.engine.env(), m_ctx.state.AppFolder, {text}, {keep});
    openTable();
    wa = table();
    if (!wa) return false;
    if (!room.ok()) {
      report(ProblemOf(room));
      return false;
    }
  }
  if (const QString outside = data::CharactersOutsideTable(*wa, text); !outside.isEmpty()) {
    // Kept in the box (and tried again) rather than stored with question marks.
    report({ProblemKind::CharactersNotSupported, outside});
    return false;
  }
  // Only COMMENT is written: the record is read again under its lock before the memo goes in, so
  // what another program changed meanwhile in the other fields is kept.
  xbase::Status s = wa->Go(m_memoRecno);
  if (s.ok()) s = wa->ReplaceMemo("COMMENT", data::ToTableText(*wa, text));
  if (s.ok()) s = wa->Commit();
  if (s.ok()) s = wa->Unlock(m_memoRecno);
  if (!s.ok()) {
    wa->Discard().IgnoreError();
    wa->Unlock(m_memoRecno).IgnoreError();
    report(ProblemOf(s));
    return false;
  }
  m_reporter.Report({});
  m_memoDirty = false;
  return true;
}

void ViewerWindow::readReminderAsSet() {
  const ProgramOptions& options = m_ctx.alarms.options();
  readReminder(options.readActivity ? 1 : 0, options.readMemos ? 1 : 0, -1);
}

void ViewerWindow::readReminder(int readActivity, int readMemos, int mode) {
  if (m_currentRecno < 1 || !table()) return;
  SaveMemo();
  emit m_ctx.commands.quietCharacter();
  Problem problem;
  m_ctx.alarms.AnnounceReminder(table(), m_currentRecno, readActivity, readMemos, static_cast<AnnounceMode>(mode),
                                &problem);
  if (xbase::WorkArea* wa = table()) wa->Unlock().IgnoreError();
  report(problem);
  // The announcement may have moved the reminder's alarm.
  Refresh();
}

void ViewerWindow::addReminder() {
  SaveMemo();
  QPointer<ViewerWindow> self(this);
  m_ctx.schedule.OpenSchedule(std::nullopt, [self](bool saved) {
    if (self) self->afterSchedule(saved, 0);
  });
}

void ViewerWindow::afterSchedule(bool saved, std::uint32_t edited) {
  if (xbase::WorkArea* wa = table()) wa->Unlock().IgnoreError();
  if (!saved) return;
  if (edited > 0) emit m_ctx.commands.reminderHandled(edited);
  Refresh();
}

void ViewerWindow::editReminder() {
  if (m_currentRecno < 1 || !table()) return;
  xbase::WorkArea* wa = table();
  if (!wa || m_currentRecno > wa->RecCount()) return;
  // The dialog shows the memo as the table holds it: what was typed here goes in first.
  SaveMemo();
  QPointer<ViewerWindow> self(this);
  const std::uint32_t recno = m_currentRecno;
  m_ctx.schedule.OpenSchedule(qint64{recno}, [self, recno](bool saved) {
    if (self) self->afterSchedule(saved, recno);
  });
}

QString ViewerWindow::currentRepeat() const {
  const int row = m_model->rowOf(m_currentRecno);
  return row < 0 ? QString() : m_model->data(m_model->index(row, 0), ReminderListModel::RepeatRole).toString();
}

void ViewerWindow::deleteReminder() {
  if (m_currentRecno < 1 || !table()) return;
  if (currentRepeat().isEmpty()) return deleteWhole();
  SaveMemo();
  // The question holds nothing up: its answer comes back here, for the reminder it was asked about.
  const std::uint32_t recno = m_currentRecno;
  xbase::WorkArea* wa = table();
  const QString id = wa && wa->Go(recno).ok() ? TableText(*wa, "REC_NO") : QString();
  auto* box =
      new QMessageBox(QMessageBox::Question, kProgramTitle,
                      QStringLiteral("Delete only this occurrence, or the whole series?"), QMessageBox::NoButton, this);
  box->setObjectName(QStringLiteral("DeleteRepeatQuestion"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  QAbstractButton* one = box->addButton(QStringLiteral("Only This &Occurrence"), QMessageBox::AcceptRole);
  QAbstractButton* all = box->addButton(QStringLiteral("The Whole &Series"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(qobject_cast<QPushButton*>(one));
  QPointer<ViewerWindow> self(this);
  connect(box, &QMessageBox::finished, this, [self, box, one, all, recno, id] {
    if (!self || self->m_closed || !self->table()) return;
    xbase::WorkArea* area = self->table();
    // Deleted or replaced meanwhile: nothing to do.
    if (!area || !area->Go(recno).ok() || area->Deleted() || TableText(*area, "REC_NO") != id) return;
    if (box->clickedButton() == one) self->deleteOccurrence(recno, id);
    if (box->clickedButton() == all && self->m_currentRecno == recno) self->deleteWhole();
  });
  box->setWindowModality(Qt::WindowModal);
  box->open();
}

void ViewerWindow::deleteOccurrence(std::uint32_t recno, const QString& recordId) {
  const AlarmService::StepOutcome out = m_ctx.alarms.StepOccurrence(table(), recno, OccurrenceStep::DeleteOne);
  if (xbase::WorkArea* area = table()) area->Unlock().IgnoreError();
  report(out.problem);
  if (out.done) {
    m_ctx.takenOccurrences.push_back({recno, recordId, out.before, out.seriesBefore, m_ctx.deleted.size()});
    emit m_ctx.commands.reminderHandled(recno);
  }
  Refresh();
}

void ViewerWindow::stepOccurrence(OccurrenceStep step) {
  if (m_currentRecno < 1 || !table()) return;
  SaveMemo();
  const std::uint32_t recno = m_currentRecno;
  const AlarmService::StepOutcome out = m_ctx.alarms.StepOccurrence(table(), recno, step);
  if (xbase::WorkArea* area = table()) area->Unlock().IgnoreError();
  report(out.problem);
  // Dealt with: the nagging stops, as after a snooze or a deletion.
  if (out.done) emit m_ctx.commands.reminderHandled(recno);
  Refresh();
}

void ViewerWindow::deleteWhole() {
  if (m_currentRecno < 1 || !table()) return;
  SaveMemo();
  // The reminder as it is now, for "&Undo Delete": the deletion blanks its alarm.
  RecordImage image;
  xbase::WorkArea* wa = table();
  const bool imaged = wa && wa->Go(m_currentRecno).ok() && !wa->Deleted() && TakeRecordImage(*wa, &image).ok();
  bool deleted = false;
  const Problem problem = m_ctx.alarms.DeleteReminder(table(), m_currentRecno, &deleted);
  if (xbase::WorkArea* area = table()) area->Unlock().IgnoreError();
  report(problem);
  if (deleted && imaged) m_ctx.deleted.push_back(std::move(image));
  if (deleted) emit m_ctx.commands.reminderHandled(m_currentRecno);
  // The deleted reminder may have been the next alarm.
  if (deleted) report(m_ctx.alarms.FindNextAlarm());
  m_memoRecno = 0;  // its memo box is not saved into a deleted record
  Refresh();
}

void ViewerWindow::undoDelete() {
  // An occurrence deleted after the last whole reminder comes back first.
  if (!m_ctx.takenOccurrences.empty() && m_ctx.takenOccurrences.back().deletedBefore == m_ctx.deleted.size()) {
    SaveMemo();
    const ViewerContext::TakenOccurrence taken = m_ctx.takenOccurrences.back();
    xbase::WorkArea* wa = table();
    std::uint32_t recno = 0;
    for (std::uint32_t n = 1; wa && n <= wa->RecCount() && recno == 0; ++n)
      if (wa->Go(n).ok() && !wa->Deleted() && TableText(*wa, "REC_NO") == taken.recordId) recno = n;
    const Problem problem = recno > 0 ? m_ctx.alarms.RestoreOccurrence(table(), recno, taken.before, taken.series)
                                      : Problem{ProblemKind::NoSuchReminder, {}, {}, taken.recno};
    if (wa) wa->Unlock().IgnoreError();
    m_ctx.takenOccurrences.pop_back();
    report(problem);
    Refresh();
    if (const int row = m_model->rowOf(recno); row >= 0) positionOn(row);
    return;
  }
  if (m_ctx.deleted.empty()) return;
  SaveMemo();
  // Through a work area of its own, as a save goes: the list's order and filter stay as they are.
  const QString alias = QString::fromLatin1(data::kAliasOneTime);
  if (const Problem place = CalendarPlaceProblem(m_ctx.state.AppFolder); !place.ok()) {
    report(place);
    return;
  }
  data::TableHandle table = data::TableHandle::Calendar(m_ctx.engine, m_ctx.state.AppFolder, alias);
  if (!table) {
    report(ProblemOf(table.status()));
    return;
  }
  std::uint32_t recno = 0;
  const Problem problem = RestoreRecordImage(*table, m_ctx.deleted.back(), &recno);
  table.Close().IgnoreError();  // the record is committed or discarded
  if (recno > 0) m_ctx.deleted.pop_back();
  report(problem);
  if (recno == 0) {
    updateCommands();
    return;
  }
  // The reminder's alarm is pending again and may be the next one.
  report(m_ctx.alarms.FindNextAlarm());
  Refresh();
  if (const int row = m_model->rowOf(recno); row >= 0) positionOn(row);
}

void ViewerWindow::snooze(int choice) {
  SaveMemo();
  const std::uint32_t recno = m_currentRecno;
  const AlarmService::SnoozeOutcome out = m_ctx.alarms.Snooze(table(), recno, choice);
  if (xbase::WorkArea* wa = table()) wa->Unlock().IgnoreError();
  // With nothing highlighted the snooze only plays its animations.
  if (recno < 1) return;
  report(out.problem);
  if (out.alarm.isValid()) emit m_ctx.commands.reminderHandled(recno);
  if (out.alarm.isValid() && out.dropFromList && !m_future->isChecked()) m_model->dropRecord(recno);
  Refresh();
}

void ViewerWindow::ApplyShowFuture(bool showFuture) {
  if (m_showFuture == showFuture && m_future->isChecked() == showFuture) return;
  m_showFuture = showFuture;
  m_future->setChecked(showFuture);
  Refresh();
}

void ViewerWindow::toggleFuture(bool checked) {
  ApplyShowFuture(checked);
  m_ctx.settings.write(settings::ShowFuture, ShowFutureText(m_future->isChecked()));
}

void ViewerWindow::openHelp() {
  const QString path = m_ctx.state.AppFolder + QStringLiteral("/helpfile/notify.htm");
  if (m_ctx.commands.offers(&ViewerCommands::openDocument))
    emit m_ctx.commands.openDocument(path);
  else
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ViewerWindow::runLater(void (ViewerCommands::*command)()) {
  // After the menu has closed: the command may close this window.
  QTimer::singleShot(0, &m_ctx.commands, command);
}

void ViewerWindow::optimize() {
  if (!m_ctx.commands.offers(&ViewerCommands::optimize)) return;
  SaveMemo();
  m_ctx.state.events->EndSpeechWaits();
  emit m_ctx.commands.quietCharacter();
  runLater(&ViewerCommands::optimize);
}

void ViewerWindow::about() {
  if (!m_ctx.commands.offers(&ViewerCommands::about)) return;
  m_ctx.timer.SetTimerEnabled(false);
  emit m_ctx.commands.about();
  m_ctx.timer.SetTimerEnabled(true);
}

void ViewerWindow::chooseCalendarFile(bool exporting) {
  auto* dialog =
      new QFileDialog(this, exporting ? QStringLiteral("Export Calendar") : QStringLiteral("Import Calendar"),
                      QDir::homePath(), QStringLiteral("iCalendar files (*.ics);;All files (*)"));
  dialog->setObjectName(QStringLiteral("calendarFileDialog"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(exporting ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(exporting ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (exporting) dialog->setDefaultSuffix(QStringLiteral("ics"));
  connect(dialog, &QFileDialog::fileSelected, this, [this, exporting](const QString& path) {
    if (exporting)
      exportCalendar(path);
    else
      ImportCalendar(path);
  });
  dialog->open();  // window-modal; the answer comes through fileSelected
}

void ViewerWindow::ImportCalendar(const QString& path) {
  SaveMemo();
  if (m_import && m_import->running()) {
    m_ctx.prompter.notice(
        QStringLiteral("A calendar is being imported already. Wait for it to end, or cancel it, and try again."),
        QStringLiteral("Import Calendar"), PromptIcon::Information);
    return;
  }
  if (!m_importer)
    m_importer = std::make_unique<CalendarImporter>(
        ReminderStore{m_ctx.state, m_ctx.clock, m_ctx.engine, m_ctx.speaker, m_ctx.alarms, m_noViewer});
  if (!m_importProgress) {
    m_importProgress = new QProgressBar(this);
    m_importProgress->setObjectName(QStringLiteral("importProgress"));
    m_importProgress->setAccessibleName(QStringLiteral("Import progress"));
    m_importCancel = new QPushButton(QStringLiteral("&Cancel Import"), this);
    m_importCancel->setObjectName(QStringLiteral("importCancel"));
    statusBar()->addPermanentWidget(m_importProgress, 1);
    statusBar()->addPermanentWidget(m_importCancel);
  }
  auto* run = new CalendarImportRun(*m_importer, path, m_ctx.clock.now(), ImportOptions{}, this);
  m_import = run;
  connect(run, &CalendarImportRun::progress, this, &ViewerWindow::importProgress);
  connect(run, &CalendarImportRun::finished, this,
          [this, path](const ImportReport& r, bool cancelled) { importFinished(path, r, cancelled); });
  connect(m_importCancel, &QPushButton::clicked, run, &CalendarImportRun::Cancel, Qt::UniqueConnection);
  m_importCancel->setEnabled(true);
  statusBar()->show();
  run->Start();
}

void ViewerWindow::importProgress(int done, int total) {
  m_importProgress->setRange(0, total);  // 0 to 0: busy, while the file is being read
  m_importProgress->setValue(done);
  statusBar()->showMessage(total == 0 ? QStringLiteral("Reading the calendar file...")
                                      : QStringLiteral("Importing %1 of %2 events...").arg(done).arg(total));
}

void ViewerWindow::importFinished(const QString& path, const ImportReport& r, bool cancelled) {
  disconnect(m_importCancel, &QPushButton::clicked, nullptr, nullptr);
  statusBar()->clearMessage();
  statusBar()->hide();
  Refresh();
  const QString title = QStringLiteral("Import Calendar");
  if (!r.error.isEmpty()) {
    m_ctx.prompter.notice(r.error + QStringLiteral("; nothing was changed."), title, PromptIcon::Warning);
    return;
  }
  QString text = QFileInfo(path).fileName() + QStringLiteral(": ") + ImportSummary(r) + u'.';
  if (cancelled)
    text += QStringLiteral(
        "\nCancelled: the reminders counted above were saved, the rest of the file was not "
        "read in.");
  for (const QString& line : r.skipped) text += QStringLiteral("\nSkipped ") + line;
  if (!r.problem.ok()) text += u'\n' + Describe(r.problem).text;
  m_ctx.prompter.notice(
      text, title, r.skipped.isEmpty() && r.problem.ok() && !cancelled ? PromptIcon::Information : PromptIcon::Warning);
}

void ViewerWindow::exportCalendar(const QString& path) {
  SaveMemo();
  const QString title = QStringLiteral("Export Calendar");
  // A work area of its own: the list's order and position stay as they are.
  const QString alias = QStringLiteral("CALEXPORT");
  ExportResult r;
  if (data::TableHandle table = data::TableHandle::Calendar(m_ctx.engine, m_ctx.state.AppFolder, alias))
    r = ExportCalendar(*table, m_showFuture, m_ctx.clock.now());
  else
    r.problem = ProblemOf(table.status());
  QString failure = r.problem.ok() ? r.error : Describe(r.problem).text;
  if (failure.isEmpty()) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(r.text) != r.text.size() || !file.commit())
      failure = QStringLiteral("%1 cannot be written (%2).").arg(path, file.errorString());
  }
  if (!failure.isEmpty()) {
    m_ctx.prompter.notice(failure, title, PromptIcon::Warning);
    return;
  }
  m_ctx.prompter.notice(QStringLiteral("%1 reminder%2 written to %3.")
                            .arg(r.count)
                            .arg(r.count == 1 ? "" : "s")
                            .arg(QFileInfo(path).fileName()),
                        title, PromptIcon::Information);
}

}  // namespace chimewise::viewer
