#include "server_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace quorvane {
namespace {

// A day is far beyond any real client; the bound keeps the milliseconds in range.
constexpr double kMinHandshakeSeconds = 0.001;
constexpr double kMaxHandshakeSeconds = 86400;

CommandLine Failure(const QString& message) {
  CommandLine result;
  result.message = message;
  result.messageIsError = true;
  result.exitStatus = 2;
  return result;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Quorvane: the map server of a two-player role-playing game. It loads the Kelvane cipher "
      "library, listens for clients and serves up to two of them.");
  const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
  const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
  const QCommandLineOption port(
      "port", "TCP port to listen on (default 10217; 0 picks a free one).", "port", "10217");
  const QCommandLineOption listen("listen", "Address to listen on (default all interfaces).",
                                  "address");
  const QCommandLineOption dataDir(
      "data-dir", "Folder holding characters/ and items/ (default the working directory).",
      "folder");
  const QCommandLineOption tickMs("tick-ms", "Interval of the NPC timer in ms (default 5000).",
                                  "ms", "5000");
  const QCommandLineOption handshakeTimeout(
      "handshake-timeout",
      "Seconds a new connection has to finish its handshake before it is closed and its slot "
      "freed; fractions allowed, e.g. 0.5 (default 30).",
      "seconds", "30");
  const QCommandLineOption library(
      "library",
      "Path of libkelvane (default libkelvane.so.1 beside the program, then the loader's search "
      "path).",
      "file");
  const QCommandLineOption headless(
      "headless",
      "Run without a window and write each log line to standard output. Chosen by itself when "
      "there is no display.");
  parser.addOptions(
      {help, version, port, listen, dataDir, tickMs, handshakeTimeout, library, headless});

  // Parsing comes before the application object exists, so Qt cannot name
  // the program in the usage line by itself.
  const QString usage =
      parser.helpText().replace("<executable_name>", QFileInfo(arguments.value(0)).fileName());
  if (!parser.parse(arguments)) return Failure(parser.errorText() + "\n" + usage);
  if (!parser.positionalArguments().isEmpty()) {
    return Failure("unexpected argument: " + parser.positionalArguments().first());
  }
  if (parser.isSet(help)) {
    CommandLine result;
    result.message = usage;
    return result;
  }
  if (parser.isSet(version)) {
    CommandLine result;
    result.message = "quorvane " QUORVANE_VERSION "\n";
    return result;
  }

  ServerOptions options;
  bool valid = false;
  const uint portValue = parser.value(port).toUInt(&valid);
  if (!valid || portValue > 65535) return Failure("--port needs a number from 0 to 65535");
  options.port = static_cast<std::uint16_t>(portValue);

  if (parser.isSet(listen) && !options.listen.setAddress(parser.value(listen))) {
    return Failure("--listen needs an IPv4 or IPv6 address, not " + parser.value(listen));
  }

  options.tickMs = parser.value(tickMs).toInt(&valid);
  if (!valid || options.tickMs <= 0) return Failure("--tick-ms needs a positive number");

  const double timeoutSeconds = parser.value(handshakeTimeout).toDouble(&valid);
  if (!valid ||
      !(timeoutSeconds >= kMinHandshakeSeconds && timeoutSeconds <= kMaxHandshakeSeconds)) {
    return Failure("--handshake-timeout needs a number of seconds from 0.001 to 86400");
  }
  options.handshakeTimeout = std::chrono::milliseconds(std::llround(timeoutSeconds * 1000));

  if (parser.isSet(dataDir)) {
    options.dataDir = parser.value(dataDir);
    if (!QFileInfo(options.dataDir).isDir()) {
      return Failure("--data-dir: no such folder: " + options.dataDir);
    }
  }
  options.library = parser.value(library);
  options.headless = parser.isSet(headless);

  CommandLine result;
  result.options = options;
  return result;
}

QString LibraryToLoad(const QString& option, const QString& executableDir) {
  if (!option.isEmpty()) return option;
  const QString beside = QDir(executableDir).filePath(kLibraryFileName);
  if (QFileInfo::exists(beside)) return beside;
  return kLibraryFileName;
}

}  // namespace quorvane
