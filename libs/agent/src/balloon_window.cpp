#include "balloon_window.h"

#include "x11_compositor.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace agent {

namespace {
constexpr int kPad = 8;
constexpr int kTail = 12;
constexpr int kMaxTextWidth = 260;
constexpr int kMaxLines = 6;
constexpr auto kBalloonName = "Word Balloon";

// To a screen reader the balloon is a notification whose name is the sentence being said, so
// that it is read out when it appears and can be read again while it stays.
QAccessibleInterface* BalloonAccessible(const QString& className, QObject* object) {
  if (className != QLatin1String("agent::BalloonWindow") || !object || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
}
}  // namespace

BalloonWindow::BalloonWindow(QWidget* host)
    : QWidget(host, host
                        ? Qt::WindowFlags()
                        : Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                              Qt::NoDropShadowWindowHint | Qt::WindowTransparentForInput) {
  if (host) {
    hide();  // a child would otherwise show with its host
    setAttribute(Qt::WA_TransparentForMouseEvents);
  } else {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
  }
  // Never shown by a frameless window; named for screen readers and window lookups.
  setWindowTitle(QString::fromLatin1(kBalloonName));
  static std::once_flag accessible;
  std::call_once(accessible, [] { QAccessible::installFactory(BalloonAccessible); });
  setAccessibleName(QString::fromLatin1(kBalloonName));
  setAccessibleDescription(QString::fromLatin1(kBalloonName));
  // The desktop's font where it is larger than the balloon's own 10 points; the balloon widens
  // with it, so that as many words fit on a line.
  QFont f = font();
  f.setPointSizeF(std::max(10.0, QGuiApplication::font().pointSizeF()));
  setFont(f);
}

int BalloonWindow::maxTextWidth() const {
  return static_cast<int>(std::lround(kMaxTextWidth * font().pointSizeF() / 10.0));
}

int BalloonWindow::actionHeight() const {
  return m_actions.isEmpty() ? 0 : QFontMetrics(font()).lineSpacing() + kPad / 2;
}

// The gap between two controls.
constexpr int kActionGap = 3 * kPad;

// The controls' row, as wide as their labels.
QRect BalloonWindow::actionRow() const {
  if (m_actions.isEmpty()) return {};
  const QFontMetrics fm(font());
  int w = 0;
  for (const QString& label : m_actions) w += fm.horizontalAdvance(label) + kPad;
  w += kActionGap * int(m_actions.size() - 1);
  const QRect body = bodyRect();
  return QRect(body.right() - kPad - w, body.bottom() - kPad / 2 - fm.lineSpacing(), w + kPad / 2, fm.lineSpacing());
}

QSize BalloonWindow::largestSize() const {
  const QFontMetrics fm(font());
  return {maxTextWidth() + 2 * kPad + 2, fm.lineSpacing() * (kMaxLines + 1) + kPad / 2 + 2 * kPad + kTail + 2};
}

void BalloonWindow::begin(const QString& full, const QRect& character) {
  m_full = full;
  setAccessibleName(full.trimmed().isEmpty() ? QString::fromLatin1(kBalloonName) : full.simplified());
  m_text.clear();
  m_start = 0;
  m_character = character;
  fit();
  update();
}

void BalloonWindow::fit() {
  if (m_held) {
    m_stale = true;
    return;
  }
  const QFontMetrics fm(font());
  QRect text = fm.boundingRect(QRect(0, 0, maxTextWidth(), 10000), Qt::TextWordWrap, m_full);
  text.setHeight(std::min(text.height(), fm.lineSpacing() * kMaxLines));
  int actionWidth = 0;
  for (const QString& label : m_actions) actionWidth += fm.horizontalAdvance(label) + kPad + kActionGap;
  resize(std::max({text.width(), 40, actionWidth + kPad}) + 2 * kPad + 2,
         std::max(text.height(), fm.lineSpacing()) + actionHeight() + 2 * kPad + kTail + 2);
  place();
}

void BalloonWindow::setActions(const QStringList& labels) {
  if (labels == m_actions) return;
  m_actions = labels;
  // New controls are laid out afresh, wherever the pointer is.
  m_held = false;
  // Clicks pass through to what lies under the balloon unless it carries a control.
  const bool wasVisible = isVisible();
  if (isWindow())
    setWindowFlag(Qt::WindowTransparentForInput, m_actions.isEmpty());
  else
    setAttribute(Qt::WA_TransparentForMouseEvents, m_actions.isEmpty());
  if (!m_full.isEmpty() || !m_actions.isEmpty()) fit();
  const QString shown = m_text;
  m_text.clear();
  reveal(shown);
  if (wasVisible) show();
}

QList<QRect> BalloonWindow::actionRects() const {
  QList<QRect> rects;
  QRect row = actionRow();
  if (row.isNull()) return rects;
  const QFontMetrics fm(font());
  int x = row.left();
  for (const QString& label : m_actions) {
    const int w = fm.horizontalAdvance(label) + kPad;
    // Each control takes clicks a little beyond its letters, half the gap on each side.
    rects << QRect(x, row.top(), w + kPad / 2, row.height())
                 .adjusted(-kActionGap / 2, -kPad / 2, kActionGap / 2, kPad / 2);
    x += w + kActionGap;
  }
  return rects;
}

void BalloonWindow::mousePressEvent(QMouseEvent* event) {
  const QList<QRect> rects = actionRects();
  for (int i = 0; i < rects.size(); ++i)
    if (rects[i].contains(event->position().toPoint())) {
      emit actionChosen(i);
      break;
    }
  event->accept();
}

void BalloonWindow::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  // Only a balloon with controls takes the pointer; it then holds still under it.
  if (!m_actions.isEmpty()) m_held = true;
}

