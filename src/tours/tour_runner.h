#pragma once
// The guided tours' runner: the common opening and ending, and the steps a tour script is made
// of. A script is a table of steps, built before the tour starts:
//
//   TourScript s;
//   s.push_back(TourStep::Beside([&dialog] { return dialog.remindTime; }));
//   s.push_back(TourStep::Play("GestureLeft"));
//   s.push_back(TourStep::Speak("..."));
//   s.push_back(TourStep::Wait());
//   StartTour(context, TourKind::Schedule, &dialog, std::move(s));
//
// StartTour runs the opening and the steps up to the first wait, and returns. Speech is queued
// and heard later; a wait step lets the event loop run until the character has said everything
// queued (its requestCompleted or hidden signal, the program's waitInterrupted, a window of the
// tour closing, or a deadline), and the steps after it run from there. Nothing waits in an event
// loop of its own. A wait ends the tour when the user asked the character to stop ("NoTalk"), hid
// it ("GoAway"), the program is closing, or a window the tour walks through was closed. While a
// tour runs, the character stands where the script puts it, in front of the toured window too
// (only a message box still makes it step aside). The main timer runs on: a reminder that falls
// due interrupts the tour (InterruptTour) and is heard at once; the introduction then asks whether
// to go on (Yes goes on with the part it was in), the other tours end. However the tour ends, the
// ending runs: the script's own clean-up first, a button shown pressed is released, the windows
// are enabled again, the character goes back where it stood (clear of the toured window) and
// keeps clear of every dialog again, and the sound effects are as they were. The running tour belongs to its context: a
// context destroyed under it (the program ending) ends it.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QTabWidget;
class QTimer;

namespace chimewise {

class CharacterHost;
class Clock;
class SettingsStore;
class Tour;
struct ProgramOptions;
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
    Pause,    // a reminder fell due: the tour stands aside for it
    Answer,   // the answer to "go on?" (goesOn)
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

// Everything the tours work with, owned by the program and outliving every tour it starts.
struct TourContext {
  SharedState& state;
  const ProgramOptions& options;
  SettingsStore& settings;
  CharacterHost& character;
  const Clock& clock;
  // Whether a program beside this one is installed (by its file name): the introduction leaves
  // out what it would say about one that is not. Unset: none is.
  std::function<bool(const QString& program)> installed;
  // The program's own main window, disabled while the introduction runs; may be null.
  QPointer<QWidget> mainWindow;
  // Called with every step as it is carried out.
  std::function<void(const TourEvent&)> observer;
  // A tour is running; a second one asked for meanwhile is not started.
  bool busy = false;
  // The tour running now, or the last one (ended, and deleted from the event loop).
  QPointer<Tour> running;
  // Work put off until no tour runs (RunWhenNoTourRuns).
  std::vector<std::function<void()>> afterTour;

  // Ends the running tour (its ending runs) and deletes it.
  ~TourContext();
};

enum class TourKind { Schedule, Options, Introduction };

// What the balloon offers during a tour, and the question after a reminder interrupted the
// introduction.
inline const QString kSkipChoice = QStringLiteral("Skip");
inline const QString kYesChoice = QStringLiteral("Yes");
inline const QString kNoChoice = QStringLiteral("No");
inline const QString kGoOnQuestion = QStringLiteral("Shall I go on with the introduction?");
// How long the question waits for an answer before the introduction ends.
inline constexpr int kGoOnAnswerMs = 120000;

// One step of a tour script. Controls are looked for when the step runs, so a page or a window
// opened by an earlier step can be pointed at; a step whose control is not there (or whose window
// has closed) is passed over.
struct TourStep {
  enum class Kind {
    Speak,             // queues `line`
    Say,               // queues `line` through SayText
    Play,              // an animation (`line`)
    BesideWindow,      // beside the toured window, outside its upper left corner
    Beside,            // beside `control`, on its right
    BesideAtHeight,    // left of the toured window at `control`'s height
    LowerRightCorner,  // to the lower right corner of the screen
    Wait,              // until everything queued has been said; the tour may end here
    Change,            // `apply` changes a control of the window; `line` names the new value
    Tab,               // selects tab `index` of `control` (a QTabWidget)
    Press,             // shows toolbar button `control` pressed
    Release,           // releases the buttons shown pressed
    Popup,             // opens the character's own menu where it stands
    ClosePopup,        // and closes it
    TakeWindow,        // `control` opens a further window the tour walks through (the viewer)
  };
  Kind kind = Kind::Speak;
  QString line;
  // A line made when it is said (the time now, a field's value then); it stands in for `line`.
  std::function<QString()> made;
  std::function<QWidget*()> control;
  std::function<void()> apply;
  int index = -1;

