// The host's gate on logins: each connection's login rate.
#include <string>
#include <utility>

#include "host/form1.h"
#include "session_slot.h"

namespace quorvane {

bool Form1::AdmitLoginRate(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  if (slot.loginRate.Admit(clock_.Now())) {
    slot.loginsDropped = false;
    return true;
  }
  // One report per run of dropped logins, so a flood writes one line a second.
  if (!std::exchange(slot.loginsDropped, true)) {
    Report(report_, Severity::kWarning, slot.subject,
           "dropping logins: more than " + std::to_string(settings_.loginRate) + " a second");
  }
  return false;
}

}  // namespace quorvane
