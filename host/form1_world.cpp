// The world a player is shown on logging in: the other player, when that
// player's own connection has logged in, then the server's characters, each
// as it stands now. Only this client receives them, after its welcome line.
#include "host/form1.h"
#include "npc_announcements.h"
#include "session/opcodes.h"
#include "session/player_announcement.h"
#include "session_slot.h"

namespace quorvane {

void Form1::ShowWorldTo(std::size_t index) {
  ServerSocket& newcomer = slots_[index]->session;
  for (std::size_t other = 0; other < kSlotCount; ++other) {
    const SessionSlot& slot = *slots_[other];
    if (other == index || !slot.loggedIn) continue;
    if (slot.session.Stat() != SocketControl::kConnected || slot.session.Phase() != kPhaseOpen) {
      continue;
    }
    newcomer.SendData(opcode::kAppeared,
                      PlayerAnnouncement(slot.session.Char(), slot.session.Character()));
  }
  for (const NpcRecord& npc : Npcs) {
    if (!npc.Name.empty()) newcomer.SendData(opcode::kAppeared, NpcAppearance(npc));
  }
}

}  // namespace quorvane
