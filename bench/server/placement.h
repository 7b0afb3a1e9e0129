// Where the benchmark's processes run. The scheduler alone moved the ratio of
// server to baseline by a factor of three between runs, so every process is
// pinned: the client (this process's measuring thread) on one CPU, the server
// and the raw baselines together on the same or on another one.
#pragma once

#include <sched.h>

#include <string>
#include <vector>

namespace quorvane::bench {

struct Placement {
  std::string name;  // as printed
  std::string key;   // in file names
  int clientCpu;
  int serverCpu;
  bool apart;  // the client on a CPU of its own
};

// Everything on one CPU, then, when this process may use two, the client
// apart from the servers.
std::vector<Placement> Placements();

// Pins the calling thread to `cpu`; throws when the system refuses.
void PinThisThread(int cpu);

// While it lives the calling thread runs on `cpu`, and so does every process
// it forks meanwhile; afterwards the thread has its former CPUs back.
class RunningOn {
 public:
  explicit RunningOn(int cpu);
  RunningOn(const RunningOn&) = delete;
  RunningOn& operator=(const RunningOn&) = delete;
  ~RunningOn();

 private:
  cpu_set_t former_;
};

// What `start` returns, with the processes it starts pinned to `cpu`.
template <typename Start>
auto StartedOn(int cpu, Start&& start) {
  const RunningOn on(cpu);
  return start();
}

}  // namespace quorvane::bench
