// Writes the seed corpora: valid packets, handshakes, login scripts and data
// files for each fuzzer, so that fuzzing starts from inputs the server
// accepts. Usage: make_seeds CORPUS_DIR SAMPLE_DATA_DIR
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "kelvane.hpp"
#include "session/handshake.h"
#include "session/opcodes.h"
#include "session_script.h"

namespace {

namespace fs = std::filesystem;
using kelvane::Bytes;
namespace opcode = quorvane::opcode;
using quorvane::fuzz::Step;

void WriteSeed(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + (folder / name).string());
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

Bytes Owned(kelvane::ByteStrPtr str) {
  const auto view = kelvane::view(str);
  return Bytes(view.begin(), view.end());
}

Bytes Encode(const Bytes& bytes) {
  return Owned(kelvane::adopt(::encode(kelvane::copyOf(bytes).get())));
}

template <typename T>
void Put(Bytes& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
  }
}

void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// The field order of open_fuzzer.h's TakeState.
void PutKeys(Bytes& out, const ::DirectionKeys& k) {
  Put(out, k.counter);
  Put(out, k.key8a);
  Put(out, k.key16);
  Put(out, k.key8b);
  Put(out, k.key32);
  Put(out, k.step8a);
  Put(out, k.step16);
  Put(out, k.step8b);
  Put(out, k.step32);
}

Bytes StateBytes(const ::CipherState& state) {
  Bytes out;
  Put(out, state.clientSeed);
  Put(out, state.serverSeed);
  Put(out, state.seqMask);
  PutKeys(out, state.toServer);
  PutKeys(out, state.toClient);
  return out;
}

::CipherState Scheduled(std::uint32_t clientSeed, std::uint32_t serverSeed) {
  ::CipherState state{};
  state.clientSeed = clientSeed;
  state.serverSeed = serverSeed;
  ::seedcrypt(&state);
  return state;
}

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

struct Payload {
  std::int16_t opcode;
  Bytes bytes;
};

