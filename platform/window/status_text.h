// How the window words what a snapshot says: sizes, durations, slot states,
// positions and the status line.
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "host/server_status.h"

namespace quorvane {

// Bytes in the largest binary unit that keeps a number of 1 or more: "512 B",
// "1.5 KiB", "20.0 MiB".
QString ByteSize(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03", "3 d 4:05:06".
QString Elapsed(std::chrono::milliseconds duration);
// A name shown to the operator: "awaiting hello" for awaiting_hello.
QString Shown(std::string_view name);
// Bytes of the game's code page, one character each.
QString GameText(std::string_view text);
// A keypad facing with its arrow: "8 ↑", "3 ↘"; a value off the keypad as it is.
QString Facing(int facing);
// "Listening on ADDR:PORT · up 1:02:03 · accepted 5 · refused 2 · bans in force 0".
QString StatusLine(const QString& endpoint, const ServerSnapshot& snapshot);

}  // namespace quorvane
