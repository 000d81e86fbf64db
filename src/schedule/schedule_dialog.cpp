#include "schedule/schedule_dialog.h"

#include "core/clock.h"
#include "core/repeat_rule.h"
#include "core/time_format.h"
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
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace chimewise {

namespace {

// Tab leaves a picker for the next control, as it leaves every other one; the arrow keys move
// between the picker's day, month and year (or hour, minute and am/pm).
//
// Digits typed into a date picker overwrite the digit at the cursor ("/" goes on to the next
// part), and the text stays as typed: a text that names no day ("02/31/2026") is kept for the user
// to correct, rather than turned into another date by the picker's own section rules, and OK
// refuses it (see TypedPickerDate).
class DatePicker final : public QDateEdit {
 public:
  using QDateEdit::QDateEdit;
  QString typed() const { return lineEdit()->text(); }
  // Shows the picker's date again in place of a text that names no day.
  void showDate() { showTyped(textFromDateTime(dateTime()), 0); }

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }

  QValidator::State validate(QString& input, int& pos) const override {
    if (NamesNoDay(input)) return QValidator::Intermediate;
    return QDateEdit::validate(input, pos);
  }
  // The picker's own repair would make such a text the nearest day it can hold (02/28).
  void fixup(QString& input) const override {
    if (!NamesNoDay(input)) QDateEdit::fixup(input);
  }

  void keyPressEvent(QKeyEvent* event) override {
    const QString key = event->text();
    const bool plain = (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) == 0;
    if (plain && key.size() == 1 && (key.at(0).isDigit() || key.at(0) == QLatin1Char('/'))) {
      overwrite(key.at(0));
      return;
    }
    if (NamesNoDay(typed())) {
      // Enter with a text that names no day goes to the dialog as it is (OK then refuses it): the
      // picker would otherwise put its last date back first. For the same reason the cursor keys
      // move the cursor in the text, unknown to the picker.
      if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
      }
      if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End || event->key() == Qt::Key_Left ||
          event->key() == Qt::Key_Right) {
        const QSignalBlocker quiet(lineEdit());
        lineEdit()->event(event);
        return;
      }
    }
    QDateEdit::keyPressEvent(event);
  }

  void focusInEvent(QFocusEvent* event) override {
    if (!NamesNoDay(typed())) {
      QDateEdit::focusInEvent(event);
      return;
    }
    // The picker's own focus handling would read the text as the nearest day it can hold.
    lineEdit()->event(event);
    QWidget::focusInEvent(event);
  }

  void focusOutEvent(QFocusEvent* event) override {
    if (!NamesNoDay(typed())) {
      QDateEdit::focusOutEvent(event);
      return;
    }
    // Leaving keeps the text as typed, and the picker's date as it was.
    lineEdit()->event(event);
    QWidget::focusOutEvent(event);
  }

 private:
  // Shows a text the picker's date does not hold. The picker is not told: it would put its own
  // date back at once.
  void showTyped(const QString& text, qsizetype cursor) {
    const QSignalBlocker quiet(lineEdit());
    lineEdit()->setText(text);
    lineEdit()->setCursorPosition(static_cast<int>(cursor));
  }

  void overwrite(QChar c) {
    QLineEdit* line = lineEdit();
    QString text = line->text();
    qsizetype at = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
    if (c == QLatin1Char('/')) {
      // At the start of a part already (just after a "/"): the "/" is the one typed past.
      if (at > 0 && text.at(at - 1) == QLatin1Char('/')) return;
      const qsizetype slash = text.indexOf(QLatin1Char('/'), at);
      line->setCursorPosition(static_cast<int>(slash < 0 ? text.size() : slash + 1));
      return;
    }
    if (at < text.size() && text.at(at) == QLatin1Char('/')) ++at;
    if (at >= text.size()) return;
    text[at] = c;
    ++at;
    if (at < text.size() && text.at(at) == QLatin1Char('/')) ++at;
    const QDate date = QDate::fromString(text, PickerDateFormat());
    if (date.isValid()) {
      if (date < minimumDate() || date > maximumDate()) return;  // a day the picker cannot show
      setDate(date);
      line->setCursorPosition(static_cast<int>(at));
      return;
    }
    showTyped(text, at);
  }
};

