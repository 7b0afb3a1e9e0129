#include "server.h"

#include <random>

#include "guarded.h"

namespace quorvane {
namespace {

std::uint64_t FreshSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^ Generator::SystemClock();
}

ConnectionLimits LimitsFrom(const ServerOptions& options) {
  ConnectionLimits limits;
  limits.handshakeTimeout = options.handshakeTimeout;
  return limits;
}

std::filesystem::path DataFolder(const QString& option) {
  return option.isEmpty() ? std::filesystem::path(".")
                          : std::filesystem::path(option.toStdString());
}

}  // namespace

Server::Server(const ServerOptions& options, const kelvane::Api& cipher, TextBox& log)
    : listener_(options.listen),
      socket1_(listener_, LimitsFrom(options)),
      socket2_(listener_, LimitsFrom(options)),
      generator_(FreshSeed()),
      form_(Form1::Controls{log, listener_, socket1_, socket2_}, cipher, generator_,
            DataFolder(options.dataDir), options.port) {
  listener_.SetConnectionRequestHandler(
      [this](std::int32_t requestID) { form_.Winsock1_ConnectionRequest(requestID); });
  socket1_.SetHandshakeDone([this] { return form_.Slot1().Phase() == kPhaseOpen; });
  socket2_.SetHandshakeDone([this] { return form_.Slot2().Phase() == kPhaseOpen; });
  timer1_.setInterval(options.tickMs);
  QObject::connect(&timer1_, &QTimer::timeout, &timer1_,
                   [this] { RunGuarded("the NPC timer", [this] { form_.Timer1_Timer(); }); });
}

void Server::Start() {
  form_.Form_Load();
  timer1_.start();
}

}  // namespace quorvane
