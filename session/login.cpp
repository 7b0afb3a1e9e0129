// Opcode 200: store the name block, load the character, then send the client
// everything it shows, announce the character to the other player and greet.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "data_file_names.h"
#include "opcodes.h"
#include "server_socket.h"
#include "wire_fields.h"

namespace quorvane {
namespace {

constexpr std::uint8_t kBlank = 0x20;
constexpr std::size_t kMarkOffset = 20;
constexpr std::uint8_t kMark = 0x07;
constexpr std::uint8_t kZero[] = {0x00};

// 00, line type 04, the sender, 0A, the text.
constexpr std::string_view kWelcome = std::string_view(
    "\x00\x04"
    "OrlanServer\x0A"
    "Welcome to Orlan RP Server",
    40);

Bytes PositionOf(const CharacterRecord& record) {
  Bytes position;
  Append(position, PackInt(record.PosX));
  Append(position, PackInt(record.PosY));
  return position;
}

ByteView BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

void ServerSocket::Login(ByteView payload) {
  const auto block = payload.first(std::min(payload.size(), kNameFieldSize));
  NameField.fill(kBlank);
  std::copy(block.begin(), block.end(), NameField.begin());
  NameField[kMarkOffset] = kMark;

  const std::string fileName = CharacterFileName(NameField);
  const auto loaded = LoadCharacter(data_, fileName, diagnostics_);
  if (loaded) CharacterRecord = *loaded;
  const Bytes position = PositionOf(CharacterRecord);

  SendSealed(opcode::kIdentity, NameField);
  SendSealed(opcode::kLoginBegin, kZero);
  Bytes place = position;
  Append(place, std::to_array<std::uint8_t>({0x00, 0x00, 0x02}));
  SendSealed(opcode::kPosition, place);

  SendStats();
  SendSpells();
  SendItems();

  SendSealed(opcode::kLoginStep, kZero);
  SendSealed(opcode::kLoginStep, kZero);

  Bytes announcement(NameField.begin(), NameField.end());
  Append(announcement, position);
  Append(announcement, std::to_array<std::uint8_t>({0x00, 0x00, 0x00}));
  RaiseAllSend(opcode::kAppeared, announcement);

  SendSealed(opcode::kChatLine, BytesOf(kWelcome));
  if (loggedIn_) loggedIn_(fileName, loaded.has_value());
}

}  // namespace quorvane
