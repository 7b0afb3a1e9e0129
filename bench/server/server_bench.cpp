// server_bench: starts the real server on 127.0.0.1 and measures the ping
// round trip, the login latency of two characters, the relay's latency and
// throughput and the refusal of a connection against raw socket baselines
// taken in the same run, with every process pinned to a CPU, in each
// placement and over several runs; writes each placement's relay latency
// distribution as a CSV.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bench_data.h"
#include "figures.h"
#include "placement.h"
#include "protocol_peer.h"
#include "scenarios.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace {

using namespace quorvane::bench;
using quorvane::testing::ServerProcess;

// Longer than any run, so the NPC timer never fires during one.
constexpr int kTickMs = 3'600'000;
constexpr std::uint32_t kPlayerSeed = 0x4321;
constexpr int kFewestRuns = 3;
constexpr int kMostRuns = 20;

// The server's options under the benchmark, beyond the address, port, data
// folder and tick that ServerProcess sets: whatever would turn the
// benchmark's thousands of requests away or slow them belongs here, off.
// Every relay measurement opens fresh connections from 127.0.0.1, the ping
// player waits long before its first login, and the relay measurements send
// far more than a player would, the throughput run as fast as it can. The
// defences stay on the path, their limits out of reach: the soft limit at the
// send bound, rates no run comes near. The login figures time repeated logins
// on one connection: no login rate limit.
const std::vector<std::string> kBenchServerFlags{
    "--autoban",    "off", "--login-timeout", "0",   "--relay-soft-limit", "4194304",
    "--relay-rate", "1e9", "--relay-bytes",   "1e9", "--login-rate",       "0"};

struct Options {
  std::string program;
  std::filesystem::path results;
  double scale = 1.0;
  int runs = kFewestRuns;
  bool window = false;
  std::vector<std::string> serverArguments{};
};

Counts Scaled(double scale) {
  const auto times = [scale](std::size_t count) {
    return std::max<std::size_t>(10, static_cast<std::size_t>(count * scale));
  };
  const Counts full;
  return {times(full.warmUp),  times(full.pings),    times(full.logins),
          times(full.relayed), times(full.streamed), times(full.refused)};
}

// Every measurement once, on a fresh server.
std::vector<Measurement> OneRun(const Options& options, const BenchData& data,
                                const Placement& placement, const Counts& counts) {
  const int cpu = placement.serverCpu;
  std::vector<std::string> arguments = kBenchServerFlags;
  arguments.insert(arguments.end(), options.serverArguments.begin(), options.serverArguments.end());
  ServerProcess server = StartedOn(cpu, [&] {
    return ServerProcess(options.program, {.dataDir = data.root().string(),
                                           .tickMs = kTickMs,
                                           .extraArguments = arguments,
                                           .headless = !options.window});
  });
  std::vector<Measurement> measured;
  {
    ProtocolPeer player = ConnectPlayer(server.port(), kPlayerSeed);
    measured.push_back(MeasurePing(player, counts, cpu));
    measured.push_back(MeasureLogin(player, kCaster, "caster's ", counts, cpu));
  }
  {
    ProtocolPeer player = ConnectPlayer(server.port(), kPlayerSeed);
    measured.push_back(MeasureLogin(player, kSample, "", counts, cpu));
  }
  for (const std::int16_t opcode : {quorvane::opcode::kSay, quorvane::opcode::kMove}) {
    Players players = TwoPlayers(server.port());
    measured.push_back(MeasureRelayLatency(players.sender, players.receiver, opcode, counts, cpu));
  }
  {
    Players players = TwoPlayers(server.port());
    measured.push_back(MeasureRelayThroughput(players.sender, players.receiver, counts, cpu));
  }
  {
    // Both slots held while strangers knock.
    Players players = TwoPlayers(server.port());
    measured.push_back(MeasureRefusal(server.port(), counts, cpu));
  }
  return measured;
}

