#pragma once
// Waiting for an FTP client's operation in a test: the event loop runs until its finished()
// signal has come.

#include "support/event_wait.h"

#include <ftp/ftp_client.h>

#include <optional>

namespace chimewise::testsupport {

// The reply of the client's running operation once it has finished (at once when none runs: the
// last reply). Code -1 when none came within timeoutMs.
inline ftp::Reply AwaitReply(ftp::FtpClient& client, int timeoutMs = 30000) {
  if (!client.busy()) return client.lastReply();
  std::optional<ftp::Reply> got;
  const QMetaObject::Connection c =
      QObject::connect(&client, &ftp::FtpClient::finished, [&got](const ftp::Reply& r) { got = r; });
  RunEventsUntil([&got] { return got.has_value(); }, timeoutMs);
  QObject::disconnect(c);
  return got.value_or(ftp::Reply{{-1, QStringLiteral("no reply within %1 ms").arg(timeoutMs)}, {}, -1});
}

}  // namespace chimewise::testsupport
