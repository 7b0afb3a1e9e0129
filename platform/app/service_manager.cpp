#include "service_manager.h"

#include <systemd/sd-daemon.h>

namespace quorvane {

void NotifyReady(const QString& endpoint) {
  // A failure to notify is the service manager's to report: it times the
  // start out. The server goes on serving either way.
  sd_notifyf(0, "READY=1\nSTATUS=listening on %s", endpoint.toLocal8Bit().constData());
}

void NotifyStopping(const QString& status) {
  sd_notifyf(0, "STOPPING=1\nSTATUS=%s", status.toLocal8Bit().constData());
}

}  // namespace quorvane
