#include "platform/monitoring/status_json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <string_view>

#include "host/status_names.h"

namespace quorvane {
namespace {

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

double Seconds(std::chrono::milliseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

// Counts are below 2^53 for any life a server has, so a JSON number holds them.
double Count(std::uint64_t count) {
  return static_cast<double>(count);
}

QJsonObject SlotJson(std::size_t index, const SlotStatus& slot) {
  QJsonObject json{
      {"slot", static_cast<int>(index + 1)},
      {"name", QString("Server%1").arg(index + 1)},
      {"state", Text(NameOf(slot.state))},
  };
  if (slot.state == SlotState::kFree) return json;
  const PacketTally in = slot.traffic.TotalReceived();
  const PacketTally out = slot.traffic.TotalSent();
  json.insert("peer", Text(slot.peer));
  json.insert("connected_since",
              QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 slot.connectedAt.time_since_epoch())
                                                 .count(),
                                             Qt::UTC)
                  .toString(Qt::ISODateWithMs));
  json.insert("connected_seconds", Seconds(slot.connectedFor));
  json.insert("packets_in", Count(in.packets));
  json.insert("packets_out", Count(out.packets));
  json.insert("bytes_in", Count(in.bytes));
  json.insert("bytes_out", Count(out.bytes));
  json.insert("relays_dropped", Count(slot.relaysDropped));
  json.insert("refusals", Count(slot.refusals));
  if (slot.state == SlotState::kLoggedIn) {
    json.insert("character", QJsonObject{
                                 {"name", Text(slot.character)},
                                 {"file_found", slot.characterFound},
                                 {"level", slot.level},
                                 {"class", slot.characterClass},
                                 {"x", slot.x},
                                 {"y", slot.y},
                             });
  }
  return json;
}

template <typename Enum, std::size_t N, std::size_t M>
QJsonObject ByReason(const Enum (&values)[N], const std::array<std::uint64_t, M>& counts) {
  QJsonObject json;
  for (const Enum value : values) {
    json.insert(Text(NameOf(value)), Count(counts[static_cast<std::size_t>(value)]));
  }
  return json;
}

}  // namespace

QByteArray StatusJson(const ServerSnapshot& snapshot) {
  QJsonArray slotArray;
  for (std::size_t index = 0; index < snapshot.slotTable.size(); ++index) {
    slotArray.append(SlotJson(index, snapshot.slotTable[index]));
  }
  QJsonArray npcs;
  for (const NpcStatus& npc : snapshot.npcs) {
    npcs.append(
        QJsonObject{{"name", Text(npc.name)}, {"x", npc.x}, {"y", npc.y}, {"facing", npc.facing}});
  }
  const StatusCounters& counters = snapshot.counters;
  const QJsonObject connections{
      {"accepted", Count(counters.connectionsAccepted)},
      {"refused", ByReason(kRefusalReasons, counters.refused)},
      {"closed", ByReason(kCloseReasons, counters.closed)},
      {"closed_by_host", ByReason(kHostCauses, counters.closedByHost)},
      {"banned", ByReason(kBanReasons, counters.banned)},
      {"bans_in_force", Count(snapshot.bansInForce)},
      {"manual_bans_in_force", Count(snapshot.manualBansInForce)},
      {"logins_found", Count(counters.loginsFound)},
      {"logins_not_found", Count(counters.loginsNotFound)},
      {"relays_dropped", ByReason(kDropReasons, counters.relaysDropped)},
  };
  const QJsonObject root{
      {"uptime_seconds", Seconds(snapshot.uptime)},
      {"players_connected", static_cast<int>(snapshot.PlayersConnected())},
      {"slots", slotArray},
      {"npcs", npcs},
      {"connections", connections},
  };
  return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

}  // namespace quorvane
