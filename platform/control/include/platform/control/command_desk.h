// Carries out the operator's command lines for the control socket and the
// console: parses each, acts through the host's operator or the program's
// reload, and words the answer as text or as one JSON object.
//
// On the wire every answer ends with an empty line. As text its first line
// is `ok SUMMARY` or `error REASON`, and a few commands (status, bans, help)
// add lines of detail, none of them empty; with --json it is one JSON object
// on one line: {"ok": true|false, "text": SUMMARY or REASON, ...}.
#pragma once

#include <QJsonObject>
#include <functional>
#include <string>
#include <string_view>

#include "host/host_operator.h"
#include "host/server_status.h"
#include "session/diagnostics.h"

namespace quorvane {

struct ControlAnswer {
  bool done = false;
  bool json = false;
  std::string summary;  // UTF-8, one line
  std::string detail;   // UTF-8 lines, each ending in a line break
  QJsonObject object;   // the command's own fields for --json
};

class CommandDesk {
 public:
  struct Sources {
    HostOperator& host;
    std::function<ServerSnapshot()> snapshot;
    // What SIGHUP does; the outcome.
    std::function<ActionResult()> reload;
    Diagnostics report;
  };

  explicit CommandDesk(Sources sources) : sources_(std::move(sources)) {}

  ControlAnswer Run(std::string_view line, const Operator& by);
  // The answer as it goes on the wire, empty line included.
  static std::string Framed(const ControlAnswer& answer);

 private:
  ControlAnswer Status() const;
  ControlAnswer ListBans() const;
  void Note(const Operator& by, std::string_view what) const;

  Sources sources_;
};

}  // namespace quorvane
