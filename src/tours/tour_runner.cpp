#include "tours/tour_runner.h"

#include "character/character_host.h"
#include "core/ports.h"
#include "core/program_events.h"
#include "core/screen_placement.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <agent/character.h>

namespace chimewise {

namespace {

// How often a wait looks again at what comes without a signal (a mark dropped unheard).
constexpr int kWaitLookMs = 500;

}  // namespace

// Notices a window of the tour closing (hidden, closed or destroyed) and ends the wait in progress;
// and Escape pressed in any of the program's windows, which skips the tour.
class Tour::Watch final : public QObject {
 public:
  Watch(std::function<void()> gone, std::function<void()> skip) : m_gone(std::move(gone)), m_skip(std::move(skip)) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
  }
  // Watches no more: the tour has ended.
  void stop() {
    m_on = false;
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    for (const QPointer<QObject>& w : m_windows)
      if (w) w->removeEventFilter(this);
    m_windows.clear();
  }
  void add(QWidget* window) {
    m_windows.push_back(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this] {
      if (m_on) m_gone();
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!m_on) return false;
    // The toured window is disabled, which keeps its keys from it; the application sees them first.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      m_skip();
      return true;
    }
    if (event->type() == QEvent::Hide && m_windows.contains(watched)) {
      auto* w = qobject_cast<QWidget*>(watched);
      // A minimized window is still open.
      if (w && !w->isMinimized() && !w->isVisible()) m_gone();
    }
    return false;
  }

 private:
  std::function<void()> m_gone;
  std::function<void()> m_skip;
  QList<QPointer<QObject>> m_windows;
  bool m_on = true;
};

