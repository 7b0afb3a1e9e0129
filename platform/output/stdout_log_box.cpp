#include "platform/output/stdout_log_box.h"

#include <string>

namespace quorvane {

void StdoutLogBox::SetSelText(std::string_view text) {
  std::string line(text);
  // Each inserted piece is one log line ending in CR LF; any other line break
  // inside it becomes a plain newline.
  if (line.ends_with("\r\n")) line.resize(line.size() - 2);
  for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at)) {
    line.erase(at, 1);
  }
  line += '\n';
  out_.Write(line);
}

}  // namespace quorvane