// A time picker steps the way a clock runs: a step past :59 carries into the hour and one past
// the day's last hour into the next day, moving its date picker along (see SteppedTime).
class TimePicker final : public QTimeEdit {
 public:
  using QTimeEdit::QTimeEdit;
  QDateEdit* day = nullptr;  // the date picker this time belongs to

  // Shows what is being typed ("+15", "tomorrow at 9") in place of the time.
  void showTyped(const QString& text) { lineEdit()->setText(text); }
  // Shows the picker's time again.
  void showValue() { lineEdit()->setText(textFromDateTime(dateTime())); }

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }

  QValidator::State validate(QString& input, int& pos) const override {
    if (input.startsWith(QLatin1Char('+')) || (!input.isEmpty() && input.front().isLetter()))
      return QValidator::Intermediate;
    return QTimeEdit::validate(input, pos);
  }

  void stepBy(int steps) override {
    const Section section = currentSection();
    if (section == AmPmSection) {
      // Morning and afternoon of the same day.
      setTime(time().addSecs(12 * 3600));
      setCurrentSection(section);
      return;
    }
    if (!day || (section != MinuteSection && section != HourSection)) {
      QTimeEdit::stepBy(steps);
      return;
    }
    const TimeStep unit = section == MinuteSection ? TimeStep::Minute : TimeStep::Hour;
    const PickerMoment next = SteppedTime(day->date(), time(), unit, steps);
    day->setDate(next.date);
    setTime(next.time);
    setCurrentSection(section);
  }

  StepEnabled stepEnabled() const override {
    if (isReadOnly()) return StepNone;
    return StepUpEnabled | StepDownEnabled;
  }
};

