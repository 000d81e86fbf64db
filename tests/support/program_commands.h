#pragma once
// The command menu the program gives its character (its own table, with the voice grammars as it
// registers them), as the character platform's commands: a realistic set of grammars for the
// platform's tests.

#include "character/character_tables.h"

#include <agent/commands.h>

#include <vector>

inline std::vector<agent::Command> programCommands() {
  std::vector<agent::Command> commands;
  for (const chimewise::CharacterCommand& c : chimewise::CharacterCommands())
    commands.push_back({QString::fromUtf8(c.name), QString::fromUtf8(c.caption),
                        c.voice ? QString::fromUtf8(c.voice) : QString(), c.enabled, c.visible});
  return commands;
}
