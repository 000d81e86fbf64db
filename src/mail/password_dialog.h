#pragma once
// Asks the user for a mailbox password, once per session where no secret store keeps it.

#include <QString>

#include <functional>
#include <optional>

namespace chimewise {

// Shows the question and returns at once; `answered` gets the password, or nullopt when the user
// cancels.
void AskMailPassword(const QString& server, const QString& user, std::function<void(std::optional<QString>)> answered);

}  // namespace chimewise
