// Sealing and opening throughput, with memcpy of the same sizes as the
// machine's own ceiling for moving bytes. Each sealing and opening includes
// the one allocation the C ABI makes for its result; sealing in place makes
// none. Every masking path this CPU supports is measured, each pinned in
// turn. After the runs, a summary sets the 65,535-byte figures of each path
// against the faster of the two memcpy variants.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kelvane.h"
#include "mask.h"

namespace {
using kelvane::detail::MaskPath;

constexpr int16_t kOpcode = 303;
constexpr int64_t kLargestPayload = 65535;
constexpr double kTargetRatio = 0.9;
// Where a payload's bytes start inside a byte string, and where a sealed
// packet's body starts: what the cipher reads and writes is aligned like this.
constexpr std::size_t kPayloadOffset = 4;
constexpr std::size_t kPacketBodyOffset = 4 + 8;
constexpr std::size_t kCacheLine = 64;

CipherState seededState() {
  CipherState state{};
  state.clientSeed = 0x12345678;
  state.serverSeed = 0x9ABCDEF0;
  seedcrypt(&state);
  return state;
}

ByteStr payloadOf(int64_t length) {
  ByteStr payload = ByteStrAlloc(nullptr, static_cast<uint32_t>(length));
  for (int64_t i = 0; i < length; ++i) payload[i] = static_cast<unsigned char>(i * 7 + 1);
  return payload;
}

// The path the library takes on this CPU when nothing pins it: read before
// any benchmark pins one.
MaskPath defaultPath() {
  static const MaskPath own = kelvane::detail::ActiveMaskPath();
  return own;
}

void countBytes(benchmark::State& run) {
  run.SetBytesProcessed(static_cast<int64_t>(run.iterations()) * run.range(0));
}

// memcpy from `fromOffset` to `toOffset` bytes past cache-line boundaries.
void copyAt(benchmark::State& run, std::size_t fromOffset, std::size_t toOffset) {
  const auto length = static_cast<std::size_t>(run.range(0));
  std::vector<unsigned char> from(length + 2 * kCacheLine, 0x5A);
  std::vector<unsigned char> to(length + 2 * kCacheLine);
  const auto at = [](std::vector<unsigned char>& bytes, std::size_t offset) {
    const auto address = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::size_t lineStart = (kCacheLine - address % kCacheLine) % kCacheLine;
    return bytes.data() + lineStart + offset;
  };
  const unsigned char* source = at(from, fromOffset);
  unsigned char* destination = at(to, toOffset);
  for (auto _ : run) {
    benchmark::DoNotOptimize(source);
    std::memcpy(destination, source, length);
    benchmark::ClobberMemory();
  }
  countBytes(run);
}

void BM_Memcpy(benchmark::State& run) {
  copyAt(run, 0, 0);
}

// At the offsets where the cipher meets its bytes.
void BM_MemcpyUnaligned(benchmark::State& run) {
  copyAt(run, kPayloadOffset, kPacketBodyOffset);
}

// Pins the masking path for one benchmark, or fails it when the CPU lacks it.
bool pinned(benchmark::State& run, MaskPath path) {
  if (kelvane::detail::UseMaskPath(path)) return true;
  run.SkipWithError("the CPU lacks this masking path");
  return false;
}

void BM_Serenc(benchmark::State& run, MaskPath path) {
  if (!pinned(run, path)) return;
  ByteStr payload = payloadOf(run.range(0));
  CipherState state = seededState();
  for (auto _ : run) {
    ByteStr packet = serenc(kOpcode, payload, &state);
    benchmark::DoNotOptimize(packet);
    ByteStrFree(packet);
  }
  countBytes(run);
  ByteStrFree(payload);
}

// Every iteration opens the same packet from the same state, so each open
// succeeds; the state copy costs a few nanoseconds.
void BM_Serdec(benchmark::State& run, MaskPath path) {
  if (!pinned(run, path)) return;
  ByteStr payload = payloadOf(run.range(0));
  CipherState sealer = seededState();
  const CipherState opener = sealer;
  ByteStr packet = clienc(kOpcode, payload, &sealer);
  for (auto _ : run) {
    CipherState state = opener;
    int16_t opcode = 0;
    ByteStr opened = serdec(&opcode, packet, &state);
    benchmark::DoNotOptimize(opened);
    benchmark::DoNotOptimize(opcode);
    ByteStrFree(opened);
  }
  countBytes(run);
  ByteStrFree(packet);
  ByteStrFree(payload);
}

// Sealing in place, as the server does: the same buffer again and again, so
// each seal masks what the last one left.
void BM_Serseal(benchmark::State& run, MaskPath path) {
  if (!pinned(run, path)) return;
  const auto length = static_cast<uint16_t>(run.range(0));
  std::vector<unsigned char> packet(8 + std::size_t{length}, 0x5A);
  CipherState state = seededState();
  for (auto _ : run) {
    benchmark::DoNotOptimize(serseal(kOpcode, packet.data(), length, &state));
    benchmark::ClobberMemory();
  }
  countBytes(run);
}

// One server-to-client packet sealed and opened on one state, which keeps
// both ends of that direction in step.
void BM_SealOpenPair(benchmark::State& run) {
  ByteStr payload = payloadOf(run.range(0));
  CipherState state = seededState();
  for (auto _ : run) {
    ByteStr packet = serenc(kOpcode, payload, &state);
    int16_t opcode = 0;
    ByteStr opened = clidec(&opcode, packet, &state);
    benchmark::DoNotOptimize(opened);
    ByteStrFree(opened);
    ByteStrFree(packet);
  }
  countBytes(run);
  ByteStrFree(payload);
}

void payloadSizes(benchmark::internal::Benchmark* b) {
  for (int64_t length :
       {int64_t{0}, int64_t{1}, int64_t{7}, int64_t{64}, int64_t{1500}, kLargestPayload}) {
    b->Arg(length);
  }
}

// The console's report, and each benchmark's CPU time per iteration kept
// for the summary: the median aggregate when the runs are repeated, else
// the single run's.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median) {
        times_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // 0 when the benchmark did not run.
  double Time(const std::string& name) const {
    const auto found = times_.find(name);
    return found == times_.end() ? 0 : found->second;
  }

