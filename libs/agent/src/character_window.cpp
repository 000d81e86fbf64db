#include "character_window.h"

#include "agent/renderer.h"
#include "x11_compositor.h"

#include <QApplication>
#include <QBitmap>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

namespace agent {

CharacterWindow::CharacterWindow(const CharacterDefinition& character, std::function<Pose()> pose)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      m_character(character),
      m_pose(std::move(pose)) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_NoSystemBackground);
  setWindowTitle(character.name);
  // Once the user has given it the focus (a click), the keyboard reaches its menu.
  setFocusPolicy(Qt::StrongFocus);
}

void CharacterWindow::frameChanged() {
  m_dirty = true;
  if (m_cutToShape) render();  // the mask has to follow the picture
  update();
}

void CharacterWindow::setCharacterArea(const QRect& area) {
  if (area == m_area) return;
  m_area = area;
  frameChanged();
}

void CharacterWindow::render() {
  const QRect area = characterArea();
  if (area == rect()) {
    m_frame = renderCharacter(m_character, m_pose(), size());
  } else {
    m_frame = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    m_frame.fill(Qt::transparent);
    QPainter p(&m_frame);
    p.drawImage(area.topLeft(), renderCharacter(m_character, m_pose(), area.size()));
  }
  m_dirty = false;
  if (m_cutToShape) {
    // The drawing, and whatever part of the window is shown over it (a balloon inside it).
    setMask(QRegion(QBitmap::fromImage(m_frame.createAlphaMask())).united(childrenRegion()));
  }
}

void CharacterWindow::paintEvent(QPaintEvent*) {
  if (m_dirty || m_frame.size() != size()) render();
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, m_frame);
}

void CharacterWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_dirty = true;
  if (m_cutToShape) render();
}

void CharacterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  const bool cut = !compositingManagerRunning();
  if (cut != m_cutToShape) {
    m_cutToShape = cut;
    if (!cut) clearMask();
  }
  frameChanged();
}

void CharacterWindow::mousePressEvent(QMouseEvent* event) {
  if (!characterArea().contains(event->position().toPoint())) return;
  if (event->button() == Qt::RightButton) {
    emit menuAsked(event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  m_pressed = true;
  m_dragging = false;
  m_pressGlobal = event->globalPosition().toPoint();
  m_pressTopLeft = pos();
}

void CharacterWindow::keyPressEvent(QKeyEvent* event) {
  const bool menuKey =
      event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (!menuKey) {
    QWidget::keyPressEvent(event);
    return;
  }
  emit menuAsked(mapToGlobal(characterArea().center()));
  event->accept();
}

void CharacterWindow::contextMenuEvent(QContextMenuEvent* event) {
  // The mouse's right button is answered as it is pressed; this is the keyboard's request.
  if (event->reason() == QContextMenuEvent::Keyboard) emit menuAsked(mapToGlobal(characterArea().center()));
  event->accept();
}

void CharacterWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!m_pressed) return;
  const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
  if (!m_dragging && delta.manhattanLength() < QApplication::startDragDistance()) return;
  m_dragging = true;
  move(m_pressTopLeft + delta);
}

void CharacterWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_pressed || event->button() != Qt::LeftButton) return;
  m_pressed = false;
  const QPoint global = event->globalPosition().toPoint();
  if (m_dragging) {
    m_dragging = false;
    move(m_pressTopLeft + (global - m_pressGlobal));
    emit dragged(Qt::LeftButton, event->modifiers(), global, pos());
  } else {
    emit clicked(Qt::LeftButton, event->modifiers(), global);
  }
}

}  // namespace agent
