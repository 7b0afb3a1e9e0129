// The masking of a payload's whole 4-byte groups, on the widest vectors the
// CPU offers. The path is chosen once, from what the CPU supports; tests and
// the benchmark pin each path in turn to prove and measure every one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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

inline unsigned char KeyByte(std::uint32_t key32, std::size_t offset) {
  return static_cast<unsigned char>(key32 >> (8 * (offset % 4)));
}

// Bytes `from` to `to`, each with the key byte of its offset.
inline void MaskBytes(const unsigned char* in, unsigned char* out, std::size_t from, std::size_t to,
                      std::uint32_t key32) {
  for (std::size_t i = from; i < to; ++i) out[i] = in[i] ^ KeyByte(key32, i);
}

// Eight bytes at a time, with the key laid out as memory meets it whatever
// the host's byte order: the portable path, and every short payload's.
inline void MaskPortable(const unsigned char* in, unsigned char* out, std::size_t n,
                         std::uint32_t key32) {
  const unsigned char pattern[4] = {KeyByte(key32, 0), KeyByte(key32, 1), KeyByte(key32, 2),
                                    KeyByte(key32, 3)};
  std::uint32_t key;
  std::memcpy(&key, pattern, sizeof key);
  const std::uint64_t key64 = key | std::uint64_t{key} << 32;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t v;
    std::memcpy(&v, in + i, sizeof v);
    v ^= key64;
    std::memcpy(out + i, &v, sizeof v);
  }
  if (i + 4 <= n) {
    std::uint32_t v;
    std::memcpy(&v, in + i, sizeof v);
    v ^= key;
    std::memcpy(out + i, &v, sizeof v);
    i += 4;
  }
  MaskBytes(in, out, i, n, key32);
}

// Below this many bytes a vector path's alignment head and tail would cost
// more than its body saves, and so would the call through the chosen path.
inline constexpr std::size_t kVectorThreshold = 256;

// MaskGroups on the chosen path, for at least kVectorThreshold bytes.
void MaskGroupsWide(const unsigned char* in, unsigned char* out, std::size_t n,
                    std::uint32_t key32);

// out[i] = in[i] XOR byte i % 4 of `key32` (little-endian) for i < n, where n
// is a multiple of 4. `in` and `out` are either the same bytes or apart. Short
// payloads, most of a session's, are masked here without a call.
inline void MaskGroups(const unsigned char* in, unsigned char* out, std::size_t n,
                       std::uint32_t key32) {
  if (n < kVectorThreshold) {
    MaskPortable(in, out, n, key32);
  } else {
    MaskGroupsWide(in, out, n, key32);
  }
}

}  // namespace kelvane::detail