QRect ScreenRect(const QWidget* widget) {
  if (!widget) return {};
  if (widget->isWindow()) return widget->frameGeometry();
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

TourContext::~TourContext() { delete running.data(); }

bool StartTour(TourContext& context, TourKind kind, QWidget* window, TourScript script, std::function<void()> atEnd) {
  if (context.busy) return false;
  // The last tour, if it is still there, has ended and goes from the event loop (its ending may be
  // what started this one).
  auto* tour = new Tour(context, kind, std::move(script), std::move(atEnd));
  context.running = tour;
  tour->open(window);
  tour->advance();
  return true;
}

void InterruptTour(TourContext& context) {
  if (context.busy && context.running) context.running->interrupt();
}

void EndTour(TourContext& context) {
  if (context.busy && context.running) context.running->end();
}

QPoint PlaceAfterTour(QPoint before, const QRect& window, const QRect& drawn, const QRect& toured,
                      const QRect& screen) {
  const QPoint shift = before - window.topLeft();
  const QRect drawnThere = drawn.translated(shift);
  if (toured.isNull() || !drawnThere.intersects(toured)) return before;
  return StepAside(window.translated(shift), drawnThere, toured, screen).value_or(before);
}

void RunWhenNoTourRuns(TourContext& context, std::function<void()> work) {
  if (!work) return;
  if (!context.busy) {
    work();
    return;
  }
  context.afterTour.push_back(std::move(work));
}

Tour::Tour(TourContext& context, TourKind kind, TourScript script, std::function<void()> atEnd)
    : m_ctx(context), m_kind(kind), m_script(std::move(script)), m_atEnd(std::move(atEnd)) {}

Tour::~Tour() {
  m_destroying = true;
  finish();
}

void Tour::open(QWidget* window) {
  m_ctx.busy = true;
  m_watch = std::make_unique<Watch>([this] { onWindowGone(); }, [this] { skip(); });
  CharacterHost& host = m_ctx.character;
  // The tour places the character itself, beside or in front of what it explains; only a message
  // box still makes it step aside.
  host.SetKeepClearOfDialogs(false);
  // 0. The user can end it at once: "Skip" in the balloon, or Escape.
  host.OfferChoices({kSkipChoice});
  connect(&host, &CharacterHost::choiceChosen, m_watch.get(), [this](const QString& label) { onChoice(label); });

  // 1. The character's own sounds are part of the show.
  m_effectsWereOn = host.soundEffectsOn() || !host.character();
  if (!m_effectsWereOn) host.SetSoundEffects(true);
  // 2. A stop asked for before the tour is not meant for it.
  m_ctx.state.events->ClearStop();
  // 3. The dialog starts its tour by itself only once.
  if (m_kind == TourKind::Schedule) m_ctx.settings.write(settings::ScheduleShowHelp, QStringLiteral("0"));
  if (m_kind == TourKind::Options) m_ctx.settings.write(settings::OptionsShowHelp, QStringLiteral("0"));
  // 4. The main timer runs on: a reminder that falls due interrupts the tour (InterruptTour).
  // 5, 6. The user cannot type into the window or close it while the character works in it; it
  // stands in the middle of its screen.
  if (agent::Character* c = host.character()) {
    m_characterAt = QPoint(c->left(), c->top());
    m_characterKnown = true;
  }
  if (m_kind == TourKind::Introduction) {
    if (m_ctx.mainWindow) take(m_ctx.mainWindow, false);
  } else if (window) {
    m_window = window;
    take(window, true);
  }
  // 8. The character drops what it was doing and comes to the window.
  host.StopAll();
  if (m_window) besideWindow();
  host.show();
  observe({TourEvent::Kind::Show});
}

void Tour::advance() {
  while (!m_ended && m_next < m_script.size()) {
    const TourStep& step = m_script[m_next++];
    if (step.kind == TourStep::Kind::Wait) {
      beginWait();
      return;
    }
    run(step);
  }
  finish();
}

void Tour::run(const TourStep& step) {
  using K = TourStep::Kind;
  CharacterHost& host = m_ctx.character;
  switch (step.kind) {
    case K::Speak: {
      const QString text = step.text();
      host.speak(text);
      observe({TourEvent::Kind::Speak, text});
      break;
    }
    case K::Say: {
      const QString text = step.text();
      host.SayText(text);
      observe({TourEvent::Kind::Say, text});
      break;
    }
    case K::Play:
      host.play(step.line);
      observe({TourEvent::Kind::Play, step.line});
      break;
    case K::BesideWindow: besideWindow(); break;
    case K::Beside: beside(step.control ? step.control() : nullptr); break;
    case K::BesideAtHeight: besideAtHeight(step.control ? step.control() : nullptr); break;
    case K::LowerRightCorner: toLowerRightCorner(); break;
    case K::Wait: break;  // advance() starts it
    case K::Change:
      // Skipped once a watched window has closed.
      if (m_windowGone || !step.apply) break;
      step.apply();
      observe({TourEvent::Kind::Change, step.line});
      break;
    case K::Tab: selectTab(qobject_cast<QTabWidget*>(step.control ? step.control() : nullptr), step.index); break;
    case K::Press: press(qobject_cast<QAbstractButton*>(step.control ? step.control() : nullptr)); break;
    case K::Release: releaseButtons(); break;
    case K::Popup: popup(); break;
    case K::ClosePopup: closePopup(); break;
    case K::TakeWindow:
      if (QWidget* window = step.control ? step.control() : nullptr) {
        take(window, true);
        if (!m_window) m_window = window;
      }
      break;
  }
}

void Tour::beginWait() {
  // A window that closed before the wait ends the tour without its queued lines being heard.
  if (m_windowGone) {
    endWait();
    return;
  }
  m_speechEndsAtWait = m_ctx.state.events->speechWaitsEnded();
  const int wait = ++m_waitCount;
  // A child of the tour: whatever it connects ends with the tour at the latest.
  auto* waiting = new QObject(this);
  m_waiting = waiting;
  const auto look = [this, wait] {
    if (wait == m_waitCount && m_waiting) lookAtWait();
  };
  connect(m_ctx.state.events.get(), &ProgramEvents::waitInterrupted, waiting, look);
  if (agent::Character* c = m_ctx.character.character()) {
    // The mark is said after everything queued: its request completing ends the wait.
    c->speak(QStringLiteral("\\Mrk=100\\"));
    connect(c, &agent::Character::hidden, waiting, look);
    connect(c, &agent::Character::requestCompleted, waiting, look);
  }
  auto* again = new QTimer(waiting);
  connect(again, &QTimer::timeout, waiting, look);
  again->start(kWaitLookMs);
  // However long the character takes, the tour does not hang on it for ever.
  auto* deadline = new QTimer(waiting);
  deadline->setSingleShot(true);
  connect(deadline, &QTimer::timeout, waiting, [this, wait] {
    if (wait == m_waitCount && m_waiting) endWait();
  });
  deadline->start(m_ctx.character.speechWaitLimitMs());
  lookAtWait();
}

void Tour::lookAtWait() {
  const agent::Character* c = m_ctx.character.character();
  // The mark can be dropped unheard (a click on the character makes it stop and answer): once
  // nothing is queued any more, the words waited for are over.
  const bool said = !c || c->queuedRequests() == 0;
  if (m_ctx.state.events->speechWaitsEnded() != m_speechEndsAtWait || !m_ctx.character.visible() ||
      m_ctx.state.events->closing() || said)
    endWait();
}

void Tour::stopWaiting() {
  ++m_waitCount;
  if (!m_waiting) return;
  // Its timers stop now; the object goes once the signal that ended the wait has been handled.
  for (QTimer* t : m_waiting->findChildren<QTimer*>()) t->stop();
  m_waiting->deleteLater();
  m_waiting = nullptr;
}

void Tour::endWait() {
  stopWaiting();
  if (m_paused) {
    // The reminder has been said: the question, unless the user stopped or hid the character.
    m_paused = false;
    const bool stop = m_ctx.state.events->stopRequested() || m_ctx.state.events->closing() ||
                      !m_ctx.character.visible() || m_windowGone;
    if (m_ctx.state.events->stopRequested()) m_ctx.state.events->ClearStop();
    if (!stop) {
      askToGoOn();
      return;
    }
    m_stopped = true;
    finish();
    return;
  }
  bool goesOn = !m_windowGone;
  if (goesOn && (m_ctx.state.events->stopRequested() || m_ctx.state.events->closing())) goesOn = false;
  if (goesOn) goesOn = m_ctx.character.visible();
  // A stop asked for meanwhile is spent on this tour, as a wait spends it.
  if (m_ctx.state.events->stopRequested() || m_windowGone) m_ctx.state.events->ClearStop();
  if (!goesOn) m_stopped = true;
  TourEvent e{TourEvent::Kind::Wait};
  e.goesOn = goesOn;
  observe(e);
  if (goesOn) {
    m_partStart = m_next;
    advance();
  } else {
    finish();
  }
}

void Tour::finish() {
  if (m_ended) return;
  m_ended = true;
  m_paused = false;
  m_asking = false;
  stopWaiting();
  CharacterHost& host = m_ctx.character;
  // The script's own clean-up (the fields it filled in), then a button is always released, even
  // in a window that has closed.
  if (m_atEnd) m_atEnd();
  releaseButtons();
  // What a stopped tour still had queued is not said any more.
  if (m_stopped && !m_ctx.state.events->closing()) host.StopAll();
  closePopup();
  for (auto it = m_taken.rbegin(); it != m_taken.rend(); ++it) {
    if (!it->window) continue;
    it->window->setEnabled(it->wasEnabled);
    if (it->placed) it->window->move(it->at);
  }
  if (agent::Character* c = host.character(); c && m_characterKnown) {
    if (m_kind == TourKind::Introduction) {
      c->setLeft(m_characterAt.x());
      c->setTop(m_characterAt.y());
    } else {
      // Back where it stood, but never on the window it has just explained, which the user now
      // goes on with.
      QPoint to = m_characterAt;
      if (m_window && m_window->isVisible()) {
        const QRect toured = m_window->frameGeometry();
        const QScreen* screen = QGuiApplication::screenAt(toured.center());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen)
          to = PlaceAfterTour(m_characterAt, QRect(c->left(), c->top(), c->width(), c->height()), c->drawnGeometry(),
                              toured, screen->availableGeometry());
      }
      c->moveTo(to.x(), to.y());
    }
  }
  if (!m_effectsWereOn) host.SetSoundEffects(false);
  host.OfferChoices({});
  // A skip that no wait of the tour took is not meant for whatever waits next.
  if (m_skipped) m_ctx.state.events->ClearStop();
  host.SetKeepClearOfDialogs(true);
  if (m_watch) m_watch->stop();
  m_ctx.busy = false;
  if (m_destroying) return;
  // What was put off until the tour ended (the rest of the first start) runs now.
  std::vector<std::function<void()>> after;
  after.swap(m_ctx.afterTour);
  for (const auto& work : after) work();
  deleteLater();
}

