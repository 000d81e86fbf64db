#pragma once
// The running instance's channel as a later process sees it: where its socket is, and handing a
// command line over. QtCore only, so that a small tool can tell the running program something
// without loading a network stack.

#include <QString>

namespace instance {

// The socket of the instance named `key`, in the user's runtime folder (else the temp folder).
QString ChannelPath(const QString& key);

// Hands `commandLine` (one line; line breaks become spaces) to the running instance named `key`.
// False when none listens or it could not be delivered within `timeoutMs`.
bool SendToRunning(const QString& key, const QString& commandLine, int timeoutMs = 3000);

}  // namespace instance
