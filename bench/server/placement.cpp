#include "placement.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quorvane::bench {
namespace {

cpu_set_t OnlyCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return set;
}

void SetThisThread(const cpu_set_t& set) {
  if (::sched_setaffinity(0, sizeof set, &set) != 0) {
    throw std::runtime_error(std::string("sched_setaffinity: ") + std::strerror(errno));
  }
}

}  // namespace

std::vector<Placement> Placements() {
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
    throw std::runtime_error(std::string("sched_getaffinity: ") + std::strerror(errno));
  }
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
  }
  if (cpus.empty()) throw std::runtime_error("no CPU to run on");
  const std::string first = std::to_string(cpus[0]);
  std::vector<Placement> placements{
      {"all on CPU " + first, "one-cpu", cpus[0], cpus[0], false},
  };
  if (cpus.size() == 2) {
    placements.push_back({"client on CPU " + first + ", servers on CPU " + std::to_string(cpus[1]),
                          "apart", cpus[0], cpus[1], true});
  }
  return placements;
}

void PinThisThread(int cpu) {
  SetThisThread(OnlyCpu(cpu));
}

RunningOn::RunningOn(int cpu) {
  if (::sched_getaffinity(0, sizeof former_, &former_) != 0) {
    throw std::runtime_error(std::string("sched_getaffinity: ") + std::strerror(errno));
  }
  PinThisThread(cpu);
}

// It pinned this thread before, so it can again.
RunningOn::~RunningOn() {
  ::sched_setaffinity(0, sizeof former_, &former_);
}

}  // namespace quorvane::bench