void Tour::onChoice(const QString& label) {
  if (m_ended) return;
  if (m_asking && (label == kYesChoice || label == kNoChoice))
    answer(label == kYesChoice);
  else if (!m_asking && label == kSkipChoice)
    skip();
}

void Tour::interrupt() {
  if (m_ended) return;
  observe({TourEvent::Kind::Pause});
  if (m_kind != TourKind::Introduction) {
    end();
    return;
  }
  // A further reminder while one is said: the wait is begun again, after it.
  if (m_paused) {
    stopWaiting();
    QTimer::singleShot(0, this, [this] {
      if (!m_ended && m_paused) beginWait();
    });
    return;
  }
  // What the tour was saying goes; the reminder queued after this is said on its own.
  stopWaiting();
  m_asking = false;
  releaseButtons();
  closePopup();
  m_ctx.character.OfferChoices({kSkipChoice});
  m_ctx.character.StopAll();
  m_next = m_partStart;
  m_paused = true;
  // Once the reminder has been queued, the tour waits for its end.
  QTimer::singleShot(0, this, [this] {
    if (!m_ended && m_paused) beginWait();
  });
}

void Tour::askToGoOn() {
  m_asking = true;
  CharacterHost& host = m_ctx.character;
  host.OfferChoices({kYesChoice, kNoChoice});
  host.show();
  host.speak(kGoOnQuestion);
  observe({TourEvent::Kind::Speak, kGoOnQuestion});
  // Unanswered, the introduction ends in the end.
  const int wait = ++m_waitCount;
  auto* waiting = new QObject(this);
  m_waiting = waiting;
  auto* deadline = new QTimer(waiting);
  deadline->setSingleShot(true);
  connect(deadline, &QTimer::timeout, waiting, [this, wait] {
    if (wait == m_waitCount && m_asking) answer(false);
  });
  deadline->start(kGoOnAnswerMs);
}

