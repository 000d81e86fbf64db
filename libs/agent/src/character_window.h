#pragma once

#include "agent/character_file.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <functional>

namespace agent {

// The character on the desktop: frameless, translucent, above other windows, no taskbar
// entry. Left-drag moves it, a left click without movement is a click, a right click asks
// for the command menu.
class CharacterWindow final : public QWidget {
  Q_OBJECT
 public:
  CharacterWindow(const CharacterDefinition& character, std::function<Pose()> pose);

  // The pose changed: redraw (and re-cut the window's shape when no compositor runs).
  void frameChanged();
  // Where in the window the character is drawn (the whole window unless set); the rest of the
  // window is clear and takes no clicks of the character's.
  void setCharacterArea(const QRect& area);
  QRect characterArea() const { return m_area.isNull() ? rect() : m_area; }

 signals:
  void clicked(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global);
  void dragged(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint global, QPoint topLeft);
  void menuAsked(QPoint global);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // The menu key and Shift+F10 open the command menu, as a right click does.
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void render();

  const CharacterDefinition& m_character;
  std::function<Pose()> m_pose;
  QImage m_frame;
  QRect m_area;
  bool m_dirty = true;
  bool m_cutToShape = false;
  bool m_pressed = false;
  bool m_dragging = false;
  QPoint m_pressGlobal;
  QPoint m_pressTopLeft;
};

}  // namespace agent
