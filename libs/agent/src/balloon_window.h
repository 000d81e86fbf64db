#pragma once

#include <QPainterPath>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

namespace agent {

// The speech balloon: sized for the whole sentence, then filled in word by word as the
// audio reaches each word. Placed above the character (below it when there is no room),
// always inside the screen. While the pointer is over a balloon that carries controls, it keeps
// its place and size (the next sentence scrolls in it, a move of the character waits), so a
// control never moves from under the pointer; it catches up once the pointer has left. Given a host, it is a part of
// the host window instead of a window of its own: then it is placed inside the host, and the character's box is in the
// host's coordinates.
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
  // Controls at the foot of the balloon (such as "Skip", or "Yes" and "No"), right-aligned in
  // this order; empty for none. While there are any, the balloon takes clicks, and a click on a
  // control sends actionChosen with its index.
  void setActions(const QStringList& labels);
  QStringList actions() const { return m_actions; }
  // Whether the balloon holds still for the pointer now.
  bool held() const { return m_held; }
  // Where each control is, in the balloon's coordinates.
  QList<QRect> actionRects() const;

 signals:
  void actionChosen(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void place();
  QRect bodyRect() const;
  QPainterPath shapePath() const;
  int maxTextWidth() const;
  int actionHeight() const;
  QRect actionRow() const;
  // The size a sentence wants, and putting it on the screen (both wait while the balloon is held).
  void fit();
  void release();

  QStringList m_actions;
  bool m_held = false;
  bool m_stale = false;  // a size or place was asked for while held
  QString m_full;
  QString m_text;
  qsizetype m_start = 0;
  QRect m_character;
  bool m_tailDown = true;
  int m_tailX = 0;
};

}  // namespace agent