void BalloonWindow::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  release();
}

void BalloonWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Shown again, it is sized and placed for what it shows then.
  m_held = false;
  m_stale = false;
}

void BalloonWindow::release() {
  if (!m_held) return;
  m_held = false;
  if (!m_stale) return;
  m_stale = false;
  fit();
  const QString shown = m_text;
  m_text.clear();
  m_start = 0;
  reveal(shown);
}

void BalloonWindow::reveal(const QString& shownSoFar) {
  if (shownSoFar == m_text) return;
  m_text = shownSoFar;
  // A long text scrolls: the balloon keeps the latest words, dropping whole words from
  // the front (the start only ever moves forward, so this stays cheap).
  const QFontMetrics fm(font());
  QRect area = bodyRect().adjusted(kPad, kPad, -kPad, -kPad);
  if (!m_actions.isEmpty()) area.setBottom(actionRow().top() - 1);
  if (m_start > m_text.size()) m_start = 0;
  auto fits = [&](qsizetype from) {
    return fm.boundingRect(QRect(0, 0, area.width(), 100000), Qt::TextWordWrap, m_text.mid(from)).height() <=
           area.height();
  };
  // Words end where a line may break: at spaces, and between the characters of scripts written
  // without spaces (Chinese, Japanese).
  QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, m_text);
  while (m_start < m_text.size() && !fits(m_start)) {
    breaks.setPosition(m_start);
    const qsizetype next = breaks.toNextBoundary();
    if (next < 0 || next >= m_text.size()) break;  // one word longer than the balloon: it is clipped
    m_start = next;
  }
  update();
}

void BalloonWindow::follow(const QRect& character) {
  m_character = character;
  place();
}

void BalloonWindow::place() {
  if (m_held) {
    m_stale = true;
    return;
  }
  QRect area;
  if (!isWindow()) {
    area = parentWidget()->rect();
  } else {
    QScreen* screen = QGuiApplication::screenAt(m_character.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  }
  int x = m_character.center().x() - width() / 2;
  int y = m_character.top() - height();
  m_tailDown = true;
  if (y < area.top()) {
    y = m_character.bottom() + 1;
    m_tailDown = false;
  }
  x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width()));
  y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - height()));
  m_tailX = std::clamp(m_character.center().x() - x, kPad + kTail, std::max(kPad + kTail, width() - kPad - kTail));
  move(x, y);
  if (!isWindow() || !compositingManagerRunning())
    setMask(QRegion(shapePath().toFillPolygon().toPolygon()).united(QRegion(bodyRect().adjusted(2, 2, -2, -2))));
}

QRect BalloonWindow::bodyRect() const {
  return m_tailDown ? QRect(1, 1, width() - 2, height() - kTail - 2)
                    : QRect(1, kTail + 1, width() - 2, height() - kTail - 2);
}

QPainterPath BalloonWindow::shapePath() const {
  const QRectF body = bodyRect();
  QPainterPath path;
  path.addRoundedRect(body, 8, 8);
  QPainterPath tail;
  if (m_tailDown) {
    tail.moveTo(m_tailX - 7, body.bottom() - 1);
    tail.lineTo(m_tailX, height() - 1);
    tail.lineTo(m_tailX + 7, body.bottom() - 1);
  } else {
    tail.moveTo(m_tailX - 7, body.top() + 1);
    tail.lineTo(m_tailX, 1);
    tail.lineTo(m_tailX + 7, body.top() + 1);
  }
  tail.closeSubpath();
  return path.united(tail);
}

void BalloonWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF body = bodyRect();
  const QPainterPath path = shapePath();
  p.setPen(QPen(QColor(60, 60, 60), 1.2));
  p.setBrush(QColor(255, 253, 231));
  p.drawPath(path);
  p.setPen(Qt::black);
  QRectF textArea = body.adjusted(kPad, kPad, -kPad, -kPad);
  if (!m_actions.isEmpty()) {
    textArea.setBottom(actionRow().top() - 1);
    QFont underlined = font();
    underlined.setUnderline(true);
    p.setFont(underlined);
    p.setPen(QColor(0, 70, 160));
    const QFontMetrics fm(font());
    const QRect row = actionRow();
    int x = row.left();
    for (const QString& label : m_actions) {
      const int w = fm.horizontalAdvance(label) + kPad;
      p.drawText(QRect(x, row.top(), w + kPad / 2, row.height()), Qt::AlignRight | Qt::AlignVCenter, label);
      x += w + kActionGap;
    }
    p.setFont(font());
    p.setPen(Qt::black);
  }
  // Text that begins in a right-to-left script reads from the right edge; within a line, runs of
  // either direction are ordered by the bidirectional algorithm. The whole text decides, so that
  // the balloon does not turn while the words appear.
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  const bool rightToLeft = m_full.isRightToLeft();
  option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
  option.setAlignment(Qt::AlignAbsolute | Qt::AlignTop | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft));
  p.drawText(textArea, shownText(), option);
}

}  // namespace agent
