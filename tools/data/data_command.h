// quorvane-data's commands: show a character or item file, write new ones.
#pragma once

#include <QStringList>
#include <ostream>

namespace quorvane::data {

// `arguments` as the program receives them, its own name first. Returns the
// exit status: 0 done, 1 a file could not be read or written, 2 bad usage.
int RunDataCommand(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace quorvane::data
