#include "agent/commands.h"

#include <algorithm>

namespace agent {

bool Commands::add(const QString& name, const QString& caption, const QString& voice, bool enabled, bool visible) {
  if (name.trimmed().isEmpty() || find(name)) return false;
  m_items.push_back(Command{name, caption, voice, enabled, visible, {}});
  return true;
}

bool Commands::remove(const QString& name) {
  const auto it = std::find_if(m_items.begin(), m_items.end(),
                               [&](const Command& c) { return c.name.compare(name, Qt::CaseInsensitive) == 0; });
  if (it == m_items.end()) return false;
  m_items.erase(it);
  return true;
}

bool Commands::setChecked(const QString& name, std::function<bool()> checked) {
  for (Command& c : m_items) {
    if (c.name.compare(name, Qt::CaseInsensitive) != 0) continue;
    c.checked = std::move(checked);
    return true;
  }
  return false;
}

const Command* Commands::find(const QString& name) const {
  for (const Command& c : m_items)
    if (c.name.compare(name, Qt::CaseInsensitive) == 0) return &c;
  return nullptr;
}

}  // namespace agent
