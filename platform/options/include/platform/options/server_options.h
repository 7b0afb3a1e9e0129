// The program's settings: each option of the command line is also a key of
// the configuration file that --config names and a variable of the
// environment, with the same default; the command line wins, then the
// environment, then the file.
#pragma once

#include <QHostAddress>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/address_admission.h"
#include "host/form1.h"
#include "host/host_operator.h"
#include "host/relay_budget.h"
#include "session/welcome_line.h"

namespace quorvane {

// Where the HTTP endpoint listens.
struct HttpAddress {
  QHostAddress address;
  std::uint16_t port = 0;

  bool operator==(const HttpAddress&) const = default;
};

// The settings as the option table (option_table.cpp) fills them in; each
// field's default is the table's.
struct ServerOptions {
  QString config;  // the configuration file read, empty when none
  QStringList listen;
  std::uint16_t port = kDefaultPort;
  QString dataDir;
  int tickMs = static_cast<int>(kDefaultTickInterval.count());
  std::chrono::milliseconds handshakeTimeout = kDefaultHandshakeTimeout;
  std::chrono::milliseconds loginTimeout = kDefaultLoginTimeout;
  std::chrono::milliseconds loginGrace = kDefaultLoginGrace;
  std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout;
  AdmissionSettings admission{};
  std::size_t relaySoftLimit = kDefaultRelaySoftLimit;
  RelayRates relayRates{};
  bool requireCharacter = kDefaultRequireCharacter;
  int loginRate = kDefaultLoginRate;
  QString library;
  bool headless = false;
  std::optional<HttpAddress> http;
  QString logFile;
  // The Agones SDK sidecar's REST port: none takes AGONES_SDK_HTTP_PORT, 0 is off.
  std::optional<std::uint16_t> agones;
  // Once the map has had a player and has been empty this long, the server
  // ends; 0: never.
  std::chrono::milliseconds exitWhenEmpty{0};
  // The login's closing chat line, as Latin-1 bytes.
  QByteArray welcomeSender{kDefaultWelcomeSender.data(), qsizetype(kDefaultWelcomeSender.size())};
  QByteArray welcomeText{kDefaultWelcomeText.data(), qsizetype(kDefaultWelcomeText.size())};
  // The operator's channels and the manual bans; empty: none.
  QString controlSocket;
  QString banFile;
  bool console = false;
  // A shutdown with players logged in warns them this long; 0: at once.
  std::chrono::seconds shutdownGrace = kDefaultShutdownGrace;
  QByteArray shutdownText{kDefaultShutdownText.data(), qsizetype(kDefaultShutdownText.size())};

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

// The settings from their defaults, then the file that --config (or
// QUORVANE_CONFIG) names, then the QUORVANE_ variables of `environment`, then
// `arguments`, which include the program name first. Every value given is
// checked, also one that a later source overrules.
CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& environment);
// With the process's environment.
CommandLine ParseCommandLine(const QStringList& arguments);

// The names of the settings that differ between `running` and `reread` but
// take effect only at the next start.
QStringList SettingsAwaitingRestart(const ServerOptions& running, const ServerOptions& reread);

}  // namespace quorvane
