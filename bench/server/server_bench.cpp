// server_bench: starts the real server on 127.0.0.1 and measures the ping
// round trip, the login latency and the relay against raw socket baselines
// taken in the same run; writes the relay latency distribution as a CSV.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bench_data.h"
#include "figures.h"
#include "opcodes.h"
#include "protocol_peer.h"
#include "scenarios.h"
#include "server_process.h"

namespace {

using namespace quorvane::bench;

// Longer than any run, so the NPC timer never fires during one.
constexpr int kTickMs = 3'600'000;
constexpr std::uint32_t kPlayerSeed = 0x4321;

// Every relay measurement opens fresh connections from 127.0.0.1, the ping
// player waits long before its first login, and the floods relay far more
// than a player would. The defences stay on the path, their limits out of
// reach: the soft limit at the send bound, rates no run comes near.
const std::vector<std::string> kDefencesOutOfReach{
    "--autoban",    "off", "--login-timeout", "0",  "--relay-soft-limit", "4194304",
    "--relay-rate", "1e9", "--relay-bytes",   "1e9"};

struct Options {
  std::string program;
  std::string csv;
  double scale = 1.0;
  bool window = false;
  std::vector<std::string> serverArguments{};
};

Counts Scaled(double scale) {
  const auto times = [scale](std::size_t count) {
    return std::max<std::size_t>(10, static_cast<std::size_t>(count * scale));
  };
  const Counts full;
  return {times(full.warmUp), times(full.pings), times(full.logins), times(full.relayed),
          times(full.flood)};
}

void Run(const Options& options) {
  const Counts counts = Scaled(options.scale);
  const BenchData data;
  std::vector<std::string> arguments = kDefencesOutOfReach;
  arguments.insert(arguments.end(), options.serverArguments.begin(), options.serverArguments.end());
  quorvane::testing::ServerProcess server(options.program, {.dataDir = data.root().string(),
                                                            .tickMs = kTickMs,
                                                            .extraArguments = arguments,
                                                            .headless = !options.window});
  std::cout << "quorvane server benchmark: 127.0.0.1:" << server.port() << ", "
            << std::thread::hardware_concurrency() << " CPUs; " << counts.pings << " pings, "
            << counts.logins << " logins, " << counts.relayed << " relayed one at a time and "
            << counts.flood << " flooded per opcode\n\n";

  std::vector<Figure> figures;
  {
    ProtocolPeer player = ConnectPlayer(server.port(), kPlayerSeed);
    for (Figure& figure : MeasurePing(player, counts)) figures.push_back(std::move(figure));
    for (Figure& figure : MeasureLogin(player, counts)) figures.push_back(std::move(figure));
  }
  std::vector<Series> distribution;
  for (const std::int16_t opcode : {quorvane::opcode::kSay, quorvane::opcode::kMove}) {
    Players players = TwoPlayers(server.port());
    RelayLatency relay = MeasureRelayLatency(players.sender, players.receiver, opcode, counts);
    for (Figure& figure : relay.figures) figures.push_back(std::move(figure));
    distribution.push_back(std::move(relay.server));
    distribution.push_back(std::move(relay.forwarder));
  }
  for (const std::int16_t opcode : {quorvane::opcode::kSay, quorvane::opcode::kMove}) {
    Players players = TwoPlayers(server.port());
    figures.push_back(MeasureRelayThroughput(players.sender, players.receiver, opcode, counts));
  }

  const bool met = PrintFigures(std::cout, figures);
  std::cout << "\n" << (met ? "every target met" : "some targets missed") << "\n";
  WriteQuantiles(options.csv, distribution);
  std::cout << "relay latency distribution: " << options.csv << "\n";
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
  const QCommandLineOption csv("csv", "Where to write the relay latency quantiles.", "file",
                               "relay-latency.csv");
  const QCommandLineOption scale("scale", "Multiplies every count (0.1 for a quick look).",
                                 "factor", "1");
  const QCommandLineOption window(
      "window", "Run the server with its window (needs a display) instead of headless.");
  const QCommandLineOption serverArgument(
      "server-arg",
      "One more argument for the server, e.g. --server-arg=--http "
      "--server-arg=127.0.0.1:9100; may be given again.",
      "argument");
  parser.addOptions({program, csv, scale, window, serverArgument});
  parser.process(application);

  Options options{parser.value(program).toStdString(), parser.value(csv).toStdString()};
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
  try {
    Run(options);
  } catch (const std::exception& failure) {
    std::cerr << "server_bench: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