const std::vector<Payload>& SamplePayloads() {
  static const std::vector<Payload> payloads{
      {opcode::kPing, {}},
      {opcode::kLogin, NameBlock("Ann")},
      {opcode::kMove, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
      {opcode::kSay, {0x01, 'h', 'e', 'l', 'l', 'o'}},
      {opcode::kSay, {0x03, 'A', 'n', 'n'}},
      {opcode::kSay, {}},
  };
  return payloads;
}

// The state before the packets, then the packets sealed back to back.
Bytes OpenSeed(::CipherState state, const std::vector<Payload>& payloads, bool toServer) {
  Bytes seed = StateBytes(state);
  for (const auto& p : payloads) {
    const auto payload = kelvane::copyOf(p.bytes);
    Append(seed, Owned(kelvane::adopt(toServer ? ::clienc(p.opcode, payload.get(), &state)
                                               : ::serenc(p.opcode, payload.get(), &state))));
  }
  return seed;
}

void WriteOpenSeeds(const fs::path& folder, bool toServer) {
  int n = 0;
  for (const auto& p : SamplePayloads()) {
    WriteSeed(folder, "packet-" + std::to_string(n++),
              OpenSeed(Scheduled(0x1234ABCD, 1234), {p}, toServer));
  }
  WriteSeed(folder, "two-packets", OpenSeed(Scheduled(7, 32767), SamplePayloads(), toServer));
  Bytes cut = OpenSeed(Scheduled(99, 0), {SamplePayloads()[1]}, toServer);
  cut.resize(cut.size() - 10);
  WriteSeed(folder, "cut-short", cut);
}

// A path byte, the state, the opcode, the offset against a cache line, then
// the payload: short and long ones, on each of the three paths.
void WriteSealSeeds(const fs::path& folder) {
  const std::size_t lengths[] = {0, 7, 300, 4099};
  for (std::uint8_t path = 0; path < 3; ++path) {
    for (const std::size_t length : lengths) {
      Bytes seed{path};
      Append(seed, StateBytes(Scheduled(0x1234ABCD, 1234)));
      Append(seed, {0x2F, 0x01, static_cast<std::uint8_t>(length % 64)});
      for (std::size_t i = 0; i < length; ++i) seed.push_back(static_cast<std::uint8_t>(i * 7));
      WriteSeed(folder, "path-" + std::to_string(path) + "-" + std::to_string(length), seed);
    }
  }
}

void WriteDecodeSeeds(const fs::path& folder) {
  Bytes hello(quorvane::kHelloPrefix.begin(), quorvane::kHelloPrefix.end());
  Append(hello, {0xCD, 0x00, 0x07, 0xFF});
  WriteSeed(folder, "hello", Encode(hello));
  Bytes reply(quorvane::kReplyPrefix.begin(), quorvane::kReplyPrefix.end());
  Append(reply, {0x02, 0x03, 0x04, 0x05});
  WriteSeed(folder, "reply", Encode(reply));
  WriteSeed(folder, "escape-last", {0x41, 0x07, 0x01});
  WriteSeed(folder, "plain", {'p', 'l', 'a', 'i', 'n', 0x01});
}

// Session scripts (session_script.h).
class Script {
 public:
  explicit Script(std::uint32_t seed) { Put(bytes_, seed); }
  Script& Hello() { return StepOnly(Step::Hello); }
  Script& Raw(const Bytes& raw) {
    StepOnly(Step::Raw);
    Put(bytes_, static_cast<std::uint8_t>(raw.size()));
    Append(bytes_, raw);
    return *this;
  }
  Script& Sealed(std::int16_t opcode, const Bytes& payload) {
    StepOnly(Step::Sealed);
    Put(bytes_, opcode);
    Put(bytes_, static_cast<std::uint16_t>(payload.size()));
    Append(bytes_, payload);
    return *this;
  }
  Script& Arrive(std::uint16_t count = 0) {
    StepOnly(Step::Arrive);
    Put(bytes_, count);
    return *this;
  }
  Script& Reconnect(std::uint32_t seed) {
    StepOnly(Step::Reconnect);
    Put(bytes_, seed);
    return *this;
  }
  Script& Disconnect() { return StepOnly(Step::Disconnect); }
  Script& PeerSpeaks(std::uint8_t kind, const Bytes& payload) {
    StepOnly(Step::PeerSpeaks);
    Put(bytes_, kind);
    Put(bytes_, static_cast<std::uint8_t>(payload.size()));
    Append(bytes_, payload);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Script& StepOnly(Step step) {
    bytes_.push_back(static_cast<std::uint8_t>(step));
    return *this;
  }
  Bytes bytes_;
};

void WriteSessionSeeds(const fs::path& folder) {
  const Bytes chat{0x01, 'h', 'i'};
  WriteSeed(folder, "login-and-chat",
            Script(0x1234ABCD)
                .Hello()
                .Arrive()
                .Sealed(opcode::kLogin, NameBlock("Ann"))
                .Sealed(opcode::kSay, chat)
                .Sealed(opcode::kPing, {})
                .Arrive()
                .bytes());
  WriteSeed(folder, "split-arrivals",
            Script(42)
                .Hello()
                .Arrive(3)
                .Arrive()
                .Sealed(opcode::kSay, chat)
                .Sealed(opcode::kMove, {1, 2, 3, 4, 5, 6, 7, 8})
                .Arrive(5)
                .Arrive(9)
                .Arrive()
                .bytes());
  WriteSeed(folder, "garbage-then-hello",
            Script(5)
                .Raw({0xFF, 0x00, 0x07, 0x07, 0x01})
                .Arrive()
                .Hello()
                .Arrive()
                .Raw({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09})
                .Sealed(opcode::kPing, {})
                .Arrive()
                .bytes());
  WriteSeed(folder, "edge-login",
            Script(9).Hello().Arrive().Sealed(opcode::kLogin, NameBlock("Edge")).Arrive().bytes());
  WriteSeed(
      folder, "escape-attempt",
      Script(9).Hello().Arrive().Sealed(opcode::kLogin, NameBlock("../Outside")).Arrive().bytes());
  WriteSeed(folder, "relay-and-reconnect",
            Script(11)
                .Hello()
                .Arrive()
                .Sealed(opcode::kLogin, NameBlock("Ann"))
                .Arrive()
                .PeerSpeaks(2, {0x03, 'A', 'n', 'n'})
                .PeerSpeaks(1, {9, 9})
                .Reconnect(12)
                .Sealed(opcode::kPing, {})
                .Arrive()
                .Hello()
                .Arrive()
                .Disconnect()
                .Sealed(opcode::kSay, {0x02})
                .Arrive()
                .PeerSpeaks(2, {0x01, 'y', 'o'})
                .bytes());
}

void WriteFileSeeds(const fs::path& corpus, const fs::path& sampleData) {
  for (const auto& entry : fs::directory_iterator(sampleData / "characters")) {
    WriteSeed(corpus / "character_file", entry.path().filename().string(), ReadFile(entry.path()));
  }
  Bytes edge(93, 0x00);
  edge[18] = 0x58;  // Level 600: every spell
  edge[19] = 0x02;
  edge[89] = 0xFF;  // PosX 32767
  edge[90] = 0x7F;
  WriteSeed(corpus / "character_file", "edge-position", edge);
  WriteSeed(corpus / "character_file", "short", Bytes(50, 0x11));

  for (const auto& entry : fs::directory_iterator(sampleData / "items")) {
    WriteSeed(corpus / "item_file", entry.path().filename().string(), ReadFile(entry.path()));
  }
  Bytes seventeen;
  for (std::uint8_t r = 0; r < 17; ++r) {
    Append(seventeen, {1, r, 2, 0, 3, 0, static_cast<std::uint8_t>(r % 3 == 0 ? 0xFF : r), 0});
  }
  WriteSeed(corpus / "item_file", "seventeen-records", seventeen);
  WriteSeed(corpus / "item_file", "cut-record", {1, 2, 3, 0, 4, 0, 1, 0, 9, 9, 9});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_seeds CORPUS_DIR SAMPLE_DATA_DIR\n";
    return 2;
  }
  const fs::path corpus = argv[1];
  WriteDecodeSeeds(corpus / "decode");
  WriteOpenSeeds(corpus / "serdec", true);
  WriteOpenSeeds(corpus / "clidec", false);
  WriteSealSeeds(corpus / "serseal");
  WriteSessionSeeds(corpus / "session");
  WriteFileSeeds(corpus, argv[2]);
  return 0;
}
