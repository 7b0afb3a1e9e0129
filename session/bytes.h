#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

namespace quorvane {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Appends a packed field or any other byte range to a payload.
template <typename Range>
void Append(Bytes& payload, const Range& bytes) {
  payload.insert(payload.end(), std::begin(bytes), std::end(bytes));
}

}  // namespace quorvane