QLabel* captionFor(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

ScheduleDialog::ScheduleDialog(const Clock& clock, const QString& timeFormat, QWidget* parent)
    : QDialog(parent), m_clock(clock), m_timeFormat(timeFormat) {
  setWindowTitle(QStringLiteral("Schedule Activity"));
  setObjectName(QStringLiteral("Schedule"));

  // The time pickers speak the program's English "am"/"pm" whatever the desktop's language, as
  // the reminder texts do.
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const QString timePattern = PickerTimeFormat(timeFormat);
  const auto makeDate = [&]() -> QDateEdit* {
    auto* e = new DatePicker;
    e->setCalendarPopup(true);
    e->setDisplayFormat(PickerDateFormat());
    e->installEventFilter(this);
    return e;
  };
  const auto makeTime = [&](QDateEdit* day) -> QTimeEdit* {
    auto* e = new TimePicker;
    e->day = day;
    e->setLocale(english);
    e->setDisplayFormat(timePattern);
    e->installEventFilter(this);
    return e;
  };

  remindDate = makeDate();
  remindTime = makeTime(remindDate);
  sayDate = new QCheckBox(QStringLiteral("Sa&y date"));
  sayTime = new QCheckBox(QStringLiteral("Say ti&me"));
  activityDate = makeDate();
  activityTime = makeTime(activityDate);
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
  // No caption of its own: the box before it says what it is for.
  countdownList->setAccessibleName(QStringLiteral("Countdown minutes"));
  countdownList->addItems(CountdownSteps());
  countdownList->setCurrentIndex(-1);
  countdownList->setEnabled(false);
  helpButton = new QPushButton(QStringLiteral("&Help"));
  okButton = new QPushButton(QStringLiteral("OK"));
  cancelButton = new QPushButton(QStringLiteral("Cancel"));
  okButton->setDefault(true);

  // The two groups have the same captions: a screen reader hears which group each field is in.
  remindDate->setAccessibleName(QStringLiteral("Remind me on"));
  remindTime->setAccessibleName(QStringLiteral("Remind me at"));
  activityDate->setAccessibleName(QStringLiteral("The activity occurs on"));
  activityTime->setAccessibleName(QStringLiteral("The activity occurs at"));
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

  // Repeat, under the reminder's time: the choice and its end on one row, the days or the custom
  // step below it, then the rule in words.
  repeatChoice = new QComboBox;
  repeatChoice->setAccessibleName(QStringLiteral("Repeat"));
  for (int i = 0; i <= static_cast<int>(RepeatKind::Custom); ++i) repeatChoice->addItem(QString());
  repeatDaysRow = new QWidget;
  auto* daysLayout = new QHBoxLayout(repeatDaysRow);
  daysLayout->setContentsMargins(0, 0, 0, 0);
  for (int d = 1; d <= 7; ++d) {
    auto* box = new QCheckBox(RepeatWeekdayName(d).left(3));
    box->setAccessibleName(QStringLiteral("Repeat on ") + RepeatWeekdayName(d));
    repeatDays << box;
    daysLayout->addWidget(box);
  }
  daysLayout->addStretch(1);
  repeatCustomRow = new QWidget;
  auto* customLayout = new QHBoxLayout(repeatCustomRow);
  customLayout->setContentsMargins(0, 0, 0, 0);
  repeatEvery = new QSpinBox;
  repeatEvery->setRange(1, 999);
  repeatEvery->setAccessibleName(QStringLiteral("Repeat every"));
  repeatUnit = new QComboBox;
  repeatUnit->addItems({QStringLiteral("minutes"), QStringLiteral("hours"), QStringLiteral("days"),
                        QStringLiteral("weeks"), QStringLiteral("months"), QStringLiteral("years")});
  repeatUnit->setCurrentIndex(static_cast<int>(RepeatUnit::Days));
  repeatUnit->setAccessibleName(QStringLiteral("Repeat every: unit"));
  repeatWindow = new QCheckBox(QStringLiteral("Only &between"));
  repeatWindow->setAccessibleName(QStringLiteral("Repeat only between two times of day"));
  repeatFrom = new QComboBox;
  repeatTo = new QComboBox;
  for (int h = 0; h <= 24; ++h) {
    const QString said = FormatTime(QTime(h % 24, 0), timeFormat);
    if (h < 24) repeatFrom->addItem(said, h);
    if (h > 0) repeatTo->addItem(said, h);
  }
  repeatFrom->setCurrentIndex(9);
  repeatTo->setCurrentIndex(16);
  repeatFrom->setAccessibleName(QStringLiteral("Repeat from"));
  repeatTo->setAccessibleName(QStringLiteral("Repeat until"));
  auto* toCaption = new QLabel(QStringLiteral("and"));
  customLayout->addWidget(new QLabel(QStringLiteral("Every")));
  customLayout->addWidget(repeatEvery);
  customLayout->addWidget(repeatUnit);
  customLayout->addSpacing(12);
  customLayout->addWidget(repeatWindow);
  customLayout->addWidget(repeatFrom);
  customLayout->addWidget(toCaption);
  customLayout->addWidget(repeatTo);
  customLayout->addStretch(1);
  repeatEnd = new QComboBox;
  repeatEnd->addItems({QStringLiteral("never"), QStringLiteral("on"), QStringLiteral("after")});
  repeatEnd->setAccessibleName(QStringLiteral("Repeat ends"));
  repeatEndDate = makeDate();
  repeatEndDate->setAccessibleName(QStringLiteral("Repeat ends on"));
  repeatEndCount = new QSpinBox;
  repeatEndCount->setRange(1, 9999);
  repeatEndCount->setValue(10);
  repeatEndCount->setSuffix(QStringLiteral(" times"));
  repeatEndCount->setAccessibleName(QStringLiteral("Repeat ends after this many times"));
  repeatSummary = new QLabel;
  repeatSummary->setAccessibleName(QStringLiteral("Repeats"));
  repeatSummary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  auto* repeatGrid = new QGridLayout;
  repeatGrid->addWidget(captionFor(QStringLiteral("&Repeat:"), repeatChoice), 0, 0);
  repeatGrid->addWidget(repeatChoice, 0, 1);
  auto* endRow = new QHBoxLayout;
  endRow->addWidget(captionFor(QStringLiteral("En&ds:"), repeatEnd));
  endRow->addWidget(repeatEnd);
  endRow->addWidget(repeatEndDate);
  endRow->addWidget(repeatEndCount);
  endRow->addStretch(1);
  repeatGrid->addLayout(endRow, 0, 2);
  repeatGrid->addWidget(repeatDaysRow, 1, 1, 1, 2);
  repeatGrid->addWidget(repeatCustomRow, 2, 1, 1, 2);
  repeatGrid->addWidget(repeatSummary, 3, 1, 1, 2);
  repeatGrid->setColumnStretch(2, 1);

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
  main->addLayout(repeatGrid);
  main->addWidget(captionFor(QStringLiteral("Acti&vity"), activity));
  main->addWidget(activity);
  main->addWidget(captionFor(QStringLiteral("M&emo:"), memo));
  main->addWidget(memo, 1);
  main->addLayout(soundRow);
  main->addLayout(buttons);

  // Tab order: down the reminder frame, down the activity frame, then the rows below.
  // Repeat, below the frames, comes after them.
  std::vector<QWidget*> order{remindDate, remindTime, sayDate, sayTime, activityDate, activityTime, type, repeatChoice};
  order.insert(order.end(), repeatDays.begin(), repeatDays.end());
  order.insert(order.end(),
               {repeatEvery, repeatUnit, repeatWindow, repeatFrom, repeatTo, repeatEnd, repeatEndDate, repeatEndCount,
                activity, memo, audio, soundButton, countdown, countdownList, helpButton, okButton, cancelButton});
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  soundButton->setFocusPolicy(Qt::StrongFocus);

  const QDateTime now = m_clock.now();
  for (QDateEdit* d : {remindDate, activityDate}) d->setDate(now.date());
  for (QTimeEdit* t : {remindTime, activityTime}) t->setTime(now.time());

  repeatEndDate->setDate(now.date().addMonths(1));
  const auto edited = [this] { onRepeatEdited(); };
  connect(repeatChoice, &QComboBox::currentIndexChanged, this, edited);
  for (QCheckBox* box : repeatDays) connect(box, &QCheckBox::toggled, this, edited);
  connect(repeatEvery, &QSpinBox::valueChanged, this, edited);
  connect(repeatUnit, &QComboBox::currentIndexChanged, this, edited);
  connect(repeatWindow, &QCheckBox::toggled, this, edited);
  connect(repeatFrom, &QComboBox::currentIndexChanged, this, edited);
  connect(repeatTo, &QComboBox::currentIndexChanged, this, edited);
  connect(repeatEnd, &QComboBox::currentIndexChanged, this, edited);
  connect(repeatEndDate, &QDateEdit::dateChanged, this, edited);
  connect(repeatEndCount, &QSpinBox::valueChanged, this, edited);
  connect(activityDate, &QDateEdit::dateChanged, this, [this] { refreshRepeat(); });
  connect(activityTime, &QTimeEdit::timeChanged, this, [this] { refreshRepeat(); });
  refreshRepeat();

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
  in.activityDate = TypedPickerDate(activityDate->text(), activityDate->date());
  in.activityTime = activityTime->time();
  in.activity = activity->text();
  in.memo = memo->toPlainText();
  in.sound = audio->currentIndex();
  in.remindDate = TypedPickerDate(remindDate->text(), remindDate->date());
  in.remindTime = remindTime->time();
  in.sayDate = sayDate->isChecked() ? 1 : 0;
  in.sayTime = sayTime->isChecked() ? 1 : 0;
  in.countdown = CountdownMinutes(countdownList->currentText());
  in.countdownOn = countdown->isChecked();
  in.repeat = m_keptRule.isEmpty() ? RepeatRuleOf(repeatValue(), repeatStart()) : m_keptRule;
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
  showRepeatRule(values.repeat.isEmpty() ? RepeatRuleLine(values.series) : values.repeat);
}

QDateTime ScheduleDialog::repeatStart() const { return QDateTime(activityDate->date(), activityTime->time()); }

RepeatChoice ScheduleDialog::repeatValue() const {
  RepeatChoice c;
  c.kind = static_cast<RepeatKind>(std::max(0, repeatChoice->currentIndex()));
  c.lastWeekday = c.kind == RepeatKind::MonthlyWeekday && m_lastWeekday;
  for (int d = 1; d <= 7; ++d)
    if (repeatDays[d - 1]->isChecked()) c.weekdays << d;
  c.every = repeatEvery->value();
  c.unit = static_cast<RepeatUnit>(std::max(0, repeatUnit->currentIndex()));
  c.window = repeatWindow->isChecked();
  c.windowFrom = repeatFrom->currentData().toInt();
  c.windowTo = repeatTo->currentData().toInt();
  c.end = static_cast<RepeatEnd>(std::max(0, repeatEnd->currentIndex()));
  c.endDate = repeatEndDate->date();
  c.endCount = repeatEndCount->value();
  return c;
}

void ScheduleDialog::showRepeatChoice(const RepeatChoice& c) {
  m_showingRepeat = true;
  m_lastWeekday = c.lastWeekday;
  repeatChoice->setCurrentIndex(static_cast<int>(c.kind));
  for (int d = 1; d <= 7; ++d) repeatDays[d - 1]->setChecked(c.weekdays.contains(d));
  repeatEvery->setValue(c.every);
  repeatUnit->setCurrentIndex(static_cast<int>(c.unit));
  repeatWindow->setChecked(c.window);
  repeatFrom->setCurrentIndex(std::clamp(c.windowFrom, 0, 23));
  repeatTo->setCurrentIndex(std::clamp(c.windowTo, 1, 24) - 1);
  repeatEnd->setCurrentIndex(static_cast<int>(c.end));
  if (c.endDate.isValid()) repeatEndDate->setDate(c.endDate);
  repeatEndCount->setValue(c.endCount);
  m_showingRepeat = false;
}

void ScheduleDialog::showRepeatRule(const QString& rule) {
  m_keptRule = rule.trimmed();
  if (m_keptRule.isEmpty()) {
    showRepeatChoice({});
  } else if (const std::optional<RepeatChoice> c = ChoiceOfRule(m_keptRule, repeatStart())) {
    showRepeatChoice(*c);
  } else {
    // Shown as Custom, in its own words; the custom controls keep their defaults until used.
    RepeatChoice shown;
    shown.kind = RepeatKind::Custom;
    showRepeatChoice(shown);
  }
  refreshRepeat();
}

void ScheduleDialog::onRepeatEdited() {
  if (m_showingRepeat) return;
  m_keptRule.clear();
  refreshRepeat();
}

void ScheduleDialog::refreshRepeat() {
  const QDate day = activityDate->date();
  const QString dayWords = RepeatDateWords(day);
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Never), QStringLiteral("Never"));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Daily), QStringLiteral("Every day"));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Weekdays), QStringLiteral("Every weekday"));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Weekly), QStringLiteral("Every week on"));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::MonthlyDay),
                            QStringLiteral("Every month on day %1").arg(day.day()));
  repeatChoice->setItemText(
      static_cast<int>(RepeatKind::MonthlyWeekday),
      QStringLiteral("Every month on the %1 %2")
          .arg(RepeatOrdinalWord(WeekdayOrdinal(day, m_lastWeekday)), RepeatWeekdayName(day.dayOfWeek())));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Yearly),
                            QStringLiteral("Every year on ") + dayWords.left(dayWords.lastIndexOf(u' ')));
  repeatChoice->setItemText(static_cast<int>(RepeatKind::Custom), QStringLiteral("Custom"));

  const RepeatChoice c = repeatValue();
  const bool kept = !m_keptRule.isEmpty() && !ChoiceOfRule(m_keptRule, repeatStart());
  repeatDaysRow->setVisible(c.kind == RepeatKind::Weekly);
  repeatCustomRow->setVisible(c.kind == RepeatKind::Custom && !kept);
  const bool withinDay = c.unit == RepeatUnit::Minutes || c.unit == RepeatUnit::Hours;
  for (QWidget* w : std::initializer_list<QWidget*>{repeatWindow, repeatFrom, repeatTo}) w->setVisible(withinDay);
  repeatFrom->setEnabled(c.window);
  repeatTo->setEnabled(c.window);
  repeatEnd->setEnabled(c.kind != RepeatKind::Never && !kept);
  repeatEndDate->setVisible(c.end == RepeatEnd::OnDate);
  repeatEndCount->setVisible(c.end == RepeatEnd::AfterCount);
  const QString rule = m_keptRule.isEmpty() ? RepeatRuleOf(c, repeatStart()) : m_keptRule;
  QString words = rule.isEmpty() ? QStringLiteral("does not repeat")
                                 : RepeatSummary(rule, RepeatWords{m_timeFormat, repeatStart()});
  words[0] = words[0].toUpper();
  repeatSummary->setText(words);
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
  if (event->type() == QEvent::FocusOut && watched == m_typedPicker) {
    // Leaving the picker takes what was typed.
    takeTyped();
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) == 0;
    // "+" or a letter in a time picker starts a phrase of when ("+15", "tomorrow at 9"; "T" is
    // now at once): what is typed adds to it, Backspace takes a character back, Escape drops it,
    // Enter or leaving the picker takes it (TypedWhen).
    if (auto* t = qobject_cast<QTimeEdit*>(watched); t && plain) {
      if (m_typedPicker == t) {
        if (key->text().size() == 1 && key->text().at(0).isPrint() && m_typed.size() < 60) {
          m_typed += key->text();
          showTyped();
          return true;
        }
        if (key->key() == Qt::Key_Backspace) {
          m_typed.chop(1);
          if (m_typed.isEmpty())
            dropTyped();
          else
            showTyped();
          return true;
        }
        if (key->key() == Qt::Key_Escape) {
          dropTyped();
          return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
          takeTyped();
          return false;  // Enter goes on to the dialog's default button
        }
        // Steps are no part of a phrase; anything else (Tab, a click away) takes it first.
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
            (key->text().size() == 1 && key->text().at(0).isPrint()))
          return true;
        takeTyped();
      } else if (key->text() == QStringLiteral("+") || (key->text().size() == 1 && key->text().at(0).isLetter() &&
                                                        t->currentSection() != QDateTimeEdit::AmPmSection)) {
        if (key->text().compare(QLatin1String("t"), Qt::CaseInsensitive) == 0) t->setTime(m_clock.now().time());
        m_typedPicker = t;
        m_typed = key->text();
        showTyped();
        return true;
      }
    }
    if (plain && (key->text() == QStringLiteral("T") || key->text() == QStringLiteral("t"))) {
      const QDateTime now = m_clock.now();
      if (auto* d = qobject_cast<QDateEdit*>(watched)) {
        d->setDate(now.date());
        if (auto* picker = dynamic_cast<DatePicker*>(d)) picker->showDate();
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ScheduleDialog::showTyped() {
  if (m_typedPicker) static_cast<TimePicker*>(m_typedPicker.data())->showTyped(m_typed);
}

void ScheduleDialog::dropTyped() {
  QPointer<QTimeEdit> picker = m_typedPicker;
  m_typedPicker = nullptr;
  m_typed.clear();
  if (picker) static_cast<TimePicker*>(picker.data())->showValue();
}

void ScheduleDialog::takeTyped() {
  QPointer<QTimeEdit> picker = m_typedPicker;
  const auto when = TypedWhen(m_typed, m_clock.now(), QLocale::system());
  dropTyped();
  if (!picker || !when) return;
  QDateEdit* day = picker == remindTime ? remindDate : activityDate;
  day->setDate(when->date);
  picker->setTime(when->time);
  static_cast<TimePicker*>(picker.data())->showValue();
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
