#include "character/keep_clear.h"

#include "core/screen_placement.h"

#include <agent/character.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace chimewise {

KeepClear::KeepClear(std::function<agent::Character*()> character, QObject* parent)
    : QObject(parent), m_character(std::move(character)) {
  m_soon.setSingleShot(true);
  m_soon.setInterval(0);
  m_settle.setSingleShot(true);
  m_settle.setInterval(kSettleMs);
  connect(&m_soon, &QTimer::timeout, this, &KeepClear::check);
  connect(&m_settle, &QTimer::timeout, this, &KeepClear::check);
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

KeepClear::~KeepClear() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void KeepClear::setAllDialogs(bool on) {
  m_allDialogs = on;
  if (on) m_soon.start();
}

bool KeepClear::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::Show && type != QEvent::Move && type != QEvent::Resize) return false;
  if (!watched->isWidgetType()) return false;
  const auto* widget = static_cast<QWidget*>(watched);
  if (!widget->isWindow()) return false;
  const agent::Character* c = m_character();
  if (!(c && widget == c->window()) && !qobject_cast<const QDialog*>(widget)) return false;
  if (type == QEvent::Show)
    m_soon.start();
  else
    m_settle.start();
  return false;
}

QList<QRect> KeepClear::keptDialogs() const {
  QList<QRect> frames;
  for (const QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w->isMinimized()) continue;
    if (m_allDialogs ? !qobject_cast<const QDialog*>(w) : !qobject_cast<const QMessageBox*>(w)) continue;
    frames << w->frameGeometry();
  }
  return frames;
}

void KeepClear::check() {
  agent::Character* c = m_character();
  if (!c || !c->isVisible()) return;
  // The user is dragging the character or a window: it is judged where it is dropped.
  if (QGuiApplication::mouseButtons() != Qt::NoButton) {
    m_settle.start();
    return;
  }
  const QList<QRect> dialogs = keptDialogs();
  const QRect window(c->left(), c->top(), c->width(), c->height());
  const QRect drawn = c->drawnGeometry();
  const auto covered = [&dialogs](const QRect& drawing, QRect avoid) {
    for (const QRect& d : dialogs)
      if (d.intersects(drawing)) avoid |= d;
    return avoid;
  };
  QRect avoid = covered(drawn, QRect());
  if (avoid.isNull()) return;
  const QScreen* screen = QGuiApplication::screenAt(avoid.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  // Stepping aside from one dialog may land on another: then it steps aside from both together.
  QPoint at = window.topLeft();
  for (qsizetype round = 0; round <= dialogs.size(); ++round) {
    const std::optional<QPoint> aside = StepAside(window, drawn, avoid, area);
    if (!aside) break;
    at = *aside;
    const QRect more = covered(drawn.translated(at - window.topLeft()), avoid);
    if (more == avoid) break;
    avoid = more;
  }
  if (at.x() != c->left()) c->setLeft(at.x());
  if (at.y() != c->top()) c->setTop(at.y());
}

}  // namespace chimewise
