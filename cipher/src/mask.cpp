#include "mask.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvane::detail {
namespace {

#if defined(__x86_64__)
// The key as it meets the bytes from `offset` on; x86 is little-endian, so a
// 32-bit lane holds it as key32 does.
inline std::uint32_t KeyFrom(std::uint32_t key32, std::size_t offset) {
  const unsigned shift = 8 * static_cast<unsigned>(offset % 4);
  return shift == 0 ? key32 : (key32 >> shift) | (key32 << (32 - shift));
}

// Bytes up to the output's next `width` boundary; the vector stores after
// them never straddle a cache line, as memcpy's do not.
inline std::size_t HeadTo(std::size_t width, const unsigned char* out, std::size_t n) {
  const std::size_t head = (width - reinterpret_cast<std::uintptr_t>(out) % width) % width;
  return head < n ? head : n;
}

#define KELVANE_AVX2 __attribute__((target("avx2")))
#define KELVANE_AVX512 __attribute__((target("avx512f,avx512bw")))

// Lambdas would not take the function's target, so the steps are helpers.
KELVANE_AVX2 inline void Xor32(const unsigned char* in, unsigned char* out, __m256i key) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  _mm256_store_si256(reinterpret_cast<__m256i*>(out), _mm256_xor_si256(v, key));
}

KELVANE_AVX2 void MaskAvx2(const unsigned char* in, unsigned char* out, std::size_t n,
                           std::uint32_t key32) {
  constexpr std::size_t kWidth = 32;
  const std::size_t head = HeadTo(kWidth, out, n);
  MaskBytes(in, out, 0, head, key32);
  const __m256i key = _mm256_set1_epi32(static_cast<int>(KeyFrom(key32, head)));
  std::size_t i = head;
  for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
    Xor32(in + i, out + i, key);
    Xor32(in + i + kWidth, out + i + kWidth, key);
    Xor32(in + i + 2 * kWidth, out + i + 2 * kWidth, key);
    Xor32(in + i + 3 * kWidth, out + i + 3 * kWidth, key);
  }
  for (; i + kWidth <= n; i += kWidth) Xor32(in + i, out + i, key);
  MaskBytes(in, out, i, n, key32);
}

KELVANE_AVX512 inline void Xor64(const unsigned char* in, unsigned char* out, __m512i key) {
  _mm512_store_si512(out, _mm512_xor_si512(_mm512_loadu_si512(in), key));
}

// Fewer than 64 bytes: one masked load and store.
KELVANE_AVX512 inline void XorPartial(const unsigned char* in, unsigned char* out,
                                      std::size_t count, __m512i key) {
  if (count == 0) return;
  const __mmask64 lanes = ~__mmask64{0} >> (64 - count);
  const __m512i v = _mm512_maskz_loadu_epi8(lanes, in);
  _mm512_mask_storeu_epi8(out, lanes, _mm512_xor_si512(v, key));
}

KELVANE_AVX512 void MaskAvx512(const unsigned char* in, unsigned char* out, std::size_t n,
                               std::uint32_t key32) {
  constexpr std::size_t kWidth = 64;
  const std::size_t head = HeadTo(kWidth, out, n);
  XorPartial(in, out, head, _mm512_set1_epi32(static_cast<int>(key32)));
  const __m512i key = _mm512_set1_epi32(static_cast<int>(KeyFrom(key32, head)));
  std::size_t i = head;
  for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
    Xor64(in + i, out + i, key);
    Xor64(in + i + kWidth, out + i + kWidth, key);
    Xor64(in + i + 2 * kWidth, out + i + 2 * kWidth, key);
    Xor64(in + i + 3 * kWidth, out + i + 3 * kWidth, key);
  }
  for (; i + kWidth <= n; i += kWidth) Xor64(in + i, out + i, key);
  XorPartial(in + i, out + i, n - i, key);
}
#endif

using Body = void (*)(const unsigned char*, unsigned char*, std::size_t, std::uint32_t);

Body BodyOf(MaskPath path) {
  switch (path) {
#if defined(__x86_64__)
    case MaskPath::kAvx2:
      return MaskAvx2;
    case MaskPath::kAvx512:
      return MaskAvx512;
#endif
    default:
      return MaskPortable;
  }
}

MaskPath Widest() {
  MaskPath widest = MaskPath::kPortable;
  for (const MaskPath path : kMaskPaths) {
    if (MaskPathSupported(path)) widest = path;
  }
  return widest;
}

struct Active {
  MaskPath path;
  Body body;
};

Active& Current() {
  static Active active{Widest(), BodyOf(Widest())};
  return active;
}

}  // namespace

const char* MaskPathName(MaskPath path) {
  switch (path) {
    case MaskPath::kPortable:
      return "portable";
    case MaskPath::kAvx2:
      return "avx2";
    case MaskPath::kAvx512:
      return "avx512";
  }
  return "unknown";
}

bool MaskPathSupported(MaskPath path) {
  switch (path) {
    case MaskPath::kPortable:
      return true;
#if defined(__x86_64__)
    case MaskPath::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case MaskPath::kAvx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#endif
    default:
      return false;
  }
}

MaskPath ActiveMaskPath() {
  return Current().path;
}

bool UseMaskPath(MaskPath path) {
  if (!MaskPathSupported(path)) return false;
  Current() = {path, BodyOf(path)};
  return true;
}

void MaskGroupsWide(const unsigned char* in, unsigned char* out, std::size_t n,
                    std::uint32_t key32) {
  Current().body(in, out, n, key32);
}

}  // namespace kelvane::detail
