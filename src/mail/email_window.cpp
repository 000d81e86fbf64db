#include "mail/email_window.h"

#include "character/gesture_tags.h"
#include "core/ports.h"
#include "core/speaker_port.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <agent/speech_markup.h>

namespace chimewise {

QString ShownText(const QString& speech) {
  QString out;
  for (const SpeechStep& step : SplitGestureTags(speech))
    if (step.kind == SpeechStep::Speak) out += agent::translateMarkup(step.text, agent::Voice{}).shown;
  return out;
}

QPoint EmailWindowPosition(const QRect& character, const QSize& window, const QRect& screen) {
  int x = character.left();
  int y = character.top();
  if (x + character.width() + window.width() < screen.right() + 1)
    x += character.width();
  else
    x -= window.width();
  if (y + window.height() > screen.bottom() + 1) y = screen.bottom() + 1 - window.height();
  // Never off the screen's left or top edge.
  return {std::max(x, screen.left()), std::max(y, screen.top())};
}

EmailWindow::EmailWindow(SpeakerPort& speaker, MailReader& reader, QWidget* parent)
    : QWidget(parent, Qt::Window), m_speaker(speaker), m_reader(reader) {
  setWindowTitle(QStringLiteral("Unread Email"));
  setObjectName(QStringLiteral("frmEmail"));
  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("List1"));
  auto* label = new QLabel(QStringLiteral("Click on a message to hear its contents"), this);
  label->setObjectName(QStringLiteral("Label1"));
  m_options = new QPushButton(QStringLiteral("Options"), this);
  m_options->setObjectName(QStringLiteral("cmdOptions"));
  // The character reads a long message only in part; here it can be read whole.
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("txtMessage"));
  m_text->setReadOnly(true);
  m_close = new QPushButton(QStringLiteral("Close"), this);
  m_close->setObjectName(QStringLiteral("cmdClose"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_options);
  buttons->addStretch();
  buttons->addWidget(m_close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list, 1);
  layout->addWidget(label);
  layout->addWidget(m_text, 1);
  layout->addLayout(buttons);
  resize(340, 380);

  connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { ReadRow(m_list->row(item)); });
  connect(m_options, &QPushButton::clicked, this, &EmailWindow::onOptions);
  connect(m_close, &QPushButton::clicked, this, &QWidget::close);
}

void EmailWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes it as it closes a dialog (the list and the text leave the key to the window).
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void EmailWindow::Load() {
  if (m_loaded) return;
  m_loaded = true;
  m_wasVisible = m_speaker.visible();
  if (!m_wasVisible) m_speaker.hide();
}

void EmailWindow::AddRow(const MailRow& row) {
  m_rows.push_back(row);
  m_list->addItem(row.text);
}

void EmailWindow::PlaceAndShow() {
  const QRect character = m_speaker.screenGeometry();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (character.isValid() && screen) {
    const QRect area = screen->geometry();
    move(EmailWindowPosition(character, frameGeometry().size(), area));
  }
  m_options->setEnabled(isSignalConnected(QMetaMethod::fromSignal(&EmailWindow::showOptions)));
  show();
  raise();
}

void EmailWindow::ReadRow(int row) {
  if (!isVisible() || row < 0 || row >= rowCount()) return;
  MailRow& r = m_rows[static_cast<size_t>(row)];
  m_reader.ReadMyMail(r);
  r.markWhenOpened = false;  // marked once is enough
  const std::optional<QStringList> lines = m_reader.files().Read(r.fileIndex);
  QStringList shown;
  if (lines)
    for (const QString& line : *lines) shown << ShownText(line);
  m_text->setPlainText(!r.fileProblem.isEmpty() ? r.fileProblem : shown.join(u'\n'));
}

void EmailWindow::onOptions() {
  m_reader.Hush();
  emit showOptions();
  m_speaker.SayText(QStringLiteral("\\pl=Blink\\Changes will not take effect until the next time you get email."));
}

void EmailWindow::closeEvent(QCloseEvent* event) {
  m_reader.ListClosed(m_rows);
  m_rows.clear();
  m_list->clear();
  m_text->clear();
  if (m_speaker.visible() && !m_reader.viewer().ViewerOpen() && !m_wasVisible) m_speaker.hide();
  m_loaded = false;
  event->accept();
}

EmailWindows::EmailWindows(SpeakerPort& speaker, MailReader& reader) : m_speaker(speaker), m_reader(reader) {
  m_reader.setList(this);
}

EmailWindows::~EmailWindows() {
  if (m_reader.list() == this) m_reader.setList(nullptr);
  if (m_window) {
    m_window->close();
    delete m_window;
  }
}

EmailWindow* EmailWindows::list() {
  if (!m_window) {
    m_window = new EmailWindow(m_speaker, m_reader);
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    if (isSignalConnected(QMetaMethod::fromSignal(&EmailWindows::showOptions)))
      connect(m_window, &EmailWindow::showOptions, this, &EmailWindows::showOptions);
  }
  return m_window;
}

}  // namespace chimewise
