// The slot and NPC tables, and the connection counters beside them, as JSON
// for /status. Character and NPC names are bytes of the game's code page,
// given one character per byte (Latin-1), as the log box shows them.
#pragma once

#include <QByteArray>

#include "host/server_status.h"

namespace quorvane {

QByteArray StatusJson(const ServerSnapshot& snapshot);

}  // namespace quorvane
