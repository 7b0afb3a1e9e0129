// Where the program finds the cipher library it loads.
#pragma once

#include <QString>

namespace quorvane {

inline constexpr char kLibraryFileName[] = "libkelvane.so.1";

// The library file to load: `option` (--library) when given, else the one
// beside the executable when it exists, else the bare name for the loader's
// search path.
QString LibraryToLoad(const QString& option, const QString& executableDir);

}  // namespace quorvane
