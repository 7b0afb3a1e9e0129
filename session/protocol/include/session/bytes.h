// The byte string of the whole system is the cipher's; the session names it
// in its own namespace.
#pragma once

#include <iterator>

#include "kelvane.hpp"

namespace quorvane {

using kelvane::Bytes;
using kelvane::ByteView;

// Appends a packed field or any other byte range to a payload.
template <typename Range>
void Append(Bytes& payload, const Range& bytes) {
  payload.insert(payload.end(), std::begin(bytes), std::end(bytes));
}

}  // namespace quorvane
