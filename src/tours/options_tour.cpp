#include "tours/options_tour.h"

#include "clock/spoken_time.h"
#include "core/clock.h"

#include <QDialog>
#include <QPointer>
#include <QTabWidget>

namespace chimewise {

namespace {

QString T(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

OptionsSections OptionsSectionsFor(int section) {
  switch (section) {
    case 0: return {true, true, true, true, true};
    case 1: return {false, true, false, false, false};
    case 2: return {false, false, true, false, false};
    case 3: return {false, false, false, true, false};
    case 4: return {false, false, false, false, true};
    default: return {};
  }
}

int OptionsSectionOfTab(const QString& caption) {
  static const char* const kCaptions[] = {"Characters", "Time Announcements", "Reminder Options", "Email Options"};
  for (int i = 0; i < 4; ++i)
    if (caption == QLatin1String(kCaptions[i])) return i + 1;
  return 0;
}

TourScript OptionsTourScript(QDialog& dialog, const OptionsSections& sections, const Clock& clock) {
  ScriptWriter t;
  const QPointer<QDialog> d(&dialog);
  const auto tabs = [d]() -> QWidget* { return d ? d->findChild<QTabWidget*>(QStringLiteral("tbsOptions")) : nullptr; };
  const auto at = [&](const char* name) {
    t.besideAtHeight([d, name]() -> QWidget* { return d ? d->findChild<QWidget*>(QLatin1String(name)) : nullptr; });
  };

  if (sections.intro) {
    t.play(T("Greet"));
    t.speak(T("Welcome to my Chimewise Options Dialog Window."));
    t.wait();
  }

  if (sections.characters) {
    t.selectTab(tabs, 0);
    t.besideWindow();
    t.play(T("Explain"));
    t.speak(
        T("This is where you can set your personal preferences, affecting my personality, and what, when, and where I "
          "say things."));
    t.speak(T("This is my Character Tab."));
    t.speak(T("More characters are waiting for you on our web site."));
    t.play(T("GestureRight"));
    t.speak(
        T("When you click on the down arrow beside the Character Name I will give you a list of all the characters you "
          "have installed."));
    t.speak(T("You can press the Demo button to get an idea of what the character sounds and looks like."));
    t.speak(T("You can also set the size of the character to match your personality and computer type."));
    t.play(T("Pleased"));
    t.speak(T("There are many characters you can download from the Internet and use."));
    t.speak(T("When you click the Download button I will load your browser and take you to our web site."));
    t.speak(T("There you can pick out new characters and download them."));
    t.wait();
  }

  if (sections.time) {
    t.selectTab(tabs, 1);
    t.besideWindow();
    t.speak(T("This is my Time Options Tab."));
    at("Check1");
    t.play(T("GestureRight"));
    t.speak(T(R"(Check announce the time, to turn \emp\on this function.)"));
    at("cmbInterval");
    t.speak(T("The first option tells me how often to remind you of the time."));
    at("cmbGestures");
    t.speak(T("The box next to it allows you to set a gesture I will make when I tell you the time."));
    at("cmbTimes");
    t.speak(T("If you would like me to say something before I recite the time you can type it here."));
    at("chkampm");
    t.speak(T(R"(The \map="AM / PM"="am/pm"\ check box allows you to set a 12 or 24 hour time format.)"));
    at("chkDayDate0");
    t.speak(T("The last 3 check boxes tell me to;"));
    const Clock* c = &clock;
    t.speak([c] {
      return QStringLiteral("Include the time of day such as Good ") + PartOfDayWord(c->now().time().hour());
    });
    t.speak([c] { return QStringLiteral("Include the day of Week such as ") + SpokenWeekday(c->now().date()); });
    t.speak([c] { return QStringLiteral("and include the date such as ") + SpokenDate(c->now().date()); });
    at("cmdTest");
    t.speak(T("You can test what I will say when I announce the time by clicking the test button."));
    t.play(T("Pleased"));
    t.speak(
        T("There are enough options here, that I think you will find, at least one combination, that works for you!"));
    t.wait();
  }

  if (sections.reminders) {
    t.selectTab(tabs, 2);
    t.besideWindow();
    t.speak(T("This is my Reminder Options Tab."));
    t.speak(T("The options you set here effect all alarms."));
    at("chkRemind");
    t.play(T("GestureRight"));
    t.speak(
        T("Once a reminder is activated you have the option of telling me to remind you about it at a specified "
          "interval."));
    t.speak(
        T("This might be useful if you are away from the computer and you don't hear the reminder the first time."));
    at("chkReadActivity");
    t.speak(T("You also have the option of telling me what part or parts of the reminder to read."));
    t.speak(T(R"(If you want me to read the Activity line.. check "Character should always read the Activity Line".)"));
    at("chkReadMemos");
    t.speak(T(
        R"(If you want me to read the Memo section of the reminder.. check "Character should always read the Memos".)"));
    at("chkShowFuture");
    t.speak(
        T("If you want to see future reminders in the View Reminders Window along with the current reminders.. check "
          "this box."));
    t.speak(
        T("You can also choose to view all reminders from the View Reminder Window if you want to see what is coming "
          "up."));
    at("chkNoSnore");
    t.speak(T("If you get tired of things like my snoring check the turn off sound effects option."));
    at("chkStartAtLogin");
    t.speak(T("And if you want me to start whenever you log in, check the last box on this tab."));
    t.wait();
  }

  if (sections.email) {
    t.selectTab(tabs, 3);
    t.besideWindow();
    t.speak(T("This is my Email Options Tab."));
    t.speak(T("The options you set here effect how I read your new email from your mailbox."));
    t.speak(T("You must set up your mailbox to use this option."));
    at("chkCheckInterval");
    t.play(T("GestureRight"));
    t.speak(T("If you would like me to check your mailbox for new mail automatically, check this box."));
    at("txtInterval");
    t.speak(T("Specify how often I should check for new mail. The interval must be in minutes."));
    at("chkSayWhat0");
    t.speak(T("You can tell me which parts of each email to read in the next four check boxes."));
    t.speak(T("For example, if you want me to read the time the message was sent, just check it."));
    at("chkSayWhat4");
    t.speak(T(
        R"(If you check, "Mark messages as \map="red"="Read"\ in your mailbox", I will tell your mailbox to show those messages as \map="red"="Read"\.)"));
    t.wait();
  }
  return std::move(t.script);
}

void RunOptionsTour(QDialog& dialog, const OptionsSections& sections, TourContext& context) {
  if (context.busy) return;
  StartTour(context, TourKind::Options, &dialog, OptionsTourScript(dialog, sections, context.clock));
}

}  // namespace chimewise
