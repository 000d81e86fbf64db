#include "tours/tour_snapshot.h"

#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <agent/character.h>
#include <agent/renderer.h>

namespace chimewise {

QImage TourSnapshot(QWidget& window, const agent::Character& character) {
  const QRect inside(window.mapToGlobal(QPoint(0, 0)), window.size());
  const QRect figure(character.left(), character.top(), character.width(), character.height());
  const QRect all = inside.united(figure);
  QImage image(all.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(235, 235, 235));
  QPainter p(&image);
  p.drawPixmap(inside.topLeft() - all.topLeft(), window.grab());
  if (character.isVisible() && !figure.isEmpty())
    p.drawImage(figure.topLeft() - all.topLeft(),
                agent::renderCharacter(character.definition(), character.pose(), figure.size()));
  return image;
}

}  // namespace chimewise
