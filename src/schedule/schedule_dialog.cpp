#include "schedule/schedule_dialog.h"

#include "core/clock.h"
#include "schedule/schedule_rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace chimewise {

namespace {

// Tab leaves a picker for the next control, as it leaves every other one; the arrow keys move
// between the picker's day, month and year (or hour, minute and am/pm).
class DatePicker final : public QDateEdit {
 public:
  using QDateEdit::QDateEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

class TimePicker final : public QTimeEdit {
 public:
  using QTimeEdit::QTimeEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

QLabel* captionFor(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

ScheduleDialog::ScheduleDialog(const Clock& clock, const QString& timeFormat, QWidget* parent)
    : QDialog(parent), m_clock(clock) {
  setWindowTitle(QStringLiteral("Schedule Activity"));
  setObjectName(QStringLiteral("Schedule"));

  // The time pickers speak the program's English "am"/"pm" whatever the desktop's language, as
  // the reminder texts do.
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const QString timePattern = PickerTimeFormat(timeFormat);
  const auto makeDate = [&] {
    auto* e = new DatePicker;
    e->setCalendarPopup(true);
    e->setDisplayFormat(PickerDateFormat());
    e->installEventFilter(this);
    return e;
  };
  const auto makeTime = [&] {
    auto* e = new TimePicker;
    e->setLocale(english);
    e->setDisplayFormat(timePattern);
    e->installEventFilter(this);
    return e;
  };

  remindDate = makeDate();
  remindTime = makeTime();
  sayDate = new QCheckBox(QStringLiteral("Sa&y date"));
  sayTime = new QCheckBox(QStringLiteral("Say ti&me"));
  activityDate = makeDate();
  activityTime = makeTime();
  type = new QComboBox;
  type->setEditable(true);
  type->setInsertPolicy(QComboBox::NoInsert);
  type->addItems(EventTypes());
  type->setCurrentIndex(kInitialEventType);
  activity = new QLineEdit;
  memo = new QPlainTextEdit;
  memo->setTabChangesFocus(true);
  memo->installEventFilter(this);
  audio = new QComboBox;
  audio->addItems(SoundNames());
  audio->setCurrentIndex(0);
  soundButton = new QToolButton;
  soundButton->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));
  soundButton->setToolTip(QStringLiteral("Play the sound"));
  soundButton->setAccessibleName(QStringLiteral("Play the sound"));
  countdown = new QCheckBox(QStringLiteral("&Countdown"));
  countdownList = new QComboBox;
  countdownList->addItems(CountdownSteps());
  countdownList->setCurrentIndex(-1);
  countdownList->setEnabled(false);
  helpButton = new QPushButton(QStringLiteral("&Help"));
  okButton = new QPushButton(QStringLiteral("OK"));
  cancelButton = new QPushButton(QStringLiteral("Cancel"));
  okButton->setDefault(true);

  auto* remindBox = new QGroupBox(QStringLiteral("Please schedule this reminder"));
  auto* remindGrid = new QGridLayout(remindBox);
  remindGrid->addWidget(captionFor(QStringLiteral("&On:"), remindDate), 0, 0);
  remindGrid->addWidget(remindDate, 0, 1);
  remindGrid->addWidget(captionFor(QStringLiteral("&At:"), remindTime), 0, 2);
  remindGrid->addWidget(remindTime, 0, 3);
  remindGrid->addWidget(sayDate, 1, 1);
  remindGrid->addWidget(sayTime, 1, 3);
  remindGrid->setColumnStretch(1, 1);

  auto* activityBox = new QGroupBox(QStringLiteral("The actual activity occurs"));
  auto* activityGrid = new QGridLayout(activityBox);
  activityGrid->addWidget(captionFor(QStringLiteral("O&n:"), activityDate), 0, 0);
  activityGrid->addWidget(activityDate, 0, 1);
  activityGrid->addWidget(captionFor(QStringLiteral("A&t:"), activityTime), 0, 2);
  activityGrid->addWidget(activityTime, 0, 3);
  activityGrid->addWidget(captionFor(QStringLiteral("Ty&pe:"), type), 1, 0);
  activityGrid->addWidget(type, 1, 1, 1, 3);
  activityGrid->setColumnStretch(1, 1);

  auto* frames = new QHBoxLayout;
  frames->addWidget(remindBox);
  frames->addWidget(activityBox);

  auto* soundRow = new QHBoxLayout;
  soundRow->addWidget(captionFor(QStringLiteral("So&und"), audio));
  soundRow->addWidget(audio);
  soundRow->addWidget(soundButton);
  soundRow->addSpacing(24);
  soundRow->addWidget(countdown);
  soundRow->addWidget(countdownList);
  soundRow->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(helpButton);
  buttons->addStretch(1);
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);

  auto* main = new QVBoxLayout(this);
  main->addLayout(frames);
  main->addWidget(captionFor(QStringLiteral("Acti&vity"), activity));
  main->addWidget(activity);
  main->addWidget(captionFor(QStringLiteral("M&emo:"), memo));
  main->addWidget(memo, 1);
  main->addLayout(soundRow);
  main->addLayout(buttons);

