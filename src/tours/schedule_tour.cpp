#include "tours/schedule_tour.h"

#include "clock/spoken_time.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/time_format.h"
#include "schedule/schedule_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimeEdit>

#include <memory>

namespace chimewise {

const char* const kScheduleTourMemo =
    "The staff meets at Café Lumière on Elm Street. Please bring the quarterly budget report.";
const char* const kScheduleTourMemoSpoken =
    R"(The staff meets at \map="ka fay loo me air"="Café Lumière"\ on Elm Street. Please bring the quarterly budget report.)";

namespace {

QString T(const char* utf8) { return QString::fromUtf8(utf8); }

// Every field the tour changes, remembered at the start and put back at the end (restore()),
// whatever way the tour ends. Put back in the order that leaves each value as it was: the reminder's pickers drag
// the activity's along, so the activity's come after them; "Countdown" clears or fills its list,
// so the list comes after it.
class ScheduleFields {
 public:
  explicit ScheduleFields(ScheduleDialog& d)
      : m_dialog(&d),
        m_remindDate(d.remindDate->date()),
        m_remindTime(d.remindTime->time()),
        m_activityDate(d.activityDate->date()),
        m_activityTime(d.activityTime->time()),
        m_sayDate(d.sayDate->isChecked()),
        m_sayTime(d.sayTime->isChecked()),
        m_activity(d.activity->text()),
        m_memo(d.memo->toPlainText()),
        m_type(d.type->currentText()),
        m_typeIndex(d.type->currentIndex()),
        m_audio(d.audio->currentIndex()),
        m_countdown(d.countdown->isChecked()),
        m_countdownIndex(d.countdownList->currentIndex()) {}
  void restore() const {
    ScheduleDialog* d = m_dialog;
    if (!d) return;
    d->remindDate->setDate(m_remindDate);
    d->remindTime->setTime(m_remindTime);
    d->activityDate->setDate(m_activityDate);
    d->activityTime->setTime(m_activityTime);
    d->sayDate->setChecked(m_sayDate);
    d->sayTime->setChecked(m_sayTime);
    d->activity->setText(m_activity);
    d->memo->setPlainText(m_memo);
    d->type->setCurrentIndex(m_typeIndex);
    d->type->setEditText(m_type);
    d->audio->setCurrentIndex(m_audio);
    d->countdown->setChecked(m_countdown);
    d->countdownList->setCurrentIndex(m_countdownIndex);
  }

