// Outcome of an engine operation. Every call that can fail returns a Status;
// callers test ok() or the kind, never a magic number. A Status cannot be dropped
// unnoticed: a caller that has nothing to do with one (a clean-up after another failure,
// which is the one reported) says so with IgnoreError().
#pragma once

#include <string>
#include <string_view>

namespace xbase {

class [[nodiscard]] Status {
 public:
  enum class Kind {
    kOk = 0,
    kNotFound,         // a file, field, tag, alias or record that does not exist
    kCorruption,       // a file whose bytes do not describe a valid table, memo or index
    kIOError,          // the operating system refused a read, write, rename or lock
    kInvalidArgument,  // a bad value, expression or call order from the caller
    kBusy,             // someone else holds the table or a record (lock conflict)
    kNotSupported,     // a valid but foreign file or feature this engine does not handle
  };

  Status() = default;
  static Status OK() { return Status(); }
  static Status NotFound(std::string_view msg) { return Status(Kind::kNotFound, msg); }
  static Status Corruption(std::string_view msg) { return Status(Kind::kCorruption, msg); }
  static Status IOError(std::string_view msg) { return Status(Kind::kIOError, msg); }
  static Status InvalidArgument(std::string_view msg) { return Status(Kind::kInvalidArgument, msg); }
  static Status Busy(std::string_view msg) { return Status(Kind::kBusy, msg); }
  static Status NotSupported(std::string_view msg) { return Status(Kind::kNotSupported, msg); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  bool IsNotFound() const { return kind_ == Kind::kNotFound; }
  bool IsCorruption() const { return kind_ == Kind::kCorruption; }
  bool IsIOError() const { return kind_ == Kind::kIOError; }
  bool IsInvalidArgument() const { return kind_ == Kind::kInvalidArgument; }
  bool IsBusy() const { return kind_ == Kind::kBusy; }
  bool IsNotSupported() const { return kind_ == Kind::kNotSupported; }
  const std::string& message() const { return message_; }
  // For a clean-up whose own failure changes nothing for the caller.
  void IgnoreError() const {}

  // "OK" or "Corruption: <message>".
  std::string ToString() const;

  // Returns a copy whose message is prefixed with context ("CALENDAR.CDX: ...").
  Status WithContext(std::string_view context) const;

 private:
  Status(Kind kind, std::string_view msg) : kind_(kind), message_(msg) {}
  Kind kind_ = Kind::kOk;
  std::string message_;
};

const char* KindName(Status::Kind kind);

}  // namespace xbase

#define XBASE_RETURN_IF_ERROR(expr) \
  do {                              \
    ::xbase::Status _st = (expr);   \
    if (!_st.ok()) return _st;      \
  } while (0)
