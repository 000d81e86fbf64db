#include "path_data.h"

#include <QtMath>

#include <cmath>

namespace agent {

namespace {

class Reader {
 public:
  explicit Reader(const QString& s) : m_s(s) {}

  void skipSeparators() {
    while (m_pos < m_s.size() && (m_s[m_pos].isSpace() || m_s[m_pos] == QLatin1Char(','))) ++m_pos;
  }
  bool atEnd() {
    skipSeparators();
    return m_pos >= m_s.size();
  }
  bool atNumber() {
    skipSeparators();
    if (m_pos >= m_s.size()) return false;
    const QChar c = m_s[m_pos];
    return c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('+') || c == QLatin1Char('.');
  }
  bool number(double& out) {
    skipSeparators();
    const qsizetype start = m_pos;
    if (m_pos < m_s.size() && (m_s[m_pos] == QLatin1Char('-') || m_s[m_pos] == QLatin1Char('+'))) ++m_pos;
    bool digits = false;
    while (m_pos < m_s.size() && m_s[m_pos].isDigit()) {
      ++m_pos;
      digits = true;
    }
    if (m_pos < m_s.size() && m_s[m_pos] == QLatin1Char('.')) {
      ++m_pos;
      while (m_pos < m_s.size() && m_s[m_pos].isDigit()) {
        ++m_pos;
        digits = true;
      }
    }
    if (digits && m_pos < m_s.size() && (m_s[m_pos] == QLatin1Char('e') || m_s[m_pos] == QLatin1Char('E'))) {
      qsizetype save = m_pos++;
      if (m_pos < m_s.size() && (m_s[m_pos] == QLatin1Char('-') || m_s[m_pos] == QLatin1Char('+'))) ++m_pos;
      bool expDigits = false;
      while (m_pos < m_s.size() && m_s[m_pos].isDigit()) {
        ++m_pos;
        expDigits = true;
      }
      if (!expDigits) m_pos = save;
    }
    if (!digits) {
      m_pos = start;
      return false;
    }
    bool ok = false;
    out = m_s.mid(start, m_pos - start).toDouble(&ok);
    return ok && std::isfinite(out) && std::abs(out) < 1e6;
  }
  bool flag(bool& out) {
    skipSeparators();
    if (m_pos < m_s.size() && (m_s[m_pos] == QLatin1Char('0') || m_s[m_pos] == QLatin1Char('1'))) {
      out = m_s[m_pos++] == QLatin1Char('1');
      return true;
    }
    return false;
  }
  QChar take() { return m_s[m_pos++]; }
  qsizetype pos() const { return m_pos; }

