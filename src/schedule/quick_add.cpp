#include "schedule/quick_add.h"

#include "alarms/alarm_service.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/prompts.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "schedule/schedule_rules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace chimewise {

QuickAddWindow::QuickAddWindow(const Clock& clock, const QString& timeFormat, QWidget* parent)
    : QDialog(parent), m_clock(clock), m_timeFormat(timeFormat) {
  setWindowTitle(QStringLiteral("Quick Add"));
  setObjectName(QStringLiteral("QuickAdd"));
  line = new QLineEdit;
  line->setPlaceholderText(QStringLiteral("Call mom tomorrow at 9"));
  line->setAccessibleName(QStringLiteral("What and when"));
  line->setMinimumWidth(fontMetrics().averageCharWidth() * 64);
  auto* caption = new QLabel(QStringLiteral("&Remind me of:"));
  caption->setBuddy(line);
  shown = new QLabel;
  shown->setAccessibleName(QStringLiteral("Read as"));
  shown->setTextFormat(Qt::PlainText);
  shown->setWordWrap(true);
  addButton = new QPushButton(QStringLiteral("&Add"));
  moreButton = new QPushButton(QStringLiteral("&More..."));
  auto* closeButton = new QPushButton(QStringLiteral("Close"));
  addButton->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(moreButton);
  buttons->addStretch(1);
  buttons->addWidget(addButton);
  buttons->addWidget(closeButton);
  auto* main = new QVBoxLayout(this);
  main->addWidget(caption);
  main->addWidget(line);
  main->addWidget(shown);
  main->addLayout(buttons);

  connect(line, &QLineEdit::textChanged, this, [this] { showReading(); });
  connect(addButton, &QPushButton::clicked, this, &QuickAddWindow::addClicked);
  connect(moreButton, &QPushButton::clicked, this, &QuickAddWindow::moreClicked);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
  showReading();
}

LineReading QuickAddWindow::reading() const { return ReadMomentLine(line->text(), m_clock.now(), QLocale::system()); }

QString QuickAddWindow::ReadingText(const LineReading& r, const QString& timeFormat) {
  if (!r.moment.ok()) return r.moment.refusal;
  if (r.activity.isEmpty())
    return QStringLiteral("%1: and what to remind you of?").arg(ShortMomentText(r.moment.moment, timeFormat));
  QString text = r.activity + QStringLiteral(" \u2014 ") + ShortMomentText(r.moment.moment, timeFormat);
  if (!r.moment.repeatText.isEmpty()) text += QStringLiteral(", repeats ") + r.moment.repeatText;
  return text;
}

void QuickAddWindow::showReading() {
  const QString text = line->text().trimmed().isEmpty()
                           ? QStringLiteral("Type what and when, as in \"Call mom tomorrow at 9\".")
                           : ReadingText(reading(), m_timeFormat);
  shown->setText(text);
  // A screen reader hears the reading with the line.
  line->setAccessibleDescription(text);
}

QString QuickAddConfirmation(const QString& activity, const QDateTime& moment, const QDateTime& now,
                             const QString& repeatText) {
  QString what = activity.trimmed();
  // "Call mom" said inside a sentence: "to call mom" (a word in capitals, "NASA", stays).
  if (what.size() > 1 && what[0].isUpper() && !what[1].isUpper()) what[0] = what[0].toLower();
  QString line = QStringLiteral("I'll remind you %1 to %2").arg(SpokenMoment(moment, now), what);
  if (!repeatText.isEmpty()) line += QStringLiteral(", and then %1").arg(repeatText);
  return line + u'.';
}

EventInput QuickAddEntry(const LineReading& r) {
  EventInput in;
  in.event = EventTypes().at(kInitialEventType);
  in.activity = r.activity;
  in.activityDate = r.moment.date;
  in.activityTime = r.moment.time;
  in.remindDate = r.moment.date;
  in.remindTime = r.moment.time;
  in.repeat = r.moment.repeat;
  return in;
}

QuickAdd::QuickAdd(Clock& clock, EventSaver& saver, AlarmService& alarms, SpeakerPort& speaker, ViewerPort& viewer,
                   Prompter& prompter, std::function<void(const EventInput&)> more)
    : m_clock(clock),
      m_saver(saver),
      m_alarms(alarms),
      m_speaker(speaker),
      m_viewer(viewer),
      m_prompter(prompter),
      m_more(std::move(more)) {}

QuickAdd::~QuickAdd() { delete m_window.data(); }

void QuickAdd::Open() {
  if (!m_window) {
    auto* window = new QuickAddWindow(m_clock, m_alarms.options().timeFormat);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QuickAddWindow::addClicked, window, [this, window] { add(*window); });
    QObject::connect(window, &QuickAddWindow::moreClicked, window, [this, window] {
      const LineReading r = window->reading();
      EventInput in = QuickAddEntry(r);
      if (!r.moment.ok()) in.activity = window->line->text().trimmed();  // the words, for the dialog to finish
      window->close();
      if (m_more) m_more(in);
    });
    m_window = window;
  }
  m_window->show();
  m_window->raise();
  m_window->activateWindow();
  m_window->line->setFocus(Qt::OtherFocusReason);
}

void QuickAdd::add(QuickAddWindow& window) {
  const LineReading r = window.reading();
  // What cannot be read stays in the line, with the reason under it; nothing is saved.
  if (!r.moment.ok() || r.activity.isEmpty()) {
    window.shown->setText(QuickAddWindow::ReadingText(r, m_alarms.options().timeFormat));
    window.line->setFocus(Qt::OtherFocusReason);
    return;
  }
  const EventInput in = QuickAddEntry(r);
  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }
  // The save may need the table alone (to convert it for text its code page lacks).
  if (m_viewer.ViewerOpen()) m_viewer.LetGoOfTable();
  const SaveResult saved = m_saver.SaveEvent(in);
  if (m_viewer.ViewerOpen()) m_viewer.RefreshViewer();
  if (!saved.saved) {
    const Wording w = Describe(saved.problem);
    window.shown->setText(w.text);
    if (!w.text.isEmpty()) m_prompter.notice(w.text, w.title, w.icon);
    return;  // the window stays with the line as typed
  }
  ProblemReporter reporter(m_prompter);
  if (!saved.problem.ok()) reporter.Report(saved.problem);
  reporter.Report(m_alarms.FindNextAlarm());
  if (saved.activityTimeSkipped)
    m_prompter.notice(
        QStringLiteral("%1 does not exist on %2, when the clocks go forward. It was saved, and it means %3.")
            .arg(FormatTime(in.activityTime, m_alarms.options().timeFormat), FormatShortDate(in.activityDate),
                 FormatTime(AlarmMoment(in.activityDate, MinuteOfDay(in.activityTime)).time(),
                            m_alarms.options().timeFormat)),
        QString(), PromptIcon::Information);
  m_speaker.SayText(QuickAddConfirmation(r.activity, r.moment.moment, m_clock.now(), r.moment.repeatText));
  window.close();
}

}  // namespace chimewise
