// The voice module's entry point.

#include "flite_backend.h"

#include <modules/module.h>

MODULES_ENTRY_POINT const agent::flitevoice::Api* agent_flite_api() {
  using namespace agent::flitevoice;
  static const Api api{kVersion, &synthesize, &pronounce};
  return &api;
}
