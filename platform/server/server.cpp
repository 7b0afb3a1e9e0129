#include "platform/server/server.h"

#include <random>

#include "platform/data/cached_data_folder.h"
#include "platform/net/listen_addresses.h"
#include "platform/output/stderr_report.h"

namespace quorvane {
namespace {

std::uint64_t FreshSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^ Generator::SystemClock();
}

std::filesystem::path DataDirOf(const ServerOptions& options) {
  return options.dataDir.isEmpty() ? std::filesystem::path(".")
                                   : std::filesystem::path(options.dataDir.toStdString());
}

HostSettings SettingsFrom(const ServerOptions& options) {
  HostSettings settings;
  settings.port = options.port;
  settings.tickInterval = std::chrono::milliseconds(options.tickMs);
  settings.handshakeTimeout = options.handshakeTimeout;
  settings.welcomeLine =
      *WelcomeLine(options.welcomeSender.toStdString(), options.welcomeText.toStdString());
  settings.loginTimeout = options.loginTimeout;
  settings.loginGrace = options.loginGrace;
  settings.idleTimeout = options.idleTimeout;
  settings.admission = options.admission;
  settings.relaySoftLimit = options.relaySoftLimit;
  settings.relayRates = options.relayRates;
  settings.requireCharacter = options.requireCharacter;
  settings.loginRate = options.loginRate;
  return settings;
}

OperatorSettings OperatorSettingsFrom(const ServerOptions& options) {
  return {options.shutdownGrace, options.shutdownText.toStdString()};
}

}  // namespace

Server::Server(const ServerOptions& options, const kelvane::Api& cipher, TextBox& log)
    : options_(options),
      listener_({}),
      sockets_(MakeSockets(listener_)),
      generator_(FreshSeed()),
      data_(OpenDataFolder(DataDirOf(options))),
      form_(ControlsFor(log, std::make_index_sequence<kSlotCount>()), cipher, generator_,
            SettingsFrom(options)),
      banFile_(options.banFile.isEmpty()
                   ? nullptr
                   : std::make_unique<BanFile>(options.banFile.toStdString())),
      operator_(form_, clock_, ReportOnStderr, OperatorSettingsFrom(options),
                HostOperator::Hooks{
                    .draining =
                        [this] {
                          draining_ = true;
                          if (lifecycle_.draining) lifecycle_.draining();
                        },
                    .resumed =
                        [this] {
                          draining_ = false;
                          if (lifecycle_.resumed) lifecycle_.resumed();
                        },
                    .end =
                        [this] {
                          draining_ = true;
                          if (lifecycle_.end) lifecycle_.end();
                        },
                    .store = [this](const std::vector<BanRecord>& bans) -> std::string {
                      return banFile_ ? banFile_->Save(bans) : std::string();
                    },
                }) {
  form_.AddObserver(status_);
  listener_.SetConnectionRequestHandler(
      [this](std::int32_t requestID) { form_.Winsock1_ConnectionRequest(requestID); });
}

QStringList Server::Reload(const ServerOptions& options) {
  form_.SetWelcomeLine(
      *WelcomeLine(options.welcomeSender.toStdString(), options.welcomeText.toStdString()));
  form_.SetAddressRanges(options.admission.allow, options.admission.deny);
  operator_.SetSettings(OperatorSettingsFrom(options));
  return SettingsAwaitingRestart(options_, options);
}

ServerSnapshot Server::Snapshot() const {
  ServerSnapshot snapshot = status_.Snapshot();
  snapshot.manualBansInForce = operator_.ManualBansInForce();
  snapshot.adminActions = operator_.ActionCounts();
  return snapshot;
}

QString Server::LoadBans() {
  if (!banFile_) return {};
  std::string error;
  auto bans = banFile_->Load(error);
  if (!bans) return QString::fromStdString(error);
  operator_.SetManualBans(std::move(*bans));
  return {};
}

void Server::Start() {
  listener_.SetAddresses(ListenAddresses(options_.listen));
  form_.Form_Load();
}

Server::Sockets Server::MakeSockets(QtListener& listener) {
  Sockets sockets;
  for (auto& socket : sockets) socket = std::make_unique<QtSocketControl>(listener, kSendBound);
  return sockets;
}

template <std::size_t... Slot>
Form1::Controls Server::ControlsFor(TextBox& log, std::index_sequence<Slot...>) {
  return Form1::Controls{log, listener_, {*sockets_[Slot]...}, clock_, ReportOnStderr, data_.get()};
}

}  // namespace quorvane
