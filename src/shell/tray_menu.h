#pragma once
// The tray icon's menu: the program's command table, in its order.

#include "shell/commands.h"

#include <array>
#include <optional>

class QMenu;

namespace chimewise {

struct TrayEntry {
  std::optional<Command> command;  // nullopt: a separator
  const char* caption;
};

// Every entry of the tray menu in order. "&" marks the access key, "&&" is a literal "&"; every
// entry has a letter no other entry uses, so pressing it chooses the entry at once.
const std::array<TrayEntry, 20>& TrayEntries();

// Fills `menu` with the entries, "&Add Reminder" as its bold default; an entry whose command is
// not available is shown disabled. Choosing an entry runs its command.
void FillTrayMenu(QMenu& menu, ProgramCommands& commands);

}  // namespace chimewise
