// Each call allocates exactly its one result, and the seed unshuffles and
// the key schedule allocate nothing. malloc is interposed here to count.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#include "kelvane.h"

extern "C" void* __libc_malloc(std::size_t size);

namespace {
int allocations = 0;
}

extern "C" void* malloc(std::size_t size) {
  ++allocations;
  return __libc_malloc(size);
}

namespace {

struct CountCase {
  const char* name;
  std::function<void(CipherState&, ByteStr packet)> call;
  int expected;
};

class AllocationCount : public testing::TestWithParam<CountCase> {};

TEST_P(AllocationCount, IsExactlyTheResult) {
  CipherState state{0x0A0B0C0D, 0x01020304, 0, {}, {}};
  seedcrypt(&state);
  CipherState sealer = state;
  ByteStr payload = ByteStrAlloc("0123456789", 10);
  ByteStr packet = clienc(5, payload, &sealer);

  allocations = 0;
  GetParam().call(state, packet);
  const int counted = allocations;
  EXPECT_EQ(counted, GetParam().expected);
  ByteStrFree(packet);
  ByteStrFree(payload);
}

const unsigned char kSeed[4] = {1, 2, 3, 4};

INSTANTIATE_TEST_SUITE_P(
    Cipher, AllocationCount,
    testing::Values(
        CountCase{"Encode", [](CipherState&, ByteStr p) { ByteStrFree(encode(p)); }, 1},
        CountCase{"Decode", [](CipherState&, ByteStr p) { ByteStrFree(decode(p)); }, 1},
        CountCase{"Clishuf", [](CipherState&, ByteStr) { ByteStrFree(clishuf(7)); }, 1},
        CountCase{"Sershuf", [](CipherState&, ByteStr) { ByteStrFree(sershuf(7)); }, 1},
        CountCase{"Serdesh", [](CipherState&, ByteStr) { serdesh(kSeed); }, 0},
        CountCase{"Clidesh", [](CipherState&, ByteStr) { clidesh(kSeed); }, 0},
        CountCase{"Seedcrypt", [](CipherState& s, ByteStr) { seedcrypt(&s); }, 0},
        CountCase{"Clienc", [](CipherState& s, ByteStr p) { ByteStrFree(clienc(1, p, &s)); }, 1},
        CountCase{"Serenc", [](CipherState& s, ByteStr p) { ByteStrFree(serenc(1, p, &s)); }, 1},
        CountCase{"SerdecOpened",
                  [](CipherState& s, ByteStr p) {
                    int16_t opcode;
                    ByteStrFree(serdec(&opcode, p, &s));
                  },
                  1},
        CountCase{"SerdecWrongSequence",
                  [](CipherState& s, ByteStr p) {
                    int16_t opcode;
                    s.toServer.counter += 1;
                    ByteStrFree(serdec(&opcode, p, &s));
                  },
                  1},
        CountCase{"ClidecShortInput",
                  [](CipherState& s, ByteStr) {
                    int16_t opcode;
                    ByteStrFree(clidec(&opcode, nullptr, &s));
                  },
                  1}),
    [](const auto& info) { return info.param.name; });

}  // namespace
