#pragma once
// Asks the user for a mailbox password, once per session where no secret store keeps it.

#include <QString>
#include <optional>

class QWidget;

namespace chimewise {

// nullopt when the user cancels.
std::optional<QString> AskMailPassword(QWidget* parent, const QString& server, const QString& user);

}  // namespace chimewise
