#include "host/form1.h"

#include <utility>

#include "host/connection_diagnostics.h"
#include "session_slot.h"

namespace quorvane {
namespace {

class NoDataFiles final : public DataFolder {
 public:
  std::optional<ByteView> Read(DataKind, std::string_view, const Diagnostics&) override {
    return std::nullopt;
  }
  std::optional<std::string> Find(DataKind, std::string_view) override { return std::nullopt; }
};

DataFolder& DataOf(const Form1::Controls& controls) {
  static NoDataFiles none;
  return controls.Data != nullptr ? *controls.Data : none;
}

}  // namespace

Form1::Form1(Controls controls, const kelvane::Api& cipher, Generator& generator,
             HostSettings settings)
    : Text1(controls.Text1),
      Winsock1(controls.Winsock1),
      clock_(controls.Clock1),
      report_(std::move(controls.Report)),
      generator_(generator),
      settings_(std::move(settings)),
      admission_(settings_.admission) {
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    slots_[index] =
        std::make_unique<SessionSlot>(controls.Sockets[index].get(), cipher, generator,
                                      DataOf(controls), settings_.relayRates, settings_.loginRate);
    WireSlot(index);
  }
  Timer1 = clock_.CreateTimer(TimerKind::kPeriodic, "the NPC timer", [this] { Timer1_Timer(); });
  diagnostics_ = std::make_unique<ConnectionDiagnostics>(clock_, report_, settings_);
  AddObserver(*diagnostics_);
}

Form1::~Form1() = default;

void Form1::Form_Load() {
  Winsock1.Bind(settings_.port);
  Winsock1.Listen();
  TimerTicks = 0;
  Timer1->Start(settings_.tickInterval);
}

void Form1::Winsock1_ConnectionRequest(std::int32_t requestID) {
  const PeerEndpoint endpoint = Winsock1.PendingPeer(requestID);
  const auto address = IpAddress::Parse(endpoint.address);
  // Reset before it was taken: there is no one to serve, and nothing to hold
  // the address rules to.
  if (!address) {
    Winsock1.Refuse(requestID);
    Publish([](ConnectionObserver& observer) {
      observer.ConnectionRefused({}, RefusalReason::kNoPeerAddress);
    });
    return;
  }
  const std::string peer = address->WithPort(endpoint.port);
  if (!Admit(requestID, *address, peer)) return;
  Text1.SetSelStart(0);
  Text1.SetSelLength(0);
  if (const auto index = SlotForNewcomer()) {
    ServerSocket& session = slots_[*index]->session;
    Log("Connected client to Server" + std::to_string(*index + 1));
    session.Closer();
    session.Accept(requestID);
    ConnectionAccepted(*index, address, peer);
    return;
  }
  Log("Cannot connect more than " + std::to_string(kSlotCount) + " clients");
  Publish([&](ConnectionObserver& observer) {
    observer.ConnectionRefused(peer, RefusalReason::kSlotsFull);
  });
}

void Form1::RelayFrom(std::size_t slot, std::int16_t id, ByteView data) {
  std::optional<bool> withinBudget;
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    if (index == slot) continue;
    const ServerSocket& receiver = slots_[index]->session;
    // Its SendData would refuse the packet; that costs the sender nothing.
    if (receiver.Stat() != SocketControl::kConnected || receiver.Phase() != kPhaseOpen) continue;
    if (!withinBudget) {
      withinBudget =
          slots_[slot]->relayBudget.Take(kelvane::kPacketHeaderSize + data.size(), clock_.Now());
    }
    if (!*withinBudget) {
      Publish([&](ConnectionObserver& observer) {
        observer.RelayDropped(slot, index, id, DropReason::kRateLimit);
      });
      continue;
    }
    Deliver(slot, index, id, data);
  }
}

void Form1::Broadcast(std::int16_t id, ByteView data) {
  for (std::size_t index = kSlotCount; index-- > 0;) Deliver(kNoSlot, index, id, data);
}

void Form1::Deliver(std::size_t from, std::size_t to, std::int16_t id, ByteView data) {
  SessionSlot& receiver = *slots_[to];
  if (settings_.relaySoftLimit != 0 && receiver.socket.PendingBytes() > settings_.relaySoftLimit) {
    Publish([&](ConnectionObserver& observer) {
      observer.RelayDropped(from, to, id, DropReason::kBackPressure);
    });
    return;
  }
  receiver.session.SendData(id, data);
}

ServerSocket& Form1::Slot(std::size_t index) {
  return slots_.at(index)->session;
}

void Form1::Log(std::string_view message) {
  std::string line(message);
  line += "\r\n";
  Text1.SetSelStart(0);
  Text1.SetSelLength(0);
  Text1.SetSelText(line);
}

}  // namespace quorvane