 private:
  const QString& m_s;
  qsizetype m_pos = 0;
};

// SVG's endpoint arc as cubic segments.
void arcTo(QPainterPath& path, QPointF from, double rx, double ry, double angleDeg, bool large, bool sweep,
           QPointF to) {
  if (from == to) return;
  rx = std::abs(rx);
  ry = std::abs(ry);
  if (rx < 1e-9 || ry < 1e-9) {
    path.lineTo(to);
    return;
  }
  const double phi = qDegreesToRadians(angleDeg);
  const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
  const double dx = (from.x() - to.x()) / 2, dy = (from.y() - to.y()) / 2;
  const double x1 = cosPhi * dx + sinPhi * dy, y1 = -sinPhi * dx + cosPhi * dy;
  double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
  const double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
  double coef = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
  if (large == sweep) coef = -coef;
  const double cx1 = coef * rx * y1 / ry, cy1 = -coef * ry * x1 / rx;
  const double cx = cosPhi * cx1 - sinPhi * cy1 + (from.x() + to.x()) / 2;
  const double cy = sinPhi * cx1 + cosPhi * cy1 + (from.y() + to.y()) / 2;
  auto angle = [](double ux, double uy, double vx, double vy) {
    return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
  };
  const double t1 = angle(1, 0, (x1 - cx1) / rx, (y1 - cy1) / ry);
  double dt = angle((x1 - cx1) / rx, (y1 - cy1) / ry, (-x1 - cx1) / rx, (-y1 - cy1) / ry);
  if (!sweep && dt > 0)
    dt -= 2 * M_PI;
  else if (sweep && dt < 0)
    dt += 2 * M_PI;
  const int segments = std::max(1, static_cast<int>(std::ceil(std::abs(dt) / (M_PI / 2))));
  const double step = dt / segments;
  const double k = 4.0 / 3.0 * std::tan(step / 4);
  auto point = [&](double t) {
    return QPointF(cx + rx * std::cos(t) * cosPhi - ry * std::sin(t) * sinPhi,
                   cy + rx * std::cos(t) * sinPhi + ry * std::sin(t) * cosPhi);
  };
  auto derivative = [&](double t) {
    return QPointF(-rx * std::sin(t) * cosPhi - ry * std::cos(t) * sinPhi,
                   -rx * std::sin(t) * sinPhi + ry * std::cos(t) * cosPhi);
  };
  double t = t1;
  for (int i = 0; i < segments; ++i) {
    const double t2 = t + step;
    path.cubicTo(point(t) + k * derivative(t), point(t2) - k * derivative(t2), i + 1 == segments ? to : point(t2));
    t = t2;
  }
}

}  // namespace

bool parsePathData(const QString& data, QPainterPath& path, QString& error, int maxElements) {
  Reader r(data);
  QPointF current, start, lastControl;
  QChar command, lastCommand;
  bool any = false;
  auto fail = [&](const QString& what) {
    error = QStringLiteral("%1 at offset %2").arg(what).arg(r.pos());
    return false;
  };
  while (!r.atEnd()) {
    if (!r.atNumber()) {
      command = r.take();
      if (!QStringLiteral("MmLlHhVvCcSsQqTtAaZz").contains(command))
        return fail(QStringLiteral("unknown path command '%1'").arg(command));
    } else if (command.isNull()) {
      return fail(QStringLiteral("path data must start with a command"));
    } else if (command == QLatin1Char('Z') || command == QLatin1Char('z')) {
      return fail(QStringLiteral("numbers after Z"));
    } else if (command == QLatin1Char('M')) {
      command = QLatin1Char('L');
    } else if (command == QLatin1Char('m')) {
      command = QLatin1Char('l');
    }
    if (!any && command != QLatin1Char('M') && command != QLatin1Char('m'))
      return fail(QStringLiteral("path data must start with M"));
    any = true;
    const bool rel = command.isLower();
    const QPointF base = rel ? current : QPointF();
    const QChar upper = command.toUpper();
    double v[7];
    auto need = [&](int n) {
      for (int i = 0; i < n; ++i)
        if (!r.number(v[i])) return false;
      return true;
    };
    QPointF ctrl;
    switch (upper.toLatin1()) {
      case 'Z':
        path.closeSubpath();
        current = start;
        break;
      case 'M':
        if (!need(2)) return fail(QStringLiteral("M needs two numbers"));
        current = base + QPointF(v[0], v[1]);
        start = current;
        path.moveTo(current);
        break;
      case 'L':
        if (!need(2)) return fail(QStringLiteral("L needs two numbers"));
        current = base + QPointF(v[0], v[1]);
        path.lineTo(current);
        break;
      case 'H':
        if (!need(1)) return fail(QStringLiteral("H needs a number"));
        current.setX((rel ? current.x() : 0) + v[0]);
        path.lineTo(current);
        break;
      case 'V':
        if (!need(1)) return fail(QStringLiteral("V needs a number"));
        current.setY((rel ? current.y() : 0) + v[0]);
        path.lineTo(current);
        break;
      case 'C':
        if (!need(6)) return fail(QStringLiteral("C needs six numbers"));
        lastControl = base + QPointF(v[2], v[3]);
        current = base + QPointF(v[4], v[5]);
        path.cubicTo(base + QPointF(v[0], v[1]), lastControl, current);
        break;
      case 'S':
        if (!need(4)) return fail(QStringLiteral("S needs four numbers"));
        ctrl = QStringLiteral("CcSs").contains(lastCommand) ? 2 * current - lastControl : current;
        lastControl = base + QPointF(v[0], v[1]);
        path.cubicTo(ctrl, lastControl, base + QPointF(v[2], v[3]));
        current = base + QPointF(v[2], v[3]);
        break;
      case 'Q':
        if (!need(4)) return fail(QStringLiteral("Q needs four numbers"));
        lastControl = base + QPointF(v[0], v[1]);
        current = base + QPointF(v[2], v[3]);
        path.quadTo(lastControl, current);
        break;
      case 'T':
        if (!need(2)) return fail(QStringLiteral("T needs two numbers"));
        lastControl = QStringLiteral("QqTt").contains(lastCommand) ? 2 * current - lastControl : current;
        current = base + QPointF(v[0], v[1]);
        path.quadTo(lastControl, current);
        break;
      case 'A': {
        bool large = false, sweep = false;
        if (!r.number(v[0]) || !r.number(v[1]) || !r.number(v[2]) || !r.flag(large) || !r.flag(sweep) ||
            !r.number(v[3]) || !r.number(v[4]))
          return fail(QStringLiteral("A needs rx ry angle large-arc sweep x y"));
        const QPointF to = base + QPointF(v[3], v[4]);
        arcTo(path, current, v[0], v[1], v[2], large, sweep, to);
        current = to;
        break;
      }
      default: break;
    }
    lastCommand = command;
    if (path.elementCount() > maxElements) return fail(QStringLiteral("more than %1 outline points").arg(maxElements));
  }
  if (!any) return fail(QStringLiteral("empty path"));
  return true;
}

}  // namespace agent
