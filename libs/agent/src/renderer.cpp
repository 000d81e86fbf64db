#include "agent/renderer.h"

#include <QLinearGradient>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <numeric>

namespace agent {

void paintCharacter(QPainter& painter, const CharacterDefinition& character, const Pose& pose, QSizeF size) {
  const size_t n = character.parts.size();
  if (pose.size() != n || character.width <= 0 || character.height <= 0) return;
  std::vector<QTransform> world(n);
  std::vector<double> opacity(n, 1.0);
  std::vector<bool> done(n, false);
  // Parents may follow their children in the file, so resolve recursively.
  auto resolve = [&](auto&& self, size_t i) -> void {
    if (done[i]) return;
    const Part& part = character.parts[i];
    const PartState& st = pose[i];
    QTransform local;
    local.translate(st.dx + part.pivot.x(), st.dy + part.pivot.y());
    local.rotate(st.rotate);
    local.scale(st.sx, st.sy);
    local.translate(-part.pivot.x(), -part.pivot.y());
    world[i] = local;
    opacity[i] = st.opacity;
    if (part.parent >= 0) {
      self(self, size_t(part.parent));
      world[i] = local * world[size_t(part.parent)];
      opacity[i] *= opacity[size_t(part.parent)];
    }
    done[i] = true;
  };
  for (size_t i = 0; i < n; ++i) resolve(resolve, i);

  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return character.parts[a].z < character.parts[b].z; });

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const QTransform base = QTransform::fromTranslate(character.origin.x(), character.origin.y()) *
                          QTransform::fromScale(size.width() / character.width, size.height() / character.height) *
                          painter.worldTransform();
  for (size_t i : order) {
    if (opacity[i] <= 0.003) continue;
    const Part& part = character.parts[i];
    const int variant = std::clamp(pose[i].variant, 0, int(part.variants.size()) - 1);
    painter.setTransform(world[i] * base);
    painter.setOpacity(std::min(1.0, opacity[i]));
    for (const Shape& shape : part.variants[size_t(variant)]) {
      if (shape.fill.isValid()) {
        if (shape.fill2.isValid()) {
          QLinearGradient g(shape.gradientFrom, shape.gradientTo);
          g.setColorAt(0, shape.fill);
          g.setColorAt(1, shape.fill2);
          painter.setBrush(g);
        } else {
          painter.setBrush(shape.fill);
        }
      } else {
        painter.setBrush(Qt::NoBrush);
      }
      if (shape.stroke.isValid() && shape.strokeWidth > 0)
        painter.setPen(QPen(shape.stroke, shape.strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      else
        painter.setPen(Qt::NoPen);
      painter.drawPath(shape.path);
    }
  }
  painter.restore();
}

QImage renderCharacter(const CharacterDefinition& character, const Pose& pose, QSize size) {
  QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  paintCharacter(painter, character, pose, QSizeF(size));
  painter.end();
  return image;
}

}  // namespace agent
