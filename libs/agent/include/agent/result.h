#pragma once
// How the agent library says that something could not be had: a value, or a Failure with a kind
// the caller can act on and a message that names what is wrong, ready to show.

#include <QString>

#include <cassert>
#include <utility>

namespace agent {

enum class FailureKind {
  None,
  Unreadable,    // the file is missing, not a regular file, or cannot be read
  Damaged,       // the file is read but is no character file, or one at fault or over a limit
  IdTaken,       // another character is loaded under the ID asked for
  NotInstalled,  // a module is missing or belongs to another build of the library
};

struct Failure {
  FailureKind kind = FailureKind::None;
  QString message;  // "FILE: where: what is wrong" for files
  bool operator==(const Failure&) const = default;
};

// A pointer (plain or shared) that is null exactly when the call failed, and then the failure.
template <typename Pointer>
class [[nodiscard]] Result {
 public:
  Result(Pointer value) : m_value(std::move(value)) { assert(m_value); }
  Result(Failure failure) : m_failure(std::move(failure)) { assert(m_failure.kind != FailureKind::None); }

  bool ok() const { return m_value != nullptr; }
  explicit operator bool() const { return ok(); }
  const Pointer& value() const { return m_value; }  // null on failure
  // Kind None and an empty message when the call succeeded.
  const Failure& failure() const { return m_failure; }
  const QString& error() const { return m_failure.message; }

 private:
  Pointer m_value{};
  Failure m_failure;
};

}  // namespace agent
