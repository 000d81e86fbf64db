#include "update/update_window.h"

#include "character/character_host.h"

#include <agent/character.h>

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace chimewise::update {

UpdateWindow::UpdateWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Pelor Update Utility"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  auto* layout = new QVBoxLayout(this);
  auto* steps = new QGridLayout;
  steps->setColumnMinimumWidth(0, 24);
  const char* captions[3] = {"Connecting to Pelor Server", "Retrieving available update information",
                             "Downloading update file"};
  for (int i = 0; i < 3; ++i) {
    m_steps[i] = new QLabel(QString::fromLatin1(captions[i]), this);
    steps->addWidget(m_steps[i], i, 1);
  }
  layout->addLayout(steps);

  // The marker is placed by hand, level with the current step's caption.
  m_marker = new QFrame(this);
  m_marker->setObjectName(QStringLiteral("marker"));
  m_marker->setFixedSize(12, 12);
  m_marker->setStyleSheet(QStringLiteral("#marker { background: #2a6fdb; border-radius: 6px; }"));

  m_progress = new QLabel(this);
  m_progress->setMinimumHeight(m_progress->fontMetrics().height());
  layout->addWidget(m_progress);

  m_list = new QListWidget(this);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(m_list, 1);

  m_abort = new QPushButton(QStringLiteral("Abort"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_abort);
  layout->addLayout(buttons);
  connect(m_abort, &QPushButton::clicked, this, &UpdateWindow::abortRequested);

  resize(420, 300);
}

void UpdateWindow::open() {
  m_list->clear();
  m_progress->clear();
  setStep(0);
  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect s = screen->availableGeometry();
    move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
  }
  show();
}

void UpdateWindow::close() {
  m_closingByCheck = true;
  QWidget::close();
  m_closingByCheck = false;
}

void UpdateWindow::bringToFront() {
  raise();
  activateWindow();
}

QRect UpdateWindow::frame() const { return frameGeometry(); }

void UpdateWindow::setStep(int step) {
  m_step = qBound(0, step, 2);
  placeMarker();
}

void UpdateWindow::placeMarker() {
  if (auto* l = layout()) l->activate();
  const QLabel* caption = m_steps[m_step];
  m_marker->move(caption->x() - m_marker->width() - 8, caption->y() + (caption->height() - m_marker->height()) / 2);
  m_marker->raise();
}

void UpdateWindow::addRow(const QString& text) { m_list->addItem(text); }

void UpdateWindow::selectRow(int row) {
  if (row >= 0 && row < m_list->count()) m_list->setCurrentRow(row);
}

void UpdateWindow::setProgressText(const QString& text) { m_progress->setText(text); }

QString UpdateWindow::progressText() const { return m_progress->text(); }

void UpdateWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  placeMarker();
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
  // Closing the window by hand is the same as Abort.
  if (!m_closingByCheck) emit abortRequested();
  event->accept();
}

namespace {

// The program's character; it is moved only while one is loaded.
class HostPresenter final : public Presenter {
 public:
  explicit HostPresenter(CharacterHost& host) : m_host(host) {}
  void stop() override { m_host.StopAll(); }
  void show() override { m_host.show(); }
  void standOn(const QRect& frame) override {
    if (agent::Character* c = m_host.character()) c->moveTo(frame.left(), frame.top() - c->height());
  }
  void say(const QString& text) override { m_host.SayText(text); }

 private:
  CharacterHost& m_host;
};

}  // namespace

UpdateCommand::UpdateCommand(SettingsStore& settings, Prompter& prompter, CharacterHost& character,
                             ProgramEvents* events, UpdateOptions options)
    : m_window(std::make_unique<UpdateWindow>()),
      m_siblings(SystemSiblingWindows()),
      m_character(std::make_unique<HostPresenter>(character)),
      m_check(std::make_unique<UpdateCheck>(settings, prompter, *m_window, *m_siblings, *m_character, events,
                                            std::move(options))) {
  QObject::connect(m_window.get(), &UpdateWindow::abortRequested, m_check.get(), &UpdateCheck::Abort);
}

UpdateCommand::~UpdateCommand() = default;

}  // namespace chimewise::update
