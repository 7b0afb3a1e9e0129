// C++ side of Kelvane for hosts: ownership of results, byte views, and a
// run-time loader that binds the eleven exports by name.
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

#include "kelvane.h"

namespace kelvane {

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
    const char* reason = dlerror();
    throw LoadError("cannot load cipher library " + file + ": " +
                    (reason != nullptr ? reason : "unknown error"));
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