  // Tab order: down the reminder frame, down the activity frame, then the rows below.
  QWidget* order[] = {remindDate,    remindTime, sayDate,  sayTime,     activityDate, activityTime,
                      type,          activity,   memo,     audio,       soundButton,  countdown,
                      countdownList, helpButton, okButton, cancelButton};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  soundButton->setFocusPolicy(Qt::StrongFocus);

  const QDateTime now = m_clock.now();
  for (QDateEdit* d : {remindDate, activityDate}) d->setDate(now.date());
  for (QTimeEdit* t : {remindTime, activityTime}) t->setTime(now.time());

  connect(remindDate, &QDateEdit::dateChanged, this, [this] { onRemindDateChanged(); });
  connect(remindTime, &QTimeEdit::timeChanged, this, [this] { onRemindTimeChanged(); });
  connect(countdown, &QCheckBox::toggled, this, [this](bool on) { onCountdownToggled(on); });
  connect(soundButton, &QToolButton::clicked, this, [this] { emit soundClicked(audio->currentIndex()); });
  connect(helpButton, &QPushButton::clicked, this, &ScheduleDialog::helpClicked);
  connect(okButton, &QPushButton::clicked, this, &ScheduleDialog::okClicked);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

EventInput ScheduleDialog::entry() const {
  EventInput in;
  in.event = type->currentText();
  in.activityDate = activityDate->date();
  in.activityTime = activityTime->time();
  in.activity = activity->text();
  in.memo = memo->toPlainText();
  in.sound = audio->currentIndex();
  in.remindDate = remindDate->date();
  in.remindTime = remindTime->time();
  in.sayDate = sayDate->isChecked() ? 1 : 0;
  in.sayTime = sayTime->isChecked() ? 1 : 0;
  in.countdown = CountdownMinutes(countdownList->currentText());
  in.countdownOn = countdown->isChecked();
  return in;
}

void ScheduleDialog::fill(const EventInput& values) {
  // In the order the reminder's own values come first, so the activity's values, set after them,
  // are what stays whatever the reminder dragged along.
  if (values.remindDate.isValid()) remindDate->setDate(values.remindDate);
  if (values.remindTime.isValid()) remindTime->setTime(values.remindTime);
  if (values.activityDate.isValid()) activityDate->setDate(values.activityDate);
  if (values.activityTime.isValid()) activityTime->setTime(values.activityTime);
  activity->setText(values.activity);
  memo->setPlainText(values.memo);
  type->setEditText(values.event);
  audio->setCurrentIndex(values.sound >= 0 && values.sound < audio->count() ? values.sound : 0);
  sayDate->setChecked(values.sayDate != 0);
  sayTime->setChecked(values.sayTime != 0);
  const int position = CountdownPosition(values.countdown);
  if (position >= 0) {
    countdownList->setCurrentIndex(position);
    countdown->setChecked(true);
  }
}

void ScheduleDialog::focusField(SaveField field) {
  QWidget* target = nullptr;
  switch (field) {
    case SaveField::ActivityDate: target = activityDate; break;
    case SaveField::ActivityTime: target = activityTime; break;
    case SaveField::RemindDate: target = remindDate; break;
    case SaveField::RemindTime: target = remindTime; break;
    case SaveField::Activity: target = activity; break;
    case SaveField::Event: target = type; break;
    case SaveField::Memo: target = memo; break;
    case SaveField::None: break;
  }
  if (target) target->setFocus(Qt::OtherFocusReason);
}

bool ScheduleDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == memo && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
    // While the memo has the focus Enter makes a new line there, never a save.
    okButton->setDefault(event->type() == QEvent::FocusOut);
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) == 0;
    if (plain && (key->text() == QStringLiteral("T") || key->text() == QStringLiteral("t"))) {
      const QDateTime now = m_clock.now();
      if (auto* d = qobject_cast<QDateEdit*>(watched)) {
        d->setDate(now.date());
        return true;
      }
      if (auto* t = qobject_cast<QTimeEdit*>(watched)) {
        t->setTime(now.time());
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ScheduleDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) emit activated();
}

void ScheduleDialog::onRemindDateChanged() {
  if (const auto d = DraggedActivityDate(remindDate->date(), activityDate->date())) activityDate->setDate(*d);
}

void ScheduleDialog::onRemindTimeChanged() {
  if (const auto t =
          DraggedActivityTime(remindDate->date(), remindTime->time(), activityDate->date(), activityTime->time()))
    activityTime->setTime(*t);
}

void ScheduleDialog::onCountdownToggled(bool checked) {
  const CountdownList list = CountdownAfterToggle(checked, countdownList->currentIndex());
  countdownList->setCurrentIndex(list.position);
  countdownList->setEnabled(list.enabled);
}

}  // namespace chimewise
