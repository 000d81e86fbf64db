#pragma once
// The Schedule Activity dialog as a window: its controls, and the rules that act inside it (the
// activity following the reminder, "T" for now and phrases of when in the time fields, the countdown list, Enter in the
// memo). Saving, sounds, help and placement belong to ScheduleWindows, which listens to its signals; the controls are
// public so a guided tour can point at them and tests can drive them.

#include "schedule/save_event.h"

#include <QDialog>
#include <QPointer>
#include <QTimeEdit>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QLineEdit;
class QPlainTextEdit;
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
  // leaves the list empty and "Countdown" unchecked.
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
  // A phrase of when typed in a time picker ("+15", "tomorrow at 9"; TypedWhen).
  void showTyped();
  void dropTyped();
  void takeTyped();

  const Clock& m_clock;
  QPointer<QTimeEdit> m_typedPicker;
  QString m_typed;  // the phrase typed so far
};

}  // namespace chimewise