  // The line as it is to be said now.
  QString text() const { return made ? made() : line; }
};
using TourScript = std::vector<TourStep>;

// Writes a script in the words of its steps. A control is given as it is now (a dialog's member,
// held weakly) or as the way to find it when the step runs.
class ScriptWriter {
 public:
  using Find = std::function<QWidget*()>;
  void speak(const QString& line) { add({TourStep::Kind::Speak, line}); }
  void speak(std::function<QString()> made) { add({TourStep::Kind::Speak, {}, std::move(made)}); }
  void say(const QString& line) { add({TourStep::Kind::Say, line}); }
  void say(std::function<QString()> made) { add({TourStep::Kind::Say, {}, std::move(made)}); }
  void play(const QString& animation) { add({TourStep::Kind::Play, animation}); }
  void besideWindow() { add({TourStep::Kind::BesideWindow}); }
  void beside(QWidget* control) { beside(held(control)); }
  void beside(Find control) { add({TourStep::Kind::Beside, {}, {}, std::move(control)}); }
  void besideAtHeight(Find control) { add({TourStep::Kind::BesideAtHeight, {}, {}, std::move(control)}); }
  void toLowerRightCorner() { add({TourStep::Kind::LowerRightCorner}); }
  void wait() { add({TourStep::Kind::Wait}); }
  void change(const QString& what, std::function<void()> apply) {
    add({TourStep::Kind::Change, what, {}, {}, std::move(apply)});
  }
  void selectTab(Find tabs, int index) { add({TourStep::Kind::Tab, {}, {}, std::move(tabs), {}, index}); }
  void press(Find button) { add({TourStep::Kind::Press, {}, {}, std::move(button)}); }
  void release() { add({TourStep::Kind::Release}); }
  void popup() { add({TourStep::Kind::Popup}); }
  void closePopup() { add({TourStep::Kind::ClosePopup}); }
  void takeWindow(Find open) { add({TourStep::Kind::TakeWindow, {}, {}, std::move(open)}); }

  TourScript script;

 private:
  static Find held(QWidget* control) {
    return [c = QPointer<QWidget>(control)]() -> QWidget* { return c; };
  }
  void add(TourStep step) { script.push_back(std::move(step)); }
};

// Starts a tour over `script` and returns once it runs on from the event loop (or has already
// ended). The opening: `window` is the toured dialog (Schedule, Options): it is disabled, centred
// on its screen and watched, and the character moves beside it and shows. For the introduction
// `window` is ignored: the context's main window is disabled and the character only shows; the
// script places it. `atEnd` is the script's own clean-up, run first in the ending. False when
// another tour was running: nothing was done and nothing will be.
bool StartTour(TourContext& context, TourKind kind, QWidget* window, TourScript script,
               std::function<void()> atEnd = {});

// Where the character goes when a tour of a window ends: back where it stood before the tour
// (`before`, its window's top left corner), unless its drawing would cover the toured window
// there; then the shortest step from there that clears the window (StepAside), as it keeps clear
// of every dialog. `window` and `drawn` are the character's window and its opaque drawing now;
// `toured` is the toured window's frame, null when it is gone.
QPoint PlaceAfterTour(QPoint before, const QRect& window, const QRect& drawn, const QRect& toured, const QRect& screen);

// Runs `work` now when no tour runs, else once the running tour has ended.
void RunWhenNoTourRuns(TourContext& context, std::function<void()> work);

// A reminder falls due and is about to be announced: the running tour stops talking now. The
// introduction waits until the character has said what is queued after this (the reminder), then
// asks kGoOnQuestion with Yes and No in the balloon; the other tours end here.
void InterruptTour(TourContext& context);

// Ends the running tour now (its ending runs); nothing when none runs. Quit does this first.
void EndTour(TourContext& context);

// The tour as it runs: carries out its steps up to each wait and goes on when the wait ends.
// Made by StartTour and owned by the context; deleted under a tour still running, it runs the
// ending there.
class Tour final : public QObject {
 public:
  ~Tour() override;