void Tour::answer(bool goOn) {
  if (!m_asking) return;
  m_asking = false;
  stopWaiting();
  TourEvent e{TourEvent::Kind::Answer};
  e.goesOn = goOn;
  observe(e);
  if (!goOn) {
    end();
    return;
  }
  m_ctx.character.OfferChoices({kSkipChoice});
  advance();
}

void Tour::end() {
  if (m_ended) return;
  m_stopped = true;
  // The wait goes first: the stop below must not look to it like the end of the words it waits for.
  stopWaiting();
  m_ctx.character.StopAll();
  finish();
}

void Tour::skip() {
  if (m_ended || m_stopped || m_skipped) return;
  // While a reminder is said, the tour ends and leaves it to be heard; while the question waits,
  // Escape is "No".
  if (m_paused || m_asking) {
    m_skipped = true;
    observe({TourEvent::Kind::Skip});
    if (m_asking) {
      answer(false);
      return;
    }
    m_paused = false;
    finish();
    return;
  }
  m_skipped = true;
  observe({TourEvent::Kind::Skip});
  // At once: what is queued is dropped and nothing more of the script runs.
  end();
}

void Tour::observe(TourEvent event) const {
  if (m_ctx.observer) m_ctx.observer(event);
}

QSize Tour::characterSize() const {
  const agent::Character* c = m_ctx.character.character();
  return c ? QSize(c->width(), c->height()) : QSize();
}