// The charted measurements' samples, pooled over the runs.
std::vector<Series> ChartSeries(const std::vector<std::vector<Measurement>>& runs) {
  std::vector<Series> series;
  for (std::size_t index = 0; index < runs.front().size(); ++index) {
    const std::string& name = runs.front()[index].series;
    if (name.empty()) continue;
    Series server{name + "_server", {}};
    Series forwarder{name + "_forwarder", {}};
    for (const std::vector<Measurement>& run : runs) {
      const Measurement& one = run[index];
      server.sorted.insert(server.sorted.end(), one.server.begin(), one.server.end());
      forwarder.sorted.insert(forwarder.sorted.end(), one.baseline.begin(), one.baseline.end());
    }
    series.push_back({server.name, Sorted(std::move(server.sorted))});
    series.push_back({forwarder.name, Sorted(std::move(forwarder.sorted))});
  }
  return series;
}

// Measures in every placement and says whether each target was met in all.
void Run(const Options& options) {
  const Counts counts = Scaled(options.scale);
  const BenchData data;
  const std::vector<Placement> placements = Placements();
  std::cout << "quorvane server benchmark on 127.0.0.1: " << options.runs << " runs per placement, "
            << "each on a fresh server with " << counts.pings << " pings, " << counts.logins
            << " logins per character, " << counts.relayed
            << " packets relayed one at a time per opcode, " << counts.streamed
            << " chat lines relayed as a stream and " << counts.refused << " refused connections\n";
  if (placements.size() == 1) {
    std::cout << "only one CPU is available: the client cannot run apart from the server\n";
  }
  std::filesystem::create_directories(options.results);
  bool met = true;
  for (const Placement& placement : placements) {
    PinThisThread(placement.clientCpu);
    std::vector<std::vector<Measurement>> runs;
    for (int run = 0; run < options.runs; ++run) {
      runs.push_back(OneRun(options, data, placement, counts));
    }
    std::cout << "\n" << placement.name << "; medians over " << options.runs << " runs\n";
    met = PrintFigures(std::cout, Summarise(runs), placement) && met;
    const std::filesystem::path csv = options.results / ("relay-latency-" + placement.key + ".csv");
    WriteQuantiles(csv, ChartSeries(runs));
    std::cout << "relay latency distribution: " << csv.string() << "\n";
  }
  std::cout << "\n" << (met ? "every target met" : "some targets missed") << "\n";
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Measures the quorvane server over loopback TCP against raw socket baselines.");
  parser.addHelpOption();
  const QCommandLineOption program("program", "The quorvane program to start.", "file",
                                   QUORVANE_PROGRAM);
  const QCommandLineOption results("results",
                                   "Where to write the relay latency quantiles, one CSV per "
                                   "placement.",
                                   "folder", ".");
  const QCommandLineOption scale("scale", "Multiplies every count (0.1 for a quick look).",
                                 "factor", "1");
  const QCommandLineOption runs("runs", "Runs per placement, each on a fresh server (3 to 20).",
                                "count", QString::number(kFewestRuns));
  const QCommandLineOption window(
      "window", "Run the server with its window (needs a display) instead of headless.");
  const QCommandLineOption serverArgument(
      "server-arg",
      "One more argument for the server, e.g. --server-arg=--http "
      "--server-arg=127.0.0.1:9100; may be given again.",
      "argument");
  parser.addOptions({program, results, scale, runs, window, serverArgument});
  parser.process(application);

  Options options{parser.value(program).toStdString(), parser.value(results).toStdString()};
  options.window = parser.isSet(window);
  for (const QString& argument : parser.values(serverArgument)) {
    options.serverArguments.push_back(argument.toStdString());
  }
  bool valid = false;
  options.scale = parser.value(scale).toDouble(&valid);
  if (!valid || options.scale <= 0 || options.scale > 10) {
    std::cerr << "server_bench: --scale needs a number above 0 and at most 10\n";
    return 2;
  }
  options.runs = parser.value(runs).toInt(&valid);
  if (!valid || options.runs < kFewestRuns || options.runs > kMostRuns) {
    std::cerr << "server_bench: --runs needs a whole number from 3 to 20\n";
    return 2;
  }
  try {
    Run(options);
  } catch (const std::exception& failure) {
    std::cerr << "server_bench: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