 private:
  Tour(TourContext& context, TourKind kind, TourScript script, std::function<void()> atEnd);
  class Watch;
  struct Taken {
    QPointer<QWidget> window;
    bool wasEnabled = true;
    bool placed = false;  // moved to the middle of its screen; `at` is where it stood
    QPoint at;
  };
  friend bool StartTour(TourContext&, TourKind, QWidget*, TourScript, std::function<void()>);
  friend void InterruptTour(TourContext&);
  friend void EndTour(TourContext&);

  void open(QWidget* window);
  void advance();
  void run(const TourStep& step);
  void beginWait();
  void lookAtWait();
  void endWait();
  void stopWaiting();
  // The ending; the tour is deleted from the event loop after it.
  void finish();
  // Ends the tour as "Stop Talking" does: what is queued is dropped and the wait in progress (or
  // the next one) ends the tour. Escape and the balloon's "Skip" call it.
  void skip();
  // A reminder came: see InterruptTour.
  void interrupt();
  // Asks whether to go on, and acts on the answer.
  void askToGoOn();
  void answer(bool goOn);
  void onChoice(const QString& label);
  // Ends the tour now, as stopped.
  void end();

  void observe(TourEvent event) const;
  void moveCharacter(QPoint at, const QRect& target, const QRect& screen);
  QSize characterSize() const;
  QRect areaOf(const QWidget* widget) const;
  void besideWindow();
  void beside(QWidget* control);
  void besideAtHeight(QWidget* control);
  void toLowerRightCorner();
  void selectTab(QTabWidget* tabs, int index);
  void press(QAbstractButton* button);
  void releaseButtons();
  void popup();
  void closePopup();
  void take(QWidget* window, bool watchAndPlace);
  void onWindowGone();

  TourContext& m_ctx;
  TourKind m_kind;
  TourScript m_script;
  std::size_t m_next = 0;
  std::function<void()> m_atEnd;
  bool m_ended = false;
  bool m_destroying = false;
  bool m_stopped = false;
  bool m_windowGone = false;
  bool m_effectsWereOn = true;
  // A reminder interrupted the tour: its words are awaited (paused), then the question (asking).
  bool m_paused = false;
  bool m_asking = false;
  // Where the part of the script in progress began: the introduction goes on from there.
  std::size_t m_partStart = 0;
  bool m_popupOpen = false;
  bool m_skipped = false;
  QPoint m_characterAt;
  bool m_characterKnown = false;
  QPointer<QWidget> m_window;
  std::vector<Taken> m_taken;
  std::vector<QPointer<QAbstractButton>> m_pressed;
  std::unique_ptr<Watch> m_watch;
  // While a wait step runs: what ends it, and the speech toggle as it was at its start.
  QPointer<QObject> m_waiting;
  quint64 m_speechEndsAtWait = 0;
  int m_waitCount = 0;  // counts the waits begun and ended; a signal of an earlier one is passed over
};

// The rectangle a widget covers on the screen now.
QRect ScreenRect(const QWidget* widget);

}  // namespace chimewise
