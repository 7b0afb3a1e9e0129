// serdec: client-to-server packets on any state.
#include "open_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvane::fuzz::CheckOpen(data, size, &::serdec, reference::Direction::ToServer);
  return 0;
}
