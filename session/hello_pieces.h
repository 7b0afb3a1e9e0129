// TCP keeps no message boundaries, so a hello may come in pieces. The escape
// codec writes no byte below 0x08 but its escape byte 0x07 and the end marker
// 0x01, so a plain low byte ends an escaped string wherever it stands.
#pragma once

#include "session/bytes.h"

namespace quorvane {

// Whether `wire` is the start of some escaped hello that more bytes can still
// complete: no end marker yet, and every byte it decodes to so far agrees with
// the hello's fixed prefix and fits within the hello's length. Such a start is
// never longer than a whole escaped hello (20 bytes).
bool UnfinishedHello(ByteView wire);

}  // namespace quorvane