QRect Tour::areaOf(const QWidget* widget) const {
  const QScreen* screen = widget ? widget->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

void Tour::moveCharacter(QPoint at, const QRect& target, const QRect& screen) {
  agent::Character* c = m_ctx.character.character();
  if (!c) return;
  c->moveTo(at.x(), at.y());
  TourEvent e{TourEvent::Kind::Move};
  e.at = at;
  e.target = target;
  e.character = characterSize();
  e.screen = screen;
  observe(e);
}

void Tour::besideWindow() {
  if (!m_window || m_windowGone || !m_ctx.character.character()) return;
  const QRect window = ScreenRect(m_window);
  const QRect area = areaOf(m_window);
  moveCharacter(BesideWindow(window, characterSize(), area), window, area);
}

void Tour::beside(QWidget* control) {
  if (!control || m_windowGone || !m_ctx.character.character()) return;
  // A page shown just now is laid out before it is measured.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  const QRect target = ScreenRect(control);
  const QRect area = areaOf(control);
  moveCharacter(BesideControl(target, characterSize(), area), target, area);
}

void Tour::besideAtHeight(QWidget* control) {
  if (!control || !m_window || m_windowGone || !m_ctx.character.character()) return;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  const QRect target = ScreenRect(control);
  const QRect area = areaOf(control);
  moveCharacter(LeftOfWindowAt(ScreenRect(m_window), target, characterSize(), area), target, area);
}

void Tour::toLowerRightCorner() {
  if (!m_ctx.character.character()) return;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect();
  moveCharacter(LowerRightCorner(characterSize(), area), QRect(), area);
}

void Tour::selectTab(QTabWidget* tabs, int index) {
  if (!tabs || m_windowGone || index < 0 || index >= tabs->count()) return;
  if (QWidget* w = tabs->window()) w->raise();
  tabs->setCurrentIndex(index);
  TourEvent e{TourEvent::Kind::Tab, tabs->tabText(index)};
  e.index = index;
  observe(e);
}

void Tour::press(QAbstractButton* button) {
  if (!button || m_windowGone) return;
  button->setDown(true);
  m_pressed.push_back(button);
  observe({TourEvent::Kind::Press, button->text()});
}

void Tour::releaseButtons() {
  std::vector<QPointer<QAbstractButton>> pressed;
  pressed.swap(m_pressed);
  for (const QPointer<QAbstractButton>& button : pressed) {
    if (!button) continue;
    button->setDown(false);
    observe({TourEvent::Kind::Release, button->text()});
  }
}

void Tour::popup() {
  agent::Character* c = m_ctx.character.character();
  if (!c) return;
  c->showPopupMenu(c->left() + c->width() / 2, c->top() + c->height() / 2);
  m_popupOpen = true;
  observe({TourEvent::Kind::Popup});
}

void Tour::closePopup() {
  if (!m_popupOpen) return;
  m_popupOpen = false;
  if (agent::Character* c = m_ctx.character.character())
    if (QMenu* menu = c->popupMenu()) menu->close();
}

void Tour::take(QWidget* window, bool watchAndPlace) {
  m_taken.push_back({window, window->isEnabled(), watchAndPlace, window->pos()});
  window->setEnabled(false);
  if (!watchAndPlace) return;
  m_watch->add(window);
  window->move(CentredOrigin(window->frameGeometry().size(), areaOf(window)));
}

void Tour::onWindowGone() {
  if (m_ended || m_windowGone) return;
  m_windowGone = true;
  // The wait in progress ends now; the tour ends with it.
  m_ctx.state.events->EndSpeechWaits();
}

}  // namespace chimewise
