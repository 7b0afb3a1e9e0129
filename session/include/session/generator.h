// The process's one pseudo-random generator, shared by the handshake's server
// seed and the NPC logic.
#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

class Generator {
 public:
  // A clock reading; only its changes matter, not its unit.
  using Clock = std::function<std::uint64_t()>;

  static std::uint64_t SystemClock();

  explicit Generator(std::uint64_t seed, Clock clock = SystemClock);
  virtual ~Generator() = default;
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;

  // Uniform in [0, 1), in steps of 2^-24. Virtual so that tests can script
  // the draws a caller sees.
  virtual float NextUnit();
  // Mixes the clock reading into the current state, so that reseeding twice
  // within one clock reading still yields different draws.
  virtual void ReseedFromClock();

 private:
  std::uint64_t state_;
  Clock clock_;
};

}  // namespace quorvane
