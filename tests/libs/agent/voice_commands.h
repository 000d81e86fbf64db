#pragma once
// The command menu the program gives its character, with the voice grammars as it registers
// them, plus "ReadMail". The platform tests use it as a realistic set of grammars.

#include "agent/Commands.h"

#include <vector>

inline std::vector<agent::Command> programCommands() {
  const QString sep = QStringLiteral("__________________________");
  return {
      {"NoTalk", "Stop Tal&king", "(Stop | Shut up) [Talking]", true, true},
      {"Listen", "&Listen", QString(), true, true},
      {"FileSep1", sep, "", false, true},
      {"LoadJoke", "&Jesterbox && Quotes", "Load Jesterbox", true, true},
      {"Joke", "Tell &a Joke or Quote", "[please] Tell a Joke [please]", true, true},
      {"Create", "&Create Mailcaster", "Create Email", true, true},
      {"View", "&Reminder Viewer", "Reminder Viewer [Please]", true, true},
      {"Time", "Say &Time", "[Please] (Say | What is ) [the] Time [Please]", true, true},
      {"Clipboard", "R&ead Clipboard", "(Read | Say) Clipboard", true, true},
      {"FileSep2", sep, "", false, true},
      {"Options", "&Options", "[Show] Options", true, true},
      {"NoSound", "T&urn Snoring On/Off", "[Stop] Snoring (Off | On)", true, true},
      {"Optimize", "O&ptimize Reminders", "Optimize [Reminders]", true, true},
      {"Update", "Update &Me", "Update Me", true, true},
      {"FileSep3", sep, "", false, true},
      {"GoAway", "&Go Away", "Go Away", true, true},
      {"Quit", "&Quit Olm Chimewise", "Quit [Olm] [Chimewise]", true, true},
      {"ReadMail", "Read &Mail", "Read [my] Mail", true, true},
  };
}
