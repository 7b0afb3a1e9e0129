// /status as JSON: the slot table with what each state has to show, the NPC
// table, and the connection counters.
#include "platform/monitoring/status_json.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace quorvane {
namespace {

QJsonObject Parsed(const ServerSnapshot& snapshot) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(StatusJson(snapshot), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  return document.object();
}

TEST(StatusJsonTest, SlotsShowWhatTheirStateHasAndNpcsWhereTheyStand) {
  ServerSnapshot snapshot;
  snapshot.uptime = std::chrono::milliseconds(90'250);
  SlotStatus& player = snapshot.slotTable[0];
  player.state = SlotState::kLoggedIn;
  player.peer = "127.0.0.1:40000";
  player.character = "Mir\xe9lle";
  player.characterFound = true;
  player.level = 250;
  player.characterClass = 2;
  player.x = 30;
  player.y = 31;
  player.connectedAt = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  player.connectedFor = std::chrono::milliseconds(4'500);
  player.traffic.CountReceived(124, 8);
  player.traffic.CountSent(125, 9);
  player.traffic.handshakeSent = {1, 12};
  player.relaysDropped = 3;
  player.refusals = 4;
  snapshot.slotTable[1].state = SlotState::kOpen;
  snapshot.slotTable[1].peer = "[::1]:5";
  snapshot.npcs = {{"+Volkrin_ 0", 40, 50, 8}, {"+Volkrin_ 1", 70, 20, 3}};
  snapshot.counters.connectionsAccepted = 5;
  snapshot.counters.refused[static_cast<std::size_t>(RefusalReason::kBanned)] = 2;
  snapshot.counters.loginsNotFound = 1;
  snapshot.bansInForce = 1;

  const QJsonObject json = Parsed(snapshot);
  EXPECT_DOUBLE_EQ(json["uptime_seconds"].toDouble(), 90.25);
  EXPECT_EQ(json["players_connected"].toInt(), 2);

  const QJsonArray slotArray = json["slots"].toArray();
  ASSERT_EQ(slotArray.size(), 2);
  const QJsonObject first = slotArray[0].toObject();
  EXPECT_EQ(first["slot"].toInt(), 1);
  EXPECT_EQ(first["name"].toString(), "Server1");
  EXPECT_EQ(first["state"].toString(), "logged_in");
  EXPECT_EQ(first["peer"].toString(), "127.0.0.1:40000");
  EXPECT_EQ(first["connected_since"].toString(), "2023-11-14T22:13:20.000Z");
  EXPECT_DOUBLE_EQ(first["connected_seconds"].toDouble(), 4.5);
  EXPECT_EQ(first["packets_in"].toInt(), 1);
  EXPECT_EQ(first["packets_out"].toInt(), 2);
  EXPECT_EQ(first["bytes_in"].toInt(), 8);
  EXPECT_EQ(first["bytes_out"].toInt(), 21);
  EXPECT_EQ(first["relays_dropped"].toInt(), 3);
  EXPECT_EQ(first["refusals"].toInt(), 4);
  const QJsonObject character = first["character"].toObject();
  EXPECT_EQ(character["name"].toString(), QString::fromUtf8("Mirélle"));
  EXPECT_TRUE(character["file_found"].toBool());
  EXPECT_EQ(character["level"].toInt(), 250);
  EXPECT_EQ(character["class"].toInt(), 2);
  EXPECT_EQ(character["x"].toInt(), 30);
  EXPECT_EQ(character["y"].toInt(), 31);

  // Open but not logged in: a connection, no character.
  const QJsonObject second = slotArray[1].toObject();
  EXPECT_EQ(second["state"].toString(), "open");
  EXPECT_EQ(second["peer"].toString(), "[::1]:5");
  EXPECT_FALSE(second.contains("character"));

  const QJsonArray npcs = json["npcs"].toArray();
  ASSERT_EQ(npcs.size(), 2);
  EXPECT_EQ(npcs[1].toObject()["name"].toString(), "+Volkrin_ 1");
  EXPECT_EQ(npcs[1].toObject()["x"].toInt(), 70);
  EXPECT_EQ(npcs[1].toObject()["y"].toInt(), 20);
  EXPECT_EQ(npcs[1].toObject()["facing"].toInt(), 3);

  const QJsonObject connections = json["connections"].toObject();
  EXPECT_EQ(connections["accepted"].toInt(), 5);
  EXPECT_EQ(connections["refused"].toObject()["banned"].toInt(), 2);
  EXPECT_EQ(connections["refused"].toObject()["slots_full"].toInt(), 0);
  EXPECT_EQ(connections["logins_not_found"].toInt(), 1);
  EXPECT_EQ(connections["bans_in_force"].toInt(), 1);
}

TEST(StatusJsonTest, FreeSlotHasOnlyItsNameAndState) {
  const QJsonObject slot = Parsed(ServerSnapshot{})["slots"].toArray()[0].toObject();
  QStringList keys = slot.keys();
  keys.sort();
  EXPECT_EQ(keys, (QStringList{"name", "slot", "state"}));
  EXPECT_EQ(slot["state"].toString(), "free");
}

}  // namespace
}  // namespace quorvane
