// Opcode 200: store the name block, load the character, then send the client
// everything it shows, announce the character to the other player and greet.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/data_file_names.h"
#include "session/opcodes.h"
#include "session/player_announcement.h"
#include "session/server_socket.h"
#include "session/wire_fields.h"

namespace quorvane {
namespace {

constexpr std::uint8_t kBlank = 0x20;
constexpr std::size_t kMarkOffset = 20;
constexpr std::uint8_t kMark = 0x07;
constexpr std::uint8_t kZero[] = {0x00};

// X, Y, 00, 00, 02.
std::array<std::uint8_t, 7> PlaceOf(const CharacterRecord& record) {
  std::array<std::uint8_t, 7> place{};
  const auto x = PackInt(record.PosX);
  const auto y = PackInt(record.PosY);
  std::copy(y.begin(), y.end(), std::copy(x.begin(), x.end(), place.begin()));
  place[6] = 0x02;
  return place;
}

}  // namespace

void ServerSocket::Login(ByteView payload) {
  const auto block = payload.first(std::min(payload.size(), kNameFieldSize));
  quorvane::NameField field;
  field.fill(kBlank);
  std::copy(block.begin(), block.end(), field.begin());
  field[kMarkOffset] = kMark;

  const std::string fileName = CharacterFileName(field);
  std::optional<quorvane::CharacterRecord> loaded;
  std::string characterFile;
  if (const auto found = data_.Find(DataKind::kCharacter, fileName)) {
    // Its own name finds the file at once, without a second case-blind search.
    loaded = LoadCharacter(data_, *found, diagnostics_);
    if (loaded) characterFile = *found;
  }
  if (loginGate_ && !loginGate_(characterFile)) return;

  NameField = field;
  if (loaded) CharacterRecord = *loaded;

  SendSealed(opcode::kIdentity, NameField);
  SendSealed(opcode::kLoginBegin, kZero);
  SendSealed(opcode::kPosition, PlaceOf(CharacterRecord));

  SendStats();
  SendSpells();
  SendItems();

  SendSealed(opcode::kLoginStep, kZero);
  SendSealed(opcode::kLoginStep, kZero);

  RaiseAllSend(opcode::kAppeared, PlayerAnnouncement(NameField, CharacterRecord));

  SendSealed(opcode::kChatLine, welcome_);
  SendOutgoing();
  if (loggedIn_) loggedIn_(fileName, loaded.has_value());
}

}  // namespace quorvane
