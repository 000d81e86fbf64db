#pragma once
// The guided tours' runner: the common opening and ending, and the steps a tour script is made
// of. A script is straight-line code on the one program thread:
//
//   Tour t(context, TourKind::Schedule, &dialog);
//   if (!t.started()) return;
//   t.beside(dialog.remindTime);
//   t.play("GestureLeft");
//   t.speak("...");
//   if (!t.wait()) return;      // stopped: the destructor runs the ending
//
// Speech is queued and heard later; only wait() blocks, in an event loop, until the character has
// said everything queued. A wait ends the tour (returns false) when the user asked the character
// to stop ("NoTalk"), hid it ("GoAway"), the program is closing, or a window the tour walks through
// was closed. While a tour runs, the character stands where the script puts it, in front of the
// toured window too (only a message box still makes it step aside). Whatever way the script
// leaves, the destructor runs the ending: the windows are enabled again, the character goes back
// where it stood and keeps clear of every dialog again, the main timer runs again and the sound
// effects are as they were.

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QTabWidget;

namespace chimewise {

class CharacterHost;
class Clock;
class MainTimerPort;
class SettingsStore;
struct SharedState;

// What one step of a tour did, for whoever watches (tests, the screenshot script).
struct TourEvent {
  enum class Kind {
    Show,     // the character shown at the opening
    Speak,    // a line as it stands (text)
    Say,      // a line through SayText, gesture tags and all (text)
    Play,     // an animation (text: its name)
    Move,     // the character moved (at: its new top left corner; target: what it stands beside)
    Wait,     // a wait ended (goesOn: whether the tour goes on)
    Change,   // a control of the window changed (text: what it now holds)
    Tab,      // a tab selected (index)
    Press,    // a toolbar button shown pressed (text: its caption)
    Release,  // and released
    Popup,    // the character's menu opened at its position
    Skip,     // the user skipped the rest (Escape, or "Skip" in the balloon)
  };
  Kind kind = Kind::Speak;
  QString text;
  QPoint at;
  QRect target;     // screen rectangle; null for a move to a point
  QSize character;  // the character's size at a move
  QRect screen;     // the available area of the screen at a move
  int index = -1;
  bool goesOn = true;
};

// Everything the tours work with, owned by the program and outliving every tour.
struct TourContext {
  SharedState& state;
  SettingsStore& settings;
  CharacterHost& character;
  MainTimerPort& timer;
  const Clock& clock;
  // Whether the main timer runs now. When set, a tour that found the timer stopped (a tour started
  // inside the alarm scan's wait) leaves it stopped; unset, every tour starts it again at its end.
  std::function<bool()> timerRunning;
  // The program's own main window, disabled while the introduction runs; may be null.
  QPointer<QWidget> mainWindow;
  // Called with every step as it is carried out.
  std::function<void(const TourEvent&)> observer;
  // A tour is running; a second one asked for meanwhile is not started.
  bool busy = false;
};

enum class TourKind { Schedule, Options, Introduction };

class Tour {
 public:
  // The common opening. `window` is the toured dialog (Schedule, Options): it is disabled,
  // centred on its screen and watched, and the character moves beside it and shows. For the
  // introduction `window` is ignored: the context's main window is disabled and the character
  // only shows; the script places it.
  Tour(TourContext& context, TourKind kind, QWidget* window = nullptr);
  // The common ending.
  ~Tour();
  Tour(const Tour&) = delete;
  Tour& operator=(const Tour&) = delete;

  // False when another tour was running: nothing was done and nothing will be.
  bool started() const { return m_started; }
  // The tour has ended early (its last wait returned false).
  bool stopped() const { return m_stopped; }

  void speak(const QString& text);
  void say(const QString& text);
  void play(const QString& animation);
  // Beside the toured window, outside its upper left corner.
  void besideWindow();
  // Beside a control, on its right (the Schedule tour).
  void beside(QWidget* control);
  // Left of the toured window at a control's height (the Options tour).
  void besideAtHeight(QWidget* control);
  // To the lower right corner of the screen (the introduction's greeting).
  void toLowerRightCorner();
  // Waits until everything queued has been said; false when the tour is to end.
  bool wait();
  // Ends the tour now, as "Stop Talking" does: what is queued is dropped and the wait in progress
  // (or the next one) returns false. Escape and the balloon's "Skip" call it.
  void skip();
  // A change of a control of the window ("set field", "select tab"): skipped once a watched
  // window has closed. `what` names the new value for the watchers.
  void change(const QString& what, const std::function<void()>& apply);
  void selectTab(QTabWidget* tabs, int index);
  // A toolbar button shown pressed or released.
  void press(QAbstractButton* button, bool down);
  // The character's own menu, opened where it stands; closed again by closePopup or the ending.
  void popup();
  void closePopup();

  // A further window the tour walks through (the viewer in the introduction): disabled until the
  // end, watched like the toured window, and placed in the middle of its screen.
  void takeWindow(QWidget* window);
  // The windows the tour walks through are still open.
  bool windowsOpen() const;

  const Clock& clock() const;
  const SharedState& state() const;

 private:
  class Watch;
  struct Taken {
    QPointer<QWidget> window;
    bool wasEnabled = true;
    bool placed = false;  // moved to the middle of its screen; `at` is where it stood
    QPoint at;
  };

  void observe(TourEvent event) const;
  void moveCharacter(QPoint at, const QRect& target, const QRect& screen);
  QSize characterSize() const;
  QRect areaOf(const QWidget* widget) const;
  void take(QWidget* window, bool watchAndPlace);
  void onWindowGone();

  TourContext& m_ctx;
  TourKind m_kind;
  bool m_started = false;
  bool m_stopped = false;
  bool m_windowGone = false;
  bool m_effectsWereOn = true;
  bool m_timerWasRunning = true;
  bool m_popupOpen = false;
  bool m_skipped = false;
  QPoint m_characterAt;
  bool m_characterKnown = false;
  QPointer<QWidget> m_window;
  std::vector<Taken> m_taken;
  std::unique_ptr<Watch> m_watch;
};

// The rectangle a widget covers on the screen now.
QRect ScreenRect(const QWidget* widget);

}  // namespace chimewise