 private:
  QPointer<ScheduleDialog> m_dialog;
  QDate m_remindDate;
  QTime m_remindTime;
  QDate m_activityDate;
  QTime m_activityTime;
  bool m_sayDate;
  bool m_sayTime;
  QString m_activity;
  QString m_memo;
  QString m_type;
  int m_typeIndex;
  int m_audio;
  bool m_countdown;
  int m_countdownIndex;
};

// The group box (frame) a control sits in, or the control itself.
QWidget* FrameOf(QWidget* control) {
  for (QWidget* w = control; w; w = w->parentWidget())
    if (qobject_cast<QGroupBox*>(w)) return w;
  return control;
}

}  // namespace

TourScript ScheduleTourScript(ScheduleDialog& d, const ProgramOptions& options) {
  ScriptWriter t;
  const QPointer<ScheduleDialog> dp(&d);
  const ProgramOptions* running = &options;
  const auto timeText = [running](const QTime& time) { return FormatTime(time, running->timeFormat); };
  const auto setTime = [&](QTimeEdit* picker, QTime time) {
    t.change(timeText(time), [p = QPointer<QTimeEdit>(picker), time] {
      if (p) p->setTime(time);
    });
  };
  t.change(QStringLiteral("Say date and Say time cleared"), [dp] {
    if (!dp) return;
    dp->sayDate->setChecked(false);
    dp->sayTime->setChecked(false);
  });

  // The dialog.
  t.speak(T(R"(This is my Schedule, \map="ac-tivity"="Activity"\ Dialog Window.)"));
  t.speak(T(
      R"(This is where you will create your reminders and it is \emp\very important that you listen to my explanation of this screen.)"));

  // The reminder's own date and time.
  t.beside(FrameOf(d.remindDate));
  t.play(T("GestureLeft"));
  t.speak(T("The first section contains the date and time of the reminder."));
  t.speak(T(
      R"(The information you enter into these fields tells me the exact date and time that you want me to remind you about this \map="ac-tivity"="activity"\.)"));
  t.speak(T(R"(This date and time will usually be scheduled before the actual \map="ac-tivity"="activity"\.)"));
  t.speak(T("For example, if you had a meeting at 11:30 you might schedule a reminder an hour earlier at 10:30."));

  t.beside(d.remindDate);
  t.speak(T("With Olm Chimewise you can schedule the reminder here."));
  t.play(T("GestureDown"));
  t.speak(T("While down below"));
  t.speak(T(R"(you can schedule the actual \map="ac-tivity"="activity"\ date and time.)"));
  t.play(T("GestureRight"));
  t.speak(T("Let me explain the four fields contained in the Please schedule this reminder section."));
  t.speak(T(
      R"(In the \emp\On field you enter the date that you want to be reminded of this \map="ac-tivity"="activity"\.)"));
  t.speak(T("You can change the Month, Day and Year by clicking on that portion of the date"));
  t.speak(
      T("and pressing the up or down arrows on your keyboard. You can also click on the down arrow to the right of the "
        "date and pick the date from my calendar."));

  t.beside(d.remindTime);
  t.play(T("GestureLeft"));
  t.speak(T(R"(In the \emp\At field you enter the reminder time.)"));
  t.speak(T("Let's change the time to 10:30 since that is when we want to be reminded of this meeting."));
  t.play(T("DoMagic2"));
  t.wait();
  setTime(d.remindTime, QTime(10, 30));
  t.speak(
      T("You can change the Hour, Minute and AM/PM by clicking on that portion of the time and pressing the up or down "
        "arrows on your keyboard."));

  t.beside(d.sayTime);
  t.speak(T("At the end are two check boxes."));
  t.speak(T(
      R"(If you would like me to announce the date and time of the actual \map="ac-tivity"="activity"\ you can check these.)"));
  t.speak(T(
      R"(If you have checked these boxes I will recite the date and time along with the text in the \map="ac-tivity"="Activity"\ Text Box and Memo section.)"));
  t.speak(T(
      R"(Otherwise I will just read the information you enter in the \map="ac-tivity"="Activity"\ Text Box and Memo section.)"));

  // Repeat.
  t.beside(d.repeatChoice);
  t.speak(T(
      R"(With Repeat I remind you again every day, every weekday, every week, month or year, or on a rule of your own; the line under it says how.)"));

  // The activity line.
  t.beside(d.activity);
  t.play(T("GestureLeft"));
  t.speak(T(
      R"(The \emp\\map="ac-tivity"="Activity"\ Text Box should contain a brief description of the \map="ac-tivity"="activity"\.)"));
  t.speak(T("I will read the information you type in this box at the time the reminder is activated."));
  t.speak(T("For Example, if you entered"));
  t.play(T("DoMagic2"));
  t.wait();
  t.change(T("Have lunch with staff"), [dp] {
    if (dp) dp->activity->setText(QStringLiteral("Have lunch with staff"));
  });
  t.speak(T("Have lunch with staff."));
  t.speak(T(R"(I'm an \emp\excellent typist.)"));
  t.speak([dp, timeText] {
    if (!dp) return QString();
    return QStringLiteral("On ") + SpokenDate(dp->remindDate->date()) + QStringLiteral(" at ") +
           timeText(dp->remindTime->time()) + QStringLiteral(" I would say.");
  });
  t.speak(T("Reminder, have lunch with staff."));
  t.speak(T(
      R"(You can see that in this case, it might have been useful to have me give you the actual time of the \map="ac-tivity"="activity"\ as well.)"));
  t.speak(T("I'll show how to do that in a minute."));

  // The memo.
  t.beside(d.memo);
  t.speak(T(R"(In the \emp\Memo text box you can write a longer description of the \map="ac-tivity"="activity"\.)"));
  t.speak(T(
      R"(In most cases you will be able to get the reminder in the \map="ac-tivity"="Activity"\ Text Box, but sometimes you need a little more room.)"));
  t.speak(T(R"(Use this area to expand on the \map="ac-tivity"="Activity"\ Text Box when ever you need it.)"));
  t.speak(T(
      "As an example, if you were asked to bring something to this lunch, you might put that into the memo text box."));
  t.play(T("DoMagic2"));
  t.wait();
  t.change(T(kScheduleTourMemo), [dp] {
    if (dp) dp->memo->setPlainText(T(kScheduleTourMemo));
  });
  t.speak(T("I'm an excellent typist."));

  // The activity's own date and time.
  t.beside(FrameOf(d.activityDate));
  t.play(T("GestureLeft"));
  t.speak(T("This next section contains the actual date and time of the activity."));
  t.speak(T("The information you enter here, tells you where, and when, you are suppose to do the actual activity."));
  t.play(T("Explain"));
  t.speak(T("This information will also be used, if you checked the Say Date, or, Say Time, check boxes above."));
  t.speak(
      T("Although, it may seem confusing at first to have two separate date fields and two time fields you will see "
        "that it can be very useful."));
  t.play(T("Blink"));
  t.speak(T("In our example we had a lunch meeting at 11:30."));
  t.speak(T("We wanted a reminder at 10:30."));
  t.speak(T("Since we already entered the Reminder Date and Time above. some of the work is done for us."));
  t.play(T("GestureUp"));
  t.speak(T("When you enter a date in the Reminder Date above."));
  t.speak(T("The Actual Activity Date will be set to match it."));
  t.speak(T("The same is true for the Actual Activity Time field."));

  t.beside(d.activityTime);
  t.play(T("GestureLeft"));
  t.speak(QStringLiteral("In this case the date is fine we just need to adjust the time to reflect the ") +
          timeText(QTime(11, 30)) + QStringLiteral(" lunch time."));
  t.play(T("DoMagic2"));
  t.wait();
  setTime(d.activityTime, QTime(11, 30));
  t.speak(T("This tells me that you have a meeting at 11:30"));
  t.beside(d.remindTime);
  t.speak(T("and you want me to remind you about it at 10:30."));

  // Type and sound.
  t.beside(d.type);
  t.speak(T(
      R"(The last field on your right, contains the \emp\Type of activity. \pau=400\You can select from a number of predefined types.)"));
  t.beside(d.audio);
  t.speak(T("At the bottom is a selection that allows you to start the reminder with a Sound Effect."));
  t.speak(T(
      R"(For instance, if you wanted a \emp\Horn to sound before the character started speaking, you could \emp\set that in the Sound Combo Box.)"));
  t.play(T("DoMagic2"));
  t.wait();
  t.change(d.audio->itemText(3), [dp] {
    if (dp) dp->audio->setCurrentIndex(3);
  });

  t.beside(d.countdown);
  t.speak(T("I'll come back and explain the Countdown function in a minute."));
  t.wait();
  t.change(d.audio->itemText(0), [dp] {
    if (dp) dp->audio->setCurrentIndex(0);
  });
  t.beside(d.sayTime);
  t.speak(T("For this example I will turn on the Say Date and Say Time check boxes above."));
  t.wait();
  t.change(QStringLiteral("Say date and Say time ticked"), [dp] {
    if (!dp) return;
    dp->sayDate->setChecked(true);
    dp->sayTime->setChecked(true);
  });

  // What the character would say.
  t.speak([dp, timeText] {
    if (!dp) return QString();
    return QStringLiteral("Once this dialog was saved I would watch your computer clock and on ") +
           SpokenDate(dp->remindDate->date()) + QStringLiteral(" at ") + timeText(dp->remindTime->time()) +
           QStringLiteral(" I would say.");
  });
  t.say([dp, timeText] {
    if (!dp) return QString();
    return QStringLiteral("Reminder, you have an activity scheduled for ") + SpokenWeekday(dp->activityDate->date()) +
           QStringLiteral(" ") + SpokenDate(dp->activityDate->date()) + QStringLiteral(" at ") +
           timeText(dp->activityTime->time());
  });
  t.say([dp] { return dp ? dp->activity->text() : QString(); });
  t.say(T(kScheduleTourMemoSpoken));
  t.speak(
      T("In this example you can see that it was helpful to have the actual time and date of the activity, while "
        "allowing me to set an earlier time for the reminder."));
  t.speak(T("Alright, we're almost done. I've saved one of my favorite toys for last."));

  // The countdown.
  t.beside(d.countdown);
  t.speak(T(R"(This is the countdown option. This is \emp\so \emp\cool.)"));
  t.play(T("Pleased"));
  t.speak(T("Let's say you have to pick up your kids at school at 3:30."));
  t.speak(T("So you set an activity for 3:30"));
  t.play(T("DoMagic2"));
  t.wait();
  t.change(T("Pick up kids at school"), [dp] {
    if (dp) dp->activity->setText(QStringLiteral("Pick up kids at school"));
  });
  setTime(d.activityTime, QTime(15, 30));
  t.speak(T("and we'll set the reminder for 2:30."));
  t.wait();
  setTime(d.remindTime, QTime(14, 30));

  t.play(T("Uncertain"));
  t.speak(T("Are you following me?"));
  t.wait();

  t.beside(d.countdownList);
  t.speak(T("Now you set the countdown for 5 minutes."));
  t.play(T("DoMagic2"));
  t.wait();
  t.change(d.countdownList->itemText(3), [dp] {
    if (!dp) return;
    dp->countdown->setChecked(true);
    dp->countdownList->setCurrentIndex(3);
  });
  t.speak(T("Just like before I will remind you at 2:30 about the 3:30 activity."));
  t.speak(
      T("But, since you also set a countdown I will include the amount of time before the activity is actually due."));
  t.speak(T("Here is an example of what I might say."));
  const auto scheduledAt = [dp, timeText] {
    return dp ? QStringLiteral("Reminder, you have an activity scheduled at ") + timeText(dp->activityTime->time())
              : QString();
  };
  const auto inMinutes = [dp](int minutes) {
    return
        [dp, minutes] { return dp ? dp->activity->text() + QStringLiteral(" in %1 minutes").arg(minutes) : QString(); };
  };
  t.say(scheduledAt);
  t.say(inMinutes(60));
  t.speak(T("Then I would automatically reset the reminder to occur at 2:35."));
  t.wait();
  setTime(d.remindTime, QTime(14, 35));
  t.speak(T("At 2:35 I would say."));
  t.say(scheduledAt);
  t.say(inMinutes(55));

  // The end.
  t.speak(T("This would continue until your turned off the alarm or the activity became due."));
  t.speak(
      T("Sometimes it is nice to have a reminder, and know how much time you have, before the activity actually "
        "occurs."));
  t.speak(T(R"(Don't you think that is \emp\Knarley?)"));
  t.wait();
  t.besideWindow();
  t.speak(T("That's it, any questions?"));
  t.wait();
  t.play(T("Uncertain"));
  t.speak(T("You didn't really think I could answer questions did you?"));
  t.wait();
  t.play(T("Pleased"));
  t.speak(T("No one before you believed in me. I like you!"));
  t.wait();
  return std::move(t.script);
}

void RunScheduleTour(ScheduleDialog& d, TourContext& context) {
  if (context.busy) return;
  auto fields = std::make_shared<ScheduleFields>(d);
  StartTour(context, TourKind::Schedule, &d, ScheduleTourScript(d, context.options), [fields] { fields->restore(); });
}

}  // namespace chimewise
