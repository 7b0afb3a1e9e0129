// The masking of a payload's whole 4-byte groups, on the widest vectors the
// CPU offers. The path is chosen once, from what the CPU supports; tests and
// the benchmark pin each path in turn to prove and measure every one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane::detail {

enum class MaskPath { kPortable, kAvx2, kAvx512 };

inline constexpr MaskPath kMaskPaths[] = {MaskPath::kPortable, MaskPath::kAvx2, MaskPath::kAvx512};

const char* MaskPathName(MaskPath path);
bool MaskPathSupported(MaskPath path);
// The path every call takes: the widest the CPU supports, unless pinned.
MaskPath ActiveMaskPath();
// Pins every later call to `path`; false, with nothing changed, when the CPU
// lacks it. Not to be called while another thread masks.
bool UseMaskPath(MaskPath path);

// out[i] = in[i] XOR byte i % 4 of `key32` (little-endian) for i < n, where n
// is a multiple of 4. `in` and `out` are either the same bytes or apart.
void MaskGroups(const unsigned char* in, unsigned char* out, std::size_t n, std::uint32_t key32);

}  // namespace kelvane::detail
