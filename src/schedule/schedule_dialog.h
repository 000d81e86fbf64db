#pragma once
// The Schedule Activity dialog as a window: its controls, and the rules that act inside it (the
// activity following the reminder, "T" for now and phrases of when in the time fields, the countdown list, Enter in the
// memo). Saving, sounds, help and placement belong to ScheduleWindows, which listens to its signals; the controls are
// public so a guided tour can point at them and tests can drive them.

#include "schedule/repeat_choice.h"
#include "schedule/save_event.h"

#include <QDialog>
#include <QPointer>
#include <QTimeEdit>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QPushButton;
class QTimeEdit;
class QToolButton;

namespace chimewise {

class Clock;

class ScheduleDialog final : public QDialog {
  Q_OBJECT
 public:
  // All four pickers start at clock.now(); the time pickers show the user's time format.
  ScheduleDialog(const Clock& clock, const QString& timeFormat, QWidget* parent = nullptr);

  // What the controls hold, as SaveEvent takes it.
  EventInput entry() const;
  // Shows the values of a reminder being edited. An invalid date or time leaves its picker as it
  // is; a sound outside the list shows "None"; a countdown that is not one of the list's steps
  // leaves the list empty and "Countdown" unchecked. The repeat rule is `repeat`, else the RRULE
  // line of `series`: a rule the Repeat control cannot show as one of its choices shows as Custom
  // with its own words, and entry() gives it back unchanged until a Repeat control is changed.
  void fill(const EventInput& values);
  // Puts the focus on the control of a refused entry.
  void focusField(SaveField field);

  // "Please schedule this reminder"
  QDateEdit* remindDate = nullptr;
  QTimeEdit* remindTime = nullptr;
  QCheckBox* sayDate = nullptr;
  QCheckBox* sayTime = nullptr;
  // "The actual activity occurs"
  QDateEdit* activityDate = nullptr;
  QTimeEdit* activityTime = nullptr;
  QComboBox* type = nullptr;
  // "Repeat": the choice, its details (the days of a weekly choice; the step and window of a custom
  // one), the end, and the rule in words.
  QComboBox* repeatChoice = nullptr;
  QWidget* repeatDaysRow = nullptr;
  QList<QCheckBox*> repeatDays;  // Monday to Sunday
  QWidget* repeatCustomRow = nullptr;
  QSpinBox* repeatEvery = nullptr;
  QComboBox* repeatUnit = nullptr;
  QCheckBox* repeatWindow = nullptr;
  QComboBox* repeatFrom = nullptr;
  QComboBox* repeatTo = nullptr;
  QComboBox* repeatEnd = nullptr;
  QDateEdit* repeatEndDate = nullptr;
  QSpinBox* repeatEndCount = nullptr;
  QLabel* repeatSummary = nullptr;
  QLineEdit* activity = nullptr;
  QPlainTextEdit* memo = nullptr;
  QComboBox* audio = nullptr;
  QToolButton* soundButton = nullptr;
  QCheckBox* countdown = nullptr;
  QComboBox* countdownList = nullptr;
  QPushButton* helpButton = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;

 signals:
  void okClicked();
  void helpClicked();
  void soundClicked(int sound);
  // Each time the dialog becomes the active window.
  void activated();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void onRemindDateChanged();
  void onRemindTimeChanged();
  void onCountdownToggled(bool checked);
  // The choice the Repeat controls hold, and the controls set to one.
  RepeatChoice repeatValue() const;
  void showRepeatChoice(const RepeatChoice& choice);
  void showRepeatRule(const QString& rule);
  // The start a rule counts from: the activity's date and time.
  QDateTime repeatStart() const;
  // After a Repeat control changed (by the user: a kept rule then gives way to the controls).
  void onRepeatEdited();
  // Labels that name the activity's date, which rows show, and the words.
  void refreshRepeat();
  // A phrase of when typed in a time picker ("+15", "tomorrow at 9"; TypedWhen).
  void showTyped();
  void dropTyped();
  void takeTyped();

  const Clock& m_clock;
  QPointer<QTimeEdit> m_typedPicker;
  QString m_typed;  // the phrase typed so far
  QString m_timeFormat;
  // A rule read from the reminder being edited, given back as it is until a Repeat control changes.
  QString m_keptRule;
  bool m_showingRepeat = false;  // the controls are being set, not edited
  bool m_lastWeekday = false;    // see RepeatChoice::lastWeekday
};

}  // namespace chimewise
