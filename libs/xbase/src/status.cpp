#include "xbase/status.h"

namespace xbase {

const char* KindName(Status::Kind kind) {
  switch (kind) {
    case Status::Kind::kOk: return "OK";
    case Status::Kind::kNotFound: return "NotFound";
    case Status::Kind::kCorruption: return "Corruption";
    case Status::Kind::kIOError: return "IOError";
    case Status::Kind::kInvalidArgument: return "InvalidArgument";
    case Status::Kind::kBusy: return "Busy";
    case Status::Kind::kNotSupported: return "NotSupported";
  }
  return "Unknown";
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return std::string(KindName(kind_)) + ": " + message_;
}

Status Status::WithContext(std::string_view context) const {
  if (ok()) return *this;
  std::string msg(context);
  msg += ": ";
  msg += message_;
  return Status(kind_, msg);
}

}  // namespace xbase
