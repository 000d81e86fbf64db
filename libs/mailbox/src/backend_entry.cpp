// The mail module's entry point.

#include "backend.h"

#include <modules/module.h>

MODULES_ENTRY_POINT const mailbox::backend::Api* mailbox_backend_api() {
  static const mailbox::backend::Api api{
      mailbox::backend::kVersion, &mailbox::ParseMessage, &mailbox::OpenMaildir, &mailbox::OpenImap,
      &mailbox::LookupSecret,     &mailbox::StoreSecret,  &mailbox::ClearSecret,
  };
  return &api;
}
