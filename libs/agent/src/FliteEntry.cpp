// The voice module's entry point.

#include "FliteBackend.h"

#include <modules/Module.h>

MODULES_ENTRY_POINT const agent::flitevoice::Api* agent_flite_api() {
  using namespace agent::flitevoice;
  static const Api api{kVersion, &synthesize, &pronounce};
  return &api;
}
