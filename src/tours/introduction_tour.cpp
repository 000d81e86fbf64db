#include "tours/introduction_tour.h"

#include "character/character_host.h"
#include "clock/spoken_time.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/shared_state.h"
#include "extras/programs.h"
#include "viewer/viewer_windows.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTableView>
#include <QToolBar>

#include <memory>

#include <agent/character.h>

namespace chimewise {

namespace {

QString T(const char* utf8) { return QString::fromUtf8(utf8); }

// A toolbar button of the viewer: a button of its own, or the button of a toolbar action.
QAbstractButton* ToolButton(QWidget* viewer, QToolBar* bar, const char* name) {
  if (!viewer) return nullptr;
  const QString n = QLatin1String(name);
  if (auto* b = viewer->findChild<QAbstractButton*>(n)) return b;
  if (auto* a = viewer->findChild<QAction*>(n); a && bar)
    return qobject_cast<QAbstractButton*>(bar->widgetForAction(a));
  return nullptr;
}

}  // namespace

ViewerOpener OpenViewerOf(ViewerWindows& viewers) {
  return [&viewers]() -> QWidget* {
    viewers.ShowViewer();
    return viewers.window();
  };
}

TourScript IntroductionScript(const QString& name, const ViewerOpener& openViewer, const TourContext& context) {
  ScriptWriter t;
  // What is said of the programs beside this one only while they are there.
  const auto installed = [&context](const QString& program) { return context.installed && context.installed(program); };
  const bool jesterbox = installed(kJesterboxProgram);
  const bool mailcaster = installed(kMailcasterProgram);

  // The greeting.
  t.toLowerRightCorner();
  t.play(T("Greet"));
  t.speak(QStringLiteral("Hi, I am ") + name + QStringLiteral("!"));
  t.speak(T("Thank you for trying Olm Chimewise."));
  t.speak(QStringLiteral("Olm Chimewise lets you choose ") + name +
          QStringLiteral("! as well as any of my character friends. We all love to talk to you."));
  t.wait();

  // Reminders.
  t.play(T("Announce"));
  t.speak(T(
      R"(Using Chimewise you will \spd=160\never again forget to run an errand, make a call, or be late for an appointment.)"));
  t.play(T("Search"));
  t.speak(T("I will be constantly searching for upcoming reminders you have set."));
  t.speak(T(
      R"(\spd=140\When a reminder becomes due you don't even have to be at your computer. I will pop-up on the screen and read the reminder out loud, just as you typed it.)"));
  t.play(T("Explain"));
  t.speak(T("For example, I might say,"));
  t.speak(T(R"(\pit=400\\spd=180\Hey, Gorgeous, \spd=140\\pit=100\You Fantastic Creature,)"));
  t.speak(T("You better get ready for your 9:15 A.M. doctor's appointment!"));
  t.speak(T(R"(\pit=50\And don't forget to pick up your prescription!)"));
  t.wait();

  // The talking clock.
  t.play(T("Acknowledge"));
  t.speak(T(
      R"(\spd=140\Chimewise also functions as a classic grandfather clock, but instead of chiming on the hour, I will pop-up and announce the time.)"));
  t.speak(
      T("You can specify what I say when I announce the time. For example you might build your self esteem by having "
        "me say."));
  t.speak(T(R"(\spd=140\\pit=50\Dudette, it looks like another good hair day,  you're looking better every minute)"));
  t.speak([&context] {
    return QStringLiteral("The time is ") + SpokenTime(context.clock.now(), context.options.timeFormat);
  });
  t.wait();

  // What the user types, and the character as a companion.
  t.play(T("Write"));
  t.speak(T(
      R"(\spd=160\Chimewise reads only what you type, so you can build your self confidence everyday, every hour, or if you really are desperate, every minute.)"));
  t.play(T("Pleased"));
  t.speak(
      T(R"(\spd=140\ Just like a lovable pet, the cartoon characters will become your faithful computer companions.)"));
  t.speak(T("Every time you start your computer I will greet you and stand on the bottom of your screen."));
  t.wait();

  // The menu.
  t.speak(T("It's easy to use me."));
  t.speak(T("Using your mouse you can right click on me, or on my Alarm Icon in the System Tray."));
  t.speak(T("When you right click on me you'll get this menu."));
  t.wait();
  t.popup();
  t.speak(T("This menu gives you access to all my functions."));
  if (jesterbox) t.speak(T("The Jesterbox and Quotes entry starts our companion program of jokes and quotes."));
  if (mailcaster) t.speak(T("Create Mailcaster starts our companion program that makes talking e-mail."));
  t.speak(T("To hear a joke or quote at anytime click on Tell a Joke or Quote."));
  t.speak(T(R"(When you want to set a reminder just click on the "Reminder Viewer" option.)"));
  t.wait();
  t.closePopup();

  // Jokes and quotes.
  t.play(T("Read"));
  if (jesterbox) {
    t.speak(T("The companion program holds a great many more jokes, and quotes from famous people of every age."));
    t.speak(T("You'll find our programs both fun and educational."));
  }
  t.play(T("ReadReturn"));
  if (jesterbox) {
    t.speak(T("You can also keep your own jokes and quotes in it."));
    t.speak(T("Then I can tell them to you whenever you like."));
  }
  t.speak(T("You can customize what I say, how I say it and even the movements I make."));
  t.wait();

  // Reading the clipboard.
  t.play(T("Explain"));
  t.speak(T(R"(\spd=140\ Tired of proofreading that letter over and over?)"));
  t.speak(T(
      R"(If you hear a letter or article \map="red"="read"\ to you,  it's easier to find omitted words and poor sentence structure.)"));
  t.speak(
      T("I can read anything you copy to the clipboard, including documents, from your Word Processor, Email, or "
        "Internet Articles."));
  t.speak(T(R"(\spd=160\So sit back and relax while I read your letter, book report, or essay.)"));
  t.speak(T("Students will find the quotes a good start for a report."));
  t.speak(T("And a good joke makes a fine break from homework."));
  if (jesterbox || mailcaster) {
    t.speak(T("We hope our programs bring you a lot of joy."));
    t.speak(T("You can get help from each program by clicking on the help menu from those programs."));
  }
  t.play(T("Congratulate"));
  t.speak(T("Enjoy!"));
  t.wait();

  // The Reminder Viewer.
  // Opened when the tour comes to it; its parts are looked for then.
  auto viewer = std::make_shared<QPointer<QWidget>>();
  t.takeWindow([viewer, openViewer]() -> QWidget* {
    *viewer = openViewer ? openViewer() : nullptr;
    return *viewer;
  });
  const auto bar = [viewer]() -> QToolBar* {
    return *viewer ? (*viewer)->findChild<QToolBar*>(QStringLiteral("Toolbar1")) : nullptr;
  };
  t.besideWindow();
  t.speak(T("This is the Olm Chimewise View Window."));
  t.speak(T("From here you can add, edit, delete or view your reminders and set the program options."));
  t.speak(T("This window will contain the date and time of each reminder as well as the activity to be performed."));
  t.beside([bar] { return bar(); });
  t.speak(T("The toolbar contains five buttons."));
  t.wait();
  struct Button {
    const char* name;
    const char* line;
  };
  static const Button kButtons[] = {
      {"ToolRead",
       R"(If you want to listen to your reminders you can use the first button "Read". First highlight the reminder you want to hear and then click the Read button.)"},
      {"ToolNew", R"(If you want to add a reminder just click on "New".)"},
      {"ToolProperties",
       R"(To edit an existing reminder, first highlight the reminder, then click "Properties". You can also view the complete reminder from the Property Dialog Window.)"},
      {"ToolDelete", "To delete a reminder, first highlight the reminder, then click the Delete button."},
      {"ToolOptions",
       "The program can be configured to work the way you want it to. To set up the program click on the options "
       "button."},
  };
  for (const Button& b : kButtons) {
    t.press([viewer, bar, name = b.name] { return ToolButton(*viewer, bar(), name); });
    t.play(T("GestureLeft"));
    t.speak(T(b.line));
    t.play(T("Blink"));
    t.wait();
    t.release();
  }

  // The list, the menus and the memo box.
  t.beside([viewer]() -> QWidget* { return *viewer ? (*viewer)->findChild<QTableView*>() : nullptr; });
  t.play(T("GestureUp"));
  t.speak(T("This window will list the reminders by the reminder time and date."));
  t.play(T("GestureDown"));
  t.speak(T("It will also display the corresponding activity."));
  const auto menus = [viewer]() -> QWidget* { return *viewer ? (*viewer)->findChild<QMenuBar*>() : nullptr; };
  t.beside(menus);
  t.speak(T("The Reminder Menu allows you to show future activities. This enables you to see upcoming activities."));
  t.speak(T("If you don't want to see future reminders just turn off the option."));
  t.wait();
  t.beside([viewer]() -> QWidget* { return *viewer ? (*viewer)->findChild<QPlainTextEdit*>() : nullptr; });
  t.play(T("GestureLeft"));
  t.speak(
      T("Below is a text window that will show you the memos, if there are any, associated with the highlighted "
        "reminder."));
  t.speak(T("You can edit the memos for existing reminders by typing text in this field."));
  t.speak(T("Under the Options dialog you can tell me to read the memos along with the activity."));
  t.speak(T("You can also edit the memos from the properties dialog window."));
  t.wait();
  t.beside(menus);
  t.speak(T("You can snooze a reminder by first highlighting it and then using the snooze menu."));
  t.speak(T("This option works just like the snooze button on your alarm clock."));
  t.speak(
      T("If you snooze a reminder for 10 minutes I will reset the reminder for 10 minutes from the time you click the "
        "Snooze option."));
  t.wait();
  return std::move(t.script);
}

void RunIntroduction(TourContext& context, const ViewerOpener& openViewer) {
  if (context.busy) return;
  const agent::Character* c = context.character.character();
  StartTour(context, TourKind::Introduction, nullptr,
            IntroductionScript(c ? c->name() : QString(), openViewer, context));
}

}  // namespace chimewise
