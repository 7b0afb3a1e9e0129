#include "platform/agones/agones_port.h"

namespace quorvane {

AgonesPort ChooseAgonesPort(std::optional<std::uint16_t> option, const char* variable) {
  if (option) return {*option == 0 ? std::nullopt : option, {}};
  if (variable == nullptr || *variable == '\0') return {};
  bool valid = false;
  const uint port = QString::fromLocal8Bit(variable).trimmed().toUInt(&valid);
  if (!valid || port == 0 || port > 65535) {
    return {std::nullopt, QString(kAgonesPortVariable) + "=" + QString::fromLocal8Bit(variable) +
                              " is no port from 1 to 65535: not talking to Agones"};
  }
  return {static_cast<std::uint16_t>(port), {}};
}

}  // namespace quorvane
