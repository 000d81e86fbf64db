#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace agent {

// One entry of a character's command menu.
struct Command {
  QString name;     // reported by Character::command when chosen
  QString caption;  // menu text; "&" marks the accelerator, "&&" is a literal "&"
  QString voice;    // voice grammar: [optional words], (alternative | words)
  bool enabled = true;
  bool visible = true;
  // Shown with a check mark while this holds (asked each time the menu opens); unset: none.
  std::function<bool()> checked;
};

// The commands a character offers in its pop-up menu, in the order they were added.
class Commands {
 public:
  void removeAll() { m_items.clear(); }
  // Adds a command; false when the name is empty or already taken.
  bool add(const QString& name, const QString& caption, const QString& voice = QString(), bool enabled = true,
           bool visible = true);
  bool remove(const QString& name);
  // Gives a command a check mark that follows `checked`; false when there is no such command.
  bool setChecked(const QString& name, std::function<bool()> checked);
  const Command* find(const QString& name) const;  // names match in any letter case
  int count() const { return int(m_items.size()); }
  const std::vector<Command>& items() const { return m_items; }

 private:
  std::vector<Command> m_items;
};

}  // namespace agent
