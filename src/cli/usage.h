#pragma once
// A command line the tool cannot follow, as a value: whatever reads a part of the line returns it,
// and the tool prints it before the usage and ends with exit code 2.

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace chimewise {

struct UsageError {
  QString text;  // what is wrong, e.g. "--lead needs a value"
};

// A value read from the command line, or the usage error that says why there is none.
template <typename T>
class [[nodiscard]] Checked {
 public:
  Checked(T value) : m_read(std::move(value)) {}
  Checked(UsageError error) : m_read(std::move(error)) {}

  std::optional<UsageError> error() const {
    if (const UsageError* e = std::get_if<UsageError>(&m_read)) return *e;
    return std::nullopt;
  }
  // The value; only when there is no error.
  const T& operator*() const { return std::get<T>(m_read); }
  const T* operator->() const { return &std::get<T>(m_read); }

 private:
  std::variant<T, UsageError> m_read;
};

}  // namespace chimewise
