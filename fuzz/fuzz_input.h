// Reads a fuzzer's input front to back. Integers are little-endian and read
// as zero once the input runs out, so every input is a valid script; the
// order is the order of the bytes, which keeps seed files easy to write.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace quorvane::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  template <typename T>
  requires std::is_integral_v<T> T Take() {
    using Unsigned = std::make_unsigned_t<T>;
    Unsigned value = 0;
    const auto bytes = TakeBytes(sizeof(T));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      value = static_cast<Unsigned>(value | static_cast<Unsigned>(bytes[i]) << (8 * i));
    }
    return static_cast<T>(value);
  }

  // Up to `count` bytes: fewer when the input ends first.
  std::span<const std::uint8_t> TakeBytes(std::size_t count) {
    const auto taken = rest_.first(std::min(count, rest_.size()));
    rest_ = rest_.subspan(taken.size());
    return taken;
  }

  std::span<const std::uint8_t> TakeRest() { return TakeBytes(rest_.size()); }
  bool Empty() const { return rest_.empty(); }

 private:
  std::span<const std::uint8_t> rest_;
};

}  // namespace quorvane::fuzz
