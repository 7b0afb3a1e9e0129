// With the heap exhausted, a function that cannot allocate its result
// returns NULL and leaves the state as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "kelvane.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr uint32_t kLargest = 65535;

// Where the heap's blocks are kept: a volatile sink, so the compiler cannot
// drop allocations whose results are never read.
void* volatile heapChain = nullptr;

// Caps the address space a little above what is mapped now and takes every
// 16 KiB block the heap still has, so no request of 64 KiB can succeed.
// The blocks are chained through themselves and never released: the
// process exits right after.
bool exhaustHeap() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  if (!(statm >> pages)) return false;
  const rlim_t mapped = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  const rlimit limit{mapped + (8u << 20), mapped + (8u << 20)};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return false;
  while (void* block = std::malloc(16 * 1024)) {
    void* previous = heapChain;
    std::memcpy(block, &previous, sizeof previous);
    heapChain = block;
  }
  void* probe = std::malloc(kLargest + 16);
  heapChain = probe != nullptr ? probe : heapChain;
  return probe == nullptr;
}

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

void runOnExhaustedHeap() {
  ByteStr payload = ByteStrAlloc(nullptr, kLargest);
  std::memset(payload, 0x41, kLargest);
  CipherState state{0x11111111, 0x22222222, 0, {}, {}};
  seedcrypt(&state);
  CipherState sealer = state;
  ByteStr up = clienc(1, payload, &sealer);
  ByteStr down = serenc(1, payload, &sealer);
  const CipherState before = state;
  if (payload == nullptr || up == nullptr || down == nullptr || !exhaustHeap()) std::_Exit(2);

  int16_t opcode = 0;
  check(encode(payload) == nullptr, "encode");
  check(decode(payload) == nullptr, "decode");
  check(clienc(1, payload, &state) == nullptr, "clienc");
  check(serenc(1, payload, &state) == nullptr, "serenc");
  check(serdec(&opcode, up, &state) == nullptr, "serdec");
  check(clidec(&opcode, down, &state) == nullptr, "clidec");
  check(clidec(nullptr, down, &state) == nullptr, "clidec without opcode");
  check(std::memcmp(&state, &before, sizeof state) == 0, "state untouched");
  std::_Exit(failures);
}

TEST(AllocationFailureDeathTest, ReturnsNullAndLeavesTheStateUntouched) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  EXPECT_EXIT(runOnExhaustedHeap(), testing::ExitedWithCode(0), "");
}

}  // namespace
