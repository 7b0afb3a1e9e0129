// Tells the service manager (systemd, through NOTIFY_SOCKET) how the server
// stands. Does nothing when not started by one.
#pragma once

#include <QString>

namespace quorvane {

// The port `endpoint` ("ADDR:PORT") is listening: a Type=notify unit counts
// as started from now on.
void NotifyReady(const QString& endpoint);
// The server is draining towards its end: a unit counts as stopping.
void NotifyStopping(const QString& status);

}  // namespace quorvane
