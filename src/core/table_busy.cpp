#include "core/table_busy.h"

#include "core/clock.h"

namespace chimewise {

std::optional<Problem> TableBusySpell::filter(const Problem& outcome) {
  if (outcome.kind != ProblemKind::TableBusy) {
    m_since = QDateTime();
    m_told = false;
    return outcome;
  }
  const QDateTime now = m_clock.now();
  // A clock set back during the spell starts it afresh rather than telling at once or never.
  if (!m_since.isValid() || now < m_since) m_since = now;
  if (m_told || m_since.secsTo(now) < m_tellAfterSecs) return std::nullopt;
  m_told = true;
  return outcome;
}

}  // namespace chimewise
