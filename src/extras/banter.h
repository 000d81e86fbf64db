#pragma once
// The character's answers to being clicked and dragged: remarks chosen by the time of day, and the
// object that says them when the loaded character reports a click or the end of a drag.

#include <QDateTime>
#include <QObject>
#include <QString>

namespace chimewise {

class CharacterHost;
class Clock;

// Seconds since midnight of the wall time, rounded to the nearest whole second with halves to
// even (12:00:02.5 gives 43202, 12:00:03.5 gives 43204).
qint64 RoundedSecondOfDay(const QTime& time);

// The remark for a click at `now`: one of five, by the rounded second of the day modulo 5, always
// followed by the hint about the menu.
QString ClickRemark(const QDateTime& now);
// The remark for the end of a drag at `now`: one of twenty-two, by the rounded second of the day
// modulo 22; the last one names the weekday and the part of the day.
QString DragRemark(const QDateTime& now);

inline const QString kMenuHint = QStringLiteral(" You can right click on me to get my menu.");

// Answers left clicks and drags of a shown character. A click stops whatever the character was
// doing and says its remark; a drag adds its remark behind whatever is queued. Other buttons and
// a hidden character get no answer (the character's own menu belongs to the right button).
class CharacterBanter final : public QObject {
  Q_OBJECT
 public:
  CharacterBanter(CharacterHost& host, Clock& clock, QObject* parent = nullptr);

  void onClick(Qt::MouseButton button);
  void onDragComplete(Qt::MouseButton button);

 private:
  CharacterHost& m_host;
  Clock& m_clock;
};

}  // namespace chimewise
