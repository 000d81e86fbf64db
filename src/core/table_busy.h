#pragma once
// The reminder table held by another program (a pack by the command-line tool, another writer):
// the routines the timer runs wait for it only briefly, give up and try again on a later tick. The
// user hears of it only when it lasts, and once per spell.

#include "core/problem.h"

#include <QDateTime>
#include <optional>

namespace chimewise {

class Clock;

// How long the table must have been busy, without a break, before the user is told.
inline constexpr int kTableBusyTellAfterSecs = 10;

// What of a routine's outcomes is to be reported, given the time the table has been busy.
class TableBusySpell {
 public:
  explicit TableBusySpell(const Clock& clock, int tellAfterSecs = kTableBusyTellAfterSecs)
      : m_clock(clock), m_tellAfterSecs(tellAfterSecs) {}

  // A busy outcome (ProblemKind::TableBusy) starts a spell or goes on with it: nothing is to be
  // reported (nullopt) until the spell has lasted tellAfterSecs, then the outcome once, then
  // nothing again while the spell lasts. Any other outcome (ok, or another problem) ends the spell
  // and is to be reported as it is; a spell after it is told again once it lasts.
  std::optional<Problem> filter(const Problem& outcome);

 private:
  const Clock& m_clock;
  int m_tellAfterSecs;
  QDateTime m_since;  // the first busy outcome of the spell; invalid between spells
  bool m_told = false;
};

}  // namespace chimewise
