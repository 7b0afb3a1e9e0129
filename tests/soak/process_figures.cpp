#include "process_figures.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quorvane::testing {

std::size_t OpenDescriptors(pid_t pid) {
  const std::filesystem::path folder = "/proc/" + std::to_string(pid) + "/fd";
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

std::size_t ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
  }
  throw std::runtime_error("no VmRSS for process " + std::to_string(pid));
}

}  // namespace quorvane::testing
