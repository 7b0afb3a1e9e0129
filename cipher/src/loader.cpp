#include <dlfcn.h>

#include <utility>

#include "kelvane.hpp"

namespace kelvane {
namespace {
template <typename Fn>
void bind(void* handle, const std::string& file, const char* name, Fn& slot) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    throw LoadError("cipher library " + file + " lacks the export " + name);
  }
  slot = reinterpret_cast<Fn>(symbol);
}
}  // namespace

Library Library::open(const std::string& file) {
  Library library;
  library.handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library.handle_ == nullptr) {
    const char* reason = dlerror();
    throw LoadError("cannot load cipher library " + file + ": " +
                    (reason != nullptr ? reason : "unknown error"));
  }
  Api& api = library.api_;
  bind(library.handle_, file, "encode", api.encode);
  bind(library.handle_, file, "decode", api.decode);
  bind(library.handle_, file, "clishuf", api.clishuf);
  bind(library.handle_, file, "serdesh", api.serdesh);
  bind(library.handle_, file, "sershuf", api.sershuf);
  bind(library.handle_, file, "clidesh", api.clidesh);
  bind(library.handle_, file, "seedcrypt", api.seedcrypt);
  bind(library.handle_, file, "clienc", api.clienc);
  bind(library.handle_, file, "serenc", api.serenc);
  bind(library.handle_, file, "serdec", api.serdec);
  bind(library.handle_, file, "clidec", api.clidec);
  return library;
}

Library::Library(Library&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), api_(std::exchange(other.api_, {})) {}

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    api_ = std::exchange(other.api_, {});
  }
  return *this;
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace kelvane
