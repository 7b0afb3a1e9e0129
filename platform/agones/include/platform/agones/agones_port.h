// Which port the Agones SDK sidecar's REST API listens on, if the server is
// to talk to one: --agones wins, else AGONES_SDK_HTTP_PORT, which Agones sets
// in every game server's container.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace quorvane {

inline constexpr char kAgonesPortVariable[] = "AGONES_SDK_HTTP_PORT";

struct AgonesPort {
  std::optional<std::uint16_t> port;  // none: no sidecar to talk to
  QString error;                      // why the variable was passed over, when it was
};

// `option`: --agones, none when not given, 0 for off; `variable`: the
// environment's value, null when unset.
AgonesPort ChooseAgonesPort(std::optional<std::uint16_t> option, const char* variable);

}  // namespace quorvane
