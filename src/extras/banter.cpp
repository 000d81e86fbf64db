#include "extras/banter.h"

#include "character/character_host.h"
#include "clock/spoken_time.h"
#include "core/clock.h"

#include <array>

namespace chimewise {

namespace {

constexpr std::array<const char*, 5> kClickRemarks{{
    "\\pl=pleased\\Hee, Hee, That tickles",
    "\\pl=acknowledge\\You clicked me?",
    "\\pl=surprised\\Watch it with that mouse pointer!",
    "\\pl=surprised\\Wowa! Careful with that thing!",
    "\\pl=greet\\What can I do for you?",
}};

// The last remark (index 21) is made from the weekday and the part of the day.
constexpr std::array<const char*, 21> kDragRemarks{{
    "The view here is much nicer.\\pl=pleased\\",
    "Sorry, I didn't mean to get in your way.",
    "Hey, that makes me dizzy!",
    "Not so fast, I don't feel so good!",
    "Now why did you move me?",
    "You really move me",
    "This is much better",
    "Moving is always a drag",
    "This is a nice spot anyway",
    "I've finally arrived!",
    "Thanks for putting me in my place.",
    "OK, OK! I'll stay over here.",
    "Woe! Head rush.",
    "Thanks, my foot was falling asleep.",
    "I'm always on the move.",
    "That was a wild ride",
    "Sorry, I didn't realize that I was in your way.",
    "Change is always good.",
    "Now, what was wrong with being over there?",
    "Oh, is this where you wanted me?",
    "You are looking spiffy today.",
}};

}  // namespace

qint64 RoundedSecondOfDay(const QTime& time) {
  const qint64 ms = time.msecsSinceStartOfDay();
  const qint64 whole = ms / 1000;
  const qint64 rest = ms % 1000;
  if (rest > 500 || (rest == 500 && whole % 2 == 1)) return whole + 1;
  return whole;
}

QString ClickRemark(const QDateTime& now) {
  const auto k = static_cast<size_t>(RoundedSecondOfDay(now.time()) % 5);
  return QString::fromUtf8(kClickRemarks[k]) + kMenuHint;
}

QString DragRemark(const QDateTime& now) {
  const auto k = static_cast<size_t>(RoundedSecondOfDay(now.time()) % 22);
  if (k < kDragRemarks.size()) return QString::fromUtf8(kDragRemarks[k]);
  return QStringLiteral("Hope you are feeling fine on this nice ") + SpokenWeekday(now.date()) + u' ' +
         PartOfDayWord(now.time().hour());
}

CharacterBanter::CharacterBanter(CharacterHost& host, Clock& clock, QObject* parent)
    : QObject(parent), m_host(host), m_clock(clock) {
  connect(&m_host, &CharacterHost::clicked, this, &CharacterBanter::onClick);
  connect(&m_host, &CharacterHost::dragCompleted, this, &CharacterBanter::onDragComplete);
}

void CharacterBanter::onClick(Qt::MouseButton button) {
  if (button != Qt::LeftButton || !m_host.visible()) return;
  const QString remark = ClickRemark(m_clock.now());
  m_host.StopAll();
  m_host.SayText(remark);
}

void CharacterBanter::onDragComplete(Qt::MouseButton button) {
  if (button != Qt::LeftButton || !m_host.visible()) return;
  m_host.SayText(DragRemark(m_clock.now()));
}

}  // namespace chimewise
