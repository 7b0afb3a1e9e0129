// A client developer's first program in C++: kelvane.hpp's owning results, a
// packet each way through the linked library, and the same through the
// run-time loader. Prints "round trip ok" when every byte came back.
#include <cstdio>
#include <cstring>
#include <kelvane.hpp>
#include <string_view>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

struct Ends {
  CipherState client{};
  CipherState server{};
};

Ends Connected(const kelvane::Api& api) {
  Ends ends;
  ends.client.clientSeed = ends.server.clientSeed = 0x0badf00du;
  ends.client.serverSeed = ends.server.serverSeed = 0x600dcafeu;
  api.seedcrypt(&ends.client);
  api.seedcrypt(&ends.server);
  return ends;
}

void RoundTrip(const kelvane::Api& api, const char* what) {
  constexpr std::string_view kText = "a line of chat";
  const std::vector<std::uint8_t> text(kText.begin(), kText.end());
  Ends ends = Connected(api);
  kelvane::ByteStrBuffer argument;

  const auto toServer = kelvane::adopt(api.clienc(302, argument.fill(text), &ends.client));
  std::int16_t opcode = 0;
  const auto atServer = kelvane::adopt(api.serdec(&opcode, toServer.get(), &ends.server));
  const kelvane::ByteView got = kelvane::view(atServer);
  Check(opcode == 302 && std::vector<std::uint8_t>(got.begin(), got.end()) == text, what);

  const auto toClient = kelvane::adopt(api.serenc(303, argument.fill(text), &ends.server));
  const auto atClient = kelvane::adopt(api.clidec(&opcode, toClient.get(), &ends.client));
  const kelvane::ByteView back = kelvane::view(atClient);
  Check(opcode == 303 && std::vector<std::uint8_t>(back.begin(), back.end()) == text, what);
}

}  // namespace

int main() {
  kelvane::Api linked;
  linked.seedcrypt = &seedcrypt;
  linked.clienc = &clienc;
  linked.serdec = &serdec;
  linked.serenc = &serenc;
  linked.clidec = &clidec;
  RoundTrip(linked, "linked library");

  try {
    const kelvane::Library library = kelvane::Library::open("libkelvane.so.1");
    RoundTrip(library.api(), "loaded library");
  } catch (const kelvane::LoadError& error) {
    Check(false, error.what());
  }
  if (failures != 0) return 1;
  std::puts("round trip ok");
  return 0;
}
