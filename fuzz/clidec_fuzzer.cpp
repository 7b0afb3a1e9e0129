// clidec: server-to-client packets on any state.
#include "open_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvane::fuzz::CheckOpen(data, size, &::clidec, reference::Direction::ToClient);
  return 0;
}
