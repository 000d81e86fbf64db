#pragma once

#include <QPainterPath>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

namespace agent {

// The speech balloon: sized for the whole sentence, then filled in word by word as the
// audio reaches each word. Placed above the character (below it when there is no room),
// always inside the screen. Given a host, it is a part of the host window instead of a window
// of its own: then it is placed inside the host, and the character's box is in the host's
// coordinates.
class BalloonWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit BalloonWindow(QWidget* host = nullptr);

  // The most room the balloon can take in its font: its widest text, all its lines, a control
  // at its foot and the tail.
  QSize largestSize() const;

  // Prepares for a sentence whose full shown text is `full`, beside `character` (screen pixels).
  void begin(const QString& full, const QRect& character);
  void reveal(const QString& shownSoFar);
  void follow(const QRect& character);
  QString text() const { return m_text; }
  // What fits in the balloon now: the end of text() when it is long.
  QString shownText() const { return m_text.mid(m_start); }
  // A control at the foot of the balloon (such as "Skip"); empty for none. While one is shown
  // the balloon takes clicks, and a click on the control calls onAction.
  void setAction(const QString& label);
  QString action() const { return m_action; }
  std::function<void()> onAction;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void place();
  QRect bodyRect() const;
  QPainterPath shapePath() const;
  QRect actionRect() const;
  int maxTextWidth() const;
  int actionHeight() const;

  QString m_action;
  QString m_full;
  QString m_text;
  qsizetype m_start = 0;
  QRect m_character;
  bool m_tailDown = true;
  int m_tailX = 0;
};

}  // namespace agent
