#pragma once
// What every part of the program shares: where its files are and its program-wide events. One
// instance per process, owned by the composition root, used on the user-interface thread. What
// one part changes and others read is kept by that part (the options by the program object, the
// next alarm by the alarm service, the open windows by their owners).

#include "core/program_events.h"

#include <QString>
#include <memory>

namespace chimewise {

struct SharedState {
  // Base of every data, sound, help and mail path. Never ends in "/".
  QString AppFolder;

  // Ends the speech waits, asks for a stop, says that shutdown has begun. Never null.
  std::unique_ptr<ProgramEvents> events = std::make_unique<ProgramEvents>();
};

}  // namespace chimewise
