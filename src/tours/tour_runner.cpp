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

#include <agent/Character.h>

namespace chimewise {

// Notices a window of the tour closing (hidden, closed or destroyed) and ends the wait in progress;
// and Escape pressed in any of the program's windows, which skips the tour.
class Tour::Watch final : public QObject {
 public:
  Watch(std::function<void()> gone, std::function<void()> skip) : m_gone(std::move(gone)), m_skip(std::move(skip)) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
  }
  void add(QWidget* window) {
    m_windows.push_back(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this] { m_gone(); });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
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
};

QRect ScreenRect(const QWidget* widget) {
  if (!widget) return {};
  if (widget->isWindow()) return widget->frameGeometry();
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

Tour::Tour(TourContext& context, TourKind kind, QWidget* window) : m_ctx(context), m_kind(kind) {
  if (m_ctx.busy) return;
  m_ctx.busy = true;
  m_started = true;
  m_watch = std::make_unique<Watch>([this] { onWindowGone(); }, [this] { skip(); });
  CharacterHost& host = m_ctx.character;
  // The tour places the character itself, beside or in front of what it explains; only a message
  // box still makes it step aside.
  host.SetKeepClearOfDialogs(false);
  // 0. The user can end it at once: "Skip" in the balloon, or Escape.
  host.OfferSkip(true);
  QObject::connect(&host, &CharacterHost::skipChosen, m_watch.get(), [this] { skip(); });

  // 1. The character's own sounds are part of the show.
  m_effectsWereOn = host.soundEffectsOn() || !host.character();
  if (!m_effectsWereOn) host.SetSoundEffects(true);
  // 2. A stop asked for before the tour is not meant for it.
  m_ctx.state.StopRequested = false;
  // 3. The dialog starts its tour by itself only once.
  if (kind == TourKind::Schedule) m_ctx.settings.write(settings::ScheduleShowHelp, QStringLiteral("0"));
  if (kind == TourKind::Options) m_ctx.settings.write(settings::OptionsShowHelp, QStringLiteral("0"));
  // 4. No reminder, announcement or mail check comes in between.
  m_timerWasRunning = !m_ctx.timerRunning || m_ctx.timerRunning();
  m_ctx.timer.SetTimerEnabled(false);
  // 5, 6. The user cannot type into the window or close it while the character works in it; it
  // stands in the middle of its screen.
  if (agent::Character* c = host.character()) {
    m_characterAt = QPoint(c->left(), c->top());
    m_characterKnown = true;
  }
  if (kind == TourKind::Introduction) {
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

Tour::~Tour() {
  if (!m_started) return;
  CharacterHost& host = m_ctx.character;
  // What a stopped tour still had queued is not said any more.
  if (m_stopped && !m_ctx.state.Closing) host.StopAll();
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
      c->moveTo(m_characterAt.x(), m_characterAt.y());
    }
  }
  if (m_timerWasRunning) m_ctx.timer.SetTimerEnabled(true);
  if (!m_effectsWereOn) host.SetSoundEffects(false);
  host.OfferSkip(false);
  // A skip that no wait of the tour took is not meant for whatever waits next.
  if (m_skipped) m_ctx.state.StopRequested = false;
  host.SetKeepClearOfDialogs(true);
  m_ctx.busy = false;
}

void Tour::skip() {
  if (m_stopped || m_skipped) return;
  m_skipped = true;
  // As "Stop Talking" does: the lines queued are dropped and the wait in progress ends the tour.
  InvertSpeechToggle(m_ctx.state);
  m_ctx.character.StopAll();
  RequestStop(m_ctx.state);
  observe({TourEvent::Kind::Skip});
}

void Tour::observe(TourEvent event) const {
  if (m_ctx.observer) m_ctx.observer(event);
}

const Clock& Tour::clock() const { return m_ctx.clock; }
const SharedState& Tour::state() const { return m_ctx.state; }

void Tour::speak(const QString& text) {
  m_ctx.character.speak(text);
  observe({TourEvent::Kind::Speak, text});
}

void Tour::say(const QString& text) {
  m_ctx.character.SayText(text);
  observe({TourEvent::Kind::Say, text});
}

void Tour::play(const QString& animation) {
  m_ctx.character.play(animation);
  observe({TourEvent::Kind::Play, animation});
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

bool Tour::wait() {
  if (m_stopped) return false;
  // A window that closed before the wait ends the tour without its queued lines being heard; a
  // stop asked for meanwhile is spent on this tour, as a wait spends it.
  const bool on = !m_windowGone && m_ctx.character.WaitForSpeech();
  if (m_windowGone) m_ctx.state.StopRequested = false;
  if (!on || m_windowGone) m_stopped = true;
  TourEvent e{TourEvent::Kind::Wait};
  e.goesOn = !m_stopped;
  observe(e);
  return !m_stopped;
}

void Tour::change(const QString& what, const std::function<void()>& apply) {
  if (m_windowGone) return;
  apply();
  observe({TourEvent::Kind::Change, what});
}

void Tour::selectTab(QTabWidget* tabs, int index) {
  if (!tabs || m_windowGone || index < 0 || index >= tabs->count()) return;
  if (QWidget* w = tabs->window()) w->raise();
  tabs->setCurrentIndex(index);
  TourEvent e{TourEvent::Kind::Tab, tabs->tabText(index)};
  e.index = index;
  observe(e);
}

void Tour::press(QAbstractButton* button, bool down) {
  // A button is always released, even in a window that has closed.
  if (!button || (down && m_windowGone)) return;
  button->setDown(down);
  observe({down ? TourEvent::Kind::Press : TourEvent::Kind::Release, button->text()});
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

void Tour::takeWindow(QWidget* window) {
  if (!window) return;
  take(window, true);
  if (!m_window) m_window = window;
}

bool Tour::windowsOpen() const { return !m_windowGone; }

void Tour::take(QWidget* window, bool watchAndPlace) {
  m_taken.push_back({window, window->isEnabled(), watchAndPlace, window->pos()});
  window->setEnabled(false);
  if (!watchAndPlace) return;
  m_watch->add(window);
  window->move(CentredOrigin(window->frameGeometry().size(), areaOf(window)));
}

void Tour::onWindowGone() {
  if (m_windowGone) return;
  m_windowGone = true;
  // The wait in progress ends now; the tour ends with it.
  InvertSpeechToggle(m_ctx.state);
}

}  // namespace chimewise
