#include "server.h"

#include <random>

namespace quorvane {
namespace {

std::uint64_t FreshSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^ Generator::SystemClock();
}

std::filesystem::path DataFolder(const QString& option) {
  return option.isEmpty() ? std::filesystem::path(".")
                          : std::filesystem::path(option.toStdString());
}

}  // namespace

Server::Server(const ServerOptions& options, const kelvane::Api& cipher, TextBox& log)
    : listener_(options.listen),
      socket1_(listener_),
      socket2_(listener_),
      generator_(FreshSeed()),
      form_(Form1::Controls{log, listener_, socket1_, socket2_}, cipher, generator_,
            DataFolder(options.dataDir), options.port) {
  listener_.SetConnectionRequestHandler(
      [this](std::int32_t requestID) { form_.Winsock1_ConnectionRequest(requestID); });
  timer1_.setInterval(options.tickMs);
  QObject::connect(&timer1_, &QTimer::timeout, &timer1_, [this] { form_.Timer1_Timer(); });
}

void Server::Start() {
  form_.Form_Load();
  timer1_.start();
}

}  // namespace quorvane