 private:
  std::map<std::string, double> times_;
};

// Sealing and opening the largest payload against the faster memcpy.
void PrintSummary(const SummaryReporter& reporter) {
  const std::string size = "/" + std::to_string(kLargestPayload);
  const double aligned = reporter.Time("BM_Memcpy" + size);
  const double unaligned = reporter.Time("BM_MemcpyUnaligned" + size);
  if (aligned <= 0 || unaligned <= 0) return;
  const double ceiling = std::min(aligned, unaligned);
  std::printf(
      "\n%lld bytes against memcpy (CPU time per call; memcpy aligned %.0f ns, "
      "unaligned %.0f ns):\n",
      static_cast<long long>(kLargestPayload), aligned, unaligned);
  const MaskPath chosen = kelvane::detail::ActiveMaskPath();
  for (const MaskPath path : kelvane::detail::kMaskPaths) {
    const std::string name = kelvane::detail::MaskPathName(path);
    const std::string note = path == defaultPath() ? " (this CPU's own)" : "";
    for (const char* function : {"serenc", "serdec", "serseal"}) {
      const std::string benchmark = std::string("BM_") + function + "/" + name;
      std::string label = benchmark.substr(3);
      const double time = reporter.Time(benchmark + size);
      if (time <= 0) continue;
      const double ratio = ceiling / time;
      std::printf("  %-16s %6.0f ns  %.2fx memcpy  target >= %.1fx  %s%s\n", label.c_str(), time,
                  ratio, kTargetRatio, ratio >= kTargetRatio ? "PASS" : "MISS", note.c_str());
    }
  }
  kelvane::detail::UseMaskPath(chosen);
}
}  // namespace

BENCHMARK(BM_Memcpy)->Apply(payloadSizes);
BENCHMARK(BM_MemcpyUnaligned)->Apply(payloadSizes);
BENCHMARK(BM_SealOpenPair)->Arg(7);

// serenc, serdec and serseal on every masking path the CPU supports.
void registerPaths() {
  for (const MaskPath path : kelvane::detail::kMaskPaths) {
    if (!kelvane::detail::MaskPathSupported(path)) continue;
    const std::string name = kelvane::detail::MaskPathName(path);
    benchmark::RegisterBenchmark(("BM_serenc/" + name).c_str(), BM_Serenc, path)
        ->Apply(payloadSizes);
    benchmark::RegisterBenchmark(("BM_serdec/" + name).c_str(), BM_Serdec, path)
        ->Apply(payloadSizes);
    benchmark::RegisterBenchmark(("BM_serseal/" + name).c_str(), BM_Serseal, path)
        ->Apply(payloadSizes);
  }
}

int main(int argc, char** argv) {
  const MaskPath own = defaultPath();
  std::printf("masking paths: this CPU runs %s by default; measured:",
              kelvane::detail::MaskPathName(own));
  for (const MaskPath path : kelvane::detail::kMaskPaths) {
    if (kelvane::detail::MaskPathSupported(path)) {
      std::printf(" %s", kelvane::detail::MaskPathName(path));
    }
  }
  std::printf("\n");
  registerPaths();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintSummary(reporter);
  return 0;
}
