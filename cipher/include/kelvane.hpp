// C++ side of Kelvane for hosts: ownership of results, byte views, opening
// packets as they arrive, and a run-time loader that binds the exports by
// name.
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kelvane.h"

namespace kelvane {

// The byte string of the C++ side: owned bytes, and a view of bytes owned elsewhere.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

struct ByteStrDeleter {
  void operator()(unsigned char* str) const noexcept { ByteStrFree(str); }
};

// Owner of one library result.
using ByteStrPtr = std::unique_ptr<unsigned char, ByteStrDeleter>;

// Takes over a result; a NULL result means the library ran out of memory.
inline ByteStrPtr adopt(ByteStr str) {
  if (str == nullptr) throw std::bad_alloc();
  return ByteStrPtr(str);
}

inline ByteView view(const unsigned char* str) {
  return {str, ByteStrLen(str)};
}
inline ByteView view(const ByteStrPtr& str) {
  return view(str.get());
}

inline ByteStrPtr copyOf(ByteView bytes) {
  if (bytes.size() > UINT32_MAX) throw std::length_error("byte string too long");
  return adopt(ByteStrAlloc(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

// A reusable argument block: fill() rewrites it in place and grows it only
// when a longer string comes, so repeated calls allocate nothing.
class ByteStrBuffer {
 public:
  const unsigned char* fill(ByteView bytes) {
    if (bytes.size() > UINT32_MAX) throw std::length_error("byte string too long");
    const auto length = static_cast<std::uint32_t>(bytes.size());
    if (!block_ || length > capacity_) {
      block_ = adopt(ByteStrAlloc(nullptr, length));
      capacity_ = length;
    }
    unsigned char* data = block_.get();
    std::memcpy(data - 4, &length, sizeof length);
    if (length != 0) std::memcpy(data, bytes.data(), length);
    data[length] = 0;
    return data;
  }

 private:
  ByteStrPtr block_;
  std::uint32_t capacity_ = 0;
};

// A sealed packet is this header, then its payload.
inline constexpr std::size_t kPacketHeaderSize = 8;

// serdec or clidec: both open the packet that begins a byte string.
using OpenFunction = decltype(&::serdec);

// What opening the start of a buffer found.
struct OpenedPacket {
  enum class Status {
    kOpened,           // a whole packet, opened; the state moved on by one packet
    kShort,            // not yet a whole packet; nothing changed
    kSequenceFailure,  // a whole packet out of sequence; only the counter moved
  };
  Status status = Status::kShort;
  std::int16_t opcode = 0;  // any value, 0 and -1 included, when opened
  ByteStrPtr payload;       // empty unless opened
  std::size_t used = 0;     // the packet's bytes at the buffer's start; 0 unless opened

  ByteView body() const { return view(payload.get()); }
};

// Opens the packet at the start of `buffer`, a byte string of arrived bytes
// that may end inside a packet or go on past it, with `open` under `state`.
// The library reports a short buffer and a failed sequence check as opcodes
// 0 and -1, which whole packets may carry too; what moved in the state tells
// them apart: a short buffer moves nothing, a failed check only the counter.
inline OpenedPacket openPacket(OpenFunction open, const unsigned char* buffer, CipherState& state) {
  const CipherState before = state;
  std::int16_t opcode = 0;
  ByteStrPtr payload = adopt(open(&opcode, buffer, &state));
  OpenedPacket result;
  const bool counted = state.toServer.counter != before.toServer.counter ||
                       state.toClient.counter != before.toClient.counter;
  if (!counted) return result;
  // Every opened packet steps step32 on; a failed check leaves the keys alone.
  const bool keyed = state.toServer.step32 != before.toServer.step32 ||
                     state.toClient.step32 != before.toClient.step32;
  if (!keyed) {
    result.status = OpenedPacket::Status::kSequenceFailure;
    return result;
  }
  result.status = OpenedPacket::Status::kOpened;
  result.opcode = opcode;
  result.used = kPacketHeaderSize + ByteStrLen(payload.get());
  result.payload = std::move(payload);
  return result;
}

// Bytes that arrive in pieces, kept so that the unread ones can be passed to
// the library where they lie: the four bytes in front of them (already read,
// or a slot kept free for the purpose) take the byte-string length, so
// opening one packet after another copies nothing.
class ReceiveBuffer {
 public:
  ReceiveBuffer() : bytes_(kLengthSlot) {}

  // Drops what has been read, then adds the arrived bytes after the unread ones.
  void append(ByteView arrived) {
    bytes_.erase(bytes_.begin() + kLengthSlot,
                 bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = kLengthSlot;
    bytes_.insert(bytes_.end(), arrived.begin(), arrived.end());
  }

  // The unread bytes as a byte string, valid until the next append or clear.
  const unsigned char* unread() {
    if (size() > UINT32_MAX) throw std::length_error("byte string too long");
    const auto length = static_cast<std::uint32_t>(size());
    std::memcpy(bytes_.data() + start_ - kLengthSlot, &length, sizeof length);
    return bytes_.data() + start_;
  }
  ByteView view() const { return ByteView(bytes_).subspan(start_); }
  std::size_t size() const { return bytes_.size() - start_; }
  bool empty() const { return size() == 0; }

  // Marks the first `count` unread bytes as read.
  void consume(std::size_t count) {
    if (count > size()) throw std::out_of_range("consumed more than was received");
    start_ += count;
  }
  void clear() {
    bytes_.resize(kLengthSlot);
    start_ = kLengthSlot;
  }

 private:
  static constexpr std::size_t kLengthSlot = sizeof(std::uint32_t);
  Bytes bytes_;
  std::size_t start_ = kLengthSlot;
};

// The exports, as function pointers.
struct Api {
  decltype(&::encode) encode = nullptr;
  decltype(&::decode) decode = nullptr;
  decltype(&::clishuf) clishuf = nullptr;
  decltype(&::serdesh) serdesh = nullptr;
  decltype(&::sershuf) sershuf = nullptr;
  decltype(&::clidesh) clidesh = nullptr;
  decltype(&::seedcrypt) seedcrypt = nullptr;
  decltype(&::clienc) clienc = nullptr;
  decltype(&::serenc) serenc = nullptr;
  decltype(&::serdec) serdec = nullptr;
  decltype(&::clidec) clidec = nullptr;
  decltype(&::serseal) serseal = nullptr;  // since KELVANE_1.1
};

class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The library opened at run time. Move-only; unloads when destroyed, so it
// must outlive every use of its api().
class Library {
 public:
  // `file` is handed to the dynamic loader as it stands: a name with a slash
  // is a path, a bare name goes through the loader's search path.
  static Library open(const std::string& file);

  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  const Api& api() const { return api_; }

 private:
  Library() = default;
  void* handle_ = nullptr;
  Api api_;
};

// The loader lives in this header so that it installs with it and adds no
// export to the library.
namespace detail {
template <typename Fn>
void Bind(void* handle, const std::string& file, const char* name, Fn& slot) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    throw LoadError("cipher library " + file + " lacks the export " + name);
  }
  slot = reinterpret_cast<Fn>(symbol);
}
}  // namespace detail

inline Library Library::open(const std::string& file) {
  Library library;
  library.handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library.handle_ == nullptr) {
    const char* error = dlerror();
    std::string reason = error != nullptr ? error : "unknown error";
    // dlerror names the file itself first when it cannot open it.
    if (reason.rfind(file + ": ", 0) == 0) reason.erase(0, file.size() + 2);
    throw LoadError("cannot load cipher library " + file + ": " + reason);
  }
  Api& api = library.api_;
  detail::Bind(library.handle_, file, "encode", api.encode);
  detail::Bind(library.handle_, file, "decode", api.decode);
  detail::Bind(library.handle_, file, "clishuf", api.clishuf);
  detail::Bind(library.handle_, file, "serdesh", api.serdesh);
  detail::Bind(library.handle_, file, "sershuf", api.sershuf);
  detail::Bind(library.handle_, file, "clidesh", api.clidesh);
  detail::Bind(library.handle_, file, "seedcrypt", api.seedcrypt);
  detail::Bind(library.handle_, file, "clienc", api.clienc);
  detail::Bind(library.handle_, file, "serenc", api.serenc);
  detail::Bind(library.handle_, file, "serdec", api.serdec);
  detail::Bind(library.handle_, file, "clidec", api.clidec);
  detail::Bind(library.handle_, file, "serseal", api.serseal);
  return library;
}

inline Library::Library(Library&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), api_(std::exchange(other.api_, {})) {}

inline Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    api_ = std::exchange(other.api_, {});
  }
  return *this;
}

inline Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace kelvane
