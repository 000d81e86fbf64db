// The calendar module's entry point.

#include "backend.h"

#include <modules/module.h>

MODULES_ENTRY_POINT const icalendar::backend::Api* icalendar_backend_api() {
  static const icalendar::backend::Api api{icalendar::backend::kVersion, &icalendar::backend::ReadWithLibical,
                                           &icalendar::backend::WriteWithLibical};
  return &api;
}
