// The program's settings: the command line, and the configuration file that
// --config names. Each option is also a key of that file, with the same name
// and default; the command line wins over the file.
#pragma once

#include <QHostAddress>
#include <QMap>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/address_admission.h"
#include "host/relay_budget.h"

namespace quorvane {

inline constexpr char kLibraryFileName[] = "libkelvane.so.1";

// Where the HTTP endpoint listens.
struct HttpAddress {
  QHostAddress address;
  std::uint16_t port = 0;

  bool operator==(const HttpAddress&) const = default;
};

struct ServerOptions {
  QString config;  // the configuration file read, empty when none
  // Addresses and host names to listen on; none: every interface.
  QStringList listen;
  std::uint16_t port = 10217;
  QString dataDir;  // empty: the working directory
  int tickMs = 5000;
  // A connection still without a finished handshake after this long is closed.
  std::chrono::milliseconds handshakeTimeout{10000};
  // The host's other defences; see HostSettings for each.
  std::chrono::milliseconds loginTimeout{20000};
  std::chrono::milliseconds idleTimeout{0};
  AdmissionSettings admission{};
  std::size_t relaySoftLimit = 256 * 1024;
  RelayRates relayRates{};
  bool requireCharacter = false;
  // Logins handled per connection within any one second; 0: no limit.
  int loginRate = 4;
  QString library;  // empty: beside the executable, then the loader's search path
  bool headless = false;
  // Serve /metrics, /health and /status here; none by default.
  std::optional<HttpAddress> http;
  // Where diagnostics also go; empty: standard error only.
  QString logFile;
  // The login's closing chat line, as Latin-1 bytes.
  QByteArray welcomeSender = "OrlanServer";
  QByteArray welcomeText = "Welcome to Orlan RP Server";
  // The operator's channels and the manual bans; empty: none.
  QString controlSocket;
  QString banFile;
  bool console = false;
  // A shutdown with players logged in warns them this long; 0: at once.
  std::chrono::seconds shutdownGrace{10};
  QByteArray shutdownText = "The server is shutting down";

  // Each setting's text as given (command line, else file, else default), by name.
  QMap<QString, QString> given;

  bool operator==(const ServerOptions&) const = default;
};

// Either options to run with, or a text to print and an exit status.
struct CommandLine {
  std::optional<ServerOptions> options;
  QString message;
  bool messageIsError = false;
  // The error alone, without the program's name or a line break.
  QString error;
  int exitStatus = 0;
};

// `arguments` includes the program name first.
CommandLine ParseCommandLine(const QStringList& arguments);

// The names of the settings that differ between `running` and `reread` but
// take effect only at the next start.
QStringList SettingsAwaitingRestart(const ServerOptions& running, const ServerOptions& reread);

// The library file to load: the option when given, else the one beside the
// executable when it exists, else the bare name for the loader's search path.
QString LibraryToLoad(const QString& option, const QString& executableDir);

}  // namespace quorvane
